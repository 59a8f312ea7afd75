// The daemon's in-process notifications, posted on the local notification
// centre. Login carries the user id as its object, wake the id of the user
// cached at sleep (or nil); the others carry nil.
#pragma once

inline constexpr const char* kArvelConsoleUserLoginNotification = "com.tessmoor.Arvel.ConsoleUserLogin";
inline constexpr const char* kArvelConsoleUserLogoutNotification = "com.tessmoor.Arvel.ConsoleUserLogout";
inline constexpr const char* kArvelDriverLoadedNotification = "com.tessmoor.Arvel.DriverLoaded";
inline constexpr const char* kArvelDriverUnloadedNotification = "com.tessmoor.Arvel.DriverUnloaded";
inline constexpr const char* kArvelSystemWakeNotification = "com.tessmoor.Arvel.SystemWake";
