// ArvelSystemDefaultsProxy: the system defaults protocol on the client side
// (the pane). Each call goes to the daemon's published store; when the
// daemon is gone it answers the neutral value (NO, nil, nothing) and the
// connection's death notice follows from the run loop.
#pragma once

#include "ArvelSystemDefaultsProtocol.h"

#include <memory>
#include <string>

class Connection;

class ArvelSystemDefaultsProxy final : public ArvelSystemDefaultsProtocol {
public:
    explicit ArvelSystemDefaultsProxy(std::shared_ptr<DistantObject> object) : proxy_(std::move(object)) {}
    // The proxy for the daemon's published store, or null when nothing
    // serves the name or root does not (Connection::ServedBy::Root).
    static std::shared_ptr<ArvelSystemDefaultsProxy> proxyForRegisteredName(const std::string& name = kArvelSystemDefaultsName);

    void syncFromDisk() override;
    void syncToDisk() override;
    Value calibration() override;
    void setCalibration(const Value& calibration) override;
    void clearCalibration() override;
    bool loginwindowTap() override;
    void setLoginwindowTap(bool on) override;
    Value hidProperties() override;

    std::string className() const override { return "ArvelSystemDefaultsProxy"; }
    std::shared_ptr<Connection> connectionForProxy() const;

private:
    DOTypedProxy<ArvelSystemDefaultsProtocol> proxy_;
};
