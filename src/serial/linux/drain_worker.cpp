#include "serial/linux/drain_worker.h"

#include <cerrno>
#include <cstring>

#include "serial/linux/serial_log.h"

namespace lt {

void DrainWorker::start(std::function<int()> drain,
                        std::function<void(std::uint64_t served)> drained) {
    // Taken here, not on the new thread: a write may ask for a drain before it runs.
    const std::uint64_t alreadyServed = wanted_.load();
    thread_.start([this, alreadyServed, drain = std::move(drain),
                   drained = std::move(drained)](const std::atomic<bool>& stopping) {
        std::uint64_t served = alreadyServed;
        while (!stopping) {
            const std::uint64_t want = wanted_.load();
            if (want == served) {
                thread_.waitFor(1000);
                continue;
            }
            if (const int err = drain(); err == EINTR) {
                continue;
            } else if (err != 0) {
                qCDebug(lcSerial) << "drain failed:" << std::strerror(err);
            }
            served = want;
            drained(want);
        }
    });
}

void DrainWorker::stop() {
    thread_.stop();
}

void DrainWorker::request(std::uint64_t serial) {
    wanted_ = serial;
    thread_.notify();
}

}  // namespace lt
