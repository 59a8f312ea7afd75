#include "ArvelDriverAccess.h"

#include "Common/ArvelNotifications.h"
#include "Log/Log.h"
#include "Notifications/NotificationCenter.h"
#include "RunLoop/Clock.h"
#include "RunLoop/RunLoop.h"

#include <cstdint>
#include <mutex>

namespace {

// Held around every use of the connection and of the service's registry
// properties, always alone. Made before any instance, so that it outlives
// the shared instance when the program ends.
std::mutex driverLock;
// The user-client connection, shared by every instance; 0 when closed.
io_connect_t driverConnection = 0;

void driverLoadCallback(void* context, io_iterator_t iterator)
{
    io_service_t service = IOIteratorNext(iterator);
    if (!service)
        return;
    if (context) {
        // The driver's service is matched before the driver is ready for its
        // clients; give it a moment.
        platformSleep(1.0);
        static_cast<ArvelDriverAccess*>(context)->_driverDidLoad(service);
    }
    while (io_service_t more = IOIteratorNext(iterator))
        IOObjectRelease(more);
}

void driverUnloadCallback(void* context, io_iterator_t iterator)
{
    if (context)
        static_cast<ArvelDriverAccess*>(context)->_driverDidUnload();
    while (io_service_t gone = IOIteratorNext(iterator))
        IOObjectRelease(gone);
}

} // namespace

bool ArvelDriverAccess::init()
{
    IOMasterPort(MACH_PORT_NULL, &masterPort);
    if (!masterPort) {
        logError("ArvelDriverAccess error: Unable to establish communication port with IOKit.\n");
        return false;
    }
    notifyPort = IONotificationPortCreate(masterPort);
    if (!notifyPort) {
        logError("ArvelDriverAccess error: Unable to establish notification port with IOKit.\n");
        return false;
    }
    notifyRunSource = IONotificationPortGetRunLoopSource(notifyPort);
    if (!notifyRunSource) {
        logError("ArvelDriverAccess error: Unable to establish notification runloop source with IOKit.\n");
        return false;
    }
    RunLoop::current().addSource(notifyRunSource, kDefaultRunLoopMode);

    kern_return_t r = IOServiceAddMatchingNotification(notifyPort, kIOMatchedNotification, IOServiceMatching("Arvel"),
        driverLoadCallback, this, &driverLoadIter);
    if (r != KERN_SUCCESS) {
        logError("ArvelDriverAccess error: Unable to establish driver load notification with IOKit 0x%x.\n", r);
        return false;
    }
    r = IOServiceAddMatchingNotification(notifyPort, kIOTerminatedNotification, IOServiceMatching("Arvel"),
        driverUnloadCallback, this, &driverUnloadIter);
    if (r != KERN_SUCCESS) {
        logError("ArvelDriverAccess error: Unable to establish driver unload notification with IOKit 0x%x.\n", r);
        return false;
    }

    // Iterating both notifications to their end arms them; a driver that is
    // already loaded is taken up here, one-second wait included.
    driverUnloadCallback(this, driverUnloadIter);
    driverLoadCallback(this, driverLoadIter);
    return true;
}

// Whatever init got before it failed is given back here, as on a normal end.
ArvelDriverAccess::~ArvelDriverAccess()
{
    _closeConnection();
    if (driverService) {
        IOObjectRelease(driverService);
        driverService = 0;
    }
    // Destroying the port invalidates its source, which every run loop then
    // drops; the object may go after the thread's run loop has.
    if (notifyPort) {
        IONotificationPortDestroy(notifyPort);
        notifyPort = nullptr;
    }
    notifyRunSource.reset();
    if (driverLoadIter)
        IOObjectRelease(driverLoadIter);
    if (driverUnloadIter)
        IOObjectRelease(driverUnloadIter);
    if (masterPort)
        mach_port_deallocate(mach_task_self(), masterPort);
}

void ArvelDriverAccess::_closeConnection()
{
    if (driverConnection) {
        std::lock_guard lock(driverLock);
        IOServiceClose(driverConnection);
        driverConnection = 0;
    }
}

void ArvelDriverAccess::_driverDidLoad(io_service_t service)
{
    if (!service) {
        logError("ArvelDriverAccess error: Driver load was not passed a service.\n");
        return;
    }
    if (driverConnection) {
        logError("ArvelDriverAccess error: Driver load already had a client connection.\n");
        _closeConnection();
    }
    if (driverService) {
        logError("ArvelDriverAccess error: Driver load already had a service.\n");
        IOObjectRelease(driverService);
    }
    driverService = service;

    kern_return_t r;
    {
        std::lock_guard lock(driverLock);
        r = IOServiceOpen(driverService, mach_task_self(), 0, &driverConnection);
    }
    if (r != KERN_SUCCESS) {
        logError("ArvelDriverAccess error: Driver load unable to connect to driver client 0x%x.\n", r);
        driverConnection = 0;
    }

    if (!pastFirstLoad) {
        logNotice("ArvelDriverAccess: Driver initial load.\n");
        pastFirstLoad = true;
    } else {
        logNotice("ArvelDriverAccess: Driver was loaded.\n");
        NotificationCenter::defaultCenter().postNotificationName(kArvelDriverLoadedNotification, Value(), Value(), this);
    }
}

void ArvelDriverAccess::_driverDidUnload()
{
    _closeConnection();
    if (driverService) {
        IOObjectRelease(driverService);
        driverService = 0;
    }
    if (pastFirstLoad) {
        logNotice("ArvelDriverAccess: Driver was unloaded.\n");
        NotificationCenter::defaultCenter().postNotificationName(kArvelDriverUnloadedNotification, Value(), Value(), this);
    }
}

bool ArvelDriverAccess::driverAvailable()
{
    return driverService && driverConnection;
}

bool ArvelDriverAccess::callDriver(std::uint32_t index, const char* name, std::optional<int> input)
{
    if (!driverService || !driverConnection) {
        logError("ArvelDriverAccess error: %s unavailable, no client connection.\n", name);
        return false;
    }
    kern_return_t r;
    {
        std::lock_guard lock(driverLock);
        r = input ? IOConnectMethodScalarIScalarO(driverConnection, index, 1, 0, *input)
                  : IOConnectMethodScalarIScalarO(driverConnection, index, 0, 0);
    }
    if (r != KERN_SUCCESS) {
        logError("ArvelDriverAccess error: %s failed 0x%x.\n", name, r);
        return false;
    }
    return true;
}

bool ArvelDriverAccess::userOnConsole()
{
    return callDriver(0, "userOnConsole");
}

bool ArvelDriverAccess::userOffConsole()
{
    return callDriver(1, "userOffConsole");
}

bool ArvelDriverAccess::resetDriverToDefaultCalibration()
{
    return callDriver(5, "resetDriverToDefaultCalibration");
}

bool ArvelDriverAccess::resetDriverObservedGeometry()
{
    return callDriver(6, "resetDriverObservedGeometry");
}

void ArvelDriverAccess::setCalibrationInProgress(bool inProgress)
{
    // The driver is told exactly 1 or 0, whatever true value came in.
    callDriver(8, "setCalibrationInProgress", inProgress ? 1 : 0);
}

Value ArvelDriverAccess::readDriverObservedGeometry()
{
    if (!driverService || !driverConnection) {
        logError("ArvelDriverAccess error: readDriverObservedGeometry unavailable, no client connection.\n");
        return {};
    }
    std::int32_t geometry[4] = {0, 0, 0, 0};
    IOByteCount size = sizeof geometry;
    kern_return_t r;
    {
        std::lock_guard lock(driverLock);
        r = IOConnectMethodScalarIStructureO(driverConnection, 7, 0, &size, geometry);
    }
    if (r != KERN_SUCCESS) {
        logError("ArvelDriverAccess error: readDriverObservedGeometry failed 0x%x.\n", r);
        return {};
    }
    return Value::dictionary({{"MinX", geometry[0]}, {"MinY", geometry[1]}, {"MaxX", geometry[2]}, {"MaxY", geometry[3]}});
}

Value ArvelDriverAccess::currentCalibration()
{
    if (!driverService || !driverConnection) {
        logError("ArvelDriverAccess error: currentCalibration unavailable, no driver loaded.\n");
        return {};
    }
    Value calibration;
    {
        std::lock_guard lock(driverLock);
        calibration = IORegistryEntryCreateCFProperty(driverService, "Calibration", nullptr, 0);
    }
    // A property that is not a dictionary holds no calibration either.
    if (!calibration.isDictionary()) {
        logError("ArvelDriverAccess error: Driver calibration unavailable, found no calibration info.\n");
        return {};
    }
    // The answer ends at the first missing value, as a key/value list would.
    Value answer = Value::dictionary();
    for (const char* key : {"MinX", "MinY", "MaxX", "MaxY"}) {
        if (!calibration.contains(key))
            break;
        answer.set(key, calibration[key]);
    }
    return answer;
}

void ArvelDriverAccess::sendDriverProperties(const Value& properties)
{
    if (properties.isNil()) {
        logError("ArvelDriverAccess error: Passed nil driver properties.\n");
        return;
    }
    // An open connection is not needed to write registry properties.
    if (!driverService) {
        logError("ArvelDriverAccess error: Driver properties could not be sent, driver is not loaded.\n");
        return;
    }
    verboseNotice("ArvelDriverAccess: Sending properties %@", properties);
    kern_return_t r;
    {
        std::lock_guard lock(driverLock);
        r = IORegistryEntrySetCFProperties(driverService, properties);
    }
    if (r != KERN_SUCCESS)
        logError("ArvelDriverAccess error: Driver properties could not be written due to kernel error: %x.\n", r);
}
