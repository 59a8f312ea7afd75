// Bytes as alice's settings and global preferences, read by the daemon as
// it pushes her configuration (at her login, a wake, a driver reload):
// whatever the files hold, the daemon neither crashes nor hangs.
//
// The input is the settings file, then optionally "\n%%\n" and the global
// preferences file.
#include "Daemon/ArvelConfigPush.h"
#include "Daemon/arveld.h"
#include "Paths/DiskRoot.h"
#include "support/MachineHarness.h"

#include <cstdint>
#include <cstdio>
#include <cstdlib>
#include <filesystem>
#include <fstream>
#include <memory>
#include <string_view>

namespace {

struct World {
    MachineHarness machine;
    std::unique_ptr<Arveld> daemon;
    std::shared_ptr<ArvelConfigPush> push;

    World()
    {
        machine.addUser("alice", 501);
        machine.createHomeFolder("alice");
        machine.loadDriver();
        daemon = std::make_unique<Arveld>();
        if (daemon->startUp() != 0)
            std::abort();
        machine.login("alice");
        machine.runFor(1);
        push = ArvelConfigPush::create();
    }
};

void writeFile(const std::string& systemPath, std::string_view bytes)
{
    std::ofstream(hostPath(systemPath), std::ios::binary | std::ios::trunc).write(bytes.data(), static_cast<std::streamsize>(bytes.size()));
}

} // namespace

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size)
{
    static World* world = new World;
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
    world->push->pushConfiguration(nullptr);
    // What the push posted is delivered, and what the machine noted is let
    // go, so that nothing builds up from one input to the next.
    world->machine.runFor(0.001);
    world->machine.driver().clearCalls();
    if (std::getenv("ARVEL_FUZZ_SHOW_LOG"))
        for (const auto& line : world->machine.logLines())
            std::fprintf(stderr, "%s\n", line.c_str());
    world->machine.clearLog();
    return 0;
}
