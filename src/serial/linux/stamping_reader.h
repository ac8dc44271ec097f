#pragma once

#include <atomic>
#include <functional>
#include <thread>

#include "base/types.h"
#include "serial/rx_queue.h"

namespace lt {

// Takes bytes from a device on a thread of its own as soon as they arrive and queues every chunk
// with the moment it was read, so packet boundaries follow the pauses on the wire even while the
// owner's thread is busy. Ends by itself when the device has vanished.
class StampingReader {
public:
    // `clock` gives the monotonic stamps; it is called on the reader thread.
    StampingReader(RxQueue& queue, std::function<Nanos()> clock)
        : queue_(queue), clock_(std::move(clock)) {}
    ~StampingReader() { stop(); }
    StampingReader(const StampingReader&) = delete;
    StampingReader& operator=(const StampingReader&) = delete;

    // Starts reading `fd`. `arrived` is called after each chunk the queue kept, `gone` once when
    // the device has vanished; both on the reader thread. False when no thread could be set up.
    bool start(int fd, std::function<void()> arrived, std::function<void()> gone);
    // Ends the thread and waits for it. Safe to call when not running.
    void stop();
    // Turns of the reader thread since the last start.
    int wakeups() const { return wakeups_.load(); }

private:
    void run(int fd, int stopFd);

    RxQueue& queue_;
    std::function<Nanos()> clock_;
    std::function<void()> arrived_, gone_;
    std::thread thread_;
    int stopFd_ = -1;
    std::atomic<int> wakeups_{0};
};

}  // namespace lt
