#include "Foundation/PropertyList.h"

#include "Log/Log.h"

#include <algorithm>
#include <cerrno>
#include <cstdint>
#include <cmath>
#include <cstring>
#include <fcntl.h>
#include <filesystem>
#include <fstream>
#include <memory>
#include <plist/plist.h>
#include <sstream>
#include <sys/stat.h>
#include <unistd.h>
#include <vector>

namespace {

struct PlistDeleter {
    void operator()(void* p) const
    {
        if (p)
            plist_free(static_cast<plist_t>(p));
    }
};
using PlistHandle = std::unique_ptr<void, PlistDeleter>;

// Deeply nested input is refused rather than recursed into without bound.
constexpr int kMaximumDepth = 512;

std::optional<Value> fromPlist(plist_t node, int depth)
{
    if (!node || depth > kMaximumDepth)
        return std::nullopt;
    switch (plist_get_node_type(node)) {
    case PLIST_BOOLEAN: {
        uint8_t b = 0;
        plist_get_bool_val(node, &b);
        return Value(b != 0);
    }
    case PLIST_UINT: {
        uint64_t u = 0;
        plist_get_uint_val(node, &u);
        return Value(static_cast<long long>(u));
    }
    case PLIST_UID: {
        uint64_t u = 0;
        plist_get_uid_val(node, &u);
        return Value(static_cast<long long>(u));
    }
    case PLIST_REAL: {
        double d = 0;
        plist_get_real_val(node, &d);
        return Value(d);
    }
    case PLIST_STRING:
    case PLIST_KEY: {
        char* s = nullptr;
        if (plist_get_node_type(node) == PLIST_STRING)
            plist_get_string_val(node, &s);
        else
            plist_get_key_val(node, &s);
        Value v(std::string(s ? s : ""));
        std::free(s);
        return v;
    }
    case PLIST_DATA: {
        char* bytes = nullptr;
        uint64_t length = 0;
        plist_get_data_val(node, &bytes, &length);
        Value::Bytes data(reinterpret_cast<uint8_t*>(bytes), reinterpret_cast<uint8_t*>(bytes) + length);
        std::free(bytes);
        return Value::data(std::move(data));
    }
    case PLIST_DATE: {
        int32_t sec = 0, usec = 0;
        plist_get_date_val(node, &sec, &usec);
        return Value::date(sec + usec / 1e6);
    }
    case PLIST_ARRAY: {
        Value::Array items;
        uint32_t n = plist_array_get_size(node);
        items.reserve(n);
        for (uint32_t i = 0; i < n; ++i) {
            auto item = fromPlist(plist_array_get_item(node, i), depth + 1);
            if (!item)
                return std::nullopt;
            items.push_back(std::move(*item));
        }
        return Value(std::move(items));
    }
    case PLIST_DICT: {
        Value::Dictionary entries;
        plist_dict_iter it = nullptr;
        plist_dict_new_iter(node, &it);
        for (;;) {
            char* key = nullptr;
            plist_t item = nullptr;
            plist_dict_next_item(node, it, &key, &item);
            if (!item) {
                std::free(key);
                break;
            }
            auto value = fromPlist(item, depth + 1);
            std::string k(key ? key : "");
            std::free(key);
            if (!value) {
                std::free(it);
                return std::nullopt;
            }
            entries.insert_or_assign(std::move(k), std::move(*value));
        }
        std::free(it);
        return Value(std::move(entries));
    }
    default: return std::nullopt;
    }
}

plist_t toPlist(const Value& v, int depth)
{
    if (depth > kMaximumDepth)
        return nullptr;
    switch (v.type()) {
    case Value::Type::Nil: return nullptr;
    case Value::Type::Boolean: return plist_new_bool(*v.boolean() ? 1 : 0);
    case Value::Type::Integer: return plist_new_uint(static_cast<uint64_t>(*v.integer()));
    case Value::Type::Real: return plist_new_real(*v.real());
    case Value::Type::String: return plist_new_string(v.string()->c_str());
    case Value::Type::Data: {
        const auto& b = *v.bytes();
        return plist_new_data(reinterpret_cast<const char*>(b.data()), b.size());
    }
    case Value::Type::Date: {
        double s = v.dateValue()->secondsSinceReferenceDate;
        double whole = std::floor(s);
        return plist_new_date(static_cast<int32_t>(whole), static_cast<int32_t>(std::lround((s - whole) * 1e6)));
    }
    case Value::Type::Array: {
        plist_t array = plist_new_array();
        for (const auto& item : *v.arrayValue()) {
            plist_t child = toPlist(item, depth + 1);
            if (!child) {
                plist_free(array);
                return nullptr;
            }
            plist_array_append_item(array, child);
        }
        return array;
    }
    case Value::Type::Dictionary: {
        plist_t dict = plist_new_dict();
        for (const auto& [key, item] : *v.dictionaryValue()) {
            plist_t child = toPlist(item, depth + 1);
            if (!child) {
                plist_free(dict);
                return nullptr;
            }
            plist_dict_set_item(dict, key.c_str(), child);
        }
        return dict;
    }
    }
    return nullptr;
}

bool looksLikePropertyList(std::string_view data)
{
    if (data.size() >= 8 && data.substr(0, 6) == "bplist")
        return true;
    // libplist's XML reader is lenient; insist on the document's own marker.
    return data.find("<plist") != std::string_view::npos;
}


// libplist's readers recurse once per level of nesting, so data nested
// deeper than we would ever convert is refused before it is parsed: a
// stored file or a message of a million nested arrays would otherwise
// overflow the stack.
bool xmlNestingWithin(std::string_view data, int limit)
{
    int depth = 0;
    for (std::size_t at = data.find('<'); at != std::string_view::npos; at = data.find('<', at + 1)) {
        std::string_view rest = data.substr(at + 1);
        bool closing = !rest.empty() && rest.front() == '/';
        if (closing)
            rest.remove_prefix(1);
        std::size_t nameLength = 0;
        if (rest.starts_with("array"))
            nameLength = 5;
        else if (rest.starts_with("dict"))
            nameLength = 4;
        else
            continue;
        std::size_t end = rest.find('>');
        if (end == std::string_view::npos || end < nameLength)
            return false;
        if (closing) {
            --depth;
        } else if (rest[end - 1] != '/' && ++depth > limit) {
            return false;
        }
    }
    return true;
}

std::uint64_t bigEndian(std::string_view bytes)
{
    std::uint64_t v = 0;
    for (char c : bytes)
        v = (v << 8) | static_cast<unsigned char>(c);
    return v;
}

// The binary format's objects refer to each other by index; the depth is
// the longest chain of containers from the top object, found without
// recursion. Anything malformed is left for libplist to judge.
bool binaryNestingWithin(std::string_view data, int limit)
{
    if (data.size() < 8 + 32)
        return true;
    std::string_view trailer = data.substr(data.size() - 32);
    std::size_t offsetSize = static_cast<unsigned char>(trailer[6]);
    std::size_t refSize = static_cast<unsigned char>(trailer[7]);
    std::uint64_t count = bigEndian(trailer.substr(8, 8));
    std::uint64_t top = bigEndian(trailer.substr(16, 8));
    std::uint64_t table = bigEndian(trailer.substr(24, 8));
    if (offsetSize < 1 || offsetSize > 8 || refSize < 1 || refSize > 8 || count == 0 || top >= count
        || count > data.size() || table > data.size() || (data.size() - table) / offsetSize < count)
        return true;
    auto offsetOf = [&](std::uint64_t index) { return bigEndian(data.substr(table + index * offsetSize, offsetSize)); };
    // The references an object holds (a dictionary's keys and values alike).
    auto referencesOf = [&](std::uint64_t index, std::vector<std::uint64_t>& out) {
        out.clear();
        std::uint64_t at = offsetOf(index);
        if (at >= data.size())
            return;
        unsigned char marker = static_cast<unsigned char>(data[at]);
        unsigned kind = marker >> 4;
        if (kind != 0xA && kind != 0xC && kind != 0xD)
            return;
        std::uint64_t n = marker & 0xF;
        std::uint64_t start = at + 1;
        if (n == 0xF) {
            if (start >= data.size() || (static_cast<unsigned char>(data[start]) >> 4) != 0x1)
                return;
            std::size_t width = std::size_t(1) << (static_cast<unsigned char>(data[start]) & 0x3);
            if (start + 1 + width > data.size())
                return;
            n = bigEndian(data.substr(start + 1, width));
            start += 1 + width;
        }
        if (kind == 0xD)
            n *= 2;
        if (n > data.size() || start + n * refSize > data.size())
            return;
        for (std::uint64_t i = 0; i < n; ++i) {
            std::uint64_t ref = bigEndian(data.substr(start + i * refSize, refSize));
            if (ref < count)
                out.push_back(ref);
        }
    };
    // 0 unvisited, 1 on the current path, 2 done; depth[i] is valid when done.
    std::vector<unsigned char> state(count, 0);
    std::vector<int> depth(count, 0);
    struct Frame {
        std::uint64_t index;
        std::vector<std::uint64_t> children;
        std::size_t next = 0;
    };
    std::vector<Frame> stack;
    stack.push_back({top, {}});
    referencesOf(top, stack.back().children);
    state[top] = 1;
    while (!stack.empty()) {
        Frame& frame = stack.back();
        if (frame.next < frame.children.size()) {
            std::uint64_t child = frame.children[frame.next++];
            if (state[child] == 1)
                return false; // a cycle: no property list
            if (state[child] == 0) {
                if (static_cast<int>(stack.size()) > limit)
                    return false;
                state[child] = 1;
                stack.push_back({child, {}});
                referencesOf(child, stack.back().children);
            }
            continue;
        }
        int deepest = 0;
        for (auto child : frame.children)
            deepest = std::max(deepest, depth[child]);
        depth[frame.index] = deepest + 1;
        state[frame.index] = 2;
        if (depth[frame.index] > limit)
            return false;
        stack.pop_back();
    }
    return true;
}

} // namespace

std::optional<Value> propertyListFromData(std::string_view data, PropertyListFormat* format)
{
    if (data.empty() || data.size() > UINT32_MAX || !looksLikePropertyList(data))
        return std::nullopt;
    const bool binary = plist_is_binary(data.data(), static_cast<uint32_t>(data.size()));
    if (format)
        *format = binary ? PropertyListFormat::Binary : PropertyListFormat::XML;
    if (!(binary ? binaryNestingWithin(data, kMaximumDepth) : xmlNestingWithin(data, kMaximumDepth)))
        return std::nullopt;
    plist_t root = nullptr;
    if (binary)
        plist_from_bin(data.data(), static_cast<uint32_t>(data.size()), &root);
    else
        plist_from_xml(data.data(), static_cast<uint32_t>(data.size()), &root);
    PlistHandle handle(root);
    if (!root)
        return std::nullopt;
    return fromPlist(root, 0);
}

std::optional<std::string> xmlPropertyListData(const Value& value)
{
    PlistHandle root(toPlist(value, 0));
    if (!root)
        return std::nullopt;
    char* xml = nullptr;
    uint32_t length = 0;
    plist_to_xml(static_cast<plist_t>(root.get()), &xml, &length);
    if (!xml)
        return std::nullopt;
    std::string out(xml, length);
    plist_to_xml_free(xml);
    return out;
}

std::optional<std::string> binaryPropertyListData(const Value& value)
{
    PlistHandle root(toPlist(value, 0));
    if (!root)
        return std::nullopt;
    char* bin = nullptr;
    uint32_t length = 0;
    plist_to_bin(static_cast<plist_t>(root.get()), &bin, &length);
    if (!bin)
        return std::nullopt;
    std::string out(bin, length);
    plist_to_bin_free(bin);
    return out;
}

std::optional<std::string> propertyListData(const Value& value, PropertyListFormat format)
{
    return format == PropertyListFormat::Binary ? binaryPropertyListData(value) : xmlPropertyListData(value);
}
