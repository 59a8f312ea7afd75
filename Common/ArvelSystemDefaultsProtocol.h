// The system defaults protocol: what the daemon's store of machine-wide
// settings offers, published under kArvelSystemDefaultsName, to the pane
// through a proxy (the daemon's configuration push calls the store itself).
//
// The daemon's ArvelSystemDefaults implements it; ArvelSystemDefaultsProxy
// implements it on the client side; both are driven by the one table in
// protocolDescription(). A calibration is a geometry dictionary ("MinX",
// "MinY", "MaxX", "MaxY"); nil means none.
#pragma once

#include "DistributedObjects/DOProtocol.h"
#include "Foundation/Value.h"

inline constexpr const char* kArvelSystemDefaultsName = "com.tessmoor.Arvel.DaemonSystemDefaults";

class ArvelSystemDefaultsProtocol : public DOProtocolObject<ArvelSystemDefaultsProtocol> {
public:
    virtual void syncFromDisk() = 0;
    virtual void syncToDisk() = 0;
    virtual Value calibration() = 0;
    virtual void setCalibration(const Value& calibration) = 0;
    virtual void clearCalibration() = 0;
    virtual bool loginwindowTap() = 0;
    virtual void setLoginwindowTap(bool on) = 0;
    // {"Arvel": {"Calibration": ...}} or {"Arvel": {}}.
    virtual Value hidProperties() = 0;

    static const DOProtocolDescription<ArvelSystemDefaultsProtocol>& protocolDescription();
};
