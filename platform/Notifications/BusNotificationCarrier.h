// BusNotificationCarrier: the distributed notification hub's way out of the
// program when a message bus is configured.
//
// Every post leaves as one broadcast signal, Post(s name, ay payload,
// u session, b deliverToAllSessions), the payload a binary property list
// {"object": string, "userInfo": dictionary} (either absent when nil).
// Each program's carrier asks the bus for the posts of the names its
// centres observe (a rule per name on the first argument; one for every
// post while something observes any name), so a post wakes only the
// programs that observe it. It hands them to its hub, which applies the
// sessions rule as for a local post: without deliverToAllSessions only
// centres of the poster's session get it. A program never hears its own
// posts back: its hub already delivered them.
// A signal that does not fit (another shape, a name over 1 KiB, a payload
// over 1 MiB or not a dictionary) is dropped with one logged line. When the bus
// is lost the carrier stops: posts reach this program's centres only, and
// the one post that may find the loss first logs its one line.
#pragma once

#include <memory>

class DistributedNotificationHub;
class MessageBus;

extern const char* const kDistributedNotificationsInterface; // "org.arvel.DistributedNotifications"

class BusNotificationCarrier {
public:
    // Connects the hub to the bus; false (and the hub stays in process)
    // when the bus cannot be reached.
    static bool attach(DistributedNotificationHub& hub, MessageBus& bus);
};
