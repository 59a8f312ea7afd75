// InstallTool, the program: the installer runs it as root from its own
// resources (the items lie beside it) and reads its result from its
// standard output; its lines go to standard error.
#include "Installer/InstallTool.h"

#include "Log/Log.h"

#include <climits>
#include <cstdint>
#include <filesystem>
#include <unistd.h>

int main(int argc, char** argv)
{
    setLogChannel(LogChannel::Console);
    setLogProcessName("InstallTool");
    // Where the tool itself lies, as the kernel knows it: not the name it
    // was called by, which the caller chose.
    std::error_code error;
    const std::filesystem::path self = std::filesystem::read_symlink("/proc/self/exe", error);
    InstallTool tool(error ? std::string() : self.parent_path().string());
    const std::int32_t result = tool.run(std::vector<std::string>(argv + 1, argv + argc), ::geteuid());
    [[maybe_unused]] auto written = ::write(STDOUT_FILENO, &result, sizeof result);
    return result == 0 ? 0 : 1;
}
