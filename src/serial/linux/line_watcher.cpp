#include "serial/linux/line_watcher.h"

#include <linux/serial.h>
#include <signal.h>
#include <sys/ioctl.h>
#include <unistd.h>

#include <cerrno>
#include <cstring>

#include "serial/linux/device_gone.h"
#include "serial/linux/serial_log.h"
#include "serial/serial_port.h"

namespace lt {

FdModemLineDriver::~FdModemLineDriver() {
    deleteTimer();
}

void FdModemLineDriver::deleteTimer() {
    if (timerMade_) ::timer_delete(timer_);
    timerMade_ = false;
}

// Arms a one-shot timer that interrupts the calling thread after `ms`.
int FdModemLineDriver::armTimer(int ms) {
    const pid_t self = ::gettid();
    if (timerMade_ && timerThread_ != self) deleteTimer();
    if (!timerMade_) {
        sigevent ev{};
        ev.sigev_notify = SIGEV_THREAD_ID;
        ev.sigev_signo = InterruptibleThread::interruptSignal();
        ev._sigev_un._tid = self;
        if (::timer_create(CLOCK_MONOTONIC, &ev, &timer_) != 0) return errno;
        timerMade_ = true;
        timerThread_ = self;
    }
    itimerspec when{};
    when.it_value.tv_sec = ms / 1000;
    when.it_value.tv_nsec = static_cast<long>(ms % 1000) * 1'000'000;
    return ::timer_settime(timer_, 0, &when, nullptr) == 0 ? 0 : errno;
}

int FdModemLineDriver::waitChange(int timeoutMs) {
    if (const int err = armTimer(timeoutMs); err != 0) {
        // Without a time limit the wait could miss a change for good: the watcher polls instead.
        qCWarning(lcSerial) << "no timer for the modem-line wait:" << std::strerror(err);
        return err;
    }
    const int err = ::ioctl(fd_, TIOCMIWAIT, TIOCM_CTS | TIOCM_DSR | TIOCM_CD) == 0 ? 0 : errno;
    const itimerspec off{};
    ::timer_settime(timer_, 0, &off, nullptr);
    return err;
}

int FdModemLineDriver::levels(int& bits) {
    return ::ioctl(fd_, TIOCMGET, &bits) == 0 ? 0 : errno;
}

int FdModemLineDriver::counts(LineCounts& counts) {
    serial_icounter_struct c{};
    if (::ioctl(fd_, TIOCGICOUNT, &c) != 0) return errno;
    counts = LineCounts{c.cts, c.dsr, c.dcd};
    return 0;
}

void LineWatcher::start() {
    stop();
    mode_ = Mode::Waiting;
    thread_.start([this](const std::atomic<bool>& stopping) { run(stopping); });
}

void LineWatcher::stop() {
    thread_.stop();
}

void LineWatcher::run(const std::atomic<bool>& stopping) {
    Seen seen;
    if (int err = driver_.levels(seen.bits); err != 0) {
        qCDebug(lcSerial) << "modem lines not watched:" << std::strerror(err);
        mode_ = Mode::Ended;
        return;
    }
    seen.haveCounts = driver_.counts(seen.counts) == 0;
    int spurious = 0;
    bool woken = false;  // the last wait came back for a change

    while (!stopping) {
        // A look before every wait: what changed since the last one is reported now, not at the
        // next change the wait sees.
        const Look look = lookAgain(seen);
        if (look == Look::Gone) break;
        if (look == Look::Changed) {
            spurious = 0;
        } else if (look == Look::Same && woken && mode_ == Mode::Waiting &&
                   ++spurious >= kSpuriousLimit) {
            // A wait that keeps coming back at once would spin: poll instead.
            mode_ = Mode::Polling;
        }
        if (stopping) break;
        const Wait wait = waitForChange(stopping);
        if (wait == Wait::Over) break;
        woken = wait == Wait::Woken;
    }
    mode_ = Mode::Ended;
}

// Reads the inputs and reports each that changed since `seen`, which then holds what was read.
LineWatcher::Look LineWatcher::lookAgain(Seen& seen) {
    int now = 0;
    if (int err = driver_.levels(now); err != 0) {
        if (deviceGone(err)) return Look::Gone;
        qCDebug(lcSerial) << "modem lines not read:" << std::strerror(err);
        return Look::Unread;
    }
    LineCounts nowCounts;
    const bool countsNow = seen.haveCounts && driver_.counts(nowCounts) == 0;
    auto changed = [&](int bit, int LineCounts::*count) {
        if ((now & bit) != (seen.bits & bit)) return true;
        return countsNow && nowCounts.*count != seen.counts.*count;
    };
    const bool cts = changed(TIOCM_CTS, &LineCounts::cts);
    const bool dsr = changed(TIOCM_DSR, &LineCounts::dsr);
    const bool dcd = changed(TIOCM_CD, &LineCounts::dcd);
    seen.bits = now;
    if (countsNow) seen.counts = nowCounts;
    seen.haveCounts = countsNow;

    if (cts) post_(PortEvent::CtsChanged);
    if (dsr) post_(PortEvent::DsrChanged);
    if (dcd) post_(PortEvent::DcdChanged);
    return cts || dsr || dcd ? Look::Changed : Look::Same;
}

// Waits for the next change (or polls), up to the next look.
LineWatcher::Wait LineWatcher::waitForChange(const std::atomic<bool>& stopping) {
    if (mode_ != Mode::Waiting) {
        thread_.waitFor(kPollMs);
        return Wait::TimeUp;
    }
    const int err = driver_.waitChange(kLookMs);
    if (stopping) return Wait::Over;
    if (err == 0) return Wait::Woken;
    if (deviceGone(err)) return Wait::Over;
    if (err != EINTR) {
        qCDebug(lcSerial) << "modem lines polled, no wait:" << std::strerror(err);
        mode_ = Mode::Polling;  // the driver has no wait for the inputs
    }
    return Wait::TimeUp;
}

}  // namespace lt
