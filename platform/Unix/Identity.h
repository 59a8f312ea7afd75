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
#include <optional>
#include <string>
#include <vector>

namespace posix {

using uid_t = std::uint32_t;
using gid_t = std::uint32_t;

uid_t getuid();
uid_t geteuid();
// 0 on success, -1 on failure (an injected "seteuid" failure, "seteuid:<id>"
// for one id only, or an id that
// a non-root program may not take). A program running on the host (see
// adoptHostProcessIdentity) whose host process is really root switches its
// real effective id as well.
int seteuid(uid_t uid);

// The effective group and the supplementary groups. Changing either takes
// an effective id of 0 (as on Unix, where only the privileged may), so a
// program that acts as a user sets them before it gives up its effective
// root id, and takes that back first. 0 on success, -1 on failure (an
// injected "setegid" or "setgroups" failure, "setegid:<id>" for one id
// only, or a program that is not root at the time); a host process that
// is really root changes its real ones as well.
gid_t getegid();
int setegid(gid_t gid);
std::vector<gid_t> getgroups();
int setgroups(const std::vector<gid_t>& groups);

// getpwuid(3) and getpwnam(3) over the machine's user table: the user's
// name, ids and home folder (a system path); nullopt for an id or a name
// without a user.
struct Passwd {
    std::string pw_name;
    uid_t pw_uid = 0;
    gid_t pw_gid = 0;
    std::string pw_dir;
};
std::optional<Passwd> getpwuid(uid_t uid);
std::optional<Passwd> getpwnam(const std::string& name);

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
int daemon(int nochdir, int noclose);

// A program started on the host calls this first: the machine's notion of
// who runs takes the host process's real and effective ids and its groups,
// and daemon() becomes the real thing.
void adoptHostProcessIdentity();

} // namespace posix
