// The driver access protocol: what the daemon's driver access object offers
// to the configuration push inside the daemon and, published under
// kArvelDriverAccessName, to the pane and the session agent through a proxy.
//
// The daemon's ArvelDriverAccess implements it; ArvelDriverAccessProxy
// implements it on the client side. Both are driven by the one table in
// protocolDescription(). Dictionaries are Values: geometry dictionaries
// carry "MinX", "MinY", "MaxX", "MaxY"; nil means no answer.
#pragma once

#include "DistributedObjects/DOProtocol.h"
#include "Foundation/Value.h"

inline constexpr const char* kArvelDriverAccessName = "com.tessmoor.Arvel.DaemonDriverAccess";

class ArvelDriverAccessProtocol : public DOProtocolObject<ArvelDriverAccessProtocol> {
public:
    // The driver is loaded and the daemon holds a connection to it.
    virtual bool driverAvailable() = 0;
    // Tell the driver that a user is, or nobody is, on the console.
    virtual bool userOnConsole() = 0;
    virtual bool userOffConsole() = 0;
    // Writes a per-application dictionary onto the driver.
    virtual void sendDriverProperties(const Value& properties) = 0;
    // The driver's calibration, nil when it has none.
    virtual Value currentCalibration() = 0;
    virtual bool resetDriverToDefaultCalibration() = 0;
    virtual bool resetDriverObservedGeometry() = 0;
    // The finger extremes seen since the last reset, nil on failure.
    virtual Value readDriverObservedGeometry() = 0;
    virtual void setCalibrationInProgress(bool inProgress) = 0;

    static const DOProtocolDescription<ArvelDriverAccessProtocol>& protocolDescription();
};
