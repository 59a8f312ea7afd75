// System power messages: a program registers for them, hears each one on a
// notification port's run-loop source, and must allow every change it is
// told of, so that sleep is never held up.
#pragma once

#include "IOKit/IOKitLib.h"

#include <cstdint>

inline constexpr std::uint32_t kIOMessageCanSystemSleep = 0xE0000270;
inline constexpr std::uint32_t kIOMessageSystemWillSleep = 0xE0000280;
inline constexpr std::uint32_t kIOMessageSystemWillNotSleep = 0xE0000290;
inline constexpr std::uint32_t kIOMessageSystemHasPoweredOn = 0xE0000300;

using natural_t = std::uint32_t;
using IOServiceInterestCallback = void (*)(void* refcon, io_service_t service, natural_t messageType, void* messageArgument);

// The root power domain's connection (0 on failure); fills in the port the
// messages arrive on and the notifier that ends the registration.
io_connect_t IORegisterForSystemPower(void* refcon, IONotificationPortRef* thePortRef, IOServiceInterestCallback callback,
    io_object_t* notifier);
// Answers one message; notificationID is the message's argument.
IOReturn IOAllowPowerChange(io_connect_t kernelPort, std::intptr_t notificationID);
// Ends the registration and gives up the notifier (set to 0).
IOReturn IODeregisterForSystemPower(io_object_t* notifier);
