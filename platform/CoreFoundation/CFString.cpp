#include "CoreFoundation/CFString.h"

#include "Foundation/Unicode.h"

#include <cstring>

namespace {

// Mac Roman's upper half: the code point of each byte from 0x80. Its lower
// half is ASCII.
constexpr char16_t kMacRomanHigh[128] = {
    0x00C4, 0x00C5, 0x00C7, 0x00C9, 0x00D1, 0x00D6, 0x00DC, 0x00E1, 0x00E0, 0x00E2, 0x00E4, 0x00E3, 0x00E5, 0x00E7, 0x00E9, 0x00E8,
    0x00EA, 0x00EB, 0x00ED, 0x00EC, 0x00EE, 0x00EF, 0x00F1, 0x00F3, 0x00F2, 0x00F4, 0x00F6, 0x00F5, 0x00FA, 0x00F9, 0x00FB, 0x00FC,
    0x2020, 0x00B0, 0x00A2, 0x00A3, 0x00A7, 0x2022, 0x00B6, 0x00DF, 0x00AE, 0x00A9, 0x2122, 0x00B4, 0x00A8, 0x2260, 0x00C6, 0x00D8,
    0x221E, 0x00B1, 0x2264, 0x2265, 0x00A5, 0x00B5, 0x2202, 0x2211, 0x220F, 0x03C0, 0x222B, 0x00AA, 0x00BA, 0x03A9, 0x00E6, 0x00F8,
    0x00BF, 0x00A1, 0x00AC, 0x221A, 0x0192, 0x2248, 0x2206, 0x00AB, 0x00BB, 0x2026, 0x00A0, 0x00C0, 0x00C3, 0x00D5, 0x0152, 0x0153,
    0x2013, 0x2014, 0x201C, 0x201D, 0x2018, 0x2019, 0x00F7, 0x25CA, 0x00FF, 0x0178, 0x2044, 0x20AC, 0x2039, 0x203A, 0xFB01, 0xFB02,
    0x2021, 0x00B7, 0x201A, 0x201E, 0x2030, 0x00C2, 0x00CA, 0x00C1, 0x00CB, 0x00C8, 0x00CD, 0x00CE, 0x00CF, 0x00CC, 0x00D3, 0x00D4,
    0xF8FF, 0x00D2, 0x00DA, 0x00DB, 0x00D9, 0x0131, 0x02C6, 0x02DC, 0x00AF, 0x02D8, 0x02D9, 0x02DA, 0x00B8, 0x02DD, 0x02DB, 0x02C7,
};

// The Mac Roman byte of a code point; 0 when it has none (U+0000 has no
// place in a Pascal name either).
UInt8 macRomanByte(char32_t codePoint)
{
    if (codePoint > 0 && codePoint < 0x80)
        return static_cast<UInt8>(codePoint);
    for (int i = 0; i < 128; ++i) {
        if (kMacRomanHigh[i] == codePoint)
            return static_cast<UInt8>(0x80 + i);
    }
    return 0;
}

} // namespace

Value CFStringCreateWithPascalString(ConstStr255Param pascalString, CFStringEncoding encoding)
{
    if (!pascalString || encoding != kCFStringEncodingMacRoman)
        return {};
    std::string text;
    for (int i = 1; i <= pascalString[0]; ++i) {
        const UInt8 byte = pascalString[i];
        unicode::appendUtf8(text, byte < 0x80 ? char32_t(byte) : char32_t(kMacRomanHigh[byte - 0x80]));
    }
    return Value(std::move(text));
}

std::string CFStringMacRomanBytes(const std::string& utf8, UInt8 lossByte)
{
    std::string out;
    for (std::size_t at = 0; at < utf8.size();) {
        const UInt8 byte = macRomanByte(unicode::nextCodePoint(utf8, at));
        out.push_back(static_cast<char>(byte ? byte : lossByte));
    }
    return out;
}

Boolean CFStringGetPascalString(const Value& string, StringPtr buffer, CFIndex bufferSize, CFStringEncoding encoding)
{
    const std::string* text = string.string();
    if (!text || !buffer || bufferSize < 1 || encoding != kCFStringEncodingMacRoman)
        return false;
    // A zero loss byte marks a character without a form: no Mac Roman
    // character is U+0000.
    const std::string bytes = CFStringMacRomanBytes(*text, 0);
    if (bytes.find('\0') != std::string::npos || bytes.size() > 255 || static_cast<CFIndex>(bytes.size()) + 1 > bufferSize)
        return false;
    buffer[0] = static_cast<UInt8>(bytes.size());
    std::memcpy(buffer + 1, bytes.data(), bytes.size());
    return true;
}
