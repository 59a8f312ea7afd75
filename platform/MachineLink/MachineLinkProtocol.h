// What travels between a program's bus link and the machine service.
//
// The service publishes one object (kMachineLinkObjectPath) with one
// method and one signal on kMachineLinkInterface:
//   Call(s operation, ay arguments) -> ay result
//     arguments and result are binary property lists, each a dictionary of
//     named entries (see MachineLinkService.h for every operation and its
//     entries); a call that is not such a call, names no operation or lacks
//     an entry, or carries one of the wrong kind, gets an error reply and
//     changes nothing.
//   signal Event(s kind, ay payload)
//     the news of one registration (payload a binary property-list
//     dictionary naming the registration); every bus link hears every
//     event and keeps those of its own registrations.
#pragma once

#include "Environment/Environment.h"

#include <cstddef>

inline constexpr const char* kMachineLinkInterface = "org.arvel.MachineLink";
inline constexpr const char* kMachineLinkObjectPath = "/org/arvel/Machine";
inline constexpr const char* kMachineLinkDefaultServiceName = "org.arvel.Machine";
inline constexpr const char* kMachineLinkUnknownOperationError = "org.arvel.MachineLink.Error.UnknownOperation";
inline constexpr const char* kMachineLinkBadArgumentsError = "org.arvel.MachineLink.Error.BadArguments";
// The service's answer to a program that has none of its own.
inline constexpr double kMachineLinkTimeoutSeconds = 5.0;
// Larger argument data is refused before it is parsed.
inline constexpr std::size_t kMachineLinkMaxArgumentBytes = 4 * 1024 * 1024;
// The most scalar outputs and structure bytes one driver call may ask for.
inline constexpr std::size_t kMachineLinkMaxScalarOutputs = 64;
inline constexpr std::size_t kMachineLinkMaxStructureBytes = 64 * 1024;

// Event kinds and their payload entries.
inline constexpr const char* kMachineEventRegistry = "registry";       // listener, entry
inline constexpr const char* kMachineEventStore = "store";             // watcher, key
inline constexpr const char* kMachineEventPower = "power";             // client, type, argument
inline constexpr const char* kMachineEventApplication = "application"; // listener, kind (0 launched, 1 terminated, 2 front), high, low
inline constexpr const char* kMachineEventAccessibility = "accessibility"; // observer, pid, element, notification
inline constexpr const char* kMachineEventSession = "session";         // listener, resigned, activated

// A service sets kMachinePidVariable (Environment/Environment.h) for the
// programs it starts: their machine process. Who they are they ask the
// service (program.identity).
