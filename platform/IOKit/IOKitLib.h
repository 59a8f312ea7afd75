// The I/O Kit calls the system makes, under their own names, over the
// simulated machine's I/O registry.
//
// Matching notifications follow the I/O Kit's rules: the iterator handed
// back by IOServiceAddMatchingNotification holds the services that already
// match and stays quiet until it has been iterated to its end once (that is
// what arms it); from then on each change queues its services on the
// iterator and signals the notification port's run-loop source, and the
// callback runs when that source is served, in the order the changes
// happened. A callback that does not drain its iterator hears nothing more.
//
// Results are I/O Kit result codes (IOKit/IOReturn.h). Dictionaries and
// property values are platform Values; a matching dictionary is
// {"IOProviderClass": class name}.
#pragma once

#include "Foundation/Value.h"
#include "IOKit/IOReturn.h"
#include "IOKit/IOTypes.h"

#include <cstddef>
#include <string>

// The notification types.
inline constexpr const char* kIOMatchedNotification = "IOServiceMatched";
inline constexpr const char* kIOFirstMatchNotification = "IOServiceFirstMatch";
inline constexpr const char* kIOPublishNotification = "IOServicePublish";
inline constexpr const char* kIOFirstPublishNotification = "IOServiceFirstPublish";
inline constexpr const char* kIOTerminatedNotification = "IOServiceTerminate";
inline constexpr const char* kIOProviderClassKey = "IOProviderClass";

struct IONotificationPort;
using IONotificationPortRef = IONotificationPort*;
using IOServiceMatchingCallback = void (*)(void* refcon, io_iterator_t iterator);

kern_return_t IOMasterPort(mach_port_t bootstrapPort, mach_port_t* masterPort);

IONotificationPortRef IONotificationPortCreate(mach_port_t masterPort);
void IONotificationPortDestroy(IONotificationPortRef notifyPort);
// The port's one run-loop source (the same each time); null on failure.
CFRunLoopSourceRef IONotificationPortGetRunLoopSource(IONotificationPortRef notifyPort);

// {"IOProviderClass": name}; nil when it cannot be made.
Value IOServiceMatching(const char* name);
kern_return_t IOServiceAddMatchingNotification(IONotificationPortRef notifyPort, const char* notificationType,
    const Value& matching, IOServiceMatchingCallback callback, void* refCon, io_iterator_t* notification);
// The first active service that matches, or 0.
io_service_t IOServiceGetMatchingService(mach_port_t masterPort, const Value& matching);

// The next service of the iterator (the caller releases it), or 0 at the end.
io_object_t IOIteratorNext(io_iterator_t iterator);
kern_return_t IOObjectRetain(io_object_t object);
// Releasing a notification's iterator ends the notification; releasing a
// connection closes it.
kern_return_t IOObjectRelease(io_object_t object);

kern_return_t IOServiceOpen(io_service_t service, task_port_t owningTask, std::uint32_t type, io_connect_t* connect);
// Closes the connection and gives up its handle.
kern_return_t IOServiceClose(io_connect_t connect);

// Scalar inputs then scalar outputs: after the counts come that many int
// inputs, then that many int* outputs.
kern_return_t IOConnectMethodScalarIScalarO(io_connect_t connect, std::uint32_t index, IOItemCount scalarInputCount,
    IOItemCount scalarOutputCount, ...);
// Scalar inputs then one structure out: after the size come that many int
// inputs, then the structure's address; *structureSize is the room there on
// the way in and what was written on the way out.
kern_return_t IOConnectMethodScalarIStructureO(io_connect_t connect, std::uint32_t index, IOItemCount scalarInputCount,
    IOByteCount* structureSize, ...);

kern_return_t IORegistryEntrySetCFProperties(io_registry_entry_t entry, const Value& properties);
kern_return_t IORegistryEntrySetCFProperty(io_registry_entry_t entry, const std::string& propertyName, const Value& property);
// The property's value, nil when absent (or the entry is gone).
Value IORegistryEntryCreateCFProperty(io_registry_entry_t entry, const std::string& key, CFAllocatorRef allocator,
    IOOptionBits options);

// Handles held by the program (ports, services, iterators, connections), for
// tests that check everything was given back.
std::size_t IOKitObjectCountForTesting();
// Forgets every handle and notification port (a test starts from nothing).
void IOKitResetForTesting();
