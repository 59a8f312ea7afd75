#include "ProcessManager/ProcessTable.h"

#include <algorithm>

using machine::ApplicationEventKind;
using machine::ProcessInfo;
using machine::ProcessSerial;

ProcessTable::~ProcessTable()
{
    if (sessionListener_)
        MachineLink::shared().unsubscribe(ops::sessionListener, sessionListener_);
}

void ProcessTable::arm()
{
    if (armed_)
        return;
    auto& link = MachineLink::shared();
    // Listening first: a switch of the console's session after this moves
    // the front application, and the table hears of it.
    sessionListener_ = link.subscribe(ops::sessionListener, [this](std::uint32_t, std::uint32_t) { frontKnown_ = false; });
    machine::ApplicationSnapshot snapshot = link.call(ops::applicationSnapshot);
    applications_ = std::move(snapshot.applications);
    front_ = snapshot.front.pid ? std::optional(snapshot.front) : std::nullopt;
    if (front_)
        remember(*front_);
    frontKnown_ = true;
    sequence_ = snapshot.sequence;
    armed_ = true;
}

void ProcessTable::apply(const machine::ApplicationEvent& event)
{
    if (!armed_ || event.sequence <= sequence_)
        return;
    sequence_ = event.sequence;
    auto sameSerial = [&](const ProcessInfo& p) { return p.serial == event.serial; };
    switch (event.kind) {
    case ApplicationEventKind::Launched:
        std::erase_if(applications_, sameSerial);
        applications_.push_back(event.process);
        break;
    case ApplicationEventKind::Terminated:
        std::erase_if(applications_, sameSerial);
        std::erase_if(others_, sameSerial);
        if (front_ && front_->serial == event.serial)
            front_.reset();
        break;
    case ApplicationEventKind::FrontSwitched:
        remember(event.process);
        front_ = event.process;
        frontKnown_ = true;
        break;
    }
}

void ProcessTable::remember(const ProcessInfo& process)
{
    auto replace = [&](std::vector<ProcessInfo>& list) {
        auto it = std::find_if(list.begin(), list.end(), [&](const ProcessInfo& p) { return p.serial == process.serial; });
        if (it == list.end())
            return false;
        *it = process;
        return true;
    };
    if (!replace(applications_) && !replace(others_))
        others_.push_back(process);
}

std::optional<ProcessInfo> ProcessTable::front()
{
    if (!frontKnown_) {
        front_ = MachineLink::shared().call(ops::frontProcess);
        frontKnown_ = true;
    }
    return front_;
}

std::optional<ProcessInfo> ProcessTable::self()
{
    if (!self_)
        self_ = MachineLink::shared().call(ops::processWithPid, MachineLink::shared().program().pid);
    return *self_;
}

template <class Match>
std::optional<ProcessInfo> ProcessTable::find(Match&& match) const
{
    for (const auto* list : {&applications_, &others_}) {
        auto it = std::find_if(list->begin(), list->end(), match);
        if (it != list->end())
            return *it;
    }
    return std::nullopt;
}

std::optional<ProcessInfo> ProcessTable::withSerial(const ProcessSerial& serial) const
{
    return find([&](const ProcessInfo& p) { return p.serial == serial; });
}

std::optional<ProcessInfo> ProcessTable::withPid(int pid) const
{
    return find([&](const ProcessInfo& p) { return p.pid == pid; });
}
