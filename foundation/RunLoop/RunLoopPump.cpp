#include "RunLoop/RunLoopPump.h"

#include <algorithm>
#include <cmath>
#include <cstdint>
#include <poll.h>
#include <sys/eventfd.h>
#include <unistd.h>

PollRunLoopPump::PollRunLoopPump() : wakeFd_(eventfd(0, EFD_CLOEXEC | EFD_NONBLOCK)) {}

PollRunLoopPump::~PollRunLoopPump()
{
    if (wakeFd_ >= 0)
        ::close(wakeFd_);
}

void PollRunLoopPump::wakeUp()
{
    if (wakeFd_ >= 0) {
        std::uint64_t one = 1;
        [[maybe_unused]] ssize_t n = ::write(wakeFd_, &one, sizeof one);
    }
}

bool PollRunLoopPump::wait(std::vector<Watch>& watches, double timeoutSeconds)
{
    std::vector<pollfd> fds;
    fds.reserve(watches.size() + 1);
    fds.push_back({wakeFd_, POLLIN, 0});
    for (const Watch& watch : watches)
        fds.push_back({watch.fd, static_cast<short>((watch.readable ? POLLIN : 0) | (watch.writable ? POLLOUT : 0)), 0});
    // An hour at most: the loop asks again.
    int timeoutMs = timeoutSeconds <= 0 ? 0 : static_cast<int>(std::min(std::ceil(timeoutSeconds * 1000.0), 3600000.0));
    if (::poll(fds.data(), fds.size(), timeoutMs) <= 0)
        return false;
    if (fds[0].revents & POLLIN) {
        std::uint64_t count;
        [[maybe_unused]] ssize_t n = ::read(wakeFd_, &count, sizeof count);
    }
    bool any = false;
    for (std::size_t i = 0; i < watches.size(); ++i) {
        short revents = fds[i + 1].revents;
        watches[i].invalid = revents & POLLNVAL;
        watches[i].readyToRead = !watches[i].invalid && (revents & (POLLIN | POLLHUP | POLLERR));
        watches[i].readyToWrite = !watches[i].invalid && (revents & POLLOUT);
        any = any || revents;
    }
    return any;
}
