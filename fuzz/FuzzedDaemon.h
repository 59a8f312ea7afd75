// The machine both fuzz targets run on: alice (501) on the console with her
// home folder, carol (503) known, the driver loaded, and the daemon started
// in process on the virtual clock, once for the whole run.
#pragma once

#include "Daemon/arveld.h"
#include "support/MachineHarness.h"

#include <cstdio>
#include <cstdlib>
#include <memory>

struct FuzzedDaemon {
    MachineHarness machine;
    std::unique_ptr<Arveld> daemon;

    FuzzedDaemon()
    {
        machine.addUser("alice", 501);
        machine.addUser("carol", 503);
        machine.createHomeFolder("alice");
        machine.loadDriver();
        machine.login("alice");
        daemon = std::make_unique<Arveld>();
        if (daemon->startUp() != 0)
            std::abort();
        machine.runFor(1);
    }

    // After each input: what it started is served, and what the machine and
    // the log noted is let go, so that nothing builds up from one input to
    // the next. ARVEL_FUZZ_SHOW_LOG=1 prints the daemon's lines first.
    void settle()
    {
        machine.runFor(0.001);
        machine.driver().clearCalls();
        if (std::getenv("ARVEL_FUZZ_SHOW_LOG"))
            for (const auto& line : machine.logLines())
                std::fprintf(stderr, "%s\n", line.c_str());
        machine.clearLog();
    }
};
