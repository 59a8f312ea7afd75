// NotificationCenter: the local (in-process) notification centre.
//
// An observer registers a callback for a name and a sender; an empty name
// means any name and a null sender any sender. Posting is synchronous: every
// matching observer runs before post() returns, in the order they were
// added. An observer removed while a post is under way is not called after
// its removal; one added during a post first hears the next post.
#pragma once

#include "Foundation/Value.h"

#include <cstdint>
#include <functional>
#include <string>
#include <string_view>
#include <vector>

struct Notification {
    std::string name;
    Value object;                  // the payload object (a number, a dictionary, nil)
    const void* sender = nullptr;  // identity of the posting object, for filtering
    Value userInfo;
};

class NotificationCenter {
public:
    using Callback = std::function<void(const Notification&)>;

    static NotificationCenter& defaultCenter();

    void addObserver(const void* observer, Callback callback, std::string_view name = {}, const void* sender = nullptr);
    // Removes the observer from everything it observes.
    void removeObserver(const void* observer);
    // Removes the observer's registrations matching name (empty: any) and
    // sender (null: any).
    void removeObserver(const void* observer, std::string_view name, const void* sender = nullptr);

    void post(const Notification& notification);
    void postNotificationName(std::string name, Value object = {}, Value userInfo = {}, const void* sender = nullptr);

    std::size_t observerCount() const { return registrations_.size(); }
    void removeAllObserversForTesting() { registrations_.clear(); }

private:
    struct Registration {
        std::uint64_t id;
        const void* observer;
        std::string name;
        const void* sender;
        Callback callback;
    };
    std::vector<Registration> registrations_;
    std::uint64_t nextId_ = 1;
};
