#include "Foundation/BinaryPropertyList.h"

#include "Foundation/Unicode.h"

#include <bit>
#include <cstring>
#include <unordered_map>
#include <variant>
#include <vector>

namespace {

constexpr std::string_view kMagic = "bplist00";
constexpr std::size_t kTrailerSize = 32;

std::uint64_t bigEndian(const char* bytes, unsigned width)
{
    std::uint64_t v = 0;
    for (unsigned i = 0; i < width; ++i)
        v = (v << 8) | static_cast<unsigned char>(bytes[i]);
    return v;
}

double bigEndianReal(const char* bytes, unsigned width)
{
    std::uint64_t bits = bigEndian(bytes, width);
    if (width == 4)
        return static_cast<double>(std::bit_cast<float>(static_cast<std::uint32_t>(bits)));
    return std::bit_cast<double>(bits);
}

class Reader {
public:
    explicit Reader(std::string_view data)
        : data_(data)
        // A file's objects are its references' targets; an object shared by
        // several references is expanded at each, but never past these.
        , nodesLeft_(4 * static_cast<std::uint64_t>(data.size()) + 1024)
        , bytesLeft_(16 * static_cast<std::uint64_t>(data.size()) + (1u << 20))
    {
    }

    std::optional<Value> read()
    {
        if (!readTrailer())
            return std::nullopt;
        onPath_.assign(count_, 0);
        return object(top_, 0);
    }

private:
    bool readTrailer()
    {
        if (data_.size() < kMagic.size() + kTrailerSize || data_.substr(0, kMagic.size()) != kMagic)
            return false;
        const char* trailer = data_.data() + data_.size() - kTrailerSize;
        offsetSize_ = static_cast<unsigned char>(trailer[6]);
        refSize_ = static_cast<unsigned char>(trailer[7]);
        count_ = bigEndian(trailer + 8, 8);
        top_ = bigEndian(trailer + 16, 8);
        table_ = bigEndian(trailer + 24, 8);
        const std::uint64_t tableEnd = data_.size() - kTrailerSize;
        return offsetSize_ >= 1 && offsetSize_ <= 8 && refSize_ >= 1 && refSize_ <= 8 && count_ >= 1 && top_ < count_
            && table_ >= kMagic.size() && table_ <= tableEnd && count_ <= (tableEnd - table_) / offsetSize_;
    }

    // Bytes [at, at + length) lie before the offset table.
    bool fits(std::uint64_t at, std::uint64_t length) const { return at <= table_ && length <= table_ - at; }

    // The element count of a data, string or container object: in the
    // marker's low nibble, or in an integer object that follows it.
    bool countOf(std::uint64_t at, unsigned low, std::uint64_t& count, std::uint64_t& start) const
    {
        start = at + 1;
        if (low != 0xF) {
            count = low;
            return true;
        }
        if (!fits(start, 1))
            return false;
        unsigned char marker = static_cast<unsigned char>(data_[start]);
        if ((marker >> 4) != 0x1 || (marker & 0xF) > 3)
            return false;
        unsigned width = 1u << (marker & 0xF);
        if (!fits(start + 1, width))
            return false;
        count = bigEndian(data_.data() + start + 1, width);
        start += 1 + width;
        return true;
    }

    // The object indexes a container holds: n references from `start`.
    bool references(std::uint64_t start, std::uint64_t n, std::vector<std::uint64_t>& out) const
    {
        if (n > (table_ - std::min(start, table_)) / refSize_ || !fits(start, n * refSize_))
            return false;
        out.resize(n);
        for (std::uint64_t i = 0; i < n; ++i) {
            out[i] = bigEndian(data_.data() + start + i * refSize_, refSize_);
            if (out[i] >= count_)
                return false;
        }
        return true;
    }

    bool spend(std::uint64_t bytes)
    {
        if (bytes > bytesLeft_)
            return false;
        bytesLeft_ -= bytes;
        return true;
    }

    std::optional<Value> object(std::uint64_t index, int depth)
    {
        if (depth > kMaximumPropertyListDepth || onPath_[index] || nodesLeft_ == 0)
            return std::nullopt;
        --nodesLeft_;
        const std::uint64_t at = bigEndian(data_.data() + table_ + index * offsetSize_, offsetSize_);
        if (at < kMagic.size() || !fits(at, 1))
            return std::nullopt;
        const unsigned char marker = static_cast<unsigned char>(data_[at]);
        const unsigned low = marker & 0xF;
        const char* body = data_.data() + at + 1;
        switch (marker >> 4) {
        case 0x0:
            if (low == 0x8 || low == 0x9)
                return Value(low == 0x9);
            return std::nullopt;
        case 0x1: {
            if (low > 4 || !fits(at + 1, 1u << low))
                return std::nullopt;
            if (low < 3)
                return Value(static_cast<long long>(bigEndian(body, 1u << low)));
            if (low == 3)
                return Value(static_cast<long long>(static_cast<std::int64_t>(bigEndian(body, 8))));
            // Sixteen bytes, signed: what fits 64 bits is a negative
            // integer or an unsigned one above the signed range.
            std::uint64_t high = bigEndian(body, 8), rest = bigEndian(body + 8, 8);
            if (high == 0)
                return Value(static_cast<unsigned long long>(rest));
            if (high == ~std::uint64_t(0) && (rest >> 63))
                return Value(static_cast<long long>(static_cast<std::int64_t>(rest)));
            return std::nullopt;
        }
        case 0x2:
            if ((low != 2 && low != 3) || !fits(at + 1, 1u << low))
                return std::nullopt;
            return Value(bigEndianReal(body, 1u << low));
        case 0x3:
            if (low != 3 || !fits(at + 1, 8))
                return std::nullopt;
            return Value::date(bigEndianReal(body, 8));
        case 0x4: {
            std::uint64_t n, start;
            if (!countOf(at, low, n, start) || !fits(start, n) || !spend(n))
                return std::nullopt;
            const auto* bytes = reinterpret_cast<const std::uint8_t*>(data_.data() + start);
            return Value::data(Value::Bytes(bytes, bytes + n));
        }
        case 0x5: {
            std::uint64_t n, start;
            if (!countOf(at, low, n, start) || !fits(start, n) || !spend(2 * n))
                return std::nullopt;
            std::string_view text = data_.substr(start, n);
            if (text.find('\0') != std::string_view::npos)
                return std::nullopt;
            if (unicode::isAscii(text))
                return Value(text);
            // Bytes past ASCII are taken as Latin-1, never as garbage.
            std::string converted;
            for (char c : text)
                unicode::appendUtf8(converted, static_cast<unsigned char>(c));
            return Value(std::move(converted));
        }
        case 0x6: {
            std::uint64_t n, start;
            if (!countOf(at, low, n, start) || n > table_ || !fits(start, 2 * n) || !spend(3 * n))
                return std::nullopt;
            return utf16String(data_.data() + start, n);
        }
        case 0x8:
            if (!fits(at + 1, low + 1))
                return std::nullopt;
            return Value::uid(bigEndian(body, low + 1));
        case 0xA:
        case 0xC: {
            std::uint64_t n, start;
            std::vector<std::uint64_t> refs;
            if (!countOf(at, low, n, start) || !references(start, n, refs))
                return std::nullopt;
            onPath_[index] = 1;
            Value::Array items;
            items.reserve(refs.size());
            for (std::uint64_t ref : refs) {
                auto item = object(ref, depth + 1);
                if (!item)
                    return std::nullopt;
                items.push_back(std::move(*item));
            }
            onPath_[index] = 0;
            return Value(std::move(items));
        }
        case 0xD: {
            std::uint64_t n, start;
            std::vector<std::uint64_t> refs;
            if (!countOf(at, low, n, start) || n > table_ || !references(start, 2 * n, refs))
                return std::nullopt;
            onPath_[index] = 1;
            Value::Dictionary entries;
            for (std::uint64_t i = 0; i < n; ++i) {
                auto key = object(refs[i], depth + 1);
                if (!key || !key->isString())
                    return std::nullopt;
                auto item = object(refs[n + i], depth + 1);
                if (!item)
                    return std::nullopt;
                entries.insert_or_assign(std::move(*key->string()), std::move(*item));
            }
            onPath_[index] = 0;
            return Value(std::move(entries));
        }
        default: return std::nullopt;
        }
    }

    // UTF-16 (big-endian) to UTF-8; an unpaired surrogate becomes U+FFFD,
    // U+0000 refuses the string.
    static std::optional<Value> utf16String(const char* bytes, std::uint64_t units)
    {
        std::string out;
        out.reserve(units);
        for (std::uint64_t i = 0; i < units; ++i) {
            char32_t c = static_cast<char32_t>(bigEndian(bytes + 2 * i, 2));
            if (c == 0)
                return std::nullopt;
            if (c >= 0xD800 && c <= 0xDBFF && i + 1 < units) {
                char32_t next = static_cast<char32_t>(bigEndian(bytes + 2 * i + 2, 2));
                if (next >= 0xDC00 && next <= 0xDFFF) {
                    c = 0x10000 + ((c - 0xD800) << 10) + (next - 0xDC00);
                    ++i;
                }
            }
            if (c >= 0xD800 && c <= 0xDFFF)
                c = unicode::kReplacementCharacter;
            unicode::appendUtf8(out, c);
        }
        return Value(std::move(out));
    }

    std::string_view data_;
    unsigned offsetSize_ = 0;
    unsigned refSize_ = 0;
    std::uint64_t count_ = 0;
    std::uint64_t top_ = 0;
    std::uint64_t table_ = 0;
    std::vector<unsigned char> onPath_;
    std::uint64_t nodesLeft_;
    std::uint64_t bytesLeft_;
};

unsigned widthFor(std::uint64_t largest)
{
    if (largest <= 0xFF)
        return 1;
    if (largest <= 0xFFFF)
        return 2;
    if (largest <= 0xFFFFFFFF)
        return 4;
    return 8;
}

void appendBigEndian(std::string& out, std::uint64_t v, unsigned width)
{
    for (int shift = 8 * (static_cast<int>(width) - 1); shift >= 0; shift -= 8)
        out += static_cast<char>((v >> shift) & 0xFF);
}

class Writer {
public:
    std::optional<std::string> write(const Value& value)
    {
        if (!flatten(value, 0))
            return std::nullopt;
        const unsigned refSize = widthFor(objects_.size() - 1);
        std::string out(kMagic);
        std::vector<std::uint64_t> offsets;
        offsets.reserve(objects_.size());
        for (const Object& object : objects_) {
            offsets.push_back(out.size());
            if (!encode(out, object, refSize))
                return std::nullopt;
        }
        const std::uint64_t table = out.size();
        const unsigned offsetSize = widthFor(offsets.empty() ? 0 : offsets.back());
        for (std::uint64_t offset : offsets)
            appendBigEndian(out, offset, offsetSize);
        out.append(6, '\0');
        out += static_cast<char>(offsetSize);
        out += static_cast<char>(refSize);
        appendBigEndian(out, objects_.size(), 8);
        appendBigEndian(out, 0, 8);
        appendBigEndian(out, table, 8);
        return out;
    }

private:
    struct Object {
        std::variant<const Value*, const std::string*> what;
        std::vector<std::uint64_t> refs; // arrays: items; dictionaries: keys, then values
    };

    std::optional<std::uint64_t> string(const std::string& text)
    {
        if (auto it = strings_.find(text); it != strings_.end())
            return it->second;
        std::uint64_t index = objects_.size();
        objects_.push_back({&text, {}});
        strings_.emplace(text, index);
        return index;
    }

    std::optional<std::uint64_t> flatten(const Value& value, int depth)
    {
        if (value.isNil() || depth > kMaximumPropertyListDepth)
            return std::nullopt;
        if (const std::string* text = value.string())
            return string(*text);
        std::uint64_t index = objects_.size();
        objects_.push_back({&value, {}});
        std::vector<std::uint64_t> refs;
        if (const auto* items = value.arrayValue()) {
            refs.reserve(items->size());
            for (const Value& item : *items) {
                auto ref = flatten(item, depth + 1);
                if (!ref)
                    return std::nullopt;
                refs.push_back(*ref);
            }
        } else if (const auto* entries = value.dictionaryValue()) {
            refs.reserve(2 * entries->size());
            for (const auto& entry : *entries) {
                auto ref = string(entry.first);
                refs.push_back(*ref);
            }
            for (const auto& entry : *entries) {
                auto ref = flatten(entry.second, depth + 1);
                if (!ref)
                    return std::nullopt;
                refs.push_back(*ref);
            }
        }
        objects_[index].refs = std::move(refs);
        return index;
    }

    static void appendCount(std::string& out, unsigned kind, std::uint64_t count)
    {
        if (count < 0xF) {
            out += static_cast<char>((kind << 4) | count);
            return;
        }
        out += static_cast<char>((kind << 4) | 0xF);
        unsigned width = widthFor(count);
        out += static_cast<char>(0x10 | std::countr_zero(width));
        appendBigEndian(out, count, width);
    }

    static bool encodeString(std::string& out, const std::string& text)
    {
        if (text.find('\0') != std::string::npos)
            return false;
        if (unicode::isAscii(text)) {
            appendCount(out, 0x5, text.size());
            out += text;
            return true;
        }
        std::u16string units = unicode::utf16FromUtf8(text);
        appendCount(out, 0x6, units.size());
        for (char16_t unit : units)
            appendBigEndian(out, unit, 2);
        return true;
    }

    static bool encode(std::string& out, const Object& object, unsigned refSize)
    {
        if (const auto* text = std::get_if<const std::string*>(&object.what))
            return encodeString(out, **text);
        const Value& value = *std::get<const Value*>(object.what);
        switch (value.type()) {
        case Value::Type::Nil:
        case Value::Type::String: return false;
        case Value::Type::Boolean: out += static_cast<char>(*value.boolean() ? 0x09 : 0x08); return true;
        case Value::Type::Integer: {
            auto u = value.unsignedInteger();
            if (u && *u > INT64_MAX) {
                out += static_cast<char>(0x14);
                appendBigEndian(out, 0, 8);
                appendBigEndian(out, *u, 8);
            } else if (u && *u <= 0xFFFFFFFF) {
                unsigned width = widthFor(*u);
                out += static_cast<char>(0x10 | std::countr_zero(width));
                appendBigEndian(out, *u, width);
            } else {
                out += static_cast<char>(0x13);
                appendBigEndian(out, static_cast<std::uint64_t>(*value.integer()), 8);
            }
            return true;
        }
        case Value::Type::Real:
            out += static_cast<char>(0x23);
            appendBigEndian(out, std::bit_cast<std::uint64_t>(*value.real()), 8);
            return true;
        case Value::Type::Date:
            out += static_cast<char>(0x33);
            appendBigEndian(out, std::bit_cast<std::uint64_t>(value.dateValue()->secondsSinceReferenceDate), 8);
            return true;
        case Value::Type::Data: {
            const auto& bytes = *value.bytes();
            appendCount(out, 0x4, bytes.size());
            out.append(reinterpret_cast<const char*>(bytes.data()), bytes.size());
            return true;
        }
        case Value::Type::Uid: {
            std::uint64_t v = value.uidValue()->value;
            unsigned width = widthFor(v);
            out += static_cast<char>(0x80 | (width - 1));
            appendBigEndian(out, v, width);
            return true;
        }
        case Value::Type::Array:
        case Value::Type::Dictionary: {
            bool array = value.isArray();
            appendCount(out, array ? 0xA : 0xD, array ? object.refs.size() : object.refs.size() / 2);
            for (std::uint64_t ref : object.refs)
                appendBigEndian(out, ref, refSize);
            return true;
        }
        }
        return false;
    }

    std::vector<Object> objects_;
    std::unordered_map<std::string_view, std::uint64_t> strings_;
};

} // namespace

bool isBinaryPropertyList(std::string_view data)
{
    return data.substr(0, kMagic.size()) == kMagic;
}

std::optional<Value> parseBinaryPropertyList(std::string_view data)
{
    return Reader(data).read();
}

std::optional<std::string> writeBinaryPropertyList(const Value& value)
{
    return Writer().write(value);
}
