// arvel-machine: the simulated machine as a service on the message bus, and
// the command line that drives and inspects it.
//
//   arvel-machine serve [--root DIR]   run the machine (the bus in ARVEL_BUS_ADDRESS)
//   arvel-machine VERB ...             one command, performed by the running service
#include "Environment/Environment.h"
#include "Log/Log.h"
#include "Paths/DiskRoot.h"
#include "service/MachineClient.h"
#include "service/MachineCommands.h"
#include "service/MachineService.h"

#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <filesystem>
#include <string>
#include <vector>

namespace {

void printUsage(FILE* out)
{
    std::fprintf(out,
        "usage: arvel-machine serve [--root DIR]\n"
        "       arvel-machine VERB [ARGUMENTS...]\n"
        "\n"
        "serve runs the simulated machine as the service \"org.arvel.Machine\" on the bus named by\n"
        "ARVEL_BUS_ADDRESS, with its disk at DIR (default $ARVEL_ROOT, else %s). It stops on\n"
        "\"arvel-machine shutdown\", SIGTERM or SIGINT, and ends every program it started.\n"
        "Every other verb is sent to the running service:\n"
        "\n"
        "%s"
        "\n"
        "Boot runs every folder of /Library/StartupItems, in name order, as root with no arguments:\n"
        "/Library/StartupItems/NAME/NAME. Login starts the user's login items: the Path of each entry of\n"
        "AutoLaunchedApplicationDictionary in ~/Library/Preferences/loginwindow.plist, an application bundle\n"
        "whose Contents/Info.plist names CFBundleExecutable (in Contents/MacOS) and CFBundleIdentifier.\n",
        kDefaultDiskRoot, MachineCommands::usage());
}

int serve(const std::vector<std::string>& args)
{
    std::string root;
    if (args.size() == 2 && args[0] == "--root" && !args[1].empty()) {
        root = args[1];
    } else if (!args.empty()) {
        std::fprintf(stderr, "arvel-machine: usage: serve [--root DIR]\n");
        return 2;
    }
    // This program is the machine: its own platform layer reaches the model
    // in process, whatever the environment it was started from says.
    unsetenv(kMachineServiceVariable);
    setLogChannel(LogChannel::Console);
    setLogProcessName("arvel-machine");
    std::error_code error;
    std::filesystem::path folder = std::filesystem::absolute(root.empty() ? diskRoot() : root, error);
    if (error || (!std::filesystem::is_directory(folder) && !std::filesystem::create_directories(folder, error))) {
        std::fprintf(stderr, "arvel-machine: no disk root at \"%s\"\n", folder.c_str());
        return 1;
    }
    folder = std::filesystem::canonical(folder, error);
    setenv(kDiskRootVariable, folder.c_str(), 1);
    setDiskRoot(folder.string());

    MachineService service;
    if (!service.start())
        return 1;
    return service.run();
}

} // namespace

int main(int argc, char** argv)
{
    std::vector<std::string> words(argv + 1, argv + argc);
    if (words.empty()) {
        printUsage(stderr);
        return 2;
    }
    if (words[0] == "--help" || words[0] == "-h" || words[0] == "help") {
        printUsage(stdout);
        return 0;
    }
    if (words[0] == "serve")
        return serve(std::vector<std::string>(words.begin() + 1, words.end()));
    return MachineClient::main(words);
}
