// Bytes as alice's settings and global preferences, read by the daemon as
// it pushes her configuration (at her login, a wake, a driver reload):
// whatever the files hold, the daemon neither crashes nor hangs.
//
// The input is the settings file, then optionally "\n%%\n" and the global
// preferences file.
#include "Daemon/ArvelConfigPush.h"
#include "Paths/DiskRoot.h"
#include "fuzz/FuzzedDaemon.h"

#include <cstdint>
#include <filesystem>
#include <fstream>
#include <memory>
#include <string_view>

namespace {

void writeFile(const std::string& systemPath, std::string_view bytes)
{
    std::ofstream(hostPath(systemPath), std::ios::binary | std::ios::trunc).write(bytes.data(), static_cast<std::streamsize>(bytes.size()));
}

} // namespace

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size)
{
    static FuzzedDaemon* world = new FuzzedDaemon;
    static auto push = ArvelConfigPush::create();
    const std::string preferences = "/Users/alice/Library/Preferences";
    std::error_code ec;
    for (const auto& entry : std::filesystem::directory_iterator(hostPath(preferences), ec))
        std::filesystem::remove_all(entry.path(), ec);

    std::string_view input(reinterpret_cast<const char*>(data), size);
    std::size_t split = input.find("\n%%\n");
    writeFile(preferences + "/com.tessmoor.Arvel.plist", input.substr(0, split));
    if (split != std::string_view::npos)
        writeFile(preferences + "/.GlobalPreferences.plist", input.substr(split + 4));

    // The push the daemon makes at alice's login, wake or a driver reload.
    push->pushConfiguration(nullptr);
    world->settle();
    return 0;
}
