#include "ArvelSystemDefaultsProtocol.h"

const DOProtocolDescription<ArvelSystemDefaultsProtocol>& ArvelSystemDefaultsProtocol::protocolDescription()
{
    using P = ArvelSystemDefaultsProtocol;
    static const DOProtocolDescription<P> description("ArvelSystemDefaults", {
        doMethod("syncFromDisk", &P::syncFromDisk),
        doMethod("syncToDisk", &P::syncToDisk),
        doMethod("calibration", &P::calibration),
        doMethod("setCalibration:", &P::setCalibration),
        doMethod("clearCalibration", &P::clearCalibration),
        doMethod("loginwindowTap", &P::loginwindowTap),
        doMethod("setLoginwindowTap:", &P::setLoginwindowTap),
        doMethod("hidProperties", &P::hidProperties),
    });
    return description;
}
