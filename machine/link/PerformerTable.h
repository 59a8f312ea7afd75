// PerformerTable: the machine's side of every row of the link
// (MachineOperations.h), one performer each, registered beside the model
// (Performers.cpp). The same performer answers both ways in:
//   - in process, typed: the program's in-process link hands it the typed
//     arguments and takes the typed result, nothing encoded;
//   - over the bus, by name: the machine service hands it the encoded
//     arguments, which it decodes with the row's codecs (a call whose
//     arguments do not fit answers nothing, and the service refuses it),
//     and it encodes the answer the same way.
//
// Registrations are handled here once for every kind of news: the caller
// holds each one it makes (Caller.h), only a holder ends it, and ending the
// holding ends the model's listener. In process a registration's news go
// straight to the program's listener; over the bus each one goes out
// (NewsOut) with the registration it belongs to.
#pragma once

#include "Caller.h"
#include "MachineOperations.h"

#include <functional>
#include <map>
#include <memory>
#include <optional>
#include <string>
#include <string_view>
#include <tuple>
#include <utility>

namespace machine {

class Machine;

// Where the news of a registration made over the bus go: to the service,
// which sends them to the program that made it.
using NewsOut = std::function<void(const SubscriptionBase& subscription, std::uint64_t registration, Value news)>;

class PerformerTable {
public:
    // Every performer of Performers.cpp; made on first use, never destroyed.
    static const PerformerTable& shared();

    // The model code of an operation: body(Machine&, Caller&, arguments...)
    // answers the row's result.
    template <class R, class... A, class Body>
    void perform(const Operation<R(A...)>& operation, Body body)
    {
        add(operation.name(), std::make_unique<Performer<R, A...>>(operation, std::move(body)));
    }
    // The model code of a kind of news: start(Machine&, Caller&, listener,
    // arguments...) registers the listener with the model and answers its
    // id (0: refused); end(Machine&, id) ends it.
    template <class... A, class... N, class Start, class End>
    void subscribe(const Subscription<void(A...), void(N...)>& subscription, Start start, End end)
    {
        auto subscriber = std::make_unique<Subscriber<Subscription<void(A...), void(N...)>>>(subscription, std::move(start), std::move(end));
        add(subscription.end().name(), std::make_unique<Ender>(*subscriber, subscription.end()));
        add(subscription.start().name(), std::move(subscriber));
    }

    // In process. False when no performer answers for the row.
    bool performTyped(const OperationBase& operation, Machine& machine, Caller& caller, const void* arguments, void* result) const;
    // The registration's id; 0 when refused or when nothing answers for the row.
    std::uint64_t subscribeTyped(const SubscriptionBase& subscription, Machine& machine, Caller& caller, const void* arguments,
        std::shared_ptr<const void> listener) const;
    void unsubscribe(const SubscriptionBase& subscription, Machine& machine, Caller& caller, std::uint64_t registration) const;

    // Over the bus: the encoded answer, or nothing when the arguments do not
    // fit; *known says whether anything answers for the name.
    std::optional<Value> serve(std::string_view name, Machine& machine, Caller& caller, const Value& arguments, const NewsOut& out,
        bool* known) const;

private:
    class Entry {
    public:
        virtual ~Entry() = default;
        virtual std::optional<Value> serve(Machine&, Caller&, const Value& arguments, const NewsOut& out) const = 0;
        // False when the entry is not this row's performer.
        virtual bool performTyped(const OperationBase&, Machine&, Caller&, const void*, void*) const { return false; }
    };

    template <class R, class... A>
    class Performer final : public Entry {
    public:
        template <class Body>
        Performer(const Operation<R(A...)>& operation, Body body) : operation_(operation), body_(std::move(body))
        {
        }
        bool performTyped(const OperationBase& operation, Machine& m, Caller& c, const void* arguments, void* result) const override
        {
            if (&operation != &operation_)
                return false;
            const auto& typed = *static_cast<const std::tuple<A...>*>(arguments);
            if constexpr (std::is_void_v<R>)
                std::apply([&](const A&... a) { body_(m, c, a...); }, typed);
            else
                *static_cast<R*>(result) = std::apply([&](const A&... a) { return body_(m, c, a...); }, typed);
            return true;
        }
        std::optional<Value> serve(Machine& m, Caller& c, const Value& arguments, const NewsOut&) const override
        {
            std::optional<std::tuple<A...>> decoded = operation_.decode(arguments);
            if (!decoded)
                return std::nullopt;
            if constexpr (std::is_void_v<R>) {
                std::apply([&](const A&... a) { body_(m, c, a...); }, *decoded);
                return operation_.answer();
            } else {
                return operation_.answer(std::apply([&](const A&... a) { return body_(m, c, a...); }, *decoded));
            }
        }

    private:
        const Operation<R(A...)>& operation_;
        std::function<R(Machine&, Caller&, const A&...)> body_;
    };

    class SubscriberBase : public Entry {
    public:
        virtual bool isFor(const SubscriptionBase& subscription) const = 0;
        virtual std::uint64_t startTyped(Machine&, Caller&, const void* arguments, std::shared_ptr<const void> listener) const = 0;
        // Only a holder of the registration ends it.
        virtual void stop(Machine&, Caller&, std::uint64_t registration) const = 0;
    };

    template <class S>
    class Subscriber;
    template <class... A, class... N>
    class Subscriber<Subscription<void(A...), void(N...)>> final : public SubscriberBase {
    public:
        using Row = Subscription<void(A...), void(N...)>;
        using Listener = typename Row::Listener;

        template <class Start, class End>
        Subscriber(const Row& row, Start start, End end) : row_(row), start_(std::move(start)), end_(std::move(end))
        {
        }
        bool isFor(const SubscriptionBase& subscription) const override { return &subscription == &row_; }

        std::uint64_t startTyped(Machine& m, Caller& c, const void* arguments, std::shared_ptr<const void> listener) const override
        {
            return start(m, c, *static_cast<const Listener*>(listener.get()), *static_cast<const std::tuple<A...>*>(arguments));
        }
        void stop(Machine& m, Caller& c, std::uint64_t registration) const override
        {
            if (c.letGo({row_.start().name(), registration}))
                end_(m, registration);
        }
        std::optional<Value> serve(Machine& m, Caller& c, const Value& arguments, const NewsOut& out) const override
        {
            std::optional<std::tuple<A...>> decoded = row_.start().decode(arguments);
            if (!decoded)
                return std::nullopt;
            // The model answers the id after it has the listener, which
            // tells it with every piece of news.
            auto registration = std::make_shared<std::uint64_t>(0);
            Listener tell = [&row = row_, out, registration](const N&... news) { out(row, *registration, row.encodeNews(news...)); };
            *registration = start(m, c, tell, *decoded);
            return row_.start().answer(*registration);
        }

    private:
        std::uint64_t start(Machine& m, Caller& c, const Listener& listener, const std::tuple<A...>& arguments) const
        {
            std::uint64_t registration = std::apply([&](const A&... a) { return start_(m, c, listener, a...); }, arguments);
            if (registration)
                c.hold({row_.start().name(), registration}, [end = end_, &m, registration] { end(m, registration); });
            return registration;
        }

        const Row& row_;
        std::function<std::uint64_t(Machine&, Caller&, const Listener&, const A&...)> start_;
        std::function<void(Machine&, std::uint64_t)> end_;
    };

    // The end of a kind of news, by name, over the bus.
    class Ender final : public Entry {
    public:
        Ender(const SubscriberBase& subscriber, const Operation<void(std::uint64_t)>& end) : subscriber_(subscriber), end_(end) {}
        std::optional<Value> serve(Machine& m, Caller& c, const Value& arguments, const NewsOut&) const override;

    private:
        const SubscriberBase& subscriber_;
        const Operation<void(std::uint64_t)>& end_;
    };

    void add(std::string name, std::unique_ptr<Entry> entry);
    const Entry* find(std::string_view name) const;

    std::map<std::string, std::unique_ptr<Entry>, std::less<>> entries_;
};

// Registers every performer (Performers.cpp).
void definePerformers(PerformerTable& table);

} // namespace machine
