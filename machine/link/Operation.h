// Operation and Subscription: the rows of the machine link's one table
// (MachineOperations.h).
//
// An Operation<R(A...)> is one thing a program asks of the machine: its
// name on the bus, the names its arguments travel under, and from its type
// the kinds of its arguments and of its answer. A Subscription<void(A...),
// void(N...)> is a kind of news a program registers for: the operation that
// registers (its arguments A, its answer the registration's id, 0 when
// refused), the one that ends a registration, and the news each
// registration hears (N).
//
// From a row, the program's link encodes its arguments and decodes the
// answer (LinkCodec.h), and the machine's side (PerformerTable.h) decodes
// the arguments, performs and encodes the answer; in process the link hands
// typed values straight to the performer. A row is all the link needs to
// know of an operation.
//
// Over the bus a call is {name: value} arguments and {result: value}
// answers (an absent result is nil, "none", or nothing at all); news is
// {registration: id, news: {name: value}}.
#pragma once

#include "LinkCodec.h"

#include <array>
#include <cstdint>
#include <functional>
#include <optional>
#include <tuple>
#include <type_traits>

namespace machine {

// How a call travels over the bus. Most go on the program's connection and
// wait for their answer; a few must go on a connection of their own (the
// program's may not be made yet, or be a parent's it cannot use), one needs
// no answer.
enum class Travel { Call, OnItsOwnConnection, WithoutAnswer };

class OperationBase {
public:
    constexpr OperationBase(const char* name, Travel travel) : name_(name), travel_(travel) {}
    constexpr const char* name() const { return name_; }
    constexpr Travel travel() const { return travel_; }

    // The arguments (a std::tuple of the row's argument types) as the bus
    // carries them.
    virtual Value encodeArguments(const void* arguments) const = 0;
    // An answer into a result of the row's type (nothing for void); false
    // when it does not fit.
    virtual bool decodeAnswer(const Value& answer, void* result) const = 0;

protected:
    ~OperationBase() = default;

private:
    const char* name_;
    Travel travel_;
};

template <class Signature>
class Operation;

template <class R, class... A>
class Operation<R(A...)> final : public OperationBase {
    static_assert((std::is_same_v<A, std::remove_cvref_t<A>> && ...), "arguments are plain values");

public:
    using Result = R;
    using Arguments = std::tuple<A...>;
    using Names = std::array<const char*, sizeof...(A)>;

    constexpr Operation(const char* name, Names names = {}, Travel travel = Travel::Call)
        : OperationBase(name, travel), names_(names)
    {
    }

    Value encode(const Arguments& arguments) const { return encodeNamed(names_, arguments); }
    std::optional<Arguments> decode(const Value& arguments) const { return decodeNamed<A...>(names_, arguments); }

    template <class... Given>
    Value answer(const Given&... result) const
    {
        Value out = Value::dictionary();
        if constexpr (!std::is_void_v<R>) {
            Value encoded = LinkCodec<R>::encode(result...);
            if (!encoded.isNil())
                out.set("result", std::move(encoded));
        }
        return out;
    }

    Value encodeArguments(const void* arguments) const override { return encode(*static_cast<const Arguments*>(arguments)); }
    bool decodeAnswer(const Value& answer, void* result) const override
    {
        if constexpr (std::is_void_v<R>) {
            (void)answer;
            (void)result;
            return true;
        } else {
            std::optional<R> decoded = LinkCodec<R>::decode(answer["result"]);
            if (decoded)
                *static_cast<R*>(result) = std::move(*decoded);
            return decoded.has_value();
        }
    }

private:
    Names names_;
};

class SubscriptionBase {
public:
    constexpr explicit SubscriptionBase(const char* news) : news_(news) {}
    // The name its news travel under.
    constexpr const char* news() const { return news_; }
    virtual const OperationBase& start() const = 0;
    virtual const OperationBase& end() const = 0;
    // Decodes one piece of news and hands it to a listener of the row's
    // Listener type; false when it does not fit.
    virtual bool deliver(const Value& news, const void* listener) const = 0;

protected:
    ~SubscriptionBase() = default;

private:
    const char* news_;
};

template <class Arguments, class News>
class Subscription;

template <class... A, class... N>
class Subscription<void(A...), void(N...)> final : public SubscriptionBase {
public:
    using Start = Operation<std::uint64_t(A...)>;
    using End = Operation<void(std::uint64_t)>;
    using Listener = std::function<void(const N&...)>;
    using NewsNames = std::array<const char*, sizeof...(N)>;

    constexpr Subscription(Start start, End end, const char* news, NewsNames newsNames)
        : SubscriptionBase(news), start_(start), end_(end), newsNames_(newsNames)
    {
    }

    const Start& start() const override { return start_; }
    const End& end() const override { return end_; }
    Value encodeNews(const N&... news) const { return encodeNamed(newsNames_, std::tuple<N...>(news...)); }
    bool deliver(const Value& news, const void* listener) const override
    {
        std::optional<std::tuple<N...>> decoded = decodeNamed<N...>(newsNames_, news);
        if (decoded)
            std::apply(*static_cast<const Listener*>(listener), *decoded);
        return decoded.has_value();
    }

private:
    Start start_;
    End end_;
    NewsNames newsNames_;
};

} // namespace machine
