#pragma once

#include <gtest/gtest.h>

#include <QCoreApplication>
#include <algorithm>
#include <cstring>
#include <mutex>
#include <vector>

#include "../support/pty_pair.h"
#include "qt/qt_host.h"
#include "serial/serial_port.h"

namespace lt::pty {

using test::PtyPair;

// The far end of a pseudo-terminal pair, named as COM1 in the environment.
struct OnPty : ::testing::Test {
    void SetUp() override {
        ASSERT_TRUE(far.ok());
        ::setenv("LINETAP_COM1", far.slave.c_str(), 1);
    }
    QtHost host;
    PtyPair far;
};

inline bool runUntil(const std::function<bool()>& done, int limitMs = 10000) {
    return test::waitUntil(done, limitMs, [] { QCoreApplication::processEvents(); });
}

inline void runFor(int ms) {
    runUntil([] { return false; }, ms);
}

// The far end sends `bytes`; the port takes exactly them.
inline void expectReceived(PtyPair& far, SerialPort& port, const std::string& bytes) {
    far.send(bytes);
    ASSERT_TRUE(runUntil([&] { return port.bytesWaiting() == bytes.size(); }));
    EXPECT_EQ(port.takeReceived(), bytes);
}

// Keeps the serial ports' log messages at info level and above while it lives.
struct SerialLog {
    SerialLog() {
        std::lock_guard lock(mutex);
        kept.clear();
        previous = qInstallMessageHandler(&keep);
    }
    ~SerialLog() { qInstallMessageHandler(previous); }
    static std::vector<std::string> lines() {
        std::lock_guard lock(mutex);
        return kept;
    }
    static void keep(QtMsgType type, const QMessageLogContext& context, const QString& text) {
        std::lock_guard lock(mutex);
        if (type != QtDebugMsg && context.category &&
            std::strcmp(context.category, "linetap.serial") == 0)
            kept.push_back(text.toStdString());
    }
    static inline std::mutex mutex;
    static inline std::vector<std::string> kept;
    QtMessageHandler previous = nullptr;
};

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
