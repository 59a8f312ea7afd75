#include "Foundation/Value.h"

#include "Foundation/CivilTime.h"

#include <charconv>
#include <cmath>
#include <cstdio>
#include <ostream>

namespace {

const Value& nilValue()
{
    static const Value nil;
    return nil;
}

bool needsQuotes(const std::string& s)
{
    if (s.empty())
        return true;
    for (unsigned char c : s) {
        bool plain = (c >= 'a' && c <= 'z') || (c >= 'A' && c <= 'Z') || (c >= '0' && c <= '9') || c == '_' || c == '$'
            || c == '+' || c == '/' || c == ':' || c == '.' || c == '-';
        if (!plain)
            return true;
    }
    return false;
}

void appendString(std::string& out, const std::string& s)
{
    if (!needsQuotes(s)) {
        out += s;
        return;
    }
    out += '"';
    for (char c : s) {
        switch (c) {
        case '"': out += "\\\""; break;
        case '\\': out += "\\\\"; break;
        case '\n': out += "\\n"; break;
        case '\t': out += "\\t"; break;
        default: out += c;
        }
    }
    out += '"';
}

void appendReal(std::string& out, double d)
{
    if (std::isnan(d)) {
        out += "nan";
        return;
    }
    if (std::isinf(d)) {
        out += d < 0 ? "-inf" : "inf";
        return;
    }
    char buffer[64];
    auto result = std::to_chars(buffer, buffer + sizeof buffer, d);
    out.append(buffer, result.ptr);
}

void appendDate(std::string& out, double secondsSinceReferenceDate)
{
    // Beyond a hundred billion years a date is only a number.
    if (!std::isfinite(secondsSinceReferenceDate) || std::fabs(secondsSinceReferenceDate) > 3e18) {
        appendReal(out, secondsSinceReferenceDate);
        return;
    }
    std::int64_t inDay;
    CivilDate date = civilFromReferenceSeconds(static_cast<std::int64_t>(std::floor(secondsSinceReferenceDate)), inDay);
    char buffer[96];
    std::snprintf(buffer, sizeof buffer, "%04lld-%02u-%02u %02lld:%02lld:%02lld +0000", static_cast<long long>(date.year),
        date.month, date.day, static_cast<long long>(inDay / 3600), static_cast<long long>(inDay / 60 % 60),
        static_cast<long long>(inDay % 60));
    out += buffer;
}

void appendDescription(std::string& out, const Value& v)
{
    switch (v.type()) {
    case Value::Type::Nil: out += "(null)"; break;
    case Value::Type::Boolean: out += *v.boolean() ? "1" : "0"; break;
    case Value::Type::Integer: {
        auto u = v.unsignedInteger();
        out += u ? std::to_string(*u) : std::to_string(*v.integer());
        break;
    }
    case Value::Type::Real: appendReal(out, *v.real()); break;
    case Value::Type::String: appendString(out, *v.string()); break;
    case Value::Type::Data: {
        static const char hex[] = "0123456789abcdef";
        out += '<';
        const auto& bytes = *v.bytes();
        for (std::size_t i = 0; i < bytes.size(); ++i) {
            if (i && i % 4 == 0)
                out += ' ';
            out += hex[bytes[i] >> 4];
            out += hex[bytes[i] & 15];
        }
        out += '>';
        break;
    }
    case Value::Type::Date: appendDate(out, v.dateValue()->secondsSinceReferenceDate); break;
    case Value::Type::Array: {
        out += '(';
        bool first = true;
        for (const auto& item : *v.arrayValue()) {
            if (!first)
                out += ", ";
            first = false;
            appendDescription(out, item);
        }
        out += ')';
        break;
    }
    case Value::Type::Dictionary:
        out += '{';
        for (const auto& [key, item] : *v.dictionaryValue()) {
            appendString(out, key);
            out += " = ";
            appendDescription(out, item);
            out += "; ";
        }
        out += '}';
        break;
    case Value::Type::Uid:
        out += "<CFKeyedArchiverUID>{value = " + std::to_string(v.uidValue()->value) + "}";
        break;
    }
}

} // namespace

std::optional<std::int64_t> Value::integer() const
{
    if (std::holds_alternative<LargeUnsigned>(storage_))
        return INT64_MAX;
    switch (type()) {
    case Type::Boolean: return std::get<bool>(storage_) ? 1 : 0;
    case Type::Integer: return std::get<std::int64_t>(storage_);
    case Type::Real: {
        double d = std::get<double>(storage_);
        if (std::isnan(d))
            return 0;
        if (d >= 9.2233720368547758e18)
            return INT64_MAX;
        if (d <= -9.2233720368547758e18)
            return INT64_MIN;
        return static_cast<std::int64_t>(d);
    }
    default: return std::nullopt;
    }
}

std::optional<std::uint64_t> Value::unsignedInteger() const
{
    if (const auto* large = std::get_if<LargeUnsigned>(&storage_))
        return large->value;
    if (const auto* i = std::get_if<std::int64_t>(&storage_); i && *i >= 0)
        return static_cast<std::uint64_t>(*i);
    return std::nullopt;
}

std::optional<double> Value::real() const
{
    if (const auto* large = std::get_if<LargeUnsigned>(&storage_))
        return static_cast<double>(large->value);
    switch (type()) {
    case Type::Boolean: return std::get<bool>(storage_) ? 1.0 : 0.0;
    case Type::Integer: return static_cast<double>(std::get<std::int64_t>(storage_));
    case Type::Real: return std::get<double>(storage_);
    default: return std::nullopt;
    }
}

std::optional<bool> Value::boolean() const
{
    if (std::holds_alternative<LargeUnsigned>(storage_))
        return true;
    switch (type()) {
    case Type::Boolean: return std::get<bool>(storage_);
    case Type::Integer: return std::get<std::int64_t>(storage_) != 0;
    case Type::Real: return std::get<double>(storage_) != 0.0;
    default: return std::nullopt;
    }
}

const Value& Value::operator[](std::string_view key) const
{
    if (const auto* dict = dictionaryValue()) {
        auto it = dict->find(key);
        if (it != dict->end())
            return it->second;
    }
    return nilValue();
}

bool Value::contains(std::string_view key) const
{
    const auto* dict = dictionaryValue();
    return dict && dict->find(key) != dict->end();
}

Value& Value::set(std::string key, Value value)
{
    if (!isDictionary())
        storage_ = Dictionary {};
    (*dictionaryValue())[std::move(key)] = std::move(value);
    return *this;
}

bool Value::remove(std::string_view key)
{
    auto* dict = dictionaryValue();
    if (!dict)
        return false;
    auto it = dict->find(key);
    if (it == dict->end())
        return false;
    dict->erase(it);
    return true;
}

std::size_t Value::count() const
{
    if (const auto* a = arrayValue())
        return a->size();
    if (const auto* d = dictionaryValue())
        return d->size();
    return 0;
}

std::string Value::description() const
{
    std::string out;
    appendDescription(out, *this);
    return out;
}

const char* valueTypeName(Value::Type type)
{
    switch (type) {
    case Value::Type::Nil: return "nil";
    case Value::Type::Boolean: return "boolean";
    case Value::Type::Integer: return "integer";
    case Value::Type::Real: return "real";
    case Value::Type::String: return "string";
    case Value::Type::Data: return "data";
    case Value::Type::Date: return "date";
    case Value::Type::Array: return "array";
    case Value::Type::Dictionary: return "dictionary";
    case Value::Type::Uid: return "UID";
    }
    return "unknown";
}

std::ostream& operator<<(std::ostream& out, const Value& value)
{
    return out << value.description();
}
