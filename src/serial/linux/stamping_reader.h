#pragma once

#include <atomic>
#include <cstddef>
#include <functional>
#include <thread>

#include "base/types.h"

namespace lt {

// Takes bytes from a device on a thread of its own as soon as they arrive and hands every chunk
// on with the moment it was read, so packet boundaries follow the pauses on the wire even while
// the owner's thread is busy. Ends by itself when the device has vanished.
class StampingReader {
public:
    // Takes one chunk read at a moment; true when it kept something to tell of.
    using Sink = std::function<bool(const char* bytes, std::size_t size, Nanos at)>;

    // `clock` gives the monotonic stamps; it and `sink` are called on the reader thread.
    StampingReader(Sink sink, std::function<Nanos()> clock)
        : sink_(std::move(sink)), clock_(std::move(clock)) {}
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

    Sink sink_;
    std::function<Nanos()> clock_;
    std::function<void()> arrived_, gone_;
    std::thread thread_;
    int stopFd_ = -1;
    std::atomic<int> wakeups_{0};
};

}  // namespace lt
