// Verbosa: turns the trackpad driver's own debug logging on or off, for
// support cases ("Verbosa on", "Verbosa off"; only the first argument is
// read, compared exactly). It sets "DebugLogging" on the driver's registry
// entry. Everything it says goes to standard output; the ON or OFF line
// comes before the driver is reached, so it shows even when the change
// fails. The exit status is 0, or -1 (255) for a bad word or a failure.
#pragma once

namespace Verbosa {

int run(int argc, const char* const argv[]);

} // namespace Verbosa
