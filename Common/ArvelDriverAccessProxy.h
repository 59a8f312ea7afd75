// ArvelDriverAccessProxy: the driver access protocol on the client side (the
// pane, the session agent). Each call goes to the daemon's published object;
// when the daemon is gone it answers the neutral value (NO, nil, nothing)
// and the connection's death notice follows from the run loop.
#pragma once

#include "ArvelDriverAccessProtocol.h"

#include <memory>
#include <string>

class Connection;

class ArvelDriverAccessProxy final : public ArvelDriverAccessProtocol {
public:
    explicit ArvelDriverAccessProxy(std::shared_ptr<DistantObject> object) : proxy_(std::move(object)) {}
    // The proxy for the daemon's published object, or null when nothing
    // serves the name or root does not (Connection::ServedBy::Root).
    static std::shared_ptr<ArvelDriverAccessProxy> proxyForRegisteredName(const std::string& name = kArvelDriverAccessName);

    bool driverAvailable() override;
    bool userOnConsole() override;
    bool userOffConsole() override;
    void sendDriverProperties(const Value& properties) override;
    Value currentCalibration() override;
    bool resetDriverToDefaultCalibration() override;
    bool resetDriverObservedGeometry() override;
    Value readDriverObservedGeometry() override;
    void setCalibrationInProgress(bool inProgress) override;

    std::string className() const override { return "ArvelDriverAccessProxy"; }
    std::shared_ptr<Connection> connectionForProxy() const;

private:
    DOTypedProxy<ArvelDriverAccessProtocol> proxy_;
};
