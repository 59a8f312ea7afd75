#include "Foundation/Format.h"

#include <cstdio>
#include <cstring>

namespace {

struct Spec {
    std::string flags;
    int width = -1;
    int precision = -1;
    enum class Length { None, Short, Long, LongLong } length = Length::None;
    char conversion = 0;
};

class ArgumentReader {
public:
    explicit ArgumentReader(const std::vector<FormatArgument>& args) : args_(args) {}
    const FormatArgument* next() { return index_ < args_.size() ? &args_[index_++] : nullptr; }

private:
    const std::vector<FormatArgument>& args_;
    std::size_t index_ = 0;
};

std::int64_t asSigned(const FormatArgument& a)
{
    return std::visit(
        [](const auto& v) -> std::int64_t {
            using T = std::decay_t<decltype(v)>;
            if constexpr (std::is_same_v<T, std::int64_t>)
                return v;
            else if constexpr (std::is_same_v<T, std::uint64_t>)
                return static_cast<std::int64_t>(v);
            else if constexpr (std::is_same_v<T, double>)
                return static_cast<std::int64_t>(v);
            else if constexpr (std::is_same_v<T, Value>)
                return v.integerOr(0);
            else
                return static_cast<std::int64_t>(reinterpret_cast<std::uintptr_t>(v));
        },
        a.storage());
}

double asDouble(const FormatArgument& a)
{
    return std::visit(
        [](const auto& v) -> double {
            using T = std::decay_t<decltype(v)>;
            if constexpr (std::is_same_v<T, Value>)
                return v.realOr(0.0);
            else if constexpr (std::is_same_v<T, const void*>)
                return 0.0;
            else
                return static_cast<double>(v);
        },
        a.storage());
}

std::string asObjectText(const FormatArgument& a)
{
    return std::visit(
        [](const auto& v) -> std::string {
            using T = std::decay_t<decltype(v)>;
            if constexpr (std::is_same_v<T, Value>)
                return v.isString() ? *v.string() : v.description();
            else if constexpr (std::is_same_v<T, const void*>) {
                if (!v)
                    return "(null)";
                char buffer[32];
                std::snprintf(buffer, sizeof buffer, "%p", v);
                return buffer;
            } else if constexpr (std::is_same_v<T, double>)
                return Value(v).description();
            else
                return std::to_string(v);
        },
        a.storage());
}

std::string asCString(const FormatArgument& a)
{
    if (const auto* v = std::get_if<Value>(&a.storage())) {
        if (v->isNil())
            return "(null)";
        if (v->isString())
            return *v->string();
    }
    return asObjectText(a);
}

std::string printfOne(const Spec& spec, const char* lengthText, char conversion, auto value)
{
    std::string f = "%" + spec.flags;
    if (spec.width >= 0)
        f += std::to_string(spec.width);
    if (spec.precision >= 0)
        f += "." + std::to_string(spec.precision);
    f += lengthText;
    f += conversion;
    int n = std::snprintf(nullptr, 0, f.c_str(), value);
    if (n <= 0)
        return {};
    std::string out(static_cast<std::size_t>(n) + 1, '\0');
    std::snprintf(out.data(), out.size(), f.c_str(), value);
    out.resize(static_cast<std::size_t>(n));
    return out;
}

std::string padded(const Spec& spec, std::string text)
{
    if (spec.width > 0 && text.size() < static_cast<std::size_t>(spec.width)) {
        std::string pad(static_cast<std::size_t>(spec.width) - text.size(), ' ');
        return spec.flags.find('-') != std::string::npos ? text + pad : pad + text;
    }
    return text;
}

std::string convert(const Spec& spec, ArgumentReader& args)
{
    const FormatArgument* a = args.next();
    if (!a)
        return {};
    switch (spec.conversion) {
    case 'd':
    case 'i': {
        std::int64_t v = asSigned(*a);
        switch (spec.length) {
        case Spec::Length::Long:
        case Spec::Length::LongLong: return printfOne(spec, "ll", 'd', static_cast<long long>(v));
        case Spec::Length::Short: return printfOne(spec, "", 'd', static_cast<int>(static_cast<short>(v)));
        case Spec::Length::None: return printfOne(spec, "", 'd', static_cast<int>(static_cast<std::int32_t>(v)));
        }
        break;
    }
    case 'u':
    case 'x':
    case 'X':
    case 'o': {
        std::uint64_t v = static_cast<std::uint64_t>(asSigned(*a));
        switch (spec.length) {
        case Spec::Length::Long:
        case Spec::Length::LongLong: return printfOne(spec, "ll", spec.conversion, static_cast<unsigned long long>(v));
        case Spec::Length::Short:
            return printfOne(spec, "", spec.conversion, static_cast<unsigned>(static_cast<unsigned short>(v)));
        case Spec::Length::None: return printfOne(spec, "", spec.conversion, static_cast<unsigned>(static_cast<std::uint32_t>(v)));
        }
        break;
    }
    case 'c': return printfOne(spec, "", 'c', static_cast<int>(static_cast<unsigned char>(asSigned(*a))));
    case 'f':
    case 'F':
    case 'g':
    case 'G':
    case 'e':
    case 'E': return printfOne(spec, "", spec.conversion, asDouble(*a));
    case 's': {
        std::string s = asCString(*a);
        if (spec.precision >= 0 && s.size() > static_cast<std::size_t>(spec.precision))
            s.resize(static_cast<std::size_t>(spec.precision));
        return padded(spec, std::move(s));
    }
    case '@': return padded(spec, asObjectText(*a));
    case 'p': {
        const void* p = nullptr;
        if (const auto* pp = std::get_if<const void*>(&a->storage()))
            p = *pp;
        return printfOne(spec, "", 'p', p);
    }
    }
    return {};
}

} // namespace

std::string formatWithArguments(std::string_view format, const std::vector<FormatArgument>& arguments)
{
    std::string out;
    ArgumentReader args(arguments);
    std::size_t i = 0;
    while (i < format.size()) {
        char c = format[i++];
        if (c != '%') {
            out += c;
            continue;
        }
        std::size_t start = i - 1;
        Spec spec;
        while (i < format.size() && std::strchr("-+ #0'", format[i]))
            spec.flags += format[i++];
        if (i < format.size() && format[i] == '*') {
            ++i;
            const FormatArgument* w = args.next();
            int width = w ? static_cast<int>(asSigned(*w)) : 0;
            if (width < 0) {
                spec.flags += '-';
                width = -width;
            }
            spec.width = width;
        } else {
            while (i < format.size() && format[i] >= '0' && format[i] <= '9')
                spec.width = (spec.width < 0 ? 0 : spec.width * 10) + (format[i++] - '0');
        }
        if (i < format.size() && format[i] == '.') {
            ++i;
            spec.precision = 0;
            if (i < format.size() && format[i] == '*') {
                ++i;
                const FormatArgument* p = args.next();
                spec.precision = p ? static_cast<int>(asSigned(*p)) : 0;
                if (spec.precision < 0)
                    spec.precision = -1;
            } else {
                while (i < format.size() && format[i] >= '0' && format[i] <= '9')
                    spec.precision = spec.precision * 10 + (format[i++] - '0');
            }
        }
        // Widths beyond any sensible log line are clamped, so a hostile format
        // cannot make us allocate without bound.
        if (spec.width > 4096)
            spec.width = 4096;
        if (spec.precision > 4096)
            spec.precision = 4096;
        while (i < format.size() && std::strchr("hlqLzjt", format[i])) {
            char m = format[i++];
            if (m == 'h')
                spec.length = Spec::Length::Short;
            else if (m == 'l')
                spec.length = spec.length == Spec::Length::Long ? Spec::Length::LongLong : Spec::Length::Long;
            else
                spec.length = Spec::Length::LongLong;
        }
        if (i >= format.size()) {
            out.append(format.substr(start));
            break;
        }
        spec.conversion = format[i++];
        if (spec.conversion == '%') {
            out += '%';
            continue;
        }
        if (!std::strchr("diuxXocfFgGeEs@p", spec.conversion)) {
            // Unknown conversions are copied as they stand.
            out.append(format.substr(start, i - start));
            continue;
        }
        out += convert(spec, args);
    }
    return out;
}
