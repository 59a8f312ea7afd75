// LocalMachineLink: the machine linked into the program. Every operation
// goes straight to its performer on the model (machine::Machine::shared()),
// typed, listeners included, and the program's identity is the model's, so
// a test sets who runs and which failures come next on the model itself.
#pragma once

#include "MachineLink/MachineLink.h"

#include <memory>

namespace machine {
class Machine;
}

class LocalMachineLink final : public MachineLink {
public:
    // The model of this program.
    LocalMachineLink();
    explicit LocalMachineLink(machine::Machine& machine);
    ~LocalMachineLink() override;

    // Whoever serves a model tells every session when its Accessibility
    // switch changes ("com.apple.accessibility.api").
    static void announceAccessibilitySwitches(machine::Machine& machine);

    int take(const std::string& operation, const std::string& qualifier = {}) override;
    machine::ProgramIdentity& program() override;

protected:
    void invoke(const machine::OperationBase& operation, const void* arguments, void* result) override;
    std::uint64_t start(const machine::SubscriptionBase& subscription, const void* arguments, std::shared_ptr<const void> listener) override;
    void stop(const machine::SubscriptionBase& subscription, std::uint64_t registration) override;

private:
    class ProgramCaller;

    machine::Machine& machine_;
    std::unique_ptr<ProgramCaller> caller_;
};
