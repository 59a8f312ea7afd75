// ArvelConsoleUser: who sits at the console, and the announcements of
// changes.
//
// It watches the console-user key of the configuration store. When a user
// takes the console it waits until the user's preferences folder
// ("~name/Library/Preferences/") exists, polling every 0.5 s at most 60
// times, and only then posts "com.tessmoor.Arvel.ConsoleUserLogin" with the
// user id, so the user's settings can be read. When nobody is left it posts
// "com.tessmoor.Arvel.ConsoleUserLogout" at once. A later login restarts the
// wait; a logout does not stop one that is running.
//
// The login window and an id of 0 under any name but "root" count as no
// user, as does a name that would lead out of the user's home folder.
#pragma once

#include "Foundation/SharedInstance.h"
#include "SystemConfiguration/SCDynamicStore.h"

#include <cstdint>
#include <memory>
#include <optional>
#include <string>

class Timer;

class ArvelConsoleUser : public SharedInstance<ArvelConsoleUser> {
public:
    static constexpr std::uint32_t kNoUserID = 0xFFFFFFFF;

    // The console user value: a short name (none for nobody) and an id
    // (kNoUserID for nobody).
    struct NameAndUID {
        std::optional<std::string> name;
        std::uint32_t uid = kNoUserID;
        bool operator==(const NameAndUID&) const = default;
    };

    ~ArvelConsoleUser();

    NameAndUID consoleUserNameAndUID();
    // A user is on the console and his preferences folder exists.
    bool consoleUserHomeAvailable();
    // Starts, or restarts with a full budget, the wait for the home folder.
    void notifyWhenConsoleUserHomeAvailable();

    // From the store callback: re-reads the console user and announces it.
    void _consoleUserChange();
    // One poll of the wait.
    void _waitForHomeDir(Timer& timer);

    std::string description() const;

private:
    ArvelConsoleUser() = default;
    bool init();
    void stopWaiting();
    // The name, or none when it would lead out of its home (logged once
    // for each such name that appears).
    std::optional<std::string> safeName(const std::string& name);

    SCDynamicStoreRef scSession;
    CFRunLoopSourceRef scRunSource;
    std::shared_ptr<Timer> homeDirWaitTimer;
    std::int32_t homeDirWaitCount = 0;
    std::optional<std::string> refusedName_;

    friend class SharedInstance<ArvelConsoleUser>;
    static constexpr const char* kSharedInstanceFailure
        = "ArvelConsoleUser error: Unable to allocate the shared console user access object.\n";
};
