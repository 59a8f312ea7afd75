#include "MachineLink/LocalMachineLink.h"

#include "Log/Log.h"
#include "Notifications/DistributedNotificationCenter.h"
#include "machine/Machine.h"
#include "machine/link/PerformerTable.h"

// The program itself: its effective user, trusted with its own process, and
// the ender of what it made, so it holds nothing on the machine's behalf.
class LocalMachineLink::ProgramCaller final : public machine::Caller {
public:
    explicit ProgramCaller(machine::Machine& machine) : machine_(machine) {}
    std::optional<std::uint32_t> userId() const override { return machine_.effectiveUserId(); }
    int machinePid() const override { return machine_.programPid(); }
    bool callsFromChildOf(int, int) const override { return true; }
    void hold(Holding, std::function<void()>) override {}
    bool letGo(const Holding&) override { return true; }
    bool holds(const Holding&) const override { return true; }

private:
    machine::Machine& machine_;
};

LocalMachineLink::LocalMachineLink() : LocalMachineLink(machine::Machine::shared()) {}

LocalMachineLink::LocalMachineLink(machine::Machine& machine)
    : machine_(machine), caller_(std::make_unique<ProgramCaller>(machine))
{
    announceAccessibilitySwitches(machine_);
}

LocalMachineLink::~LocalMachineLink() = default;

void LocalMachineLink::announceAccessibilitySwitches(machine::Machine& machine)
{
    // The system tells every session, each through its own queue.
    machine.accessibility().setSwitchObserver([] {
        DistributedNotificationHub::shared().post(
            kNoLoginSession, Notification {"com.apple.accessibility.api", Value(), nullptr, Value()}, true);
    });
}

int LocalMachineLink::take(const std::string& operation, const std::string& qualifier)
{
    return qualifier.empty() ? machine_.failures().take(operation) : machine_.failures().take(operation, qualifier);
}

machine::ProgramIdentity& LocalMachineLink::program()
{
    return machine_.program();
}

void LocalMachineLink::invoke(const machine::OperationBase& operation, const void* arguments, void* result)
{
    if (!machine::PerformerTable::shared().performTyped(operation, machine_, *caller_, arguments, result))
        logError("MachineLink error: Nothing on this machine performs \"%s\".\n", operation.name());
}

std::uint64_t LocalMachineLink::start(const machine::SubscriptionBase& subscription, const void* arguments, std::shared_ptr<const void> listener)
{
    return machine::PerformerTable::shared().subscribeTyped(subscription, machine_, *caller_, arguments, std::move(listener));
}

void LocalMachineLink::stop(const machine::SubscriptionBase& subscription, std::uint64_t registration)
{
    machine::PerformerTable::shared().unsubscribe(subscription, machine_, *caller_, registration);
}
