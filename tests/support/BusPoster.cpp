// bus-poster SESSION NAME[:all] ...: a program that posts distributed
// notifications on the bus named by the environment, in order, each with
// the object "bus-poster" and the user info {"Index": n}; "all" delivers it
// to every session. SESSION is the login session it posts from, or "-" for
// the program's own centre, in the session of its process on the machine.
// It makes one bus round trip before it ends, so that every post has left.
#include "Bus/MessageBus.h"
#include "Notifications/DistributedNotificationCenter.h"

#include <sdbus-c++/sdbus-c++.h>

#include <cstdio>
#include <cstdlib>
#include <memory>
#include <string>

int main(int argc, char** argv)
{
    if (argc < 2 || !MessageBus::shared()) {
        std::fprintf(stderr, "bus-poster: no session or no bus\n");
        return 2;
    }
    std::unique_ptr<DistributedNotificationCenter> ofSession;
    if (std::string(argv[1]) != "-")
        ofSession = std::make_unique<DistributedNotificationCenter>(static_cast<std::uint32_t>(std::strtoul(argv[1], nullptr, 10)));
    auto& centre = ofSession ? *ofSession : DistributedNotificationCenter::defaultCenter();
    for (int i = 2; i < argc; ++i) {
        std::string name = argv[i];
        bool all = name.size() > 4 && name.ends_with(":all");
        if (all)
            name.resize(name.size() - 4);
        centre.postNotificationName(name, Value("bus-poster"), Value::dictionary({{"Index", Value(i - 1)}}), all);
    }
    auto daemon = sdbus::createProxy(MessageBus::shared()->connection(), "org.freedesktop.DBus", "/org/freedesktop/DBus");
    std::string id;
    daemon->callMethod("GetId").onInterface("org.freedesktop.DBus").storeResultsTo(id);
    return 0;
}
