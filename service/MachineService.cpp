#include "service/MachineService.h"

#include "Bus/BusPeerCredentials.h"
#include "Bus/MessageBus.h"
#include "service/MachineLinkService.h"
#include "Log/Log.h"
#include "RunLoop/Clock.h"
#include "RunLoop/RunLoop.h"
#include "machine/Machine.h"
#include "service/HostPrograms.h"
#include "service/MachineCommands.h"

#include <sdbus-c++/sdbus-c++.h>

#include <cmath>
#include <csignal>
#include <cstdio>
#include <cstring>
#include <unistd.h>

const char* const kMachineServiceName = "org.arvel.Machine";
const char* const kMachineControlInterface = "org.arvel.MachineControl";
const char* const kMachineControlPath = "/org/arvel/Machine";

namespace {

const char* const kBadCommandError = "org.arvel.MachineControl.Error.BadCommand";

} // namespace

MachineService::MachineService() = default;

MachineService::~MachineService()
{
    link_.reset();
    control_.reset();
}

bool MachineService::start()
{
    MessageBus* bus = MessageBus::isConfigured() ? MessageBus::shared() : nullptr;
    if (!bus) {
        std::fprintf(stderr, "arvel-machine: no bus to serve on (%s is %s)\n", kBusAddressVariable,
            MessageBus::isConfigured() ? "unreachable" : "not set");
        return false;
    }
    try {
        bus->connection().requestName(kMachineServiceName);
    } catch (const sdbus::Error& error) {
        // The name is asked for without queueing: a holder means "exists".
        if (error.getName() == "org.freedesktop.DBus.Error.FileExists" || error.getName() == "System.Error.EEXIST")
            std::fprintf(stderr, "arvel-machine: another machine service holds \"%s\" on the bus\n", kMachineServiceName);
        else
            std::fprintf(stderr, "arvel-machine: unable to take \"%s\" on the bus: %s\n", kMachineServiceName, error.getMessage().c_str());
        return false;
    }

    auto& machine = machine::Machine::shared();
    programs_ = HostPrograms::create(
        kMachineServiceName, [this](int hostPid, int status) {
            if (commands_)
                commands_->hostProgramEnded(hostPid, status);
        },
        [this](int signal) { stop(signal == SIGINT ? "SIGINT" : "SIGTERM"); });
    if (!programs_) {
        std::fprintf(stderr, "arvel-machine: unable to watch the programs it would start\n");
        return false;
    }
    commands_ = std::make_unique<MachineCommands>(machine, *programs_);
    programs_->setOutputHandler([this](int hostPid, std::string_view bytes) {
        if (commands_)
            commands_->hostProgramWrote(hostPid, bytes);
    });

    try {
        credentials_ = std::make_unique<BusPeerCredentials>(bus->connection());
        control_ = sdbus::createObject(bus->connection(), kMachineControlPath);
        control_->registerMethod(kMachineControlInterface, "Perform", "as", "bs", [this](sdbus::MethodCall call) {
            std::vector<std::string> words;
            try {
                call >> words;
            } catch (const sdbus::Error&) {
                call.createErrorReply(sdbus::Error(kBadCommandError, "Perform takes an array of words")).send();
                return;
            }
            // The machine's users run programs on it; they do not operate it.
            auto peer = credentials_->peer(call.getSender());
            const auto self = static_cast<std::uint32_t>(::geteuid());
            if (!peer || (peer->uid != 0 && peer->uid != self)) {
                std::string who = peer ? "UID " + std::to_string(peer->uid) : "an unknown caller";
                machine::Machine::shared().systemLog().append(
                    {currentDate(), "arvel-machine", 0, 3, "refused a command from " + who + ": only root and the service's own user operate the machine"});
                auto reply = call.createReply();
                reply << false << who + " may not operate the machine (only root and the service's own user may)";
                reply.send();
                return;
            }
            MachineCommands::Result result = commands_->perform(words);
            auto reply = call.createReply();
            reply << result.ok << result.output;
            reply.send();
            if (commands_->shutdownRequested())
                stop("shutdown");
        });
        control_->finishRegistration();
    } catch (const sdbus::Error& error) {
        std::fprintf(stderr, "arvel-machine: unable to serve %s on the bus: %s\n", kMachineControlInterface, error.getMessage().c_str());
        return false;
    }

    // The programs' platform layers reach the model through the link object
    // on the same connection and name.
    try {
        link_ = std::make_unique<MachineLinkService>(bus->connection());
    } catch (const sdbus::Error& error) {
        std::fprintf(stderr, "arvel-machine: unable to serve the machine link on the bus: %s\n", error.getMessage().c_str());
        return false;
    }

    bus->service();
    return true;
}

void MachineService::stop(const std::string& why)
{
    if (stopping_)
        return;
    stopping_ = true;
    machine::Machine::shared().systemLog().append({currentDate(), "arvel-machine", 0, 5, "stopping (" + why + ")"});
    RunLoop::current().stop();
}

int MachineService::run()
{
    while (!stopping_)
        RunLoop::current().runUntilDate(currentDate() + 3600.0);
    // The answer to "shutdown" is on its way before the programs are ended.
    if (MessageBus* bus = MessageBus::shared())
        bus->service();
    programs_->endAll(2.0);
    return 0;
}
