#include "Notifications/BusNotificationCarrier.h"

#include "Bus/MessageBus.h"
#include "Foundation/PropertyList.h"
#include "Log/Log.h"
#include "Notifications/DistributedNotificationCenter.h"

#include <sdbus-c++/sdbus-c++.h>

#include <cstdint>
#include <map>
#include <string>
#include <vector>

const char* const kDistributedNotificationsInterface = "org.arvel.DistributedNotifications";

namespace {

const char* const kPostSignal = "Post";
const char* const kCarrierPath = "/org/arvel/DistributedNotifications";
// Notifications are small; a larger payload is not one of ours.
constexpr std::size_t kMaxPayloadBytes = 1024 * 1024;
// Nor is a longer name; it is not echoed into the log either.
constexpr std::size_t kMaxNameBytes = 1024;

// What the carrier keeps while it listens: a match rule on the bus for each
// name the program's centres observe, and one rule for every post (asked
// for as the name "") while some observed name is heard through it: any
// name, or a name a rule cannot quote the same way for the bus library and
// the bus daemon (a quote or a backslash in it; such a name is the
// system's own, not a user's).
struct Listening {
    struct Rule {
        std::size_t names = 0; // the observed names heard through it
        sdbus::Slot slot;
    };
    MessageBus* bus;
    DistributedNotificationHub* hub;
    std::map<std::string, Rule> rules;

    bool hearsEverything() const
    {
        auto it = rules.find({});
        return it != rules.end() && it->second.slot;
    }
};

bool isHeardThroughEverything(const std::string& name)
{
    return name.empty() || name.find_first_of("'\\") != std::string::npos;
}

std::string ruleFor(const std::string& name)
{
    std::string rule = std::string("type='signal',interface='") + kDistributedNotificationsInterface + "',member='" + kPostSignal + "'";
    if (!name.empty())
        rule += ",arg0='" + name + "'";
    return rule;
}

void hear(Listening& listening, sdbus::Message& message)
{
    if (message.getSender() == listening.bus->uniqueName())
        return;
    std::string name;
    std::optional<std::string_view> payload;
    std::uint32_t session = 0;
    bool all = false;
    try {
        message >> name;
        payload = readByteArray(message);
        if (payload)
            message >> session >> all;
    } catch (const sdbus::Error&) {
        payload.reset();
    }
    // A missing argument reads as nothing rather than throwing.
    if (!payload || !message) {
        logError("DistributedNotificationCenter error: Dropped a post of the wrong shape from \"%s\".\n", message.getSender());
        return;
    }
    if (name.size() > kMaxNameBytes) {
        logError("DistributedNotificationCenter error: Dropped a post with a name of %u bytes from \"%s\".\n",
            static_cast<unsigned>(name.size()), message.getSender());
        return;
    }
    if (payload->size() > kMaxPayloadBytes) {
        logError("DistributedNotificationCenter error: Dropped \"%@\" from \"%s\": its payload of %u bytes is too large.\n", name,
            message.getSender(), static_cast<unsigned>(payload->size()));
        return;
    }
    std::optional<Value> decoded = propertyListFromData(*payload);
    if (!decoded || !decoded->isDictionary()) {
        logError("DistributedNotificationCenter error: Dropped \"%@\" from \"%s\": its payload is not a dictionary.\n", name, message.getSender());
        return;
    }
    Value object = (*decoded)["object"];
    Value userInfo = (*decoded)["userInfo"];
    Notification notification {name, object.isString() ? object : Value(), nullptr, userInfo.isDictionary() ? userInfo : Value()};
    listening.hub->deliverLocally(session, notification, all);
}

} // namespace

bool BusNotificationCarrier::attach(DistributedNotificationHub& hub, MessageBus& bus)
{
    try {
        std::shared_ptr<sdbus::IObject> object = sdbus::createObject(bus.connection(), kCarrierPath);
        MessageBus* busPointer = &bus;
        auto listening = std::make_shared<Listening>(Listening {&bus, &hub, {}});
        hub.setInterestWatcher([listening](const std::string& name, bool observed) {
            Listening& heard = *listening;
            const std::string asked = isHeardThroughEverything(name) ? std::string() : name;
            if (!observed) {
                auto it = heard.rules.find(asked);
                if (it != heard.rules.end() && --it->second.names == 0)
                    heard.rules.erase(it);
                return;
            }
            Listening::Rule& rule = heard.rules[asked];
            if (rule.names++ > 0 || heard.bus->isLost())
                return;
            try {
                rule.slot = heard.bus->connection().addMatch(ruleFor(asked), [listening = &heard, asked](sdbus::Message& message) {
                    // While the rule for every post stands, it alone hears them.
                    if (!asked.empty() && listening->hearsEverything())
                        return;
                    hear(*listening, message);
                });
            } catch (const sdbus::Error& error) {
                logError("DistributedNotificationCenter error: Unable to listen for \"%@\": %s\n", name, error.getMessage());
            }
        });

        hub.setForwarder([object, busPointer](std::uint32_t fromSession, const Notification& notification, bool all) {
            // Once the bus is gone, posts stay in this program without a
            // word each: the loss was said once.
            if (busPointer->isLost())
                return;
            Value::Dictionary payload;
            if (notification.object.isString())
                payload["object"] = notification.object;
            if (notification.userInfo.isDictionary())
                payload["userInfo"] = notification.userInfo;
            std::optional<std::string> data = binaryPropertyListData(Value(payload));
            if (!data) {
                logError("DistributedNotificationCenter error: \"%@\" cannot travel.\n", notification.name);
                return;
            }
            try {
                auto signal = object->createSignal(kDistributedNotificationsInterface, kPostSignal);
                signal << notification.name;
                appendByteArray(signal, *data);
                signal << fromSession << all;
                object->emitSignal(signal);
            } catch (const sdbus::Error& error) {
                logError("DistributedNotificationCenter error: Unable to post \"%@\": %s\n", notification.name, error.getMessage());
            }
            busPointer->service();
        });
    } catch (const sdbus::Error& error) {
        logError("DistributedNotificationCenter error: Unable to reach the bus: %s\n", error.getMessage());
        return false;
    }
    bus.service();
    return true;
}
