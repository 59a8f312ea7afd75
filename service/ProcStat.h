// The host's /proc/PID/stat of a process, read with plain calls: a process
// may end between the open and the read, and the read then fails (ESRCH),
// which a stream would throw. Empty when it cannot be read.
#pragma once

#include <fcntl.h>
#include <string>
#include <unistd.h>

inline std::string procStatOf(const std::string& pid)
{
    std::string text;
    int fd = ::open(("/proc/" + pid + "/stat").c_str(), O_RDONLY | O_CLOEXEC);
    if (fd < 0)
        return text;
    char buffer[1024];
    ssize_t got = ::read(fd, buffer, sizeof buffer);
    if (got > 0)
        text.assign(buffer, static_cast<std::size_t>(got));
    ::close(fd);
    return text;
}
