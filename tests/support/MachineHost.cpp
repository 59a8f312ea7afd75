// machine-host [BUSNAME]: a machine of the tests' own, served on the bus
// named by the environment under BUSNAME (default "org.arvel.Machine"),
// through MachineLinkService, so that the test program's shims reach it as
// a real program's reach arvel-machine.
//
// The test drives it with one method of its own on "/org/arvel/MachineHost",
// interface "org.arvel.MachineHost": Verb(as words) -> s answer, which runs
// a machine verb and answers what the machine now holds:
//   add-user NAME UID        login NAME               load-driver
//   unload-driver            driver                   sleep
//   wake                     power                    launch NAME BUNDLEID  -> "pid high low"
//   start-process COMMAND    -> pid                   open-window PID       -> window
//   warps                    log                      registrations
//   host-pid PID             session-login NAME       -> session
//   start-process-in SESSION COMMAND -> pid
// An unknown verb answers "unknown verb".
#include "MachineLink/MachineLinkProtocol.h"
#include "MachineLink/MachineLinkService.h"
#include "machine/Machine.h"

#include <sdbus-c++/sdbus-c++.h>

#include <cstdio>
#include <cstdlib>
#include <string>
#include <vector>

namespace {

std::string join(const std::vector<std::string>& words, std::size_t from)
{
    std::string out;
    for (std::size_t i = from; i < words.size(); ++i)
        out += (i > from ? " " : "") + words[i];
    return out;
}

std::string runVerb(machine::Machine& m, MachineLinkService& service, const std::vector<std::string>& w)
{
    auto arg = [&](std::size_t i) { return i < w.size() ? w[i] : std::string(); };
    const std::string verb = arg(0);
    if (verb == "add-user") {
        m.users().addUser(arg(1), static_cast<std::uint32_t>(std::strtoul(arg(2).c_str(), nullptr, 10)));
        return "ok";
    }
    if (verb == "login")
        return m.console().login(arg(1)) ? "ok" : "unknown user";
    if (verb == "load-driver") {
        m.driver().load();
        return "ok";
    }
    if (verb == "unload-driver") {
        m.driver().unload();
        return "ok";
    }
    if (verb == "driver")
        return m.driver().describe();
    if (verb == "sleep") {
        m.power().sleep();
        return "ok";
    }
    if (verb == "wake") {
        m.power().wake();
        return "ok";
    }
    if (verb == "power") {
        std::string out = "clients " + std::to_string(m.power().clientCount()) + "\n";
        for (const auto& message : m.power().messages())
            out += machine::SystemPower::messageName(message.type) + (message.acknowledged ? " acknowledged\n" : " unanswered\n");
        return out;
    }
    if (verb == "launch") {
        const machine::Process& p = m.processes().launch({arg(1), arg(2)});
        return std::to_string(p.pid) + " " + std::to_string(p.serial.high) + " " + std::to_string(p.serial.low);
    }
    if (verb == "start-process")
        return std::to_string(m.processes().startUnixProcess(join(w, 1)).pid);
    if (verb == "session-login") {
        const machine::LoginSession* session = m.loginSessions().login(arg(1));
        return session ? std::to_string(session->id) : "unknown user";
    }
    if (verb == "start-process-in")
        return std::to_string(m.processes().startUnixProcess(join(w, 2), static_cast<std::uint32_t>(std::stoul(arg(1)))).pid);
    if (verb == "open-window") {
        int pid = std::atoi(arg(1).c_str());
        return std::to_string(m.accessibility().openWindow(pid));
    }
    if (verb == "warps") {
        std::string out;
        for (const auto& point : m.pointer().warps())
            out += std::to_string(static_cast<int>(point.x)) + "," + std::to_string(static_cast<int>(point.y)) + "\n";
        return out;
    }
    if (verb == "log")
        return m.systemLog().describe();
    if (verb == "registrations")
        return std::to_string(service.registrationCount());
    if (verb == "host-pid") {
        const machine::Process* p = m.processes().processWithPid(std::atoi(arg(1).c_str()));
        return p ? std::to_string(p->hostPid) : "no process";
    }
    return "unknown verb";
}

} // namespace

int main(int argc, char** argv)
{
    const char* address = std::getenv("ARVEL_BUS_ADDRESS");
    if (!address) {
        std::fprintf(stderr, "machine-host: no bus\n");
        return 2;
    }
    std::string name = argc > 1 ? argv[1] : kMachineLinkDefaultServiceName;
    try {
        auto connection = sdbus::createSessionBusConnectionWithAddress(address);
        machine::Machine& m = machine::Machine::shared();
        MachineLinkService service(*connection, m);
        auto control = sdbus::createObject(*connection, "/org/arvel/MachineHost");
        control->registerMethod("org.arvel.MachineHost", "Verb", "as", "s", [&](sdbus::MethodCall call) {
            std::vector<std::string> words;
            call >> words;
            auto reply = call.createReply();
            reply << runVerb(m, service, words);
            reply.send();
        });
        control->finishRegistration();
        // The name comes last: whoever sees it owned finds everything served.
        connection->requestName(name);
        connection->enterEventLoop();
    } catch (const sdbus::Error& error) {
        std::fprintf(stderr, "machine-host: %s\n", error.getMessage().c_str());
        return 1;
    }
    return 0;
}
