// NSEvent: the few fields the system reads.
//
// The Process Manager's application events arrive as type 21, with data1
// and data2 the high and low halves of the serial number of the application
// concerned and the subtype saying what happened: 2 another application
// came to the front, 4 an application was launched, 8 one quit.
#pragma once

#include <cstdint>

using NSEventType = unsigned int;
using NSInteger = long;

inline constexpr NSEventType kNSApplicationEventType = 21;
inline constexpr short kNSApplicationFrontSwitchedSubtype = 2;
inline constexpr short kNSApplicationLaunchedSubtype = 4;
inline constexpr short kNSApplicationTerminatedSubtype = 8;

class NSEvent {
public:
    NSEvent(NSEventType type, short subtype, NSInteger data1, NSInteger data2)
        : type_(type), subtype_(subtype), data1_(data1), data2_(data2)
    {
    }
    NSEventType type() const { return type_; }
    short subtype() const { return subtype_; }
    NSInteger data1() const { return data1_; }
    NSInteger data2() const { return data2_; }
    bool operator==(const NSEvent&) const = default;

private:
    NSEventType type_;
    short subtype_;
    NSInteger data1_;
    NSInteger data2_;
};
