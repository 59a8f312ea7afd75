// hostile-client VERB [ARGUMENT...]: what another user of the machine may
// try against the daemon over the bus named by the environment, run with
// that user's ids by the tests.
//   own NAME         asks the bus for NAME; prints "owned", or the name of
//                    the bus's refusal
//   calibrate MINX MINY MAXX MAXY
//                    sets the machine-wide calibration through the daemon's
//                    store and saves it; prints the calibration the store
//                    then answers
//   off-console      tells the driver that nobody is on the console;
//                    prints the answer, YES or NO
//   proxy NAME       prints "proxy" when a driver access proxy for NAME is
//                    had, "none" when not
// Exits 0 when the verb was tried, 1 when there was no bus or no daemon.
#include "Bus/MessageBus.h"
#include "Common/ArvelDriverAccessProxy.h"
#include "Common/ArvelSystemDefaultsProxy.h"
#include "Log/Log.h"

#include <sdbus-c++/sdbus-c++.h>

#include <cstdio>
#include <cstdlib>
#include <string>
#include <vector>

int main(int argc, char** argv)
{
    const std::vector<std::string> words(argv + 1, argv + argc);
    const std::string verb = words.empty() ? "" : words[0];
    setLogChannel(LogChannel::Console);
    MessageBus* bus = MessageBus::shared();
    if (!bus) {
        std::printf("no bus\n");
        return 1;
    }
    if (verb == "own" && words.size() == 2) {
        try {
            bus->connection().requestName(words[1]);
            std::printf("owned\n");
        } catch (const sdbus::Error& error) {
            std::printf("%s\n", error.getName().c_str());
        }
        return 0;
    }
    if (verb == "calibrate" && words.size() == 5) {
        auto store = ArvelSystemDefaultsProxy::proxyForRegisteredName();
        if (!store) {
            std::printf("no daemon\n");
            return 1;
        }
        store->setCalibration(Value::dictionary({{"MinX", std::atoi(words[1].c_str())}, {"MinY", std::atoi(words[2].c_str())},
            {"MaxX", std::atoi(words[3].c_str())}, {"MaxY", std::atoi(words[4].c_str())}}));
        store->syncToDisk();
        std::printf("%s\n", store->calibration().description().c_str());
        return 0;
    }
    if (verb == "off-console") {
        auto driver = ArvelDriverAccessProxy::proxyForRegisteredName();
        if (!driver) {
            std::printf("no daemon\n");
            return 1;
        }
        std::printf("%s\n", driver->userOffConsole() ? "YES" : "NO");
        return 0;
    }
    if (verb == "proxy" && words.size() == 2) {
        std::printf("%s\n", ArvelDriverAccessProxy::proxyForRegisteredName(words[1]) ? "proxy" : "none");
        return 0;
    }
    std::fprintf(stderr, "usage: hostile-client own NAME | calibrate MINX MINY MAXX MAXY | off-console | proxy NAME\n");
    return 2;
}
