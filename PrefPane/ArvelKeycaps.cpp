#include "PrefPane/ArvelKeycaps.h"

#include "Foundation/FileManager.h"
#include "Foundation/PropertyList.h"
#include "Foundation/Unicode.h"
#include "Log/Log.h"

#include <climits>
#include <cstdint>

namespace {

// A keyboard's table is a few kilobytes; nothing larger is read.
constexpr std::size_t kMaximumResourceBytes = 1u << 20;

using CodePoints = std::u32string;

CodePoints codePointsOf(const std::string& text)
{
    CodePoints out;
    for (std::size_t at = 0; at < text.size();)
        out.push_back(unicode::nextCodePoint(text, at));
    return out;
}

bool within(char32_t c, char32_t low, char32_t high)
{
    return c >= low && c <= high;
}

// The character classes the order is decided by, for the scripts keycaps
// are printed in: Latin, Greek, Cyrillic, Hebrew, Arabic, kana, CJK and
// Hangul. Letters include the combining marks, as the system's letter set
// does.
bool isLetter(char32_t c)
{
    if (c < 0x80)
        return within(c, 'A', 'Z') || within(c, 'a', 'z');
    return c == 0xAA || c == 0xB5 || c == 0xBA || (within(c, 0xC0, 0x24F) && c != 0xD7 && c != 0xF7) || within(c, 0x300, 0x36F)
        || (within(c, 0x370, 0x3FF) && c != 0x375 && c != 0x37E && c != 0x384 && c != 0x385 && c != 0x387) || within(c, 0x400, 0x481)
        || within(c, 0x483, 0x52F) || within(c, 0x5D0, 0x5EA) || within(c, 0x620, 0x64A) || within(c, 0x1E00, 0x1FFF)
        || within(c, 0x3041, 0x30FF) || within(c, 0x4E00, 0x9FFF) || within(c, 0xAC00, 0xD7A3);
}

bool isDigit(char32_t c)
{
    return within(c, '0', '9') || within(c, 0x660, 0x669) || within(c, 0xFF10, 0xFF19);
}

bool isPunctuation(char32_t c)
{
    if (c < 0x80) {
        for (char p : std::string_view("!\"#%&'()*,-./:;?@[\\]_{}"))
            if (c == static_cast<char32_t>(p))
                return true;
        return false;
    }
    return c == 0xA1 || c == 0xA7 || c == 0xAB || c == 0xB6 || c == 0xB7 || c == 0xBB || c == 0xBF || c == 0x37E || c == 0x387
        || within(c, 0x2010, 0x2027) || within(c, 0x2030, 0x2043) || within(c, 0x2045, 0x2051) || within(c, 0x2053, 0x205E)
        || within(c, 0x3001, 0x3003) || within(c, 0x3008, 0x3011);
}

// Precomposed letters: an accented letter stands for its base letter and
// its accent.
bool isDecomposable(char32_t c)
{
    if (within(c, 0xC0, 0xFF))
        return c != 0xC6 && c != 0xD0 && c != 0xD7 && c != 0xD8 && c != 0xDE && c != 0xDF && c != 0xE6 && c != 0xF0 && c != 0xF7
            && c != 0xF8 && c != 0xFE;
    if (within(c, 0x100, 0x17F)) {
        for (char32_t whole : {0x110, 0x111, 0x126, 0x127, 0x131, 0x132, 0x133, 0x138, 0x13F, 0x140, 0x141, 0x142, 0x149, 0x14A, 0x14B,
                 0x152, 0x153, 0x166, 0x167, 0x17F})
            if (c == whole)
                return false;
        return true;
    }
    return within(c, 0x1E00, 0x1EFF) || c == 0x386 || within(c, 0x388, 0x38A) || c == 0x38C || within(c, 0x38E, 0x390)
        || within(c, 0x3AA, 0x3B0) || within(c, 0x3CA, 0x3CE) || c == 0x400 || c == 0x401 || c == 0x403 || c == 0x407 || c == 0x40C
        || c == 0x40D || c == 0x40E || c == 0x419 || c == 0x439 || c == 0x450 || c == 0x451 || c == 0x453 || c == 0x457 || c == 0x45C
        || c == 0x45D || c == 0x45E || within(c, 0xAC00, 0xD7A3);
}

template <class Test>
bool containsAny(const CodePoints& text, Test test)
{
    for (char32_t c : text)
        if (test(c))
            return true;
    return false;
}

template <class Test>
bool beginsWith(const CodePoints& text, Test test)
{
    return !text.empty() && test(text.front());
}

// Characters as the system counts them: in UTF-16 units.
std::size_t lengthOf(const CodePoints& text)
{
    std::size_t length = 0;
    for (char32_t c : text)
        length += c > 0xFFFF ? 2 : 1;
    return length;
}

std::size_t wordsOf(const CodePoints& text)
{
    std::size_t words = 1;
    for (char32_t c : text)
        words += c == ' ';
    return words;
}

// A string's integer value as the system reads one: leading white space, a
// sign, the digits up to the first other character; 0 when there are none,
// the nearest end of the range when it overflows.
int integerValueOf(const std::string& text)
{
    std::size_t at = 0;
    while (at < text.size() && (text[at] == ' ' || text[at] == '\t' || text[at] == '\n' || text[at] == '\r'))
        ++at;
    bool negative = false;
    if (at < text.size() && (text[at] == '+' || text[at] == '-'))
        negative = text[at++] == '-';
    std::int64_t value = 0;
    for (; at < text.size() && text[at] >= '0' && text[at] <= '9'; ++at) {
        value = value * 10 + (text[at] - '0');
        if (value > static_cast<std::int64_t>(INT_MAX) + 1)
            break;
    }
    value = negative ? -value : value;
    return value > INT_MAX ? INT_MAX : value < INT_MIN ? INT_MIN : static_cast<int>(value);
}

bool readsAsInteger(const std::string& text)
{
    std::size_t at = text.size() && (text[0] == '+' || text[0] == '-') ? 1 : 0;
    if (at >= text.size())
        return false;
    for (; at < text.size(); ++at)
        if (text[at] < '0' || text[at] > '9')
            return false;
    return true;
}

char32_t folded(char32_t c)
{
    if (within(c, 'A', 'Z') || (within(c, 0xC0, 0xDE) && c != 0xD7))
        return c + 0x20;
    return c;
}

NSComparisonResult caseInsensitive(const CodePoints& a, const CodePoints& b)
{
    for (std::size_t i = 0; i < a.size() && i < b.size(); ++i) {
        char32_t x = folded(a[i]), y = folded(b[i]);
        if (x != y)
            return x < y ? NSOrderedAscending : NSOrderedDescending;
    }
    if (a.size() == b.size())
        return NSOrderedSame;
    return a.size() < b.size() ? NSOrderedAscending : NSOrderedDescending;
}

// Whether one rule puts a before b (ascending), b before a, or neither.
NSComparisonResult rule(bool aFirst, bool bFirst)
{
    return aFirst ? NSOrderedAscending : bFirst ? NSOrderedDescending : NSOrderedSame;
}

// A merge sort: it ends, and stays within the list, whatever the order
// says, where a rule-by-rule order need not be transitive.
void mergeSort(std::vector<std::string>& items, std::size_t from, std::size_t to, std::vector<std::string>& scratch)
{
    if (to - from < 2)
        return;
    const std::size_t middle = from + (to - from) / 2;
    mergeSort(items, from, middle, scratch);
    mergeSort(items, middle, to, scratch);
    scratch.clear();
    std::size_t left = from, right = middle;
    while (left < middle && right < to) {
        if (keyCapSort(items[right], items[left], nullptr) == NSOrderedAscending)
            scratch.push_back(std::move(items[right++]));
        else
            scratch.push_back(std::move(items[left++]));
    }
    while (left < middle)
        scratch.push_back(std::move(items[left++]));
    while (right < to)
        scratch.push_back(std::move(items[right++]));
    for (std::size_t i = 0; i < scratch.size(); ++i)
        items[from + i] = std::move(scratch[i]);
}

} // namespace

NSComparisonResult keyCapSort(const std::string& first, const std::string& second, void*)
{
    const CodePoints a = codePointsOf(first), b = codePointsOf(second);
    const std::size_t lengthA = lengthOf(a), lengthB = lengthOf(b);
    if (auto r = rule(lengthA == 1 && lengthB >= 2, lengthA >= 2 && lengthB == 1))
        return r;
    const bool letterA = containsAny(a, isLetter), letterB = containsAny(b, isLetter);
    if (auto r = rule(letterA && !letterB, letterB && !letterA))
        return r;
    const bool digitA = containsAny(a, isDigit), digitB = containsAny(b, isDigit);
    if (auto r = rule(beginsWith(a, isDigit) && !digitB, beginsWith(b, isDigit) && !digitA))
        return r;
    const bool punctuationA = containsAny(a, isPunctuation), punctuationB = containsAny(b, isPunctuation);
    if (auto r = rule(!punctuationA && beginsWith(b, isPunctuation), !punctuationB && beginsWith(a, isPunctuation)))
        return r;
    const std::size_t wordsA = wordsOf(a), wordsB = wordsOf(b);
    if (auto r = rule(wordsA < wordsB, wordsB < wordsA))
        return r;
    if (!a.empty() && !b.empty() && a.front() == 'F' && b.front() == 'F') {
        const int numberA = integerValueOf(first.substr(1)), numberB = integerValueOf(second.substr(1));
        if (auto r = rule(numberA < numberB, numberB < numberA))
            return r;
    }
    const bool accentA = containsAny(a, isDecomposable), accentB = containsAny(b, isDecomposable);
    if (auto r = rule(!accentA && accentB, !accentB && accentA))
        return r;
    return caseInsensitive(a, b);
}

std::optional<ArvelKeycaps> ArvelKeycaps::keycapsFromResource(const std::string& path)
{
    // A resource that holds nothing (or only white space) is there but has
    // no keys: it is an empty table, not a broken one.
    const std::optional<std::string> text = contentsAtPath(path, kMaximumResourceBytes);
    const bool blank = text && text->find_first_not_of(" \t\r\n") == std::string::npos;
    std::optional<Value> table;
    if (text && !blank)
        table = propertyListFromData(*text);
    if (!text || (!blank && !table)) {
        logError("ArvelPref did not localized keymap data.\n");
        return std::nullopt;
    }
    KeycodeMap keycodes;
    KeycapMap keycaps;
    unsigned notIntegers = 0, nameless = 0;
    if (const Value::Dictionary* entries = table ? table->dictionaryValue() : nullptr) {
        for (const auto& [key, value] : *entries) {
            const std::string* name = value.string();
            if (!name || name->empty()) {
                ++nameless;
                continue;
            }
            notIntegers += !readsAsInteger(key);
            const int code = integerValueOf(key);
            keycodes.insert_or_assign(code, *name);
            keycaps.insert_or_assign(*name, code);
        }
    }
    if (notIntegers)
        logError("ArvelPref error: %u keymap key(s) are not decimal integers; each counts as the number it begins with, or 0.\n", notIntegers);
    if (nameless)
        logError("ArvelPref error: %u keymap entry(ies) have no keycap name; they are left out.\n", nameless);
    if (keycodes.empty() || keycaps.empty()) {
        logError("ArvelPref did not obtain any keymap data.\n");
        return std::nullopt;
    }
    return ArvelKeycaps(std::move(keycodes), std::move(keycaps));
}

std::vector<std::string> ArvelKeycaps::sortedKeycaps() const
{
    std::vector<std::string> names;
    names.reserve(keycapMap_.size());
    for (const auto& [name, code] : keycapMap_)
        names.push_back(name);
    std::vector<std::string> scratch;
    scratch.reserve(names.size());
    mergeSort(names, 0, names.size(), scratch);
    return names;
}
