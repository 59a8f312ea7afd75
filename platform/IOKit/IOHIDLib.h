// The HID system's parameter calls.
#pragma once

#include "IOKit/IOTypes.h"

#include <string>

// The HID system's parameter connection is opened with IOServiceOpen on the
// "IOHIDSystem" service with this type.
inline constexpr std::uint32_t kIOHIDParamConnectType = 1;
inline constexpr const char* kIOHIDParametersKey = "HIDParameters";
inline constexpr const char* kIOHIDTrackpadAccelerationType = "HIDTrackpadAcceleration";

// Sets one acceleration value of the HID system through its parameter
// connection.
kern_return_t IOHIDSetAccelerationWithKey(io_connect_t handle, const std::string& key, double acceleration);
