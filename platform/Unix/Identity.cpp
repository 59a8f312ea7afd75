#include "Unix/Identity.h"

#include "Environment/Environment.h"
#include "MachineLink/MachineLink.h"

#include <algorithm>
#include <cerrno>
#include <cstdlib>
#include <fcntl.h>
#include <grp.h>
#include <string>
#include <unistd.h>

namespace posix {

namespace {

bool stayInForeground()
{
    return environmentValue(kNoDetachVariable) == "1";
}

// Detaching from a machine that runs as a service: the service reaps every
// process it started and their descendants, and takes a process that
// vanishes for a program that ended. So the child tells the machine which
// real process it now is before the parent goes; the parent waits for that
// word on a pipe.
int detachFromServiceMachine(int nochdir, int noclose)
{
    int word[2];
    if (::pipe(word) != 0)
        return -1;
    pid_t child = ::fork();
    if (child < 0) {
        ::close(word[0]);
        ::close(word[1]);
        return -1;
    }
    if (child > 0) {
        ::close(word[1]);
        char c = 0;
        ssize_t n;
        do {
            n = ::read(word[0], &c, 1);
        } while (n < 0 && errno == EINTR);
        ::_exit(n == 1 ? 0 : 1);
    }
    ::close(word[0]);
    if (::setsid() < 0) {
        ::close(word[1]);
        ::_exit(1);
    }
    auto& link = MachineLink::shared();
    if (int pid = link.program().pid)
        link.call(ops::setHostPid, pid, static_cast<int>(::getpid()));
    if (!nochdir && ::chdir("/") != 0) {
        // As daemon(3): a root folder that cannot be entered is no reason to stay.
    }
    if (!noclose) {
        int null = ::open("/dev/null", O_RDWR);
        if (null >= 0) {
            ::dup2(null, STDIN_FILENO);
            ::dup2(null, STDOUT_FILENO);
            ::dup2(null, STDERR_FILENO);
            if (null > STDERR_FILENO)
                ::close(null);
        }
    }
    ssize_t written;
    do {
        written = ::write(word[1], "1", 1);
    } while (written < 0 && errno == EINTR);
    ::close(word[1]);
    return 0;
}

// Whether the ids change for real as well: a program on the host whose
// process really is root; anything else only changes the machine's notion.
bool changesRealIds(MachineLink& link)
{
    return link.program().hostProcess && ::getuid() == 0;
}

std::vector<gid_t> hostGroups()
{
    int count = ::getgroups(0, nullptr);
    std::vector<::gid_t> groups(count > 0 ? static_cast<std::size_t>(count) : 0);
    if (count > 0)
        groups.resize(static_cast<std::size_t>(std::max(0, ::getgroups(count, groups.data()))));
    return {groups.begin(), groups.end()};
}

} // namespace

uid_t getuid()
{
    return MachineLink::shared().program().realUid;
}

uid_t geteuid()
{
    return MachineLink::shared().program().effectiveUid;
}

int seteuid(uid_t uid)
{
    auto& link = MachineLink::shared();
    if (link.take("seteuid", std::to_string(uid)) != 0)
        return -1;
    // As on Unix: root may take any id; others only their real id.
    if (link.program().realUid != 0 && uid != link.program().realUid)
        return -1;
    // A real process that really is root changes whose files it may touch;
    // inside a test, or for a program the machine counts as root while the
    // host does not, the machine's notion of who runs is all that changes.
    if (changesRealIds(link) && ::seteuid(uid) != 0)
        return -1;
    link.program().effectiveUid = uid;
    return 0;
}

gid_t getegid()
{
    return MachineLink::shared().program().effectiveGid;
}

int setegid(gid_t gid)
{
    auto& link = MachineLink::shared();
    if (link.take("setegid", std::to_string(gid)) != 0 || link.program().effectiveUid != 0)
        return -1;
    if (changesRealIds(link) && ::setegid(gid) != 0)
        return -1;
    link.program().effectiveGid = gid;
    return 0;
}

std::vector<gid_t> getgroups()
{
    return MachineLink::shared().program().groups;
}

int setgroups(const std::vector<gid_t>& groups)
{
    auto& link = MachineLink::shared();
    if (link.take("setgroups") != 0 || link.program().effectiveUid != 0)
        return -1;
    if (changesRealIds(link)) {
        std::vector<::gid_t> list(groups.begin(), groups.end());
        if (::setgroups(list.size(), list.data()) != 0)
            return -1;
    }
    link.program().groups = groups;
    return 0;
}

std::optional<Passwd> getpwuid(uid_t uid)
{
    auto user = MachineLink::shared().userWithId(uid);
    if (!user)
        return std::nullopt;
    return Passwd {user->name, user->uid, user->gid, user->home};
}

std::optional<Passwd> getpwnam(const std::string& name)
{
    auto user = MachineLink::shared().call(ops::userNamed, name);
    if (!user)
        return std::nullopt;
    return Passwd {user->name, user->uid, user->gid, user->home};
}

int daemon(int nochdir, int noclose)
{
    auto& link = MachineLink::shared();
    if (link.take("daemon") != 0)
        return -1;
    if (link.program().hostProcess && !stayInForeground()) {
        int r = MachineLink::usesBus() ? detachFromServiceMachine(nochdir, noclose) : ::daemon(nochdir, noclose);
        if (r != 0)
            return -1;
    }
    link.program().detached = true;
    return 0;
}

void adoptHostProcessIdentity()
{
    auto& link = MachineLink::shared();
    machine::ProgramIdentity& program = link.program();
    program.hostProcess = true;
    // No machine hands out groups: they are the host process's in any case.
    program.effectiveGid = static_cast<gid_t>(::getegid());
    program.groups = hostGroups();
    // Over the bus the program's ids were taken from the host (or from the
    // service) when the link was made.
    if (!MachineLink::usesBus()) {
        program.realUid = ::getuid();
        program.effectiveUid = ::geteuid();
    }
}

} // namespace posix
