// Launch Services' result codes, with their real values: what opening an
// application answers, on the machine and through LSOpenFromURLSpec.
#pragma once

using LSError = int;

inline constexpr LSError kLSUnknownErr = -10810;
inline constexpr LSError kLSNotAnApplicationErr = -10811;
inline constexpr LSError kLSApplicationNotFoundErr = -10814;
inline constexpr LSError kLSNoLaunchPermissionErr = -10826;
inline constexpr LSError kLSNoExecutableErr = -10827;
