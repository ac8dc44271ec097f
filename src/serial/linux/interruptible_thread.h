#pragma once

#include <atomic>
#include <condition_variable>
#include <functional>
#include <mutex>
#include <thread>

namespace lt {

// A helper thread whose body blocks in system calls that no file descriptor can wake
// (TIOCMIWAIT, tcdrain). stop() sets the stop flag and interrupts the blocked call with a signal
// whose handler does nothing and does not restart the call, again and again until the body has
// returned, so a signal that lands just before the call begins is not lost. The body must check
// the flag after every interrupted call (EINTR).
class InterruptibleThread {
public:
    InterruptibleThread() = default;
    ~InterruptibleThread() { stop(); }
    InterruptibleThread(const InterruptibleThread&) = delete;
    InterruptibleThread& operator=(const InterruptibleThread&) = delete;

    // Starts the body on a new thread (stops a running one first).
    void start(std::function<void(const std::atomic<bool>& stopping)> body);
    // Asks the body to end, interrupts it until it has, and joins. Safe to call when not running.
    void stop();
    bool running() const { return thread_.joinable() && !finished_.load(); }

    // Wakes a body that waits with waitFor() (without a signal).
    void notify();
    // Sleeps up to `ms` milliseconds or until stop() or notify(); for polling bodies.
    void waitFor(int ms);

    // The signal used to interrupt blocked calls; its handler is installed once per process.
    static int interruptSignal();

private:
    std::thread thread_;
    std::atomic<bool> stopping_{false};
    std::atomic<bool> finished_{false};
    std::mutex mutex_;
    std::condition_variable cv_;
    bool notified_ = false;
};

}  // namespace lt
