#pragma once

#include <atomic>
#include <cstdint>
#include <functional>

#include "serial/linux/interruptible_thread.h"

namespace lt {

// Waits, on a thread of its own, for the device's output to drain (the kernel's queue and the
// UART), so the owner's thread never blocks on it. Outputs are numbered by the owner; a request
// names the newest output handed to the driver, and one drain serves every request made before
// it began.
class DrainWorker {
public:
    // `drain` blocks until the output has drained (0, EINTR or another errno value); `drained`
    // reports the newest output served. Both are called on the worker thread.
    void start(std::function<int()> drain, std::function<void(std::uint64_t served)> drained);
    void stop();
    // Everything up to output `serial` has been handed to the driver: wait for it to drain.
    void request(std::uint64_t serial);

private:
    InterruptibleThread thread_;
    std::atomic<std::uint64_t> wanted_{0};
};

}  // namespace lt
