// Value: the one property-list value type of the platform layer.
//
// A Value is nil, a boolean, an integer, a real, a string, data, a date, an
// array, a dictionary or a keyed archive's object reference (a UID), with
// value semantics (copies are independent). Integers span what the
// property-list formats carry: every signed 64-bit value and the unsigned
// ones above it, up to 2^64 - 1; an unsigned one above the signed range reads
// as the largest signed integer through integer() and exactly through
// unsignedInteger().
// "nil" is an ordinary value, so an answer such as "no calibration" needs no
// pointer. Number readers accept any number kind (integer, real, boolean),
// as the original number objects do; a reader asked for the wrong kind of
// value answers "nothing" rather than failing. Dictionaries keep their keys
// sorted, so every description and every file written is deterministic.
#pragma once

#include <cstdint>
#include <initializer_list>
#include <iosfwd>
#include <map>
#include <optional>
#include <string>
#include <string_view>
#include <utility>
#include <variant>
#include <vector>

class Value {
public:
    enum class Type { Nil, Boolean, Integer, Real, String, Data, Date, Array, Dictionary, Uid };

    using Array = std::vector<Value>;
    using Dictionary = std::map<std::string, Value, std::less<>>;
    using Bytes = std::vector<std::uint8_t>;

    // A date is seconds since 2001-01-01 00:00:00 UTC, the reference date of
    // the property-list formats.
    struct Date {
        double secondsSinceReferenceDate = 0;
        bool operator==(const Date&) const = default;
    };
    // A keyed archive's reference to one of its objects ("CF$UID").
    struct Uid {
        std::uint64_t value = 0;
        bool operator==(const Uid&) const = default;
    };

    Value() = default;
    Value(std::nullptr_t) {}
    Value(bool b) : storage_(b) {}
    Value(int i) : storage_(static_cast<std::int64_t>(i)) {}
    Value(unsigned int u) : storage_(static_cast<std::int64_t>(u)) {}
    Value(long i) : storage_(static_cast<std::int64_t>(i)) {}
    Value(unsigned long u) : Value(static_cast<unsigned long long>(u)) {}
    Value(long long i) : storage_(static_cast<std::int64_t>(i)) {}
    Value(unsigned long long u)
    {
        if (u > static_cast<unsigned long long>(INT64_MAX))
            storage_ = LargeUnsigned {u};
        else
            storage_ = static_cast<std::int64_t>(u);
    }
    Value(double d) : storage_(d) {}
    Value(const char* s) { if (s) storage_ = std::string(s); }
    Value(char* s) : Value(static_cast<const char*>(s)) {}
    // Any other pointer would silently become a boolean; refuse it.
    template <class T> Value(T*) = delete;
    Value(std::string s) : storage_(std::move(s)) {}
    Value(std::string_view s) : storage_(std::string(s)) {}
    Value(Array a) : storage_(std::move(a)) {}
    Value(Dictionary d) : storage_(std::move(d)) {}
    Value(Date d) : storage_(d) {}
    Value(Bytes b) : storage_(std::move(b)) {}
    Value(Uid u) : storage_(u) {}

    static Value data(Bytes bytes) { return Value(std::move(bytes)); }
    static Value date(double secondsSinceReferenceDate) { return Value(Date{secondsSinceReferenceDate}); }
    static Value uid(std::uint64_t value) { return Value(Uid{value}); }
    static Value array(std::initializer_list<Value> items = {}) { return Value(Array(items)); }
    static Value dictionary(std::initializer_list<std::pair<const std::string, Value>> entries = {})
    {
        return Value(Dictionary(entries));
    }

    Type type() const
    {
        return std::holds_alternative<LargeUnsigned>(storage_) ? Type::Integer : static_cast<Type>(storage_.index());
    }
    bool isNil() const { return type() == Type::Nil; }
    bool isBoolean() const { return type() == Type::Boolean; }
    bool isInteger() const { return type() == Type::Integer; }
    bool isReal() const { return type() == Type::Real; }
    bool isNumber() const { return isBoolean() || isInteger() || isReal(); }
    bool isString() const { return type() == Type::String; }
    bool isData() const { return type() == Type::Data; }
    bool isDate() const { return type() == Type::Date; }
    bool isArray() const { return type() == Type::Array; }
    bool isDictionary() const { return type() == Type::Dictionary; }
    bool isUid() const { return type() == Type::Uid; }
    explicit operator bool() const = delete;

    // Number readers: any number kind answers, anything else is nullopt.
    // Reals are truncated toward zero for the integer readers.
    std::optional<std::int64_t> integer() const;
    std::optional<double> real() const;
    std::optional<bool> boolean() const;
    // An integer as unsigned: nullopt for a negative one or a non-integer.
    std::optional<std::uint64_t> unsignedInteger() const;

    // With a fallback, for the common "read or default" idiom.
    std::int64_t integerOr(std::int64_t fallback) const { return integer().value_or(fallback); }
    double realOr(double fallback) const { return real().value_or(fallback); }
    bool booleanOr(bool fallback) const { return boolean().value_or(fallback); }

    // Typed access; nullptr when the value is of another type.
    const std::string* string() const { return std::get_if<std::string>(&storage_); }
    std::string* string() { return std::get_if<std::string>(&storage_); }
    const Bytes* bytes() const { return std::get_if<Bytes>(&storage_); }
    const Date* dateValue() const { return std::get_if<Date>(&storage_); }
    const Uid* uidValue() const { return std::get_if<Uid>(&storage_); }
    const Array* arrayValue() const { return std::get_if<Array>(&storage_); }
    Array* arrayValue() { return std::get_if<Array>(&storage_); }
    const Dictionary* dictionaryValue() const { return std::get_if<Dictionary>(&storage_); }
    Dictionary* dictionaryValue() { return std::get_if<Dictionary>(&storage_); }

    std::string stringOr(std::string fallback) const { return string() ? *string() : std::move(fallback); }

    // Dictionary look-up: the entry, or nil when absent or when this value is
    // not a dictionary. Chains safely: v["Arvel"]["Button"]["Action"].
    const Value& operator[](std::string_view key) const;
    bool contains(std::string_view key) const;
    // Makes this value a dictionary if it is not one, then sets the entry.
    Value& set(std::string key, Value value);
    // Removes the entry if this is a dictionary holding it; true if removed.
    bool remove(std::string_view key);
    // Element count of an array or dictionary, 0 otherwise.
    std::size_t count() const;

    bool operator==(const Value& other) const = default;

    // The old-style description printed for %@:
    // {Arvel = {Button = {Action = 1; }; }; }; nil prints "(null)".
    std::string description() const;

private:
    // An integer above the signed range; never holds one within it.
    struct LargeUnsigned {
        std::uint64_t value = 0;
        bool operator==(const LargeUnsigned&) const = default;
    };
    // The alternatives in the order of Type, then LargeUnsigned (an Integer).
    std::variant<std::monostate, bool, std::int64_t, double, std::string, Bytes, Date, Array, Dictionary, Uid,
        LargeUnsigned>
        storage_;
};

const char* valueTypeName(Value::Type type);

// Prints the description (what test failures show).
std::ostream& operator<<(std::ostream& out, const Value& value);
