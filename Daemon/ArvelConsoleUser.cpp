#include "ArvelConsoleUser.h"

#include "Common/ArvelNotifications.h"
#include "Foundation/FileManager.h"
#include "Foundation/Format.h"
#include "Log/Log.h"
#include "Notifications/NotificationCenter.h"
#include "RunLoop/RunLoop.h"

namespace {

constexpr double kHomeDirPollInterval = 0.5;
constexpr std::int32_t kHomeDirPollBudget = 60;
constexpr const char* kPreferencesFolderFormat = "~%@/Library/Preferences/";

void consoleUserStoreCallback(SCDynamicStoreRef, const Value&, void* info)
{
    if (!info) {
        logError("ArvelConsoleUser error: SystemConfiguration callback fired, but info block was missing.\n");
        return;
    }
    static_cast<ArvelConsoleUser*>(info)->_consoleUserChange();
}

} // namespace

std::string ArvelConsoleUser::description() const
{
    return stringWithFormat("<ArvelConsoleUser: %p>", static_cast<const void*>(this));
}

bool ArvelConsoleUser::init()
{
    SCDynamicStoreContext context;
    context.info = this;
    scSession = SCDynamicStoreCreate(nullptr, description(), consoleUserStoreCallback, &context);
    if (!scSession) {
        logError("ArvelConsoleUser error: Unable to create SystemConfiguration session.\n");
        return false;
    }
    Value key = SCDynamicStoreKeyCreateConsoleUser(nullptr);
    if (key.isNil()) {
        logError("ArvelConsoleUser error: Unable to get System Configuration key for console user.\n");
        scSession.reset();
        return false;
    }
    if (!SCDynamicStoreSetNotificationKeys(scSession, Value::array({key}), Value())) {
        logError("ArvelConsoleUser error: Unable to install SystemConfiguration notification.\n");
        scSession.reset();
        return false;
    }
    scRunSource = SCDynamicStoreCreateRunLoopSource(nullptr, scSession, 0);
    if (!scRunSource) {
        logError("ArvelConsoleUser error: Unable to obtain SystemConfiguration runloop source.\n");
        scSession.reset();
        return false;
    }
    RunLoop::current().addSource(scRunSource, kDefaultRunLoopMode);
    // Who is on the console at start is the configuration push's business;
    // creating this object announces nothing.
    return true;
}

ArvelConsoleUser::~ArvelConsoleUser()
{
    stopWaiting();
    // An invalid source is dropped by every run loop; the object may go
    // after the thread's run loop has.
    if (scRunSource)
        scRunSource->invalidate();
    scRunSource.reset();
    scSession.reset();
}

std::optional<std::string> ArvelConsoleUser::safeName(const std::string& name)
{
    // A slash or a dot-dot would climb out of "~name/Library/Preferences/";
    // a control character would cut or split the path.
    bool safe = !name.empty() && name != "." && name != ".." && name.find('/') == std::string::npos;
    for (unsigned char c : name) {
        if (c < 0x20 || c == 0x7f)
            safe = false;
    }
    if (safe) {
        refusedName_.reset();
        return name;
    }
    if (refusedName_ != name) {
        // Control characters are shown as "?", so the name cannot forge a line.
        std::string printable = name;
        for (char& c : printable) {
            if (static_cast<unsigned char>(c) < 0x20 || c == 0x7f)
                c = '?';
        }
        logError("ArvelConsoleUser error: Console user name \"%@\" would lead out of its home, treating it as no user.\n",
            printable);
        refusedName_ = name;
    }
    return std::nullopt;
}

ArvelConsoleUser::NameAndUID ArvelConsoleUser::consoleUserNameAndUID()
{
    NameAndUID none;
    if (!scSession) {
        logError("ArvelConsoleUser error: consoleUserNameWithUID unavailable, no SystemConfiguration session.\n");
        return none;
    }
    uid_t uid = kNoUserID;
    Value name = SCDynamicStoreCopyConsoleUser(scSession, &uid, nullptr);
    // No name is nobody, whatever the id says.
    if (!name.string()) {
        refusedName_.reset();
        return none;
    }
    // Root at the console is a user; any other name with id 0 is a login
    // mechanism, not a person.
    if (uid == 0 && *name.string() != "root")
        return none;
    if (*name.string() == "loginwindow")
        return none;
    std::optional<std::string> safe = safeName(*name.string());
    if (!safe)
        return none;
    return NameAndUID {safe, uid};
}

bool ArvelConsoleUser::consoleUserHomeAvailable()
{
    NameAndUID user = consoleUserNameAndUID();
    if (!user.name)
        return false;
    std::string path = expandTildeInPath(stringWithFormat(kPreferencesFolderFormat, *user.name));
    // A user the machine cannot place has no home to look in; nothing is
    // probed outside one.
    if (path.empty() || path[0] == '~')
        return false;
    return fileExistsAtPath(path);
}

void ArvelConsoleUser::_consoleUserChange()
{
    NameAndUID user = consoleUserNameAndUID();
    if (user.name && !consoleUserHomeAvailable()) {
        logNotice("ArvelConsoleUser: User \"%@\" UID %u on console, waiting for home directory.\n", *user.name, user.uid);
        notifyWhenConsoleUserHomeAvailable();
    } else if (user.name) {
        logNotice("ArvelConsoleUser: User \"%@\" UID %u on console.\n", *user.name, user.uid);
        NotificationCenter::defaultCenter().postNotificationName(kArvelConsoleUserLoginNotification, Value(user.uid),
            Value(), this);
    } else {
        logNotice("ArvelConsoleUser: No user on console.");
        NotificationCenter::defaultCenter().postNotificationName(kArvelConsoleUserLogoutNotification, Value(), Value(), this);
    }
}

void ArvelConsoleUser::notifyWhenConsoleUserHomeAvailable()
{
    stopWaiting();
    homeDirWaitCount = kHomeDirPollBudget;
    homeDirWaitTimer = Timer::scheduledTimer(kHomeDirPollInterval, true, [this](Timer& timer) { _waitForHomeDir(timer); });
}

void ArvelConsoleUser::_waitForHomeDir(Timer&)
{
    NameAndUID user = consoleUserNameAndUID();
    bool available = consoleUserHomeAvailable();
    if (available) {
        logNotice("ArvelConsoleUser: User \"%@\" UID %u on console, home directory now available.\n", user.name.value_or(""),
            user.uid);
        NotificationCenter::defaultCenter().postNotificationName(kArvelConsoleUserLoginNotification, Value(user.uid),
            Value(), this);
    }
    std::int32_t count = homeDirWaitCount;
    homeDirWaitCount = count - 1;
    if (count <= 0) {
        logError("ArvelConsoleUser error: Waiting for home directory exceeded poll time.\n");
        stopWaiting();
    } else if (available) {
        stopWaiting();
    }
}

void ArvelConsoleUser::stopWaiting()
{
    if (homeDirWaitTimer) {
        if (homeDirWaitTimer->isValid())
            homeDirWaitTimer->invalidate();
        homeDirWaitTimer.reset();
    }
}
