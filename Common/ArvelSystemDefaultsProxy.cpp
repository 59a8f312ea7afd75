#include "ArvelSystemDefaultsProxy.h"

#include "DistributedObjects/Connection.h"

using P = ArvelSystemDefaultsProtocol;

std::shared_ptr<ArvelSystemDefaultsProxy> ArvelSystemDefaultsProxy::proxyForRegisteredName(const std::string& name)
{
    // Only root's daemon is talked to: a name taken by anyone else is refused.
    auto object = Connection::rootProxyForConnectionWithRegisteredNameHost(name, {}, Connection::ServedBy::Root);
    return object ? std::make_shared<ArvelSystemDefaultsProxy>(std::move(object)) : nullptr;
}

std::shared_ptr<Connection> ArvelSystemDefaultsProxy::connectionForProxy() const
{
    return proxy_.distantObject() ? proxy_.distantObject()->connectionForProxy() : nullptr;
}

void ArvelSystemDefaultsProxy::syncFromDisk()
{
    proxy_.invoke(&P::syncFromDisk);
}

void ArvelSystemDefaultsProxy::syncToDisk()
{
    proxy_.invoke(&P::syncToDisk);
}

Value ArvelSystemDefaultsProxy::calibration()
{
    return proxy_.invoke(&P::calibration);
}

void ArvelSystemDefaultsProxy::setCalibration(const Value& calibration)
{
    proxy_.invoke(&P::setCalibration, calibration);
}

void ArvelSystemDefaultsProxy::clearCalibration()
{
    proxy_.invoke(&P::clearCalibration);
}

bool ArvelSystemDefaultsProxy::loginwindowTap()
{
    return proxy_.invoke(&P::loginwindowTap);
}

void ArvelSystemDefaultsProxy::setLoginwindowTap(bool on)
{
    proxy_.invoke(&P::setLoginwindowTap, on);
}

Value ArvelSystemDefaultsProxy::hidProperties()
{
    return proxy_.invoke(&P::hidProperties);
}
