// MachineService: the simulated machine as a service on the message bus.
//
// It owns the bus name "org.arvel.Machine" (never queued for: a second
// service is refused) and serves the control interface
// "org.arvel.MachineControl" at "/org/arvel/Machine":
//     Perform(as words) -> (b ok, s output)
// which performs one command line (MachineCommands) on the machine. The
// verbs are the operator's: only root and the service's own user may send
// them (as the bus knows the sender); anyone else is answered not ok with
// one line and changes nothing. All of it runs on this thread's run loop:
// the bus is one of its sources, the host programs' ends and the stop
// signals another.
//
// run() serves until "shutdown", SIGTERM or SIGINT, then ends every program
// the machine started (HostPrograms::endAll) before it returns.
#pragma once

#include <memory>
#include <string>

namespace sdbus {
class IObject;
}
class BusPeerCredentials;
class HostPrograms;
class MachineLinkService;
class MachineCommands;

extern const char* const kMachineServiceName;      // "org.arvel.Machine"
extern const char* const kMachineControlInterface; // "org.arvel.MachineControl"
extern const char* const kMachineControlPath;      // "/org/arvel/Machine"

class MachineService {
public:
    MachineService();
    ~MachineService();
    MachineService(const MachineService&) = delete;
    MachineService& operator=(const MachineService&) = delete;

    // Takes the bus name and publishes the control interface; false, with
    // one line on standard error, when it cannot.
    bool start();
    // Serves until told to stop; the exit status.
    int run();

private:
    void stop(const std::string& why);

    std::unique_ptr<HostPrograms> programs_;
    std::unique_ptr<MachineCommands> commands_;
    std::unique_ptr<sdbus::IObject> control_;
    std::unique_ptr<BusPeerCredentials> credentials_;
    std::unique_ptr<MachineLinkService> link_;
    bool stopping_ = false;
};
