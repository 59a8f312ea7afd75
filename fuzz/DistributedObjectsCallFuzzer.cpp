// Bytes as a call to the daemon's published objects, as the bus delivers
// one: decoded as the bus transport decodes it, held to the daemon's rules
// for the caller, and run: whatever a client sends, the daemon neither
// crashes nor hangs.
//
// The input is one byte naming the caller (0 root, 1 alice on the console,
// anything else carol), one byte naming the object (even: the driver
// access, odd: the system defaults), the selector up to a newline, then the
// arguments' bytes.
#include "Common/ArvelDriverAccessProtocol.h"
#include "Common/ArvelSystemDefaultsProtocol.h"
#include "DistributedObjects/BusConnectionTransport.h"
#include "DistributedObjects/Connection.h"
#include "DistributedObjects/PortNameServer.h"
#include "fuzz/FuzzedDaemon.h"

#include <cstdint>
#include <memory>
#include <string>
#include <string_view>


extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size)
{
    static FuzzedDaemon* world = new FuzzedDaemon;
    if (size < 2)
        return 0;
    std::string_view input(reinterpret_cast<const char*>(data), size);
    const std::uint32_t caller = input[0] == 0 ? 0 : input[0] == 1 ? 501 : 503;
    const char* name = input[1] % 2 == 0 ? kArvelDriverAccessName : kArvelSystemDefaultsName;
    input.remove_prefix(2);
    std::size_t end = input.find('\n');
    std::string selector(input.substr(0, end));
    std::string_view arguments = end == std::string_view::npos ? std::string_view() : input.substr(end + 1);

    std::string refusal;
    if (auto invocation = decodeInvocation(selector, arguments, refusal)) {
        if (auto served = PortNameServer::systemDefaultPortNameServer().connectionForName(name))
            served->receiveInvocation(*invocation, caller);
    }
    world->settle();
    return 0;
}
