// NSWorkspace: the shared workspace and its notification centre.
//
// The workspace centre is a local centre of its own (not the default one).
// When fast user switching moves the console, the program's login session
// hears "NSWorkspaceSessionDidResignActiveNotification" when it leaves the
// console and "NSWorkspaceSessionDidBecomeActiveNotification" when it takes
// it, posted from a run-loop source of the thread that first asked for the
// workspace.
#pragma once

#include "Notifications/NotificationCenter.h"

#include <cstdint>
#include <deque>
#include <memory>
#include <string>

class RunLoopSource;

extern const char* const NSWorkspaceSessionDidBecomeActiveNotification;
extern const char* const NSWorkspaceSessionDidResignActiveNotification;

class NSWorkspace {
public:
    static NSWorkspace& sharedWorkspace();
    // Drops the shared workspace, its observers and queued posts (tests).
    static void resetForTesting();

    ~NSWorkspace();
    NSWorkspace(const NSWorkspace&) = delete;
    NSWorkspace& operator=(const NSWorkspace&) = delete;

    NotificationCenter& notificationCenter() { return centre_; }

private:
    NSWorkspace();
    void deliverQueued();

    NotificationCenter centre_;
    std::deque<std::string> queue_;
    std::shared_ptr<RunLoopSource> source_;
    std::uint64_t sessionListener_ = 0;
};
