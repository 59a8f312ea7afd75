// How the machine link travels between a program's bus link and the
// machine service.
//
// The service publishes one object (kMachineLinkObjectPath) with one
// method and one signal on kMachineLinkInterface:
//   Call(s operation, ay arguments) -> ay answer
//     arguments and answer are binary property-list dictionaries, coded as
//     the operation's row says (machine/link/MachineOperations.h); a call
//     that is not such a call, names no operation or lacks an argument, or
//     carries one of the wrong kind or out of its range, gets an error
//     reply and changes nothing.
//   signal Event(s news, ay payload)
//     one piece of news of one registration (payload a binary
//     property-list dictionary naming the registration), addressed to the
//     program that made the registration alone.
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

// A service sets kMachinePidVariable (Environment/Environment.h) for the
// programs it starts: their machine process. Who they are they ask the
// service (program.identity).
