// bus-server NAME...: a program that publishes one small object under each
// registered name on the bus named by the environment, then serves calls
// for ever. The object answers "echo:" with its one argument, whatever kind
// it is; "fail" throws, as no object of the system may; anything else it
// does not respond to. Once every name is
// published it writes "ready" on standard output.
#include "Bus/MessageBus.h"
#include "DistributedObjects/Connection.h"
#include "DistributedObjects/DOObject.h"
#include "DistributedObjects/Port.h"
#include "RunLoop/Clock.h"
#include "RunLoop/RunLoop.h"

#include <cstdio>
#include <memory>
#include <stdexcept>
#include <vector>

namespace {

class BusEcho final : public DOObject {
public:
    DispatchResult dispatchInvocation(const std::string& selector, const Value& arguments) override
    {
        if (selector == "fail")
            throw std::runtime_error("the echo broke");
        if (selector != "echo:")
            return {DispatchStatus::NoSuchMethod, {}};
        const Value::Array* list = arguments.arrayValue();
        if (!list || list->size() != 1)
            return {DispatchStatus::BadArguments, {}};
        return {DispatchStatus::Done, (*list)[0]};
    }
    std::string className() const override { return "BusEcho"; }
};

} // namespace

int main(int argc, char** argv)
{
    if (argc < 2 || !MessageBus::shared()) {
        std::fprintf(stderr, "bus-server: no name or no bus\n");
        return 2;
    }
    std::vector<std::shared_ptr<Connection>> connections;
    for (int i = 1; i < argc; ++i) {
        auto port = Port::port();
        auto connection = Connection::connectionWithReceivePortSendPort(port, port);
        if (!connection)
            return 1;
        connection->setRootObject(std::make_shared<BusEcho>());
        if (!connection->registerName(argv[i])) {
            std::fprintf(stderr, "bus-server: \"%s\" is taken\n", argv[i]);
            return 1;
        }
        connections.push_back(connection);
    }
    std::printf("ready\n");
    std::fflush(stdout);
    for (;;)
        RunLoop::current().runUntilDate(currentDate() + 300.0);
}
