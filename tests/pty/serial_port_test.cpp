#include <gtest/gtest.h>
#include <sys/ioctl.h>

#include <atomic>
#include <cstdlib>
#include <cstring>
#include <filesystem>
#include <thread>

#include "pty_support.h"
#include "serial/linux/linux_serial_port.h"
#include "serial/rx_queue.h"
#include "serial/send_backlog.h"

namespace lt::pty {
namespace {

constexpr Nanos kMs = 1'000'000;

using test::pause;

struct PortOnPty : OnPty {
    void openPort() {
        port.setOpen(true);
        ASSERT_TRUE(port.isOpen());
    }
    // The device's terminal settings as another program sees them, after setting `set` if given.
    termios slaveTermios(const termios* set = nullptr) const {
        termios t{};
        const int fd = ::open(far.slave.c_str(), O_RDONLY | O_NOCTTY | O_NONBLOCK);
        if (fd >= 0) (set && ::tcsetattr(fd, TCSANOW, set)), ::tcgetattr(fd, &t), ::close(fd);
        return t;
    }
    LinuxSerialPort port{host, 1};
};

TEST_F(PortOnPty, RefusesUseWhileClosedAndMissingOrBusyDevices) {
    EXPECT_THROW(port.takeReceived(), PortError);
    EXPECT_THROW(port.cts(), PortError);
    EXPECT_NE(port.writeCommState(CommState{RtsControl::Steady}), 0);

    ::setenv("LINETAP_COM1", "/dev/linetap-no-such-device", 1);
    EXPECT_THROW(port.setOpen(true), PortError);
    EXPECT_FALSE(port.isOpen());
    ::setenv("LINETAP_COM1", far.slave.c_str(), 1);
    openPort();
    EXPECT_EQ(port.devicePath(), far.slave);
    EXPECT_THROW(port.setOpen(true), PortError);  // already open
    expectReceived(far, port, "still");
    port.setOpen(false);
    EXPECT_FALSE(port.isOpen());

    const int holder = ::open(far.slave.c_str(), O_RDWR | O_NOCTTY | O_NONBLOCK);
    ASSERT_GE(holder, 0);
    ASSERT_EQ(::ioctl(holder, TIOCEXCL), 0);
    EXPECT_THROW(port.setOpen(true), PortError);
    EXPECT_FALSE(port.isOpen());
    ASSERT_EQ(::ioctl(holder, TIOCNXCL), 0);
    ::close(holder);
    port.setPortName(PortName::path(far.slave));  // a device path opens as it stands
    openPort();
}

TEST_F(PortOnPty, BytesTravelBothWaysAndPausesSplitPacketsEvenWhenEventsAreHandledLate) {
    EventLog log(port);
    openPort();
    expectReceived(far, port, std::string("\x00\xff\x80hello\r\n", 10));

    // Events are raised from the event loop, never inside the call that caused them.
    port.send(std::string("\x01world\xfe", 7));
    EXPECT_EQ(log.count(PortEvent::Sent), 0);
    ASSERT_TRUE(runUntil([&] { return log.count(PortEvent::Sent) == 1; }));
    EXPECT_EQ(far.drain(), std::string("\x01world\xfe", 7));
    runFor(30);
    EXPECT_EQ(log.count(PortEvent::Sent), 1);

    // The loop does not run while bytes arrive; pauses before gapsFrom cut nothing.
    const int receives = log.count(PortEvent::Received);
    for (const char* part : {"first", "second", "third", "Z", "a"}) {
        far.send(part);
        pause(60);
    }
    ASSERT_TRUE(runUntil([&] { return port.bytesWaiting() == 18; }));
    ASSERT_TRUE(runUntil([&] { return log.count(PortEvent::Received) > receives; }));
    const std::pair<std::size_t, const char*> takes[] = {
        {SerialPort::kAll, "first"}, {SerialPort::kAll, "second"}, {3, "thi"}, {9, "rd"}};
    for (auto [most, packet] : takes) {
        EXPECT_EQ(port.receivedLength(most, 20 * kMs, 0), std::strlen(packet));
        EXPECT_EQ(port.takeReceived(most, 20 * kMs, 0), packet);
    }
    EXPECT_EQ(port.takeReceived(SerialPort::kAll, 20 * kMs, port.lastArrival() + 1), "Za");
}

TEST_F(PortOnPty, AnyRateParityAndRtsModeIsSetWithoutModemLinesAndBadTextsAreRefused) {
    EventLog log(port);
    openPort();
    // A pseudo-terminal reports 8 data bits and no parity whatever it is told: no refusal.
    for (const char* s : {"14400,n,8,1", "250000,e,8,2", "9600,s,7,1", "1200,o,8,2"}) {
        EXPECT_NO_THROW(port.setLineSettings(s)) << s;
        EXPECT_EQ(port.lineSettings(), s);
        EXPECT_EQ(static_cast<bool>(slaveTermios().c_cflag & CSTOPB), s[std::strlen(s) - 1] == '2');
    }
    const termios before = slaveTermios();
    EXPECT_EQ(::cfgetospeed(&before), B1200);
    for (const char* s : {"", "0,n,8,1", "9600,x,8,1", "9600,n,9,1", "9600,n,8"}) {
        EXPECT_THROW(port.setLineSettings(s), PortError) << s;
        EXPECT_EQ(port.lineSettings(), "1200,o,8,2");
    }

    // No modem lines: inputs read as off, outputs keep the value set, no event, no error.
    EXPECT_FALSE(port.hasModemLines() || port.lineWatcherRunning());
    port.setRts(true);
    port.setDtr(false);
    EXPECT_FALSE(port.cts() || port.dsr() || port.dcd());
    EXPECT_TRUE(port.rts() && !port.dtr());
    runFor(50);
    EXPECT_TRUE(log.events.empty());
    EXPECT_EQ(port.errorReports(), 0);

    // Flow control and input handling left by another program are put right.
    termios left = slaveTermios();
    left.c_cflag |= CRTSCTS;
    left.c_iflag |= IXON | IXOFF | IGNPAR | ISTRIP | BRKINT | IGNBRK;
    left.c_iflag &= ~(PARMRK | INPCK);
    ASSERT_TRUE(slaveTermios(&left).c_cflag & CRTSCTS);
    CommState s;
    for (auto rts : {RtsControl::Toggle, RtsControl::Steady}) {
        ASSERT_EQ(port.writeCommState(CommState{rts}), 0);
        ASSERT_EQ(port.readCommState(s), 0);
        EXPECT_EQ(s.rts, rts);
        EXPECT_EQ(port.softwareRtsToggle() || port.kernelRtsToggle(), rts == RtsControl::Toggle);
        EXPECT_TRUE(port.dtr());
    }
    const termios after = slaveTermios();
    const tcflag_t line = CBAUD | CSIZE | PARENB | PARODD | CMSPAR | CSTOPB;
    EXPECT_EQ(after.c_cflag & line, before.c_cflag & line);
    EXPECT_FALSE(after.c_cflag & CRTSCTS);
    EXPECT_FALSE(after.c_iflag & (IXON | IXOFF | IGNPAR | ISTRIP | BRKINT | IGNBRK));
    EXPECT_EQ(after.c_iflag & (INPCK | PARMRK), tcflag_t{INPCK | PARMRK});

    ASSERT_EQ(port.writeCommState(CommState{RtsControl::Toggle}), 0);
    port.send("toggled");
    ASSERT_TRUE(runUntil([&] { return log.count(PortEvent::Sent) == 1; }));
    EXPECT_EQ(far.drain(), "toggled");
    port.setOpen(false);
    openPort();
    ASSERT_EQ(port.readCommState(s), 0);
    EXPECT_EQ(s.rts, RtsControl::Steady);
}

// The far end closes with bytes unread and a send on its way; closing the port drops the rest.
TEST_F(PortOnPty, AVanishedDeviceRaisesOneLossAtOnceAndWhatItSentStaysUntilTaken) {
    EventLog log(port);
    openPort();
    port.send("ping");
    ASSERT_TRUE(runUntil([&] { return log.count(PortEvent::Sent) == 1; }));
    const Nanos sent = host.monotonicNow();
    far.send("last words");
    ASSERT_TRUE(runUntil([&] { return port.bytesWaiting() == 10; }));
    const Nanos arrived = host.monotonicNow();
    far.closeMaster();
    try {  // may be queued before the reader has noticed the hang-up
        port.send("into the void");
    } catch (const PortError&) {
    }
    ASSERT_TRUE(runUntil([&] { return log.count(PortEvent::Lost) == 1; }));
    EXPECT_FALSE(port.isOpen());
    const int wakeups = port.readerWakeups();
    EXPECT_LE(wakeups, 10);
    runFor(200);
    EXPECT_EQ(log.count(PortEvent::Lost), 1);
    EXPECT_EQ(port.readerWakeups(), wakeups);
    EXPECT_LE(port.errorReports(), 2);
    EXPECT_EQ(port.bytesWaiting(), 10u);
    Nanos first = 0;
    EXPECT_EQ(port.takeReceived(4, 0, 0, &first), "last");
    EXPECT_TRUE(first >= sent && first <= arrived) << first - sent;
    port.setOpen(false);
    EXPECT_EQ(port.bytesWaiting(), 0u);
    EXPECT_THROW(port.takeReceived(), PortError) << "closed, with nothing left";
}

TEST_F(PortOnPty, OpeningAndClosingManyTimesLeavesNoDescriptorOrLateEventBehind) {
    EventLog log(port);
    auto countFds = [] {
        return std::distance(std::filesystem::directory_iterator("/proc/self/fd"), {});
    };
    openPort();
    port.setOpen(false);
    const int fdsBefore = countFds();
    for (int i = 0; i < 60; ++i) {
        openPort();
        if (i % 2 == 0) port.send("x");
        far.send("y");
        if (i % 3 == 0) runFor(2);
        port.setOpen(false);
    }
    EXPECT_EQ(countFds(), fdsBefore);
    runFor(50);
    EXPECT_EQ(log.count(PortEvent::Lost), 0);
    EXPECT_EQ(port.bytesWaiting(), 0u);
}

TEST_F(PortOnPty, ABacklogLimitKeepsTheFirstBytesRaisesNothingForTheRestAndLogsWhatItDropped) {
    SerialLog logged;
    EventLog log(port);
    port.limitBacklog(4);  // set while closed: it holds for the opening
    openPort();
    far.send("abcdefgh");
    ASSERT_TRUE(runUntil([&] { return port.bytesWaiting() == 4; }));
    ASSERT_TRUE(runUntil([&] { return log.count(PortEvent::Received) >= 1; }));
    runFor(50);  // every receive event for them has come
    // What arrives now finds the buffer full: no byte is added, so no event is raised.
    const int receives = log.count(PortEvent::Received);
    const int wakeups = port.readerWakeups();
    far.send("ijk");
    ASSERT_TRUE(runUntil([&] { return port.readerWakeups() > wakeups; }));
    runFor(50);
    EXPECT_EQ(log.count(PortEvent::Received), receives);
    EXPECT_EQ(port.bytesWaiting(), 4u);
    port.limitBacklog(4);  // the same limit again changes nothing
    EXPECT_TRUE(logged.lines().empty());

    port.limitBacklog(2);  // drops "cd" at once
    port.limitBacklog(SerialPort::kAll);
    EXPECT_EQ(logged.lines(), (std::vector<std::string>{
                                  "COM1: bytes dropped while the backlog was limited to 4: 7",
                                  "COM1: bytes dropped while the backlog was limited to 2: 2"}));
    EXPECT_EQ(port.takeReceived(), "ab");
    expectReceived(far, port, std::string(3000, 'z'));
}

// Sends before the closing are given the time to leave, not flushed away.
TEST_F(PortOnPty, ADeviceThatTakesNothingCostsWholeSendsBeyondTheBoundAndAClosingLetsBytesOut) {
    openPort();
    std::string sent;
    for (int i = 0; i < 400; ++i) {  // 400 kB where the device reads nothing, cut anywhere
        std::string packet(1000, '\0');
        for (char& c : packet) c = static_cast<char>(std::rand());
        const std::uint64_t before = port.sendsDropped();
        port.send(packet);
        if (port.sendsDropped() == before) sent += packet;
    }
    EXPECT_GT(port.sendsDropped(), 0u);
    EXPECT_LE(sent.size(), SendBacklog::kBytes + 128 * 1024);
    // The device reads again: every packet kept arrives whole, in order.
    EXPECT_TRUE(runUntil([&] { return far.drain(), far.received.size() >= sent.size(); }));
    EXPECT_EQ(far.received, sent);

    // Bytes still waiting at the close leave first, while the device reads again.
    far.received.clear();
    const std::uint64_t dropped = port.sendsDropped();
    std::string waiting;
    for (int i = 0; i < 60; ++i) {
        const std::string packet(1024, static_cast<char>('a' + i % 26));
        port.send(packet);
        waiting += packet;
    }
    ASSERT_EQ(port.sendsDropped(), dropped);
    std::atomic<bool> reading{true};
    std::thread device([&] {
        while (reading) far.drain(), pause(1);
    });
    port.setOpen(false);
    test::waitUntil([&] { return far.received.size() >= waiting.size(); }, 2000);
    reading = false;
    device.join();
    far.drain();
    EXPECT_EQ(far.received, waiting);
}

}  // namespace
}  // namespace lt::pty
