// BusMachineLink: the machine reached over the message bus, where
// `arvel-machine` (MachineLinkService) runs the model.
//
// Every operation is one synchronous Call on the service's object over the
// program's bus connection (Bus/MessageBus.h), with a time-out, its
// arguments and answer coded from its row (machine/link/Operation.h): a
// service that is gone or hung answers the operation's neutral result
// (nothing, nil, NO, "no device", "cannot complete") with one logged line.
// A row may travel otherwise: on a connection of its own (the program's own
// may not exist yet, or may be a parent's it cannot use), or without
// waiting for an answer.
//
// Registrations are made on the service and owned there by this program's
// bus connection, so they end when the program leaves the bus. Their news
// come as Event signals; the link queues each one and hands it to its
// listener when the run loop serves the link's source, never from inside a
// call.
//
// Who the program is stays here: its real and effective ids start as the
// service answers program.identity when the link is made (the user the bus
// knows the program's connection by, or, for a program the service started
// without being able to switch its ids, the user it meant it to be), or as
// the host process's when no service answers; nothing in the environment
// counts. A program may lower its effective id from there (Unix/Identity.h)
// but never raise it. Its machine pid is ARVEL_MACHINE_PID (0 for a program
// started by hand).
// Failure injection is a facility of the in-process link for tests: over
// the bus nothing is injected and every operation is answered "no failure".
#pragma once

#include "MachineLink/MachineLink.h"

#include <deque>
#include <map>
#include <memory>
#include <optional>
#include <string>
#include <utility>

namespace sdbus {
class IProxy;
class Signal;
}
class RunLoopSource;

class BusMachineLink final : public MachineLink {
public:
    explicit BusMachineLink(std::string serviceName);
    ~BusMachineLink() override;

    int take(const std::string& operation, const std::string& qualifier = {}) override;
    machine::ProgramIdentity& program() override { return program_; }

protected:
    void invoke(const machine::OperationBase& operation, const void* arguments, void* result) override;
    bool identityIsLifelong() const override { return true; }
    std::uint64_t start(const machine::SubscriptionBase& subscription, const void* arguments, std::shared_ptr<const void> listener) override;
    void stop(const machine::SubscriptionBase& subscription, std::uint64_t registration) override;

private:
    struct Registered {
        const machine::SubscriptionBase* subscription;
        std::shared_ptr<const void> listener;
    };

    sdbus::IProxy* proxy();
    // The answer dictionary of the operation, or nothing (logged) when the
    // service could not be asked or did not answer.
    std::optional<Value> ask(const machine::OperationBase& operation, const Value& arguments);
    void send(const machine::OperationBase& operation, const Value& arguments);
    void heard(sdbus::Signal& signal);
    void deliverNews();

    std::string service_;
    std::unique_ptr<sdbus::IProxy> proxy_;
    std::shared_ptr<RunLoopSource> newsSource_;
    std::deque<std::pair<std::string, Value>> news_;
    // By the name of their news and their id.
    std::map<std::pair<std::string, std::uint64_t>, Registered, std::less<>> registered_;
    machine::ProgramIdentity program_;
};
