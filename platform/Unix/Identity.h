// The process-identity calls the system makes, under their POSIX names in
// namespace posix: they act on the machine's notion of who the running
// program is, so a test can start the daemon "as" any user and watch it
// switch its effective id.
#pragma once

#include <cstdint>

namespace posix {

using uid_t = std::uint32_t;

uid_t getuid();
uid_t geteuid();
// 0 on success, -1 on failure (an injected "seteuid" failure, or an id that
// a non-root program may not take).
int seteuid(uid_t uid);

} // namespace posix
