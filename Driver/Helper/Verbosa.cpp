#include "Verbosa.h"

#include "IOKit/IOKitLib.h"
#include "Log/Log.h"

#include <cstring>
#include <string>

namespace {

// puts: the text and its newline.
void putLine(const std::string& text)
{
    logMessage(kLogPriorityNotice, text + "\n");
}

// printf of a fixed text: no newline of its own.
void printError(const std::string& text)
{
    logMessage(kLogPriorityError, text);
}

} // namespace

namespace Verbosa {

int run(int argc, const char* const argv[])
{
    const char* word = argc > 1 ? argv[1] : nullptr;
    const bool on = word && std::strcmp(word, "on") == 0;
    if (!on && !(word && std::strcmp(word, "off") == 0)) {
        putLine("Arvel driver debug logging.\n\n\tVerbosa [on | off]\n");
        putLine("Note that debug logging is _extremely_ verbose and will overflow your logs.");
        putLine("Only enable logging if instructed to do so by tech support.\n");
        return -1;
    }
    putLine(on ? "Arvel driver debug logging ON." : "Arvel driver debug logging OFF.");

    mach_port_t masterPort = 0;
    IOMasterPort(0, &masterPort);
    if (!masterPort) {
        printError("ERROR: Unable to obtain IOKit master port.");
        return -1;
    }
    io_service_t service = IOServiceGetMatchingService(masterPort, IOServiceMatching("Arvel"));
    if (!service) {
        IOObjectRelease(masterPort);
        printError("ERROR: Unable to obtain driver service.");
        return -1;
    }
    kern_return_t result = IORegistryEntrySetCFProperty(service, "DebugLogging", Value(on));
    IOObjectRelease(service);
    IOObjectRelease(masterPort);
    if (result != 0) {
        printError("ERROR: Unable to send driver message.");
        return -1;
    }
    return 0;
}

} // namespace Verbosa
