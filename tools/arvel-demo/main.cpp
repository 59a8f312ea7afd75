// arvel-demo: the daemon on the simulated machine, step by step.
//
// A scripted scenario runs in this one process on a virtual clock, so it
// takes no real time: the machine boots with the trackpad driver loaded and
// arveld starts; alice, whose settings an earlier version stored, logs in
// and gets her configuration; the machine sleeps and wakes; the driver is
// reloaded; a client calls the daemon's published driver access; alice logs
// out and the login window's configuration applies; bob, new on the
// machine, logs in and his home folder appears 2 s later.
//
// The disk root is $ARVEL_ROOT when set (scripts/demo lays out the stored
// settings there with arvel-defaults first), else a temporary folder.
// After each step the demo prints the daemon's log lines (with the virtual
// time they were written at and their syslog priority), the notifications
// the daemon posted, and what the HID system and the driver hold.
#include "Common/ArvelDriverAccessProxy.h"
#include "Common/ArvelNotifications.h"
#include "Daemon/arveld.h"
#include "Environment/Environment.h"
#include "Foundation/Format.h"
#include "Log/Log.h"
#include "Notifications/DistributedNotificationCenter.h"
#include "Notifications/NotificationCenter.h"
#include "Paths/DiskRoot.h"
#include "RunLoop/Clock.h"
#include "RunLoop/RunLoop.h"
#include "machine/Machine.h"

#include <cstdio>
#include <cstdlib>
#include <filesystem>
#include <memory>
#include <string>
#include <vector>

namespace {

double bootDate = 0;

// Holds the daemon's lines until the step is printed.
class StepLog final : public LogSink {
public:
    void write(LogChannel, int priority, const std::string& message) override
    {
        lines_.push_back(stringWithFormat("  %7.3f  %-8s %@", currentDate() - bootDate,
            priority == kLogPriorityError ? "<err>" : "<notice>", trimLogMessage(message)));
    }
    void add(std::string line) { lines_.push_back(std::move(line)); }
    void flush()
    {
        if (lines_.empty())
            std::printf("  (nothing logged)\n");
        for (const auto& line : lines_)
            std::printf("%s\n", line.c_str());
        lines_.clear();
    }

private:
    std::vector<std::string> lines_;
};

void runFor(double seconds)
{
    RunLoop::current().runUntilDate(currentDate() + seconds);
}

void step(const char* title)
{
    std::printf("\n== %s\n", title);
}

// A multi-line description: its first line after "--", the rest under it.
void printBlock(const std::string& text)
{
    bool first = true;
    for (std::size_t at = 0; at < text.size();) {
        std::size_t end = text.find('\n', at);
        if (end == std::string::npos)
            end = text.size();
        std::printf("  %s%s\n", first ? "-- " : "   ", text.substr(at, end - at).c_str());
        first = false;
        at = end + 1;
    }
}

void show(StepLog& log)
{
    auto& m = machine::Machine::shared();
    log.flush();
    printBlock(m.console().describe());
    printBlock(m.hidSystem().describe());
    printBlock(m.driver().describe());
}

} // namespace

int main()
{
    std::string root;
    bool ownRoot = false;
    if (std::optional<std::string> given = environmentValue(kDiskRootVariable)) {
        root = *given;
    } else {
        root = (std::filesystem::temp_directory_path() / "arvel-demo-XXXXXX").string();
        if (!mkdtemp(root.data())) {
            std::perror("arvel-demo: cannot make a disk root");
            return 1;
        }
        ownRoot = true;
    }
    setDiskRoot(root);
    ScopedVirtualClock clock;
    bootDate = currentDate();
    auto log = std::make_shared<StepLog>();
    setLogSink(log);

    int token = 0;
    for (const char* name : {kArvelConsoleUserLoginNotification, kArvelConsoleUserLogoutNotification,
             kArvelDriverLoadedNotification, kArvelDriverUnloadedNotification, kArvelSystemWakeNotification}) {
        NotificationCenter::defaultCenter().addObserver(
            &token,
            [log](const Notification& n) {
                log->add(stringWithFormat("  %7.3f  %-8s %@ %@", currentDate() - bootDate, "(posted)", n.name, n.object));
            },
            name);
    }

    auto& m = machine::Machine::shared();
    m.users().addUser("alice", 501);
    m.users().addUser("bob", 502);
    // What the daemon tells the login sessions.
    DistributedNotificationCenter sessions(101);
    sessions.addObserver(&token, [log](const Notification& n) {
        log->add(stringWithFormat("  %7.3f  %-8s %@ (to every login session)", currentDate() - bootDate, "(posted)", n.name));
    });
    std::printf("arvel-demo: arveld on the simulated machine (disk root %s, virtual time in seconds)\n", root.c_str());

    step("boot: the trackpad driver is loaded, nobody is logged in; arveld starts as root");
    m.driver().load();
    m.console().showLoginWindow();
    Arveld daemon;
    if (daemon.startUp() != 0) {
        log->flush();
        std::printf("arvel-demo: the daemon did not start\n");
        return 1;
    }
    runFor(1);
    show(*log);

    step("alice logs in: her settings were stored by an earlier version");
    m.console().login("alice");
    runFor(1);
    show(*log);

    step("the machine sleeps for an hour and wakes");
    m.power().sleep();
    runFor(3600);
    m.power().wake();
    runFor(1);
    log->add(stringWithFormat("  %7.3f  %-8s %u power messages, every one acknowledged: %s", currentDate() - bootDate, "(world)",
        static_cast<unsigned>(m.power().messages().size()), m.power().everyMessageAcknowledged() ? "yes" : "no"));
    show(*log);

    step("the driver is reloaded");
    m.driver().unload();
    m.driver().load();
    runFor(2);
    show(*log);

    step("a client (the pane) calibrates through the daemon's published driver access");
    if (auto pane = ArvelDriverAccessProxy::proxyForRegisteredName()) {
        log->add(stringWithFormat("  %7.3f  %-8s driverAvailable = %s", currentDate() - bootDate, "(client)",
            pane->driverAvailable() ? "YES" : "NO"));
        pane->resetDriverObservedGeometry();
        pane->setCalibrationInProgress(true);
        m.driver().touch(140, 2250);
        m.driver().touch(2830, 110);
        log->add(stringWithFormat("  %7.3f  %-8s readDriverObservedGeometry = %@", currentDate() - bootDate, "(client)",
            pane->readDriverObservedGeometry()));
        pane->setCalibrationInProgress(false);
        pane->sendDriverProperties(Value::dictionary({{"ApplicationSet", Value::dictionary()}}));
    }
    runFor(1);
    show(*log);

    step("alice logs out: the login window is back");
    m.console().showLoginWindow();
    runFor(1);
    show(*log);

    step("bob, new on this machine, logs in; his home folder appears 2 s later");
    m.console().login("bob");
    auto homeFolder = Timer::scheduledTimer(2.0, false, [&](Timer&) {
        m.createHomeFolder("bob");
        log->add(stringWithFormat("  %7.3f  %-8s the home folder /Users/bob/Library/Preferences appears", currentDate() - bootDate,
            "(world)"));
    });
    runFor(3);
    show(*log);

    setLogSink(nullptr);
    if (ownRoot) {
        std::error_code ignored;
        std::filesystem::remove_all(root, ignored);
    }
    return 0;
}
