// MachineLink: the one way the platform's shims reach the machine they run
// on. Two backends, chosen once per program from the environment:
//   - in process (LocalMachineLink): the model linked into the program
//     (machine::Machine::shared()), driven directly by the tests with the
//     virtual clock;
//   - the message bus (BusMachineLink), when the environment names a
//     machine service (ARVEL_MACHINE, its bus name, normally
//     "org.arvel.Machine", with ARVEL_BUS_ADDRESS naming the bus): every
//     operation is a synchronous call to the service that runs the model,
//     and the news the shims listen for arrive from the run loop.
//
// What a shim may ask is the link's one table (machine/link/
// MachineOperations.h, here as ops::): call() an operation, subscribe() to
// a kind of news. An operation that cannot be asked answers the neutral
// value of its result's type (nothing, nil, NO, 0, "no device", "cannot
// complete"). Listeners behave as the model's own: they only queue what
// they hear for their program's run loop. Over the bus a listener never
// hears anything from inside a call, only when the run loop serves the bus.
//
// Who the program is (program(): its ids, its machine process, whether it
// is a real process on the host, whether it has detached) is a thing of
// each process: in process it lives in the model, which the tests set; over
// the bus it lives in the program itself.
#pragma once

#include "Environment/Environment.h"
#include "Foundation/Value.h"
#include "machine/link/MachineOperations.h"

#include <cstdint>
#include <memory>
#include <string>
#include <utility>

namespace ops = machine::ops;

class MachineLink {
public:
    // The values the machine answers with, under the names the shims use.
    using Process = machine::ProcessInfo;
    using Session = machine::LoginSession;
    using User = machine::User;
    using Element = machine::ElementRef;
    using Point = machine::ScreenPoint;
    using Size = machine::ScreenSize;
    using Attribute = machine::Attribute;

    // The bus link when the environment names a machine service, else the
    // in-process one; decided on first use.
    static MachineLink& shared();
    // Whether the environment names a machine service; decided once.
    static bool usesBus();
    virtual ~MachineLink() = default;

    // One operation of the machine, with its arguments as its row lists them.
    template <class R, class... A, class... Given>
    R call(const machine::Operation<R(A...)>& operation, Given&&... arguments)
    {
        static_assert(sizeof...(A) == sizeof...(Given), "a call passes every argument of its operation");
        ++callsMade_;
        auto typed = typename machine::Operation<R(A...)>::Arguments(std::forward<Given>(arguments)...);
        if constexpr (std::is_void_v<R>) {
            invoke(operation, &typed, nullptr);
        } else {
            R result {};
            invoke(operation, &typed, &result);
            return result;
        }
    }

    // Registers a listener for a kind of news; the registration's id, 0 when
    // refused.
    template <class... A, class... N, class Listener, class... Given>
    std::uint64_t subscribe(const machine::Subscription<void(A...), void(N...)>& subscription, Listener&& listener, Given&&... arguments)
    {
        static_assert(sizeof...(A) == sizeof...(Given), "a registration passes every argument of its row");
        using Row = machine::Subscription<void(A...), void(N...)>;
        auto typed = std::tuple<A...>(std::forward<Given>(arguments)...);
        return start(subscription, &typed, std::make_shared<const typename Row::Listener>(std::forward<Listener>(listener)));
    }
    void unsubscribe(const machine::SubscriptionBase& subscription, std::uint64_t registration)
    {
        if (registration)
            stop(subscription, registration);
    }

    // Failure injection: the result the operation must fail with now (0: it
    // succeeds); a qualifier asks "operation:qualifier" first.
    virtual int take(const std::string& operation, const std::string& qualifier = {}) = 0;

    // How many operations this program has asked of the machine (what the
    // benchmarks count: over the bus, each is a round trip).
    std::uint64_t callsMade() const { return callsMade_; }

    // The running program.
    virtual machine::ProgramIdentity& program() = 0;
    // The login session of its machine process, 0 for none.
    std::uint32_t programSession();
    // "~" (the effective user's home) and "~name" at the start of a system
    // path; an unknown user leaves the path unchanged.
    std::string expandTilde(const std::string& path);
    // The effective user's home folder (system path), empty when the id has
    // no user.
    std::string effectiveUserHome();
    // The machine's users never change once made, and its host identifier
    // never: a real program asks for each once.
    std::optional<User> userWithId(std::uint32_t uid);
    std::string hostIdentifier();

protected:
    // The operation with its typed arguments (the row's std::tuple) and
    // result (the row's result type, left as it is when the operation could
    // not be asked; null for void).
    virtual void invoke(const machine::OperationBase& operation, const void* arguments, void* result) = 0;
    // A registration with its typed arguments and listener (the row's
    // Listener).
    virtual std::uint64_t start(const machine::SubscriptionBase& subscription, const void* arguments, std::shared_ptr<const void> listener) = 0;
    virtual void stop(const machine::SubscriptionBase& subscription, std::uint64_t registration) = 0;
    // Whether the program's identity is its own for its whole life (a real
    // program), so that its login session, which a process never leaves, is
    // asked once; in process, tests change who the program is.
    virtual bool identityIsLifelong() const { return false; }

private:
    std::uint64_t callsMade_ = 0;
    int sessionPid_ = 0;
    std::uint32_t session_ = 0;
    std::map<std::uint32_t, User> users_; // only users that exist, a few
    std::string hostIdentifier_;
};
