// UTF-8 and UTF-16 for the property-list formats. Strings in Values are
// UTF-8; what is not (bytes a program made up) is written with each bad
// sequence replaced by U+FFFD, never passed on malformed.
#pragma once

#include <cstdint>
#include <string>
#include <string_view>

namespace unicode {

inline constexpr char32_t kReplacementCharacter = 0xFFFD;

void appendUtf8(std::string& out, char32_t codePoint);

// Decodes the code point at `at`, moving past it; a malformed sequence
// answers U+FFFD and moves past one byte.
char32_t nextCodePoint(std::string_view text, std::size_t& at);

// UTF-16 code units (host order) from UTF-8.
std::u16string utf16FromUtf8(std::string_view text);

bool isAscii(std::string_view text);

} // namespace unicode
