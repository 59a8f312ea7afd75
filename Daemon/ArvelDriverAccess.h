// ArvelDriverAccess: the daemon's one gateway to the trackpad's kernel
// driver.
//
// It watches the driver's service appear and disappear (through the I/O
// Kit's matching notifications, served by the daemon's run loop), opens and
// closes the user-client connection, and offers the driver's operations as
// plain methods. The daemon publishes the shared instance; the pane and the
// agent call the same methods through a proxy, the configuration push calls
// them directly.
//
// The first load it sees (normally the driver found already loaded at start)
// is silent; each later load posts "com.tessmoor.Arvel.DriverLoaded" so the
// console user's configuration is pushed again, and each unload after that
// first load posts "com.tessmoor.Arvel.DriverUnloaded".
//
// The user-client connection is process-wide, like the driver lock that
// every use of the connection and of the service's properties holds.
#pragma once

#include "Common/ArvelDriverAccessProtocol.h"
#include "Foundation/SharedInstance.h"
#include "IOKit/IOKitLib.h"

#include <memory>
#include <optional>

class ArvelDriverAccess final : public ArvelDriverAccessProtocol, public SharedInstance<ArvelDriverAccess> {
public:
    ~ArvelDriverAccess() override;

    bool driverAvailable() override;
    bool userOnConsole() override;
    bool userOffConsole() override;
    void sendDriverProperties(const Value& properties) override;
    Value currentCalibration() override;
    bool resetDriverToDefaultCalibration() override;
    bool resetDriverObservedGeometry() override;
    Value readDriverObservedGeometry() override;
    void setCalibrationInProgress(bool inProgress) override;
    std::string className() const override { return "ArvelDriverAccess"; }

    // From the load and unload notifications only.
    void _driverDidLoad(io_service_t service);
    void _driverDidUnload();

private:
    ArvelDriverAccess() = default;
    bool init();
    // One call of the user-client pattern, with no input or one scalar;
    // false after logging.
    bool callDriver(std::uint32_t index, const char* name, std::optional<int> input = std::nullopt);
    // Closes the user-client connection, if one is open, under the lock.
    void _closeConnection();

    mach_port_t masterPort = MACH_PORT_NULL;
    IONotificationPortRef notifyPort = nullptr;
    CFRunLoopSourceRef notifyRunSource;
    io_iterator_t driverLoadIter = 0;
    io_iterator_t driverUnloadIter = 0;
    io_service_t driverService = 0;
    bool pastFirstLoad = false;

    friend class SharedInstance<ArvelDriverAccess>;
    static constexpr const char* kSharedInstanceFailure
        = "ArvelDriverAccess error: Unable to allocate the shared driver access object.\n";
};
