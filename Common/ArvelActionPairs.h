// The two compound values the settings pass around.
//
// A corner's action-and-data pair: the action code 0 to 7 and, for the
// actions 1, 2 and 7, a data number (an unsigned 32-bit word: bits 0-15 the
// key code of action 7, bit 16 Command, 17 Option, 18 Control, 19 Shift);
// nil for the others.
//
// A tap's action-and-gesture pair: one of (0, 0) no tap action, (1, 0),
// (1, 1), (1, 2) and (2, 0).
#pragma once

#include "Foundation/Value.h"

#include <cstdint>
#include <ostream>

struct ArvelCornerActionAndData {
    std::int32_t action = 0;
    Value data;
    bool operator==(const ArvelCornerActionAndData&) const = default;
};

struct ArvelTapActionAndGesture {
    std::int32_t action = 0;
    std::int32_t gesture = 0;
    bool operator==(const ArvelTapActionAndGesture&) const = default;
};

inline std::ostream& operator<<(std::ostream& out, const ArvelCornerActionAndData& pair)
{
    return out << "(" << pair.action << ", " << pair.data << ")";
}

inline std::ostream& operator<<(std::ostream& out, const ArvelTapActionAndGesture& pair)
{
    return out << "(" << pair.action << ", " << pair.gesture << ")";
}
