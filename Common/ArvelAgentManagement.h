// ArvelAgentManagement: the session agent as a login item of the calling
// user, and running in the calling user's login session. The pane makes
// sure of both each time it is about to be shown; the installer adds the
// item after installing and removes it after uninstalling.
//
// The agent is installed inside the pane bundle (kArvelAgentPath) and is
// recognised among the running applications of the caller's session by a
// name ending in "ArvelSessionAgent". The login items are the caller's
// "loginwindow" domain, key "AutoLaunchedApplicationDictionary": a list of
// {Path, Hide} dictionaries, of which an item whose Path ends with
// "ArvelSessionAgent.app" (wherever it lies) is the agent's. Everything else
// in the domain and in the list is left as it is, whatever it holds; the
// domain is written back only when the list changed, and then whole, for
// the user-defaults object to write what changed. A domain without the
// list (a user whose login window has never written one) is not given one.
//
// Nothing is reported to the caller: every failure is one line of the log.
#pragma once

inline constexpr const char* kArvelAgentPath = "/Library/PreferencePanes/Arvel.prefPane/Contents/Resources/ArvelSessionAgent.app";

// Whether an application of the caller's session is the agent.
bool agentIsRunning();
// Opens the agent unless it is running.
void launchAgent();
// Puts the agent's item {Path = kArvelAgentPath; Hide = YES} first in the
// login items, unless the list holds an agent's item already.
void addAgentToLoginItems();
// Takes every agent's item out of the login items, keeping the others in
// their order.
void removeAgentFromLoginItems();
