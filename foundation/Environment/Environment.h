// The environment variables Arvel's programs read, every one named here, and
// the one way they are read.
//
//   ARVEL_ROOT         the machine's disk root (Paths/DiskRoot.h)
//   ARVEL_BUS_ADDRESS  the message bus between real processes (Bus/MessageBus.h)
//   ARVEL_MACHINE      the bus name of the machine service to reach over it
//   ARVEL_MACHINE_PID  the program's process on that machine, set by the service
//   ARVEL_NO_DETACH    "1": a daemon stays in the foreground with its files
//   ArvelDebug         "YES": verbose log lines (Log/Log.h)
//
// A variable set to the empty string counts as unset. What a variable says
// is only a wish of whoever started the program: nothing here makes a
// program anyone.
#pragma once

#include <optional>
#include <string>

inline constexpr const char* kDiskRootVariable = "ARVEL_ROOT";
inline constexpr const char* kBusAddressVariable = "ARVEL_BUS_ADDRESS";
inline constexpr const char* kMachineServiceVariable = "ARVEL_MACHINE";
inline constexpr const char* kMachinePidVariable = "ARVEL_MACHINE_PID";
inline constexpr const char* kNoDetachVariable = "ARVEL_NO_DETACH";
inline constexpr const char* kDebugVariable = "ArvelDebug";
// The programs with windows: where they show them. With neither display
// named nor a Qt platform chosen they draw offscreen.
inline constexpr const char* kDisplayVariable = "DISPLAY";
inline constexpr const char* kWaylandDisplayVariable = "WAYLAND_DISPLAY";
inline constexpr const char* kQtPlatformVariable = "QT_QPA_PLATFORM";

// The variable's text; nullopt when it is unset or empty.
std::optional<std::string> environmentValue(const char* name);
