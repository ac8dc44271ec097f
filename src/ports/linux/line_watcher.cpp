#include "ports/linux/line_watcher.h"

#include <linux/serial.h>
#include <sys/ioctl.h>

#include <cerrno>

#include "ports/serial_port.h"

namespace lt {

int FdModemLineDriver::waitChange() {
    return ::ioctl(fd_, TIOCMIWAIT, TIOCM_CTS | TIOCM_DSR | TIOCM_CD) == 0 ? 0 : errno;
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

namespace {

bool deviceGone(int err) {
    return err == EIO || err == ENXIO || err == ENODEV || err == EBADF;
}

}  // namespace

void LineWatcher::run(const std::atomic<bool>& stopping) {
    int bits = 0;
    if (int err = driver_.levels(bits); err != 0) {
        mode_ = Mode::Ended;
        return;
    }
    LineCounts counts;
    bool haveCounts = driver_.counts(counts) == 0;
    int spurious = 0;

    while (!stopping) {
        if (mode_ == Mode::Waiting) {
            const int err = driver_.waitChange();
            if (stopping) break;
            if (err == EINTR) continue;
            if (deviceGone(err)) break;
            if (err != 0) {
                mode_ = Mode::Polling;  // the driver has no wait for the inputs
                continue;
            }
        } else {
            thread_.waitFor(kPollMs);
            if (stopping) break;
        }

        int now = 0;
        if (int err = driver_.levels(now); err != 0) {
            if (deviceGone(err)) break;
            continue;
        }
        LineCounts nowCounts;
        const bool countsNow = haveCounts && driver_.counts(nowCounts) == 0;
        auto changed = [&](int bit, int LineCounts::*count) {
            if ((now & bit) != (bits & bit)) return true;
            return countsNow && nowCounts.*count != counts.*count;
        };
        const bool cts = changed(TIOCM_CTS, &LineCounts::cts);
        const bool dsr = changed(TIOCM_DSR, &LineCounts::dsr);
        const bool dcd = changed(TIOCM_CD, &LineCounts::dcd);
        bits = now;
        if (countsNow) counts = nowCounts;
        haveCounts = countsNow;

        if (!cts && !dsr && !dcd) {
            // A wait that keeps coming back at once would spin: poll instead.
            if (mode_ == Mode::Waiting && ++spurious >= kSpuriousLimit) mode_ = Mode::Polling;
            continue;
        }
        spurious = 0;
        if (cts) post_(PortEvent::CtsChanged);
        if (dsr) post_(PortEvent::DsrChanged);
        if (dcd) post_(PortEvent::DcdChanged);
    }
    mode_ = Mode::Ended;
}

}  // namespace lt
