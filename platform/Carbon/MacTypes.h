// The basic types of the original C interfaces, under their own names.
#pragma once

#include <cstdint>
#include <sys/types.h>

using UInt8 = std::uint8_t;
using UInt16 = std::uint16_t;
using SInt16 = std::int16_t;
using UInt32 = std::uint32_t;
using SInt32 = std::int32_t;
using Boolean = unsigned char;
using OSErr = SInt16;
using OSStatus = SInt32;
using OSType = UInt32;
using FourCharCode = UInt32;
// Pascal strings: a length byte, then that many bytes.
using Str255 = unsigned char[256];
using StringPtr = unsigned char*;
using ConstStr255Param = const unsigned char*;

inline constexpr OSErr noErr = 0;
inline constexpr OSErr paramErr = -50;

// 'appl' as a number: the four characters, first one in the high byte.
constexpr FourCharCode fourCharCode(const char (&code)[5])
{
    return (static_cast<UInt32>(static_cast<UInt8>(code[0])) << 24) | (static_cast<UInt32>(static_cast<UInt8>(code[1])) << 16)
        | (static_cast<UInt32>(static_cast<UInt8>(code[2])) << 8) | static_cast<UInt32>(static_cast<UInt8>(code[3]));
}
