// ArvelPrefLaunch: opens the Arvel pane in System Preferences for the user
// it runs as.
//
// Root is refused (System Preferences would run as root and write root's
// settings), and so is a disk without the pane. Otherwise "/usr/bin/open"
// is started on the pane in "/Applications/System Preferences.app" and not
// waited for: whether it opens is open's business. Lines go to syslog.
#pragma once

class ArvelPrefLaunch {
public:
    // The exit status: 0 once open was started, -1 after a logged refusal.
    static int run();
};
