#pragma once

#include <fcntl.h>
#include <pty.h>
#include <termios.h>
#include <unistd.h>

#include <QCoreApplication>
#include <QElapsedTimer>
#include <QEventLoop>
#include <algorithm>
#include <functional>
#include <map>
#include <string>
#include <vector>

#include "app/qt/qt_host.h"
#include "ports/serial_port.h"

namespace lt::pty {

// A pseudo-terminal pair: the far end (master) is driven by the test, the near end (slave) is
// opened by the port under test through its path.
struct PtyPair {
    int master = -1;
    std::string slave;

    PtyPair() {
        int s = -1;
        char name[128] = {};
        if (::openpty(&master, &s, name, nullptr, nullptr) != 0) return;
        termios t{};
        ::tcgetattr(master, &t);
        ::cfmakeraw(&t);
        ::tcsetattr(master, TCSANOW, &t);
        ::fcntl(master, F_SETFL, ::fcntl(master, F_GETFL) | O_NONBLOCK);
        slave = name;
        ::close(s);  // the slave stays available for the port to open
    }
    ~PtyPair() { closeMaster(); }
    PtyPair(const PtyPair&) = delete;
    PtyPair& operator=(const PtyPair&) = delete;

    bool ok() const { return master >= 0 && !slave.empty(); }
    void closeMaster() {
        if (master >= 0) ::close(master);
        master = -1;
    }
    void send(const std::string& bytes) const {
        for (std::size_t done = 0; done < bytes.size();) {
            const ssize_t n = ::write(master, bytes.data() + done, bytes.size() - done);
            if (n > 0) done += static_cast<std::size_t>(n);
        }
    }
    // What has reached the far end so far.
    std::string drain() const {
        std::string out;
        char buf[4096];
        for (ssize_t n; (n = ::read(master, buf, sizeof buf)) > 0;)
            out.append(buf, static_cast<std::size_t>(n));
        return out;
    }
};

// Host services of the program with a private environment.
class PtyHost : public QtHost {
public:
    std::optional<std::string> environment(const std::string& name) const override {
        const auto it = env.find(name);
        return it == env.end() ? std::nullopt : std::optional<std::string>(it->second);
    }
    std::map<std::string, std::string> env;
};

// Runs the event loop until `done` holds or `limitMs` has passed (a bound, never a measurement).
inline bool runUntil(const std::function<bool()>& done, int limitMs = 3000) {
    QElapsedTimer t;
    t.start();
    while (!done()) {
        if (t.elapsed() > limitMs) return false;
        QCoreApplication::processEvents(QEventLoop::AllEvents, 5);
        QCoreApplication::sendPostedEvents();
        ::usleep(200);
    }
    return true;
}

// Runs the event loop for `ms` milliseconds, to let late events show up.
inline void runFor(int ms) {
    runUntil([] { return false; }, ms);
}

// Every event a port raised, in order.
struct EventLog {
    explicit EventLog(SerialPort& port) {
        port.onEvent = [this, &port] { events.push_back(port.event()); };
    }
    int count(PortEvent e) const {
        return static_cast<int>(std::count(events.begin(), events.end(), e));
    }
    std::vector<PortEvent> events;
};

}  // namespace lt::pty
