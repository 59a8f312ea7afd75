// The daemon's in-process notifications, posted on the local notification
// centre. Login carries the user id as its object; the others carry nil.
#pragma once

inline constexpr const char* kArvelConsoleUserLoginNotification = "com.tessmoor.Arvel.ConsoleUserLogin";
inline constexpr const char* kArvelConsoleUserLogoutNotification = "com.tessmoor.Arvel.ConsoleUserLogout";
inline constexpr const char* kArvelDriverLoadedNotification = "com.tessmoor.Arvel.DriverLoaded";
inline constexpr const char* kArvelDriverUnloadedNotification = "com.tessmoor.Arvel.DriverUnloaded";
