// The Mach and I/O Kit handle types the system passes around. Every handle
// is a 32-bit name in the program's own table (0 is no object); the table
// lives in the I/O Kit shim.
#pragma once

#include "IOKit/IOReturn.h"

#include <cstdint>
#include <memory>

class RunLoopSource;

using mach_port_t = std::uint32_t;
using task_port_t = mach_port_t;
using io_object_t = mach_port_t;
using io_service_t = io_object_t;
using io_iterator_t = io_object_t;
using io_connect_t = io_object_t;
using io_registry_entry_t = io_object_t;
using IOItemCount = std::uint32_t;
using IOByteCount = std::uint32_t;
using IOOptionBits = std::uint32_t;

inline constexpr mach_port_t MACH_PORT_NULL = 0;

// The Core Foundation handles these calls take: allocators are always the
// default (pass nullptr), run-loop sources are the platform's own.
using CFAllocatorRef = const void*;
using CFRunLoopSourceRef = std::shared_ptr<RunLoopSource>;

// The program's own task, for IOServiceOpen.
mach_port_t mach_task_self();
// Gives up a port name, such as the I/O Kit master port.
kern_return_t mach_port_deallocate(mach_port_t task, mach_port_t name);
