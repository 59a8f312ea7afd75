// The binary property-list format ("bplist00"), read and written here.
//
// Its objects sit in a table and refer to each other by index, so the
// reader takes nothing on trust: every offset, length and reference is
// checked against the data, a reference cycle is refused, nesting deeper
// than kMaximumPropertyListDepth is refused, and objects shared by many
// references are not expanded past a budget proportional to the data's
// size (a few hundred bytes cannot become gigabytes). A string holding the
// character U+0000 is refused, as every reader of this system refuses it.
//
// Everything a Value holds is written exactly: integers up to 2^64 - 1
// (16-byte integers above the signed range, as other writers do), dates of
// any value with their fractions, keyed-archive UIDs. Equal strings are
// written once.
#pragma once

#include "Foundation/Value.h"

#include <optional>
#include <string>
#include <string_view>

inline constexpr int kMaximumPropertyListDepth = 512;

bool isBinaryPropertyList(std::string_view data);
std::optional<Value> parseBinaryPropertyList(std::string_view data);
// Nothing for nil (anywhere), a string holding U+0000, or nesting deeper
// than kMaximumPropertyListDepth.
std::optional<std::string> writeBinaryPropertyList(const Value& value);
