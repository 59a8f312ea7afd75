// stringWithFormat: the printf-style formatter that understands the system's
// format strings as they stand: %@ %d %i %u %x %X %s %c %f %g %e %p %%, with
// flags, width, precision (also "*") and the h, l, ll, q and z length
// modifiers.
//
// Arguments are typed, so a mismatch can never read garbage: %@ prints a
// string as it is and any other value as its description ("(null)" for nil);
// integer conversions without a length modifier narrow to 32 bits as C does
// (%u of -1 is 4294967295); a missing argument prints nothing.
#pragma once

#include "Foundation/Value.h"

#include <cstdint>
#include <string>
#include <string_view>
#include <variant>
#include <vector>

class FormatArgument {
public:
    FormatArgument(bool b) : value_(static_cast<std::int64_t>(b)) {}
    FormatArgument(char c) : value_(static_cast<std::int64_t>(c)) {}
    FormatArgument(int i) : value_(static_cast<std::int64_t>(i)) {}
    FormatArgument(long i) : value_(static_cast<std::int64_t>(i)) {}
    FormatArgument(long long i) : value_(static_cast<std::int64_t>(i)) {}
    FormatArgument(unsigned int u) : value_(static_cast<std::uint64_t>(u)) {}
    FormatArgument(unsigned long u) : value_(static_cast<std::uint64_t>(u)) {}
    FormatArgument(unsigned long long u) : value_(static_cast<std::uint64_t>(u)) {}
    FormatArgument(double d) : value_(d) {}
    FormatArgument(const char* s) : value_(s ? Value(s) : Value()) {}
    FormatArgument(const std::string& s) : value_(Value(s)) {}
    FormatArgument(std::string_view s) : value_(Value(s)) {}
    FormatArgument(const Value& v) : value_(v) {}
    FormatArgument(const void* p) : value_(p) {}

    using Storage = std::variant<std::int64_t, std::uint64_t, double, Value, const void*>;
    const Storage& storage() const { return value_; }

private:
    Storage value_;
};

std::string formatWithArguments(std::string_view format, const std::vector<FormatArgument>& arguments);

template <class... Args>
std::string stringWithFormat(std::string_view format, const Args&... args)
{
    return formatWithArguments(format, std::vector<FormatArgument> { FormatArgument(args)... });
}
