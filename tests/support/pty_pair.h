#pragma once

// A pseudo-terminal pair: the test plays the far device on the master; the port opens the slave.

#include <fcntl.h>
#include <pty.h>
#include <termios.h>
#include <unistd.h>

#include <cerrno>
#include <chrono>
#include <functional>
#include <string>
#include <thread>

#include "serial/linux/pty_device_end.h"

namespace lt::test {

struct PtyPair {
    int master = -1;
    std::string slave;
    std::string received;  // all that drain() has read

    PtyPair() { master = openDeviceEnd(slave); }
    ~PtyPair() { closeMaster(); }
    PtyPair(const PtyPair&) = delete;

    bool ok() const { return master >= 0 && !slave.empty(); }
    void closeMaster() {
        if (master >= 0) ::close(master);
        master = -1;
    }
    bool send(const std::string& bytes) const {
        for (std::size_t done = 0; done < bytes.size();) {
            const ssize_t n = ::write(master, bytes.data() + done, bytes.size() - done);
            if (n > 0)
                done += static_cast<std::size_t>(n);
            else if (n < 0 && errno != EAGAIN && errno != EINTR)
                return false;
        }
        return true;
    }
    // What has reached the far end since the last call.
    std::string drain() {
        std::string out;
        char buf[4096];
        for (ssize_t n; (n = ::read(master, buf, sizeof buf)) > 0;)
            out.append(buf, static_cast<std::size_t>(n));
        received += out;
        return out;
    }
};

inline void pause(int ms) {
    std::this_thread::sleep_for(std::chrono::milliseconds(ms));
}

// Calls `pump`, then checks `done`, every millisecond until it holds or `limitMs` has passed.
inline bool waitUntil(const std::function<bool()>& done, int limitMs = 10000,
                      const std::function<void()>& pump = {}) {
    const auto until = std::chrono::steady_clock::now() + std::chrono::milliseconds(limitMs);
    for (;;) {
        if (pump) pump();
        if (done()) return true;
        if (std::chrono::steady_clock::now() > until) return false;
        std::this_thread::sleep_for(std::chrono::milliseconds(1));
    }
}

}  // namespace lt::test
