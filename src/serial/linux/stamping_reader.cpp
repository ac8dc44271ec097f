#include "serial/linux/stamping_reader.h"

#include <poll.h>
#include <pthread.h>
#include <sched.h>
#include <sys/eventfd.h>
#include <unistd.h>

#include <cerrno>
#include <cstdint>
#include <cstring>

#include "serial/linux/serial_log.h"

namespace lt {

bool StampingReader::start(int fd, std::function<void()> arrived, std::function<void()> gone) {
    stop();
    stopFd_ = ::eventfd(0, EFD_CLOEXEC | EFD_NONBLOCK);
    if (stopFd_ < 0) {
        qCWarning(lcSerial) << "no reader thread, no event descriptor:" << std::strerror(errno);
        return false;
    }
    wakeups_ = 0;
    arrived_ = std::move(arrived);
    gone_ = std::move(gone);
    thread_ = std::thread([this, fd, stopFd = stopFd_] { run(fd, stopFd); });
    return true;
}

void StampingReader::stop() {
    if (!thread_.joinable()) return;
    const std::uint64_t one = 1;
    [[maybe_unused]] auto n = ::write(stopFd_, &one, sizeof one);
    thread_.join();
    ::close(stopFd_);
    stopFd_ = -1;
}

void StampingReader::run(int fd, int stopFd) {
    // The stamps must follow the wire even while other programs keep the processors busy.
    // Where the system allows it the reader runs in the real-time class: it only ever waits
    // for the device, so it cannot starve anything. Elsewhere it runs as any thread.
    sched_param realTime{};
    realTime.sched_priority = 10;
    if (int err = ::pthread_setschedparam(::pthread_self(), SCHED_FIFO, &realTime); err != 0)
        qCDebug(lcSerial) << "reader stays in the normal class:" << std::strerror(err);
    char buf[4096];
    pollfd fds[2] = {{fd, POLLIN, 0}, {stopFd, POLLIN, 0}};
    for (;;) {
        const int r = ::poll(fds, 2, -1);
        if (r < 0) {
            if (errno == EINTR) continue;
            qCWarning(lcSerial) << "reader stops, poll failed:" << std::strerror(errno);
            break;
        }
        if (fds[1].revents) return;
        ++wakeups_;
        const short ev = fds[0].revents;
        bool gone = (ev & POLLNVAL) != 0;
        while (!gone) {
            const ssize_t n = ::read(fd, buf, sizeof buf);
            if (n > 0) {
                // Stamped the moment they are read: the pause on the wire, not the delay of
                // the owner's thread, decides where a packet ends.
                if (sink_(buf, static_cast<std::size_t>(n), clock_())) arrived_();
                continue;
            }
            if (n < 0 && errno == EINTR) continue;
            if (n < 0 && errno == EAGAIN) break;
            // Nothing left: an end of input is a hang-up only when poll said so.
            if (n == 0 && !(ev & (POLLHUP | POLLERR))) break;
            gone = true;
        }
        if (gone) {
            gone_();
            return;  // nothing more to read: no spinning on a dead descriptor
        }
    }
}

}  // namespace lt
