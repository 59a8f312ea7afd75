// DOProtocol: a published protocol described once, as one table, and both
// ends driven from it.
//
// A protocol is a C++ abstract class P deriving from DOProtocolObject<P>,
// with a static protocolDescription() that lists each method once: its
// selector and its member function. From the member's type the table knows
// the argument and result types, so
//   - the serving end (DOProtocolObject<P>::dispatchInvocation) finds the
//     method by selector, checks and decodes the marshalled arguments, calls
//     the object and encodes the result;
//   - the typed proxy (DOTypedProxy<P>::invoke) finds the selector by member,
//     encodes the arguments with the same codecs and decodes the answer,
//     falling back to the type's neutral value (NO, 0, nil, nothing) when
//     the connection is gone or the answer does not fit.
// Neither end can drift from the other: both read the same row.
//
// Argument and result types are the ones DOCodec knows: bool (any number
// decodes, non-zero is true), int, unsigned, double, std::string and Value
// (any property-list value, nil included); results may also be void.
#pragma once

#include "DistributedObjects/DOObject.h"
#include "DistributedObjects/DistantObject.h"
#include "Foundation/Value.h"
#include "Log/Log.h"

#include <any>
#include <cstdint>
#include <functional>
#include <limits>
#include <memory>
#include <optional>
#include <string>
#include <string_view>
#include <tuple>
#include <type_traits>
#include <utility>
#include <vector>

template <class T>
struct DOCodec;

template <>
struct DOCodec<void> {
    static constexpr const char* typeName = "void";
};

template <>
struct DOCodec<bool> {
    static constexpr const char* typeName = "BOOL";
    static Value encode(bool b) { return Value(b); }
    static std::optional<bool> decode(const Value& v) { return v.boolean(); }
    static bool neutral() { return false; }
};

template <>
struct DOCodec<int> {
    static constexpr const char* typeName = "int";
    static Value encode(int i) { return Value(i); }
    static std::optional<int> decode(const Value& v)
    {
        auto i = v.integer();
        if (!i || *i < std::numeric_limits<int>::min() || *i > std::numeric_limits<int>::max())
            return std::nullopt;
        return static_cast<int>(*i);
    }
    static int neutral() { return 0; }
};

template <>
struct DOCodec<unsigned> {
    static constexpr const char* typeName = "unsigned int";
    static Value encode(unsigned u) { return Value(u); }
    static std::optional<unsigned> decode(const Value& v)
    {
        auto i = v.integer();
        if (!i || *i < 0 || *i > std::numeric_limits<unsigned>::max())
            return std::nullopt;
        return static_cast<unsigned>(*i);
    }
    static unsigned neutral() { return 0; }
};

template <>
struct DOCodec<double> {
    static constexpr const char* typeName = "double";
    static Value encode(double d) { return Value(d); }
    static std::optional<double> decode(const Value& v) { return v.real(); }
    static double neutral() { return 0.0; }
};

template <>
struct DOCodec<std::string> {
    static constexpr const char* typeName = "NSString";
    static Value encode(const std::string& s) { return Value(s); }
    static std::optional<std::string> decode(const Value& v)
    {
        return v.string() ? std::optional<std::string>(*v.string()) : std::nullopt;
    }
    static std::string neutral() { return {}; }
};

template <>
struct DOCodec<Value> {
    static constexpr const char* typeName = "id";
    static Value encode(const Value& v) { return v; }
    static std::optional<Value> decode(const Value& v) { return v; }
    static Value neutral() { return {}; }
};

namespace dodetail {

template <class T>
using Plain = std::remove_cvref_t<T>;

template <class P, class R, class... A, std::size_t... I>
DOObject::DispatchResult dispatch(P& object, R (P::*member)(A...), const Value& arguments, std::index_sequence<I...>)
{
    const Value::Array* list = arguments.arrayValue();
    if (!list || list->size() != sizeof...(A))
        return {DOObject::DispatchStatus::BadArguments, {}};
    std::tuple<std::optional<Plain<A>>...> decoded {DOCodec<Plain<A>>::decode((*list)[I])...};
    if (!(std::get<I>(decoded).has_value() && ... && true))
        return {DOObject::DispatchStatus::BadArguments, {}};
    (void)decoded;
    if constexpr (std::is_void_v<R>) {
        (object.*member)(*std::get<I>(decoded)...);
        return {DOObject::DispatchStatus::Done, {}};
    } else {
        return {DOObject::DispatchStatus::Done, DOCodec<Plain<R>>::encode((object.*member)(*std::get<I>(decoded)...))};
    }
}

template <class R>
R neutral()
{
    if constexpr (!std::is_void_v<R>)
        return DOCodec<Plain<R>>::neutral();
}

} // namespace dodetail

// One row of a protocol's table.
template <class P>
struct DOMethod {
    std::string selector;
    std::string resultType;
    std::vector<std::string> argumentTypes;
    std::function<DOObject::DispatchResult(P&, const Value&)> dispatch;
    std::any member; // the member function, to find the row from a typed call
};

template <class P, class R, class... A>
DOMethod<P> doMethod(std::string selector, R (P::*member)(A...))
{
    return DOMethod<P> {
        std::move(selector),
        DOCodec<dodetail::Plain<R>>::typeName,
        {DOCodec<dodetail::Plain<A>>::typeName...},
        [member](P& object, const Value& arguments) {
            return dodetail::dispatch(object, member, arguments, std::index_sequence_for<A...> {});
        },
        member,
    };
}

template <class P>
class DOProtocolDescription {
public:
    DOProtocolDescription(std::string name, std::vector<DOMethod<P>> methods)
        : name_(std::move(name)), methods_(std::move(methods))
    {
    }

    const std::string& name() const { return name_; }
    const std::vector<DOMethod<P>>& methods() const { return methods_; }

    const DOMethod<P>* methodForSelector(std::string_view selector) const
    {
        for (const auto& method : methods_) {
            if (method.selector == selector)
                return &method;
        }
        return nullptr;
    }

    template <class R, class... A>
    const DOMethod<P>* methodForMember(R (P::*member)(A...)) const
    {
        for (const auto& method : methods_) {
            const auto* candidate = std::any_cast<R (P::*)(A...)>(&method.member);
            if (candidate && *candidate == member)
                return &method;
        }
        return nullptr;
    }

private:
    std::string name_;
    std::vector<DOMethod<P>> methods_;
};

// The serving side of protocol P: dispatch through P's table.
template <class P>
class DOProtocolObject : public DOObject {
public:
    DispatchResult dispatchInvocation(const std::string& selector, const Value& arguments) override
    {
        const auto* method = P::protocolDescription().methodForSelector(selector);
        if (!method)
            return {DispatchStatus::NoSuchMethod, {}};
        return method->dispatch(static_cast<P&>(*this), arguments);
    }
};

// The client side of protocol P: typed calls through a root proxy.
template <class P>
class DOTypedProxy {
public:
    explicit DOTypedProxy(std::shared_ptr<DistantObject> object) : object_(std::move(object)) {}

    template <class R, class... A, class... Given>
    R invoke(R (P::*member)(A...), Given&&... given) const
    {
        static_assert(sizeof...(A) == sizeof...(Given), "a call passes every argument of its method");
        const auto* method = P::protocolDescription().methodForMember(member);
        if (!method) {
            logError("DOTypedProxy error: A call outside the table of protocol \"%@\" was not sent.\n",
                P::protocolDescription().name());
            return dodetail::neutral<R>();
        }
        if (!object_)
            return dodetail::neutral<R>();
        Value arguments {Value::Array {DOCodec<dodetail::Plain<A>>::encode(std::forward<Given>(given))...}};
        std::optional<Value> reply = object_->sendInvocation(method->selector, arguments);
        if constexpr (std::is_void_v<R>) {
            (void)reply;
        } else {
            if (!reply)
                return dodetail::neutral<R>();
            auto decoded = DOCodec<dodetail::Plain<R>>::decode(*reply);
            return decoded ? *decoded : dodetail::neutral<R>();
        }
    }

    const std::shared_ptr<DistantObject>& distantObject() const { return object_; }

private:
    std::shared_ptr<DistantObject> object_;
};
