#include "Notifications/NotificationCenter.h"

#include <algorithm>

NotificationCenter& NotificationCenter::defaultCenter()
{
    static NotificationCenter center;
    return center;
}

void NotificationCenter::addObserver(const void* observer, Callback callback, std::string_view name, const void* sender)
{
    if (!observer || !callback)
        return;
    registrations_.push_back({nextId_++, observer, std::string(name), sender, std::move(callback)});
}

void NotificationCenter::removeObserver(const void* observer)
{
    std::erase_if(registrations_, [&](const Registration& r) { return r.observer == observer; });
}

void NotificationCenter::removeObserver(const void* observer, std::string_view name, const void* sender)
{
    std::erase_if(registrations_, [&](const Registration& r) {
        return r.observer == observer && (name.empty() || r.name == name) && (!sender || r.sender == sender);
    });
}

void NotificationCenter::post(const Notification& notification)
{
    // Decide who hears this post before anyone runs; each is then called only
    // if it is still registered when its turn comes.
    std::vector<std::uint64_t> matching;
    for (const auto& r : registrations_) {
        if ((r.name.empty() || r.name == notification.name) && (!r.sender || r.sender == notification.sender))
            matching.push_back(r.id);
    }
    for (std::uint64_t id : matching) {
        auto it = std::find_if(registrations_.begin(), registrations_.end(), [&](const Registration& r) { return r.id == id; });
        if (it == registrations_.end())
            continue;
        Callback callback = it->callback; // the registration may go away while it runs
        callback(notification);
    }
}

void NotificationCenter::postNotificationName(std::string name, Value object, Value userInfo, const void* sender)
{
    post(Notification {std::move(name), std::move(object), sender, std::move(userInfo)});
}
