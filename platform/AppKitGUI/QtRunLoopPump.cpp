#include "AppKitGUI/QtRunLoopPump.h"

#include <QAbstractEventDispatcher>
#include <QCoreApplication>
#include <QSocketNotifier>
#include <QTimer>

#include <cerrno>
#include <climits>
#include <cmath>
#include <fcntl.h>

QtRunLoopPump::QtRunLoopPump() : dispatcher_(QAbstractEventDispatcher::instance()), timeout_(std::make_unique<QTimer>())
{
    timeout_->setSingleShot(true);
    timeout_->setTimerType(Qt::PreciseTimer);
    QObject::connect(timeout_.get(), &QTimer::timeout, [this] { timedOut_ = true; });
}

QtRunLoopPump::~QtRunLoopPump() = default;

// Notifiers live as long as their descriptor is watched, so a loop that
// waits on the same descriptors pass after pass does not make new ones.
void QtRunLoopPump::watch(const std::vector<Watch>& watches)
{
    std::map<int, std::unique_ptr<Notifiers>> kept;
    for (const Watch& w : watches) {
        auto old = notifiers_.find(w.fd);
        std::unique_ptr<Notifiers>& slot = kept[w.fd];
        if (old != notifiers_.end()) {
            slot = std::move(old->second);
            notifiers_.erase(old);
        }
        if (!slot)
            slot = std::make_unique<Notifiers>();
        Notifiers* n = slot.get();
        n->readReady = n->writeReady = false;
        if (w.readable && !n->read) {
            n->read = std::make_unique<QSocketNotifier>(w.fd, QSocketNotifier::Read);
            QObject::connect(n->read.get(), &QSocketNotifier::activated, [n] {
                n->readReady = true;
                n->read->setEnabled(false);
            });
        } else if (!w.readable) {
            n->read.reset();
        }
        if (w.writable && !n->write) {
            n->write = std::make_unique<QSocketNotifier>(w.fd, QSocketNotifier::Write);
            QObject::connect(n->write.get(), &QSocketNotifier::activated, [n] {
                n->writeReady = true;
                n->write->setEnabled(false);
            });
        } else if (!w.writable) {
            n->write.reset();
        }
        // Level-triggered like poll(): a notifier that fired stays quiet
        // until the loop has served its descriptor and waits again.
        if (n->read)
            n->read->setEnabled(true);
        if (n->write)
            n->write->setEnabled(true);
    }
    notifiers_ = std::move(kept);
}

bool QtRunLoopPump::wait(std::vector<Watch>& watches, double timeoutSeconds)
{
    const std::uint64_t mine = ++waits_;
    // A descriptor closed behind the loop's back would never be ready.
    std::vector<Watch> live;
    for (Watch& w : watches) {
        w.readyToRead = w.readyToWrite = false;
        w.invalid = fcntl(w.fd, F_GETFD) == -1 && errno == EBADF;
        if (!w.invalid)
            live.push_back(w);
    }
    watch(live);

    auto anyReady = [this] {
        for (const auto& [fd, n] : notifiers_)
            if (n->readReady || n->writeReady)
                return true;
        return false;
    };

    if (timeoutSeconds <= 0 || woken_.exchange(false)) {
        QCoreApplication::processEvents(QEventLoop::AllEvents);
    } else {
        timedOut_ = false;
        if (std::isfinite(timeoutSeconds))
            timeout_->start(static_cast<int>(std::min(std::ceil(timeoutSeconds * 1000.0), static_cast<double>(INT_MAX))));
        else
            timeout_->stop();
        // Each round serves what Qt has, then waits for more; a round that
        // served only Qt's own events (painting, input) waits again.
        while (!timedOut_ && !anyReady() && !woken_.exchange(false)) {
            QCoreApplication::processEvents(QEventLoop::WaitForMoreEvents);
            if (waits_ != mine)
                break;
        }
        if (waits_ == mine)
            timeout_->stop();
    }
    if (waits_ != mine)
        return false;

    bool ready = false;
    for (Watch& w : watches) {
        auto it = w.invalid ? notifiers_.end() : notifiers_.find(w.fd);
        if (it == notifiers_.end())
            continue;
        w.readyToRead = it->second->readReady;
        w.readyToWrite = it->second->writeReady;
        ready = ready || w.readyToRead || w.readyToWrite;
    }
    return ready;
}

void QtRunLoopPump::wakeUp()
{
    woken_ = true;
    if (dispatcher_)
        dispatcher_->wakeUp();
}
