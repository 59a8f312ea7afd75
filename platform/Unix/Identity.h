// The process-identity calls the system makes, under their POSIX names in
// namespace posix: they act on the machine's notion of who the running
// program is, so a test can start the daemon "as" any user and watch it
// switch its effective id, or detach.
//
// In process that notion lives in the model, which the tests set. A program
// on a machine service keeps it itself: its ids start as the service says
// (who the bus knows it as, or whom a service that could not switch its
// real ids started it as), else as the host process's.
#pragma once

#include <cstdint>

namespace posix {

using uid_t = std::uint32_t;

uid_t getuid();
uid_t geteuid();
// 0 on success, -1 on failure (an injected "seteuid" failure, "seteuid:<id>"
// for one id only, or an id that
// a non-root program may not take). A program running on the host (see
// adoptHostProcessIdentity) whose host process is really root switches its
// real effective id as well.
int seteuid(uid_t uid);

// daemon(3): 0 on success, -1 on failure (an injected "daemon" failure, or
// the host refusing). Inside a test the program only counts as detached; a
// real program (see adoptHostProcessIdentity) really detaches: nochdir 0
// changes to the root folder, noclose 0 sends standard input, output and
// error to the null device. A real program with ARVEL_NO_DETACH=1 in its
// environment stays in the foreground with its standard files (for the
// tests that run the real programs and wait for them); it still counts as
// detached. On a machine service the child tells the machine which real
// process it now is before the parent ends, so that the service, which
// reaps what it started, never takes the program for gone.
inline constexpr const char* kNoDetachVariable = "ARVEL_NO_DETACH";
int daemon(int nochdir, int noclose);

// A program started on the host calls this first: the machine's notion of
// who runs takes the host process's real and effective ids, and daemon()
// becomes the real thing.
void adoptHostProcessIdentity();

} // namespace posix
