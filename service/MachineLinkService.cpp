#include "service/MachineLinkService.h"

#include "Bus/BusPeerCredentials.h"
#include "Bus/MessageBus.h"
#include "Foundation/PropertyList.h"
#include "Log/Log.h"
#include "MachineLink/LocalMachineLink.h"
#include "MachineLink/MachineLinkProtocol.h"
#include "machine/Machine.h"
#include "machine/link/PerformerTable.h"
#include "service/ProcStat.h"

#include <sdbus-c++/sdbus-c++.h>

#include <fstream>
#include <sstream>
#include <unistd.h>

namespace {

// The parent of a host process, 0 when it cannot be read.
int hostParentPid(int pid)
{
    const std::string text = procStatOf(std::to_string(pid));
    // "pid (command) state ppid ...": the command may hold anything.
    std::size_t close = text.rfind(')');
    if (close == std::string::npos)
        return 0;
    std::istringstream fields(text.substr(close + 1));
    std::string state;
    int parent = 0;
    return fields >> state >> parent ? parent : 0;
}

void refuse(sdbus::MethodCall& call, const char* error, const std::string& why)
{
    call.createErrorReply(sdbus::Error(error, why)).send();
}

} // namespace

// A program on the bus, for one call: who the bus says it is, and what it
// holds, kept by the service under its unique name.
class MachineLinkService::BusCaller final : public machine::Caller {
public:
    BusCaller(Holdings& held, std::optional<std::uint32_t> uid, int hostPid, int machinePid)
        : held_(held), uid_(uid), hostPid_(hostPid), machinePid_(machinePid)
    {
    }
    std::optional<std::uint32_t> userId() const override { return uid_; }
    int machinePid() const override { return machinePid_; }
    bool callsFromChildOf(int newHostPid, int oldHostPid) const override
    {
        return oldHostPid > 0 && newHostPid > 0 && hostPid_ == newHostPid && hostParentPid(newHostPid) == oldHostPid;
    }
    void hold(Holding holding, std::function<void()> end) override { held_.emplace(std::move(holding), std::move(end)); }
    bool letGo(const Holding& holding) override { return held_.erase(holding) != 0; }
    bool holds(const Holding& holding) const override { return held_.count(holding) != 0; }

private:
    Holdings& held_;
    std::optional<std::uint32_t> uid_;
    int hostPid_;
    int machinePid_;
};

MachineLinkService::MachineLinkService(sdbus::IConnection& connection)
    : MachineLinkService(connection, machine::Machine::shared())
{
}

MachineLinkService::MachineLinkService(sdbus::IConnection& connection, machine::Machine& machine)
    : connection_(connection), machine_(machine)
{
    LocalMachineLink::announceAccessibilitySwitches(machine_);
    credentials_ = std::make_unique<BusPeerCredentials>(connection_);
    credentials_->whenLeaving([this](const std::string& caller) { callerLeft(caller); });
    object_ = sdbus::createObject(connection_, kMachineLinkObjectPath);
    object_->registerMethod(kMachineLinkInterface, "Call", "say", "ay", [this](sdbus::MethodCall call) {
        auto request = readNameAndBytes(call);
        if (!request)
            return refuse(call, kMachineLinkBadArgumentsError, "Call takes an operation and property-list data");
        const auto& [operation, data] = *request;
        if (data.size() > kMachineLinkMaxArgumentBytes)
            return refuse(call, kMachineLinkBadArgumentsError, "The arguments are too large");
        std::optional<Value> arguments = propertyListFromData(data);
        if (!arguments || !arguments->isDictionary())
            return refuse(call, kMachineLinkBadArgumentsError, "The arguments are not a property-list dictionary");
        bool known = false;
        std::optional<Value> answer = dispatch(call.getSender(), operation, *arguments, &known);
        if (!known)
            return refuse(call, kMachineLinkUnknownOperationError, "No such operation: " + operation);
        if (!answer)
            return refuse(call, kMachineLinkBadArgumentsError, "Wrong or missing arguments for " + operation);
        std::optional<std::string> encoded = binaryPropertyListData(*answer);
        if (!encoded)
            return refuse(call, kMachineLinkBadArgumentsError, "The result cannot travel");
        if (call.doesntExpectReply())
            return;
        auto reply = call.createReply();
        appendByteArray(reply, *encoded);
        reply.send();
    });
    object_->registerSignal(kMachineLinkInterface, "Event", "say");
    object_->finishRegistration();
}

MachineLinkService::~MachineLinkService()
{
    credentials_->whenLeaving({});
    while (!held_.empty())
        callerLeft(held_.begin()->first);
}

std::size_t MachineLinkService::registrationCount() const
{
    std::size_t count = 0;
    for (const auto& [caller, holdings] : held_)
        count += holdings.size();
    return count;
}

std::optional<Value> MachineLinkService::dispatch(
    const std::string& caller, const std::string& operation, const Value& arguments, bool* known)
{
    std::optional<BusPeerCredentials::Peer> peer = credentials_->peer(caller);
    // A caller the bus cannot name is nobody.
    std::optional<std::uint32_t> uid;
    if (peer)
        uid = userIdOf(peer->pid, peer->uid);
    Holdings& held = held_[caller];
    // Its machine process is the one the service knows behind its host
    // process: a program started by hand has none.
    const machine::Process* process = peer ? machine_.processes().processWithHostPid(peer->pid) : nullptr;
    BusCaller busCaller(held, uid, peer ? peer->pid : 0, process ? process->pid : 0);
    std::optional<Value> answer = machine::PerformerTable::shared().serve(operation, machine_, busCaller, arguments,
        [this, caller](const machine::SubscriptionBase& subscription, std::uint64_t registration, const Value& news) {
            emit(caller, subscription, registration, news);
        },
        known);
    if (*known)
        machine_.linkTraffic().noteCall(operation);
    if (held.empty())
        held_.erase(caller);
    return answer;
}

std::uint32_t MachineLinkService::userIdOf(int hostPid, std::uint32_t busUid) const
{
    // A program running with the service's own user may be one the service
    // started without being able to switch to its user: that one is who the
    // service meant it to be. Every other program is who the bus says.
    if (busUid == static_cast<std::uint32_t>(::geteuid())) {
        if (const machine::Process* process = machine_.processes().processWithHostPid(hostPid))
            return process->uid;
    }
    return busUid;
}

void MachineLinkService::emit(
    const std::string& caller, const machine::SubscriptionBase& subscription, std::uint64_t registration, const Value& news)
{
    std::optional<std::string> data = binaryPropertyListData(Value::dictionary({{"registration", registration}, {"news", news}}));
    if (!data || !object_)
        return;
    try {
        auto signal = object_->createSignal(kMachineLinkInterface, "Event");
        signal << std::string(subscription.news());
        appendByteArray(signal, *data);
        // To the program that registered, and to no other: the rest of the
        // bus never wakes for news that are not theirs.
        signal.setDestination(caller);
        object_->emitSignal(signal);
        machine_.linkTraffic().noteNews(subscription.news());
    } catch (const sdbus::Error& error) {
        logError("MachineLinkService error: Unable to send \"%s\" news: %s\n", subscription.news(), error.getMessage());
    }
}

void MachineLinkService::callerLeft(const std::string& caller)
{
    auto it = held_.find(caller);
    if (it == held_.end())
        return;
    Holdings holdings = std::move(it->second);
    held_.erase(it);
    for (const auto& [holding, end] : holdings)
        end();
}
