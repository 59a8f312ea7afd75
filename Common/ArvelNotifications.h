// The names of every notification the system posts, each spelled once.
//
// In the daemon, on its local centre:
//   ConsoleUserLogin    the console user's id, once his preferences folder exists
//   ConsoleUserLogout   nil; nobody is left on the console
//   SystemWake          the id of the user on the console at sleep, or nil
//   DriverLoaded        nil; the driver came back (not for the first load)
//   DriverUnloaded      nil
// Between processes, on the distributed centre:
//   DriverStateChange   nil; the daemon pushed a configuration, to every login session
//   PrefChange          nil; the pane saved a change, to the agent of its own login session
// In the agent, on its local centre, with the object {"psnhigh", "psnlow"}
// (the serial number of the application concerned):
//   AppSwitch, AppLaunched, AppTerminated
//
// The daemon's names stay with the others: which centre a notification
// travels on, not its header, keeps it within the daemon, and the tests and
// the demo that watch the daemon use the same spelling.
#pragma once

inline constexpr const char* kArvelConsoleUserLoginNotification = "com.tessmoor.Arvel.ConsoleUserLogin";
inline constexpr const char* kArvelConsoleUserLogoutNotification = "com.tessmoor.Arvel.ConsoleUserLogout";
inline constexpr const char* kArvelSystemWakeNotification = "com.tessmoor.Arvel.SystemWake";
inline constexpr const char* kArvelDriverLoadedNotification = "com.tessmoor.Arvel.DriverLoaded";
inline constexpr const char* kArvelDriverUnloadedNotification = "com.tessmoor.Arvel.DriverUnloaded";

inline constexpr const char* kArvelDriverStateChangeNotification = "com.tessmoor.Arvel.DriverStateChange";
inline constexpr const char* kArvelPrefChangeNotification = "com.tessmoor.Arvel.PrefChange";

inline constexpr const char* kArvelAppSwitchNotification = "com.tessmoor.Arvel.AppSwitch";
inline constexpr const char* kArvelAppLaunchedNotification = "com.tessmoor.Arvel.AppLaunched";
inline constexpr const char* kArvelAppTerminatedNotification = "com.tessmoor.Arvel.AppTerminated";
