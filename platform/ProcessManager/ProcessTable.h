// ProcessTable: what a program knows of the machine's applications from the
// application events it hears, so that the Process Manager answers it
// without asking the machine, as the original Process Manager answers a
// program from its own process.
//
// The table is kept only by a program that listens to application events
// (its application event target has a handler: the session agent). It is
// armed when that listening starts: one snapshot of the applications and
// the front one, then every event, applied before the program's handlers
// hear it, so that a handler of a front switch finds the new front
// application here. News older than the snapshot (sent before it, heard
// after it) are passed over by their sequence number. A change of the
// console's login session moves the front application without an
// application event: the front one is then asked of the machine again, once,
// when it is next wanted. A program that never listens asks the machine
// each time.
#pragma once

#include "Foundation/SharedInstance.h"
#include "MachineLink/MachineLink.h"

#include <cstdint>
#include <optional>
#include <vector>

class ProcessTable : public SharedInstance<ProcessTable> {
public:
    static constexpr const char* kSharedInstanceFailure = "ProcessTable error: Unable to build the process table.\n";
    ~ProcessTable();

    // Starts keeping the table (the first call only).
    void arm();
    bool isArmed() const { return armed_; }
    // An application event, before the program's handlers hear it.
    void apply(const machine::ApplicationEvent& event);

    // What the table holds; only while armed.
    std::optional<machine::ProcessInfo> front();
    const std::vector<machine::ProcessInfo>& applications() const { return applications_; }
    std::optional<machine::ProcessInfo> withSerial(const machine::ProcessSerial& serial) const;
    std::optional<machine::ProcessInfo> withPid(int pid) const;
    // The program's own process, asked of the machine once.
    std::optional<machine::ProcessInfo> self();

private:
    friend class SharedInstance<ProcessTable>;
    ProcessTable() = default;
    void remember(const machine::ProcessInfo& process);
    template <class Match>
    std::optional<machine::ProcessInfo> find(Match&& match) const;

    bool armed_ = false;
    std::uint64_t sequence_ = 0;
    std::vector<machine::ProcessInfo> applications_; // the enumeration, in launch order
    std::vector<machine::ProcessInfo> others_;       // applications outside it seen in front (the login window)
    std::optional<machine::ProcessInfo> front_;      // nothing in front: pid 0
    bool frontKnown_ = false;
    std::uint64_t sessionListener_ = 0;
    std::optional<std::optional<machine::ProcessInfo>> self_;
};
