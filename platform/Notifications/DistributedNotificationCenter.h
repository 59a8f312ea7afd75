// DistributedNotificationCenter: notifications between processes.
//
// Every centre is attached to one hub (the in-process backend: all centres
// of a test share it; a bus backend carries the same posts between real
// processes). A centre belongs to a login session: a post reaches the
// observers of centres in the poster's session only, or of every session
// when posted with deliverToAllSessions (what the daemon, which runs in no
// login session, uses). A program's own centre is in the login session of
// the program's process on the machine, so the pane's posts reach the agent
// of its own session and no other. Delivery is asynchronous, as between processes: a post is
// queued for each receiving centre and handed to its observers when that
// centre's run loop runs, in the order posted.
//
// The object of a distributed notification is a string or nil; the user
// info a dictionary or nil.
#pragma once

#include "Foundation/Value.h"
#include "Notifications/NotificationCenter.h"
#include "RunLoop/RunLoop.h"

#include <cstdint>
#include <deque>
#include <functional>
#include <map>
#include <memory>
#include <string>
#include <vector>

inline constexpr std::uint32_t kNoLoginSession = 0;

class DistributedNotificationCenter {
public:
    using Callback = std::function<void(const Notification&)>;

    // The centre of this program: created on first use in the login session
    // of the program's process on the machine (kNoLoginSession for a
    // program in none, such as the daemon), scheduled on the run loop of the
    // thread that first asks.
    static DistributedNotificationCenter& defaultCenter();
    // Drops the default centre and every queued post (tests); the next one
    // asks the machine for its session again.
    static void resetForTesting();

    // A centre of its own: tests model another process with one.
    explicit DistributedNotificationCenter(std::uint32_t session, RunLoop& runLoop = RunLoop::current());
    ~DistributedNotificationCenter();
    DistributedNotificationCenter(const DistributedNotificationCenter&) = delete;
    DistributedNotificationCenter& operator=(const DistributedNotificationCenter&) = delete;

    // Observes a name (empty: any) and object string (nil: any).
    void addObserver(const void* observer, Callback callback, std::string_view name = {}, Value object = {});
    void removeObserver(const void* observer);

    void postNotificationName(const std::string& name, Value object = {}, Value userInfo = {}, bool deliverToAllSessions = false);

    std::uint32_t session() const { return session_; }
    // Posts queued for this centre and not yet delivered.
    std::size_t pendingCount() const { return queue_.size(); }

private:
    friend class DistributedNotificationHub;
    void enqueue(const Notification& notification);
    void deliverQueued();

    struct Registration {
        std::uint64_t id;
        const void* observer;
        std::string name;
        Value object;
        Callback callback;
    };
    const std::uint32_t session_;
    std::vector<Registration> registrations_;
    std::deque<Notification> queue_;
    std::shared_ptr<RunLoopSource> source_;
    RunLoop* runLoop_;
    std::uint64_t nextId_ = 1;
};

// The in-process hub every centre attaches to. A bus backend replaces the
// hub's outgoing side; centres and their observers stay as they are.
class DistributedNotificationHub {
public:
    static DistributedNotificationHub& shared();
    void attach(DistributedNotificationCenter* centre);
    void detach(DistributedNotificationCenter* centre);
    void post(std::uint32_t fromSession, const Notification& notification, bool deliverToAllSessions);
    // Posts that arrive from outside this process (a bus), delivered to every
    // centre that the sessions rule lets them reach.
    using Forwarder = std::function<void(std::uint32_t fromSession, const Notification&, bool deliverToAllSessions)>;
    void setForwarder(Forwarder forwarder) { forwarder_ = std::move(forwarder); }
    void deliverLocally(std::uint32_t fromSession, const Notification& notification, bool deliverToAllSessions);

    // The names the centres observe, counted over their observers (an
    // empty name: any). A bus carrier listens for these names alone, so a
    // post wakes only the programs that observe it. The watcher hears every
    // name observed so far when it is set, then each name as its first
    // observer comes and its last goes.
    using InterestWatcher = std::function<void(const std::string& name, bool observed)>;
    void setInterestWatcher(InterestWatcher watcher);
    void observe(const std::string& name);
    void unobserve(const std::string& name);

private:
    std::vector<DistributedNotificationCenter*> centres_;
    Forwarder forwarder_;
    std::map<std::string, std::size_t> interest_;
    InterestWatcher interestWatcher_;
};
