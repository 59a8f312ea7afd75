#include "PerformerTable.h"

#include "Log/Log.h"

namespace machine {

const PerformerTable& PerformerTable::shared()
{
    static const PerformerTable* table = [] {
        auto* made = new PerformerTable;
        definePerformers(*made);
        return made;
    }();
    return *table;
}

void PerformerTable::add(std::string name, std::unique_ptr<Entry> entry)
{
    // Two rows under one name would each take the other's calls.
    if (!entries_.emplace(name, std::move(entry)).second)
        logError("PerformerTable error: Two performers for \"%s\"; the second is not served.\n", name);
}

const PerformerTable::Entry* PerformerTable::find(std::string_view name) const
{
    auto it = entries_.find(name);
    return it == entries_.end() ? nullptr : it->second.get();
}

bool PerformerTable::performTyped(const OperationBase& operation, Machine& machine, Caller& caller, const void* arguments, void* result) const
{
    const Entry* entry = find(operation.name());
    return entry && entry->performTyped(operation, machine, caller, arguments, result);
}

std::uint64_t PerformerTable::subscribeTyped(const SubscriptionBase& subscription, Machine& machine, Caller& caller, const void* arguments,
    std::shared_ptr<const void> listener) const
{
    auto* subscriber = dynamic_cast<const SubscriberBase*>(find(subscription.start().name()));
    if (!subscriber || !subscriber->isFor(subscription))
        return 0;
    return subscriber->startTyped(machine, caller, arguments, std::move(listener));
}

void PerformerTable::unsubscribe(const SubscriptionBase& subscription, Machine& machine, Caller& caller, std::uint64_t registration) const
{
    auto* subscriber = dynamic_cast<const SubscriberBase*>(find(subscription.start().name()));
    if (subscriber && subscriber->isFor(subscription))
        subscriber->stop(machine, caller, registration);
}

std::optional<Value> PerformerTable::serve(std::string_view name, Machine& machine, Caller& caller, const Value& arguments,
    const NewsOut& out, bool* known) const
{
    const Entry* entry = find(name);
    *known = entry != nullptr;
    return entry ? entry->serve(machine, caller, arguments, out) : std::nullopt;
}

std::optional<Value> PerformerTable::Ender::serve(Machine& m, Caller& c, const Value& arguments, const NewsOut&) const
{
    std::optional<std::tuple<std::uint64_t>> registration = end_.decode(arguments);
    if (!registration)
        return std::nullopt;
    // Anyone else's attempt is answered the same and changes nothing.
    subscriber_.stop(m, c, std::get<0>(*registration));
    return end_.answer();
}

} // namespace machine
