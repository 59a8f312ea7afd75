#include "ArvelDriverAccessProtocol.h"

const DOProtocolDescription<ArvelDriverAccessProtocol>& ArvelDriverAccessProtocol::protocolDescription()
{
    using P = ArvelDriverAccessProtocol;
    static const DOProtocolDescription<P> description("ArvelDriverAccess", {
        doMethod("driverAvailable", &P::driverAvailable),
        doMethod("userOnConsole", &P::userOnConsole),
        doMethod("userOffConsole", &P::userOffConsole),
        doMethod("sendDriverProperties:", &P::sendDriverProperties),
        doMethod("currentCalibration", &P::currentCalibration),
        doMethod("resetDriverToDefaultCalibration", &P::resetDriverToDefaultCalibration),
        doMethod("resetDriverObservedGeometry", &P::resetDriverObservedGeometry),
        doMethod("readDriverObservedGeometry", &P::readDriverObservedGeometry),
        doMethod("setCalibrationInProgress:", &P::setCalibrationInProgress),
    });
    return description;
}
