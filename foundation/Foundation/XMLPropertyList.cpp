#include "Foundation/XMLPropertyList.h"

#include "Foundation/BinaryPropertyList.h"
#include "Foundation/CivilTime.h"
#include "Foundation/Unicode.h"

#include <charconv>
#include <climits>
#include <cmath>
#include <cstdio>
#include <cstring>
#include <expat.h>
#include <locale.h>
#include <stdlib.h>
#include <vector>

namespace {

enum class Element { Plist, Dict, Array, Key, String, Integer, Real, Date, Data, True, False };

std::optional<Element> elementNamed(const char* name)
{
    static constexpr std::pair<const char*, Element> names[] = {
        {"dict", Element::Dict}, {"key", Element::Key}, {"string", Element::String}, {"integer", Element::Integer},
        {"array", Element::Array}, {"real", Element::Real}, {"true", Element::True}, {"false", Element::False},
        {"date", Element::Date}, {"data", Element::Data}, {"plist", Element::Plist},
    };
    for (const auto& [text, element] : names)
        if (std::strcmp(name, text) == 0)
            return element;
    return std::nullopt;
}

bool isXmlSpace(char c)
{
    return c == ' ' || c == '\t' || c == '\n' || c == '\r';
}

std::string_view trimmed(std::string_view text)
{
    while (!text.empty() && isXmlSpace(text.front()))
        text.remove_prefix(1);
    while (!text.empty() && isXmlSpace(text.back()))
        text.remove_suffix(1);
    return text;
}

bool isBlank(std::string_view text)
{
    return trimmed(text).empty();
}

// Decimal, or hexadecimal after "0x"; from -2^63 to 2^64 - 1.
std::optional<Value> parseInteger(std::string_view text)
{
    text = trimmed(text);
    bool negative = false;
    if (!text.empty() && (text.front() == '-' || text.front() == '+')) {
        negative = text.front() == '-';
        text.remove_prefix(1);
    }
    int base = 10;
    if (text.size() > 2 && text[0] == '0' && (text[1] == 'x' || text[1] == 'X')) {
        base = 16;
        text.remove_prefix(2);
    }
    std::uint64_t magnitude = 0;
    auto [end, error] = std::from_chars(text.data(), text.data() + text.size(), magnitude, base);
    if (text.empty() || error != std::errc() || end != text.data() + text.size())
        return std::nullopt;
    if (!negative)
        return Value(static_cast<unsigned long long>(magnitude));
    if (magnitude > static_cast<std::uint64_t>(INT64_MAX) + 1)
        return std::nullopt;
    return Value(static_cast<long long>(-static_cast<std::int64_t>(magnitude - 1) - 1));
}

std::optional<Value> parseReal(std::string_view text)
{
    text = trimmed(text);
    bool negative = false;
    if (!text.empty() && (text.front() == '+' || text.front() == '-')) {
        negative = text.front() == '-';
        text.remove_prefix(1);
    }
    if (text.empty() || text.front() == '+' || text.front() == '-')
        return std::nullopt;
    double d = 0;
    auto [end, error] = std::from_chars(text.data(), text.data() + text.size(), d);
    // A number too large or too small for a double is its infinity or zero.
    if (error == std::errc::result_out_of_range && end == text.data() + text.size()) {
        // Read in the C locale, whatever a GUI program set.
        static locale_t c = newlocale(LC_ALL_MASK, "C", nullptr);
        d = strtod_l(std::string(text).c_str(), nullptr, c);
    }
    else if (error != std::errc() || end != text.data() + text.size())
        return std::nullopt;
    return Value(negative ? -d : d);
}

bool readDigits(std::string_view& text, std::size_t count, unsigned& out)
{
    if (text.size() < count)
        return false;
    out = 0;
    for (std::size_t i = 0; i < count; ++i) {
        if (text[i] < '0' || text[i] > '9')
            return false;
        out = out * 10 + static_cast<unsigned>(text[i] - '0');
    }
    text.remove_prefix(count);
    return true;
}

bool expect(std::string_view& text, char c)
{
    if (text.empty() || text.front() != c)
        return false;
    text.remove_prefix(1);
    return true;
}

// "2001-01-01T00:00:00Z", the year with four digits or more and a sign if
// negative; a UTC time of whole seconds.
std::optional<Value> parseDate(std::string_view text)
{
    text = trimmed(text);
    bool negative = expect(text, '-');
    std::size_t yearDigits = 0;
    while (yearDigits < text.size() && text[yearDigits] >= '0' && text[yearDigits] <= '9')
        ++yearDigits;
    if (yearDigits < 4 || yearDigits > 9)
        return std::nullopt;
    std::int64_t year = 0;
    for (std::size_t i = 0; i < yearDigits; ++i)
        year = year * 10 + (text[i] - '0');
    text.remove_prefix(yearDigits);
    CivilDate date;
    date.year = negative ? -year : year;
    unsigned hour, minute, second;
    if (!expect(text, '-') || !readDigits(text, 2, date.month) || !expect(text, '-') || !readDigits(text, 2, date.day)
        || !expect(text, 'T') || !readDigits(text, 2, hour) || !expect(text, ':') || !readDigits(text, 2, minute)
        || !expect(text, ':') || !readDigits(text, 2, second) || !expect(text, 'Z') || !text.empty())
        return std::nullopt;
    if (date.month < 1 || date.month > 12 || date.day < 1 || date.day > daysInMonth(date.year, date.month) || hour > 23
        || minute > 59 || second > 60)
        return std::nullopt;
    std::int64_t seconds = daysFromCivil(date) * 86400 + hour * 3600 + minute * 60 + second;
    return Value::date(static_cast<double>(seconds - kReferenceDateUnixSeconds));
}

int base64Digit(char c)
{
    if (c >= 'A' && c <= 'Z')
        return c - 'A';
    if (c >= 'a' && c <= 'z')
        return c - 'a' + 26;
    if (c >= '0' && c <= '9')
        return c - '0' + 52;
    if (c == '+')
        return 62;
    if (c == '/')
        return 63;
    return -1;
}

// Base64, ignoring what is not of its alphabet (line breaks, indentation),
// up to the first padding character.
Value decodeBase64(std::string_view text)
{
    Value::Bytes bytes;
    bytes.reserve(text.size() * 3 / 4);
    std::uint32_t group = 0;
    int bits = 0;
    for (char c : text) {
        if (c == '=')
            break;
        int digit = base64Digit(c);
        if (digit < 0)
            continue;
        group = (group << 6) | static_cast<std::uint32_t>(digit);
        bits += 6;
        if (bits >= 8) {
            bits -= 8;
            bytes.push_back(static_cast<std::uint8_t>((group >> bits) & 0xFF));
        }
    }
    return Value::data(std::move(bytes));
}

class Reader {
public:
    Reader()
        : parser_(XML_ParserCreate(nullptr))
    {
        if (!parser_)
            return;
        XML_SetUserData(parser_, this);
        XML_SetElementHandler(parser_, &Reader::start, &Reader::end);
        XML_SetCharacterDataHandler(parser_, &Reader::text);
        XML_SetEntityDeclHandler(parser_, &Reader::entityDeclaration);
        XML_SetSkippedEntityHandler(parser_, &Reader::skippedEntity);
        XML_SetParamEntityParsing(parser_, XML_PARAM_ENTITY_PARSING_NEVER);
    }
    ~Reader()
    {
        if (parser_)
            XML_ParserFree(parser_);
    }
    Reader(const Reader&) = delete;
    Reader& operator=(const Reader&) = delete;

    std::optional<Value> read(std::string_view data)
    {
        if (!parser_)
            return std::nullopt;
        constexpr std::size_t kChunk = 1 << 30;
        do {
            std::size_t length = std::min(data.size(), kChunk);
            bool last = length == data.size();
            if (XML_Parse(parser_, data.data(), static_cast<int>(length), last) != XML_STATUS_OK || failed_)
                return std::nullopt;
            data.remove_prefix(length);
        } while (!data.empty());
        if (!stack_.empty())
            return std::nullopt;
        return std::move(root_);
    }

private:
    struct Frame {
        Element element;
        Value value;      // a container being filled, or what a <plist> holds
        std::string text; // a scalar's or a key's characters
        std::string key;  // a dictionary's key waiting for its value
        bool hasKey = false;
        bool hasValue = false; // <plist> holds its value
    };

    void fail()
    {
        if (!failed_)
            XML_StopParser(parser_, XML_FALSE);
        failed_ = true;
    }

    static void start(void* self, const XML_Char* name, const XML_Char**)
    {
        static_cast<Reader*>(self)->startElement(name);
    }
    static void end(void* self, const XML_Char*) { static_cast<Reader*>(self)->endElement(); }
    static void text(void* self, const XML_Char* s, int length)
    {
        static_cast<Reader*>(self)->characters(std::string_view(s, static_cast<std::size_t>(length)));
    }
    static void entityDeclaration(void* self, const XML_Char*, int, const XML_Char*, int, const XML_Char*,
        const XML_Char*, const XML_Char*, const XML_Char*)
    {
        static_cast<Reader*>(self)->fail();
    }
    static void skippedEntity(void* self, const XML_Char*, int) { static_cast<Reader*>(self)->fail(); }

    void startElement(const char* name)
    {
        if (failed_)
            return;
        auto element = elementNamed(name);
        if (!element || stack_.size() > kMaximumPropertyListDepth + 1)
            return fail();
        if (*element == Element::Plist) {
            if (!stack_.empty() || root_)
                return fail();
        } else if (stack_.empty()) {
            if (root_ || *element == Element::Key)
                return fail();
        } else {
            const Frame& parent = stack_.back();
            bool fits = false;
            switch (parent.element) {
            case Element::Plist: fits = !parent.hasValue && *element != Element::Key; break;
            case Element::Array: fits = *element != Element::Key; break;
            case Element::Dict: fits = (*element == Element::Key) != parent.hasKey; break;
            default: break; // nothing nests inside a scalar or a key
            }
            if (!fits)
                return fail();
        }
        Frame frame {*element, {}, {}, {}};
        if (*element == Element::Dict)
            frame.value = Value::Dictionary {};
        else if (*element == Element::Array)
            frame.value = Value::Array {};
        stack_.push_back(std::move(frame));
    }

    void characters(std::string_view s)
    {
        if (failed_ || stack_.empty())
            return;
        Frame& top = stack_.back();
        switch (top.element) {
        case Element::Plist:
        case Element::Dict:
        case Element::Array:
        case Element::True:
        case Element::False:
            if (!isBlank(s))
                fail();
            break;
        default: top.text.append(s);
        }
    }

    void endElement()
    {
        if (failed_ || stack_.empty())
            return fail();
        Frame frame = std::move(stack_.back());
        stack_.pop_back();
        std::optional<Value> value;
        switch (frame.element) {
        case Element::Plist:
            if (!frame.hasValue)
                return fail();
            root_ = std::move(frame.value);
            return;
        case Element::Key:
            stack_.back().key = std::move(frame.text);
            stack_.back().hasKey = true;
            return;
        case Element::Dict:
            if (frame.hasKey)
                return fail();
            value = keyedArchiveUid(std::move(frame.value));
            break;
        case Element::Array: value = std::move(frame.value); break;
        case Element::String: value = Value(std::move(frame.text)); break;
        case Element::Integer: value = parseInteger(frame.text); break;
        case Element::Real: value = parseReal(frame.text); break;
        case Element::Date: value = parseDate(frame.text); break;
        case Element::Data: value = decodeBase64(frame.text); break;
        case Element::True: value = Value(true); break;
        case Element::False: value = Value(false); break;
        }
        if (!value)
            return fail();
        if (stack_.empty()) {
            root_ = std::move(*value);
            return;
        }
        Frame& parent = stack_.back();
        switch (parent.element) {
        case Element::Plist:
            parent.value = std::move(*value);
            parent.hasValue = true;
            break;
        case Element::Array: parent.value.arrayValue()->push_back(std::move(*value)); break;
        case Element::Dict:
            parent.value.dictionaryValue()->insert_or_assign(std::move(parent.key), std::move(*value));
            parent.key.clear();
            parent.hasKey = false;
            break;
        default: fail();
        }
    }

    static Value keyedArchiveUid(Value dictionary)
    {
        if (dictionary.count() == 1) {
            auto reference = dictionary["CF$UID"].isInteger() ? dictionary["CF$UID"].unsignedInteger() : std::nullopt;
            if (reference && *reference <= UINT32_MAX)
                return Value::uid(*reference);
        }
        return dictionary;
    }

    XML_Parser parser_;
    std::vector<Frame> stack_;
    std::optional<Value> root_;
    bool failed_ = false;
};

// Writing.

bool isXmlCharacter(char32_t c)
{
    return c == 0x9 || c == 0xA || c == 0xD || (c >= 0x20 && c <= 0xD7FF) || (c >= 0xE000 && c <= 0xFFFD)
        || (c >= 0x10000 && c <= 0x10FFFF);
}

bool appendEscaped(std::string& out, std::string_view text)
{
    for (std::size_t at = 0; at < text.size();) {
        std::size_t from = at;
        char32_t c = unicode::nextCodePoint(text, at);
        if (!isXmlCharacter(c))
            return false;
        switch (c) {
        case '&': out += "&amp;"; break;
        case '<': out += "&lt;"; break;
        case '>': out += "&gt;"; break;
        case '\r': out += "&#13;"; break; // a raw one would be read as a newline
        default:
            if (c == unicode::kReplacementCharacter && text.substr(from, at - from) != "\xEF\xBF\xBD")
                unicode::appendUtf8(out, c);
            else
                out.append(text.substr(from, at - from));
        }
    }
    return true;
}

void appendReal(std::string& out, double d)
{
    if (std::isnan(d)) {
        out += "nan";
    } else if (std::isinf(d)) {
        out += d < 0 ? "-infinity" : "+infinity";
    } else {
        char buffer[64];
        auto result = std::to_chars(buffer, buffer + sizeof buffer, d);
        out.append(buffer, result.ptr);
    }
}

bool appendDate(std::string& out, double seconds)
{
    // Years of up to nine digits, as the reader takes them.
    if (!std::isfinite(seconds) || std::fabs(seconds) > 3e16)
        return false;
    std::int64_t inDay;
    CivilDate date = civilFromReferenceSeconds(static_cast<std::int64_t>(std::floor(seconds)), inDay);
    char buffer[64];
    std::snprintf(buffer, sizeof buffer, "%s%04lld-%02u-%02uT%02lld:%02lld:%02lldZ", date.year < 0 ? "-" : "",
        static_cast<long long>(date.year < 0 ? -date.year : date.year), date.month, date.day,
        static_cast<long long>(inDay / 3600), static_cast<long long>(inDay / 60 % 60), static_cast<long long>(inDay % 60));
    out += buffer;
    return true;
}

void appendBase64Lines(std::string& out, const Value::Bytes& bytes, int indent)
{
    static const char alphabet[] = "ABCDEFGHIJKLMNOPQRSTUVWXYZabcdefghijklmnopqrstuvwxyz0123456789+/";
    std::string encoded;
    encoded.reserve((bytes.size() + 2) / 3 * 4);
    for (std::size_t i = 0; i < bytes.size(); i += 3) {
        std::uint32_t group = static_cast<std::uint32_t>(bytes[i]) << 16;
        if (i + 1 < bytes.size())
            group |= static_cast<std::uint32_t>(bytes[i + 1]) << 8;
        if (i + 2 < bytes.size())
            group |= bytes[i + 2];
        encoded += alphabet[(group >> 18) & 63];
        encoded += alphabet[(group >> 12) & 63];
        encoded += i + 1 < bytes.size() ? alphabet[(group >> 6) & 63] : '=';
        encoded += i + 2 < bytes.size() ? alphabet[group & 63] : '=';
    }
    // Lines of 76 columns, a tab counted as eight.
    std::size_t perLine = static_cast<std::size_t>(std::max(16, 76 - 8 * indent)) / 4 * 4;
    for (std::size_t at = 0; at < encoded.size(); at += perLine) {
        out.append(static_cast<std::size_t>(indent), '\t');
        out.append(encoded, at, perLine);
        out += '\n';
    }
}

class Writer {
public:
    std::optional<std::string> write(const Value& value)
    {
        out_ = "<?xml version=\"1.0\" encoding=\"UTF-8\"?>\n"
               "<!DOCTYPE plist PUBLIC \"-//Apple//DTD PLIST 1.0//EN\" \"http://www.apple.com/DTDs/PropertyList-1.0.dtd\">\n"
               "<plist version=\"1.0\">\n";
        if (!element(value, 0))
            return std::nullopt;
        out_ += "</plist>\n";
        return std::move(out_);
    }

private:
    void line(int indent, std::string_view text)
    {
        out_.append(static_cast<std::size_t>(indent), '\t');
        out_ += text;
        out_ += '\n';
    }

    bool textElement(int indent, const char* name, std::string_view text)
    {
        out_.append(static_cast<std::size_t>(indent), '\t');
        out_ += '<';
        out_ += name;
        out_ += '>';
        if (!appendEscaped(out_, text))
            return false;
        out_ += "</";
        out_ += name;
        out_ += ">\n";
        return true;
    }

    bool element(const Value& value, int indent)
    {
        if (indent > kMaximumPropertyListDepth)
            return false;
        std::string scratch;
        switch (value.type()) {
        case Value::Type::Nil: return false;
        case Value::Type::Boolean: line(indent, *value.boolean() ? "<true/>" : "<false/>"); return true;
        case Value::Type::Integer: {
            auto u = value.unsignedInteger();
            return textElement(indent, "integer", u ? std::to_string(*u) : std::to_string(*value.integer()));
        }
        case Value::Type::Real:
            appendReal(scratch, *value.real());
            return textElement(indent, "real", scratch);
        case Value::Type::String: return textElement(indent, "string", *value.string());
        case Value::Type::Date:
            return appendDate(scratch, value.dateValue()->secondsSinceReferenceDate)
                && textElement(indent, "date", scratch);
        case Value::Type::Data:
            line(indent, "<data>");
            appendBase64Lines(out_, *value.bytes(), indent);
            line(indent, "</data>");
            return true;
        case Value::Type::Uid:
            line(indent, "<dict>");
            textElement(indent + 1, "key", "CF$UID");
            textElement(indent + 1, "integer", std::to_string(value.uidValue()->value));
            line(indent, "</dict>");
            return true;
        case Value::Type::Array:
            if (value.count() == 0) {
                line(indent, "<array/>");
                return true;
            }
            line(indent, "<array>");
            for (const Value& item : *value.arrayValue())
                if (!element(item, indent + 1))
                    return false;
            line(indent, "</array>");
            return true;
        case Value::Type::Dictionary:
            if (value.count() == 0) {
                line(indent, "<dict/>");
                return true;
            }
            line(indent, "<dict>");
            for (const auto& [key, item] : *value.dictionaryValue())
                if (!textElement(indent + 1, "key", key) || !element(item, indent + 1))
                    return false;
            line(indent, "</dict>");
            return true;
        }
        return false;
    }

    std::string out_;
};

} // namespace

std::optional<Value> parseXMLPropertyList(std::string_view data)
{
    return Reader().read(data);
}

std::optional<std::string> writeXMLPropertyList(const Value& value)
{
    return Writer().write(value);
}
