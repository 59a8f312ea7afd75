// LinkCodec<T>: one value of the machine link as a property-list value and
// back, for the bus. The program's link encodes with these and the service
// decodes with the same ones, so the two ends cannot disagree on a kind.
//
// encode(T) -> Value; decode(Value) -> std::optional<T>, nothing for a value
// of another kind or out of range: everything the service decodes comes
// from whoever is on the bus. Integers must be integers (a boolean is no
// pid), reals may be any number, nil travels as an absent entry.
//
// Bounded<T, Range> and AtMost<T, N> are the kinds the service takes only
// within limits (Range::low to Range::high; at most N items): how much a
// driver call may ask the machine to make. In process they are the plain
// number or list.
#pragma once

#include "Foundation/Value.h"
#include "MachineValues.h"

#include <cstddef>
#include <cstdint>
#include <limits>
#include <optional>
#include <string>
#include <string_view>
#include <tuple>
#include <type_traits>
#include <utility>
#include <variant>
#include <vector>

namespace machine {

// Integer limits, for Bounded.
template <auto Low, auto High>
struct Between {
    static constexpr auto low = Low;
    static constexpr auto high = High;
};

template <class T, class Range>
struct Bounded {
    T value {};
    constexpr Bounded() = default;
    constexpr Bounded(T v) : value(v) {}
    constexpr operator T() const { return value; }
};

template <class T, std::size_t Most>
struct AtMost {
    std::vector<T> items;
    AtMost() = default;
    AtMost(std::vector<T> v) : items(std::move(v)) {}
    operator const std::vector<T>&() const { return items; }
};

template <class T, class = void>
struct LinkCodec;

template <>
struct LinkCodec<bool> {
    static Value encode(bool b) { return Value(b); }
    static std::optional<bool> decode(const Value& v) { return v.isBoolean() ? v.boolean() : std::nullopt; }
};

template <class T>
struct LinkCodec<T, std::enable_if_t<std::is_integral_v<T> && !std::is_same_v<T, bool>>> {
    static Value encode(T v) { return Value(v); }
    static std::optional<T> decode(const Value& v)
    {
        if (!v.isInteger())
            return std::nullopt;
        std::optional<std::uint64_t> positive = v.unsignedInteger();
        if (positive)
            return *positive <= static_cast<std::uint64_t>(std::numeric_limits<T>::max()) ? std::optional<T>(static_cast<T>(*positive)) : std::nullopt;
        std::int64_t negative = *v.integer();
        if constexpr (std::is_signed_v<T>) {
            if (negative >= std::numeric_limits<T>::min())
                return static_cast<T>(negative);
        }
        return std::nullopt;
    }
};

template <>
struct LinkCodec<double> {
    static Value encode(double d) { return Value(d); }
    static std::optional<double> decode(const Value& v) { return v.isInteger() || v.isReal() ? v.real() : std::nullopt; }
};

template <>
struct LinkCodec<std::string> {
    static Value encode(const std::string& s) { return Value(s); }
    static std::optional<std::string> decode(const Value& v) { return v.string() ? std::optional(*v.string()) : std::nullopt; }
};

// Any property-list value; nil when absent.
template <>
struct LinkCodec<Value> {
    static Value encode(const Value& v) { return v; }
    static std::optional<Value> decode(const Value& v) { return v; }
};

template <>
struct LinkCodec<Value::Bytes> {
    static Value encode(const Value::Bytes& b) { return Value::data(b); }
    static std::optional<Value::Bytes> decode(const Value& v) { return v.bytes() ? std::optional(*v.bytes()) : std::nullopt; }
};

template <class T>
struct LinkCodec<std::vector<T>> {
    static Value encode(const std::vector<T>& items)
    {
        Value::Array out;
        out.reserve(items.size());
        for (const T& item : items)
            out.push_back(LinkCodec<T>::encode(item));
        return Value(std::move(out));
    }
    static std::optional<std::vector<T>> decode(const Value& v)
    {
        const Value::Array* items = v.arrayValue();
        if (!items)
            return std::nullopt;
        std::vector<T> out;
        out.reserve(items->size());
        for (const Value& item : *items) {
            std::optional<T> decoded = LinkCodec<T>::decode(item);
            if (!decoded)
                return std::nullopt;
            out.push_back(std::move(*decoded));
        }
        return out;
    }
};

// Nothing travels as nil, that is, as an absent entry.
template <class T>
struct LinkCodec<std::optional<T>> {
    static Value encode(const std::optional<T>& item) { return item ? LinkCodec<T>::encode(*item) : Value(); }
    static std::optional<std::optional<T>> decode(const Value& v)
    {
        if (v.isNil())
            return std::optional<T>();
        std::optional<T> decoded = LinkCodec<T>::decode(v);
        return decoded ? std::optional(std::move(decoded)) : std::nullopt;
    }
};

// An enumeration travels under the names linkNames() gives its values.
template <class E>
struct LinkCodec<E, std::enable_if_t<std::is_enum_v<E>>> {
    static Value encode(E e) { return Value(linkNames(E {})[static_cast<std::size_t>(e)]); }
    static std::optional<E> decode(const Value& v)
    {
        const std::string* name = v.string();
        constexpr auto names = linkNames(E {});
        for (std::size_t i = 0; name && i < names.size(); ++i) {
            if (*name == names[i])
                return static_cast<E>(i);
        }
        return std::nullopt;
    }
};

// A structure that lists its fields travels as a dictionary of them.
template <class S>
struct LinkCodec<S, std::void_t<decltype(S::fields())>> {
    static Value encode(const S& s)
    {
        Value out = Value::dictionary();
        std::apply([&](const auto&... field) { (put(out, field.name, s.*field.member), ...); }, S::fields());
        return out;
    }
    static std::optional<S> decode(const Value& v)
    {
        if (!v.isDictionary())
            return std::nullopt;
        S out;
        bool ok = std::apply([&](const auto&... field) { return (take(v, field.name, out.*field.member) && ...); }, S::fields());
        return ok ? std::optional(std::move(out)) : std::nullopt;
    }

private:
    template <class T>
    static void put(Value& out, const char* name, const T& value)
    {
        Value encoded = LinkCodec<T>::encode(value);
        if (!encoded.isNil())
            out.set(name, std::move(encoded));
    }
    template <class T>
    static bool take(const Value& in, const char* name, T& value)
    {
        std::optional<T> decoded = LinkCodec<T>::decode(in[name]);
        if (decoded)
            value = std::move(*decoded);
        return decoded.has_value();
    }
};

// One of the alternatives, by its place: {kind: index, value: alternative}.
template <class... T>
struct LinkCodec<std::variant<T...>> {
    using Variant = std::variant<T...>;
    static Value encode(const Variant& v)
    {
        Value out = Value::dictionary({{"kind", static_cast<unsigned long>(v.index())}});
        Value value = std::visit([](const auto& alternative) { return LinkCodec<std::decay_t<decltype(alternative)>>::encode(alternative); }, v);
        if (!value.isNil())
            out.set("value", std::move(value));
        return out;
    }
    static std::optional<Variant> decode(const Value& v)
    {
        std::optional<std::size_t> kind = LinkCodec<std::size_t>::decode(v["kind"]);
        return kind ? decodeAlternative(*kind, v["value"], std::index_sequence_for<T...> {}) : std::nullopt;
    }

private:
    template <std::size_t... I>
    static std::optional<Variant> decodeAlternative(std::size_t kind, const Value& value, std::index_sequence<I...>)
    {
        std::optional<Variant> out;
        ((kind == I ? (void)(out = decodeAt<I>(value)) : (void)0), ...);
        return out;
    }
    template <std::size_t I>
    static std::optional<Variant> decodeAt(const Value& value)
    {
        auto decoded = LinkCodec<std::variant_alternative_t<I, Variant>>::decode(value);
        return decoded ? std::optional<Variant>(Variant(std::in_place_index<I>, std::move(*decoded))) : std::nullopt;
    }
};

template <int Neutral>
struct LinkCodec<ResultCode<Neutral>> {
    static Value encode(ResultCode<Neutral> code) { return Value(code.value); }
    static std::optional<ResultCode<Neutral>> decode(const Value& v)
    {
        std::optional<int> code = LinkCodec<int>::decode(v);
        return code ? std::optional(ResultCode<Neutral>(*code)) : std::nullopt;
    }
};

template <class T, class Range>
struct LinkCodec<Bounded<T, Range>> {
    static Value encode(const Bounded<T, Range>& b) { return LinkCodec<T>::encode(b.value); }
    static std::optional<Bounded<T, Range>> decode(const Value& v)
    {
        std::optional<T> decoded = LinkCodec<T>::decode(v);
        // Written so that a real that is no number (NaN) is out of range too.
        if (!decoded || !(*decoded >= static_cast<T>(Range::low) && *decoded <= static_cast<T>(Range::high)))
            return std::nullopt;
        return Bounded<T, Range>(*decoded);
    }
};

template <class T, std::size_t Most>
struct LinkCodec<AtMost<T, Most>> {
    static Value encode(const AtMost<T, Most>& list) { return LinkCodec<std::vector<T>>::encode(list.items); }
    static std::optional<AtMost<T, Most>> decode(const Value& v)
    {
        if (v.count() > Most)
            return std::nullopt;
        std::optional<std::vector<T>> decoded = LinkCodec<std::vector<T>>::decode(v);
        return decoded ? std::optional(AtMost<T, Most>(std::move(*decoded))) : std::nullopt;
    }
};

// Values by name: a dictionary holding each value (nil ones left out) under
// its name, and back, when every value is there and of its kind.
template <class... T>
Value encodeNamed(const std::array<const char*, sizeof...(T)>& names, const std::tuple<T...>& values)
{
    Value out = Value::dictionary();
    [&]<std::size_t... I>(std::index_sequence<I...>) {
        (
            [&] {
                Value encoded = LinkCodec<T>::encode(std::get<I>(values));
                if (!encoded.isNil())
                    out.set(names[I], std::move(encoded));
            }(),
            ...);
    }(std::index_sequence_for<T...> {});
    return out;
}

template <class... T>
std::optional<std::tuple<T...>> decodeNamed(const std::array<const char*, sizeof...(T)>& names, const Value& in)
{
    if (!in.isDictionary())
        return std::nullopt;
    return [&]<std::size_t... I>(std::index_sequence<I...>) -> std::optional<std::tuple<T...>> {
        std::tuple<std::optional<T>...> decoded {LinkCodec<T>::decode(in[names[I]])...};
        if (!(std::get<I>(decoded).has_value() && ...))
            return std::nullopt;
        return std::tuple<T...>(std::move(*std::get<I>(decoded))...);
    }(std::index_sequence_for<T...> {});
}

} // namespace machine
