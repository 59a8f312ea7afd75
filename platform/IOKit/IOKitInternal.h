// What the I/O Kit shims share among themselves (not for the system): the
// handle table and the notification ports live in IOKitLib.cpp; the HID and
// power shims add their handles and messages through these.
#pragma once

#include "IOKit/IOKitLib.h"

#include <cstdint>
#include <functional>

// Queues a message on the port; it runs when the port's run-loop source is
// served, in order with the port's other news.
void iokitPostMessage(IONotificationPortRef port, std::function<void()> message);
// A handle that stands for something of another shim's; giving it back
// (IOObjectRelease, IOServiceClose, mach_port_deallocate or a test reset)
// runs onForget once.
mach_port_t iokitAddOpaqueHandle(std::function<void()> onForget);
bool iokitIsOpaqueHandle(mach_port_t name);
// The registry entry behind an open connection and the machine's own id of
// the connection; false when the handle is no open connection.
bool iokitConnection(io_connect_t connect, std::uint64_t* entry, std::uint64_t* machineConnection);
