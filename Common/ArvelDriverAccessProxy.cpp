#include "ArvelDriverAccessProxy.h"

#include "DistributedObjects/Connection.h"

using P = ArvelDriverAccessProtocol;

std::shared_ptr<ArvelDriverAccessProxy> ArvelDriverAccessProxy::proxyForRegisteredName(const std::string& name)
{
    // Only root's daemon is talked to: a name taken by anyone else is refused.
    auto object = Connection::rootProxyForConnectionWithRegisteredNameHost(name, {}, Connection::ServedBy::Root);
    return object ? std::make_shared<ArvelDriverAccessProxy>(std::move(object)) : nullptr;
}

std::shared_ptr<Connection> ArvelDriverAccessProxy::connectionForProxy() const
{
    return proxy_.distantObject() ? proxy_.distantObject()->connectionForProxy() : nullptr;
}

bool ArvelDriverAccessProxy::driverAvailable()
{
    return proxy_.invoke(&P::driverAvailable);
}

bool ArvelDriverAccessProxy::userOnConsole()
{
    return proxy_.invoke(&P::userOnConsole);
}

bool ArvelDriverAccessProxy::userOffConsole()
{
    return proxy_.invoke(&P::userOffConsole);
}

void ArvelDriverAccessProxy::sendDriverProperties(const Value& properties)
{
    proxy_.invoke(&P::sendDriverProperties, properties);
}

Value ArvelDriverAccessProxy::currentCalibration()
{
    return proxy_.invoke(&P::currentCalibration);
}

bool ArvelDriverAccessProxy::resetDriverToDefaultCalibration()
{
    return proxy_.invoke(&P::resetDriverToDefaultCalibration);
}

bool ArvelDriverAccessProxy::resetDriverObservedGeometry()
{
    return proxy_.invoke(&P::resetDriverObservedGeometry);
}

Value ArvelDriverAccessProxy::readDriverObservedGeometry()
{
    return proxy_.invoke(&P::readDriverObservedGeometry);
}

void ArvelDriverAccessProxy::setCalibrationInProgress(bool inProgress)
{
    proxy_.invoke(&P::setCalibrationInProgress, inProgress);
}
