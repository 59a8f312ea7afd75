// Core Foundation strings and Pascal strings, under their own names. A
// string is a Value holding UTF-8 text; a Pascal string is a length byte
// followed by that many bytes in an 8-bit encoding, of which only the
// system's own, Mac Roman, is known here.
#pragma once

#include "Carbon/MacTypes.h"
#include "Foundation/Value.h"

#include <string>

using CFStringEncoding = UInt32;
using CFIndex = long;

inline constexpr CFStringEncoding kCFStringEncodingMacRoman = 0;

// The string a Pascal string holds; nil for a null pointer or an encoding
// other than Mac Roman.
Value CFStringCreateWithPascalString(ConstStr255Param pascalString, CFStringEncoding encoding);

// The string as a Pascal string in a buffer of bufferSize bytes (at most
// 256); false, and the buffer untouched, when it is no string, a character
// has no Mac Roman form or it does not fit.
Boolean CFStringGetPascalString(const Value& string, StringPtr buffer, CFIndex bufferSize, CFStringEncoding encoding);

// The string's text in Mac Roman, each character without a form there
// written as lossByte (what the Process Manager does with a name).
std::string CFStringMacRomanBytes(const std::string& utf8, UInt8 lossByte);
