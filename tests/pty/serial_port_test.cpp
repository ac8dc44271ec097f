#include <gtest/gtest.h>
#include <sys/ioctl.h>

#include <memory>
#include <thread>

#include "ports/linux/linux_serial_port.h"
#include "pty_support.h"

namespace lt {
namespace {

using pty::EventLog;
using pty::PtyHost;
using pty::PtyPair;
using pty::runFor;
using pty::runUntil;

constexpr Nanos kMs = 1'000'000;

struct PortOnPty : ::testing::Test {
    void SetUp() override {
        ASSERT_TRUE(far.ok());
        host.env["LINETAP_COM1"] = far.slave;
    }
    void openPort() {
        port.setPortOpen(true);
        ASSERT_TRUE(port.PortOpen());
    }
    PtyHost host;
    PtyPair far;
    LinuxSerialPort port{host, 1};
};

TEST_F(PortOnPty, StartsAsItsPortWithTheDefaultSettingsAndOpensTheNamedDevice) {
    LinuxSerialPort second(host, 2);
    EXPECT_EQ(port.CommPort(), PortName::number(1));
    EXPECT_EQ(second.CommPort(), PortName::number(2));
    EXPECT_EQ(port.Settings(), "1200,o,8,1");
    EXPECT_FALSE(port.PortOpen());
    openPort();
    EXPECT_EQ(port.devicePath(), far.slave);
    EXPECT_THROW(port.setCommPort(PortName::number(3)), PortError);
    EXPECT_THROW(port.setPortOpen(true), PortError);
    port.setPortOpen(false);
    EXPECT_FALSE(port.PortOpen());
    port.setPortOpen(false);  // closing a closed port is harmless
    // A device path opens as it stands.
    port.setCommPort(PortName::path(far.slave));
    openPort();
}

TEST_F(PortOnPty, BytesTravelBothWaysWithReceiveAndSendEvents) {
    EventLog log(port);
    openPort();
    far.send(std::string("\x00\xff\x80hello\r\n", 10));
    ASSERT_TRUE(runUntil([&] { return port.InBufferCount() == 10; }));
    ASSERT_TRUE(runUntil([&] { return log.count(comEvReceive) >= 1; }));
    EXPECT_GT(port.LastArrival(), 0);
    EXPECT_EQ(port.Input(), std::string("\x00\xff\x80hello\r\n", 10));
    EXPECT_EQ(port.InBufferCount(), 0u);
    EXPECT_EQ(port.LastArrival(), 0);
    EXPECT_EQ(port.Input(), "");

    // Events are raised from the event loop, never inside the call that caused them.
    port.Output(std::string("\x01world\xfe", 7));
    EXPECT_EQ(log.count(comEvSend), 0);
    ASSERT_TRUE(runUntil([&] { return log.count(comEvSend) == 1; }));
    EXPECT_EQ(far.drain(), std::string("\x01world\xfe", 7));

    // A large block arrives whole and in order, with one send event when all has left.
    std::string big;
    for (int i = 0; i < 200'000; ++i) big += static_cast<char>(i * 7);
    std::string got;
    port.Output(big);
    ASSERT_TRUE(runUntil([&] {
        got += far.drain();
        return got.size() >= big.size();
    }));
    ASSERT_TRUE(runUntil([&] { return log.count(comEvSend) == 2; }));
    EXPECT_TRUE(got == big);
    runFor(30);
    EXPECT_EQ(log.count(comEvSend), 2);
    EXPECT_EQ(port.errorReports(), 0);
}

TEST_F(PortOnPty, ReadingAndWritingAClosedPortAreRefused) {
    EXPECT_THROW(port.Input(), PortError);
    EXPECT_THROW(port.Output("x"), PortError);
    EXPECT_THROW(port.CTSHolding(), PortError);
    EXPECT_THROW(port.DSRHolding(), PortError);
    EXPECT_THROW(port.CDHolding(), PortError);
    CommState s;
    EXPECT_NE(port.GetCommState(s), 0);
    EXPECT_NE(port.SetCommState(CommState{kFlagsManualRts}), 0);
}

TEST_F(PortOnPty, CustomBaudRatesAndEveryParityAreAcceptedBadTextsRefused) {
    for (const char* s : {"14400,n,8,1", "28800,e,7,2", "9600,s,5,1", "115200,m,6,1"}) {
        port.setSettings(s);
        EXPECT_EQ(port.Settings(), s);
    }
    openPort();
    for (const char* s : {"14400,n,8,1", "28800,o,8,1", "250000,e,8,2", "1200,o,8,1"}) {
        EXPECT_NO_THROW(port.setSettings(s)) << s;
        EXPECT_EQ(port.Settings(), s);
    }
    for (const char* s : {"", "abc", "0,n,8,1", "-9600,n,8,1", "9600,x,8,1", "9600,n,9,1",
                          "9600,n,4,1", "9600,n,8,3", "9600,n,8"}) {
        EXPECT_THROW(port.setSettings(s), PortError) << s;
        EXPECT_EQ(port.Settings(), "1200,o,8,1");
    }
    // The port still works with the settings it kept.
    far.send("ok");
    ASSERT_TRUE(runUntil([&] { return port.InBufferCount() == 2; }));
    EXPECT_EQ(port.Input(), "ok");
}

TEST_F(PortOnPty, AMissingDeviceIsRefusedAndTheSettingsStay) {
    host.env["LINETAP_COM1"] = "/dev/linetap-no-such-device";
    EXPECT_THROW(port.setPortOpen(true), PortError);
    EXPECT_FALSE(port.PortOpen());
    port.setCommPort(PortName::path("/nonexistent/ttyX"));
    EXPECT_THROW(port.setPortOpen(true), PortError);
    EXPECT_FALSE(port.PortOpen());
    EXPECT_THROW(port.Input(), PortError);
    // Nothing is left half open: the right device opens afterwards.
    port.setCommPort(PortName::number(1));
    host.env["LINETAP_COM1"] = far.slave;
    openPort();
}

TEST_F(PortOnPty, ABusyDeviceIsRefusedAndTheHolderKeepsIt) {
    openPort();
    LinuxSerialPort other(host, 1);
    EXPECT_THROW(other.setPortOpen(true), PortError);
    EXPECT_FALSE(other.PortOpen());
    // The holder is not disturbed.
    far.send("still");
    ASSERT_TRUE(runUntil([&] { return port.InBufferCount() == 5; }));
    EXPECT_EQ(port.Input(), "still");
    port.setPortOpen(false);

    // Held exclusively by another program (TIOCEXCL).
    const int holder = ::open(far.slave.c_str(), O_RDWR | O_NOCTTY | O_NONBLOCK);
    ASSERT_GE(holder, 0);
    ASSERT_EQ(::ioctl(holder, TIOCEXCL), 0);
    EXPECT_THROW(port.setPortOpen(true), PortError);
    EXPECT_FALSE(port.PortOpen());
    int excl = 0;
    ASSERT_EQ(::ioctl(holder, TIOCGEXCL, &excl), 0);
    EXPECT_EQ(excl, 1);
    ASSERT_EQ(::ioctl(holder, TIOCNXCL), 0);
    ::close(holder);
    openPort();
}

TEST_F(PortOnPty, TheFarEndClosingRaisesOneLossAndNothingSpins) {
    EventLog log(port);
    openPort();
    far.send("last words");
    ASSERT_TRUE(runUntil([&] { return port.InBufferCount() == 10; }));
    far.closeMaster();
    // The bytes read before the loss are still there to be taken; then the port closes.
    runFor(50);
    EXPECT_EQ(port.Input(), "last words");
    ASSERT_TRUE(runUntil([&] { return log.count(comEvLost) == 1; }));
    EXPECT_FALSE(port.PortOpen());
    const int wakeups = port.readerWakeups();
    runFor(200);
    EXPECT_EQ(log.count(comEvLost), 1);
    EXPECT_LE(port.errorReports(), 2);
    EXPECT_EQ(port.readerWakeups(), wakeups);
    EXPECT_THROW(port.Input(), PortError);
}

TEST_F(PortOnPty, TheFarEndClosingWithNothingUnreadClosesAtOnceAndWritesDoNotSpin) {
    EventLog log(port);
    openPort();
    port.Output("ping");
    ASSERT_TRUE(runUntil([&] { return log.count(comEvSend) == 1; }));
    far.closeMaster();
    ASSERT_TRUE(runUntil([&] { return log.count(comEvLost) == 1; }));
    EXPECT_FALSE(port.PortOpen());
    EXPECT_THROW(port.Output("x"), PortError);
    runFor(200);
    EXPECT_EQ(log.count(comEvLost), 1);
    EXPECT_LE(port.errorReports(), 2);
}

TEST_F(PortOnPty, WritingIntoAVanishedDeviceRaisesOneLoss) {
    EventLog log(port);
    openPort();
    far.closeMaster();
    // The write may be queued before the reader has noticed the hang-up.
    try {
        port.Output("into the void");
    } catch (const PortError&) {
    }
    ASSERT_TRUE(runUntil([&] { return log.count(comEvLost) == 1; }));
    runFor(200);
    EXPECT_EQ(log.count(comEvLost), 1);
    EXPECT_LE(port.errorReports(), 2);
}

TEST_F(PortOnPty, APseudoTerminalHasNoModemLinesAndSaysSoQuietly) {
    EventLog log(port);
    openPort();
    EXPECT_FALSE(port.hasModemLines());
    EXPECT_FALSE(port.lineWatcherRunning());
    EXPECT_FALSE(port.CTSHolding());
    EXPECT_FALSE(port.DSRHolding());
    EXPECT_FALSE(port.CDHolding());
    for (int i = 0; i < 50; ++i) {
        port.setRTSEnable(i % 2 == 0);
        port.setDTREnable(i % 3 == 0);
        EXPECT_FALSE(port.CTSHolding());
    }
    // Outputs still keep the value set.
    EXPECT_FALSE(port.RTSEnable());
    EXPECT_FALSE(port.DTREnable());
    runFor(50);
    EXPECT_TRUE(log.events.empty());
    EXPECT_EQ(port.errorReports(), 0);
}

TEST_F(PortOnPty, CommStateSwitchesRtsModeAndKeepsTheLineSettings) {
    port.setSettings("9600,n,8,2");
    openPort();
    auto slaveTermios = [&] {
        termios t{};
        const int fd = ::open(far.slave.c_str(), O_RDONLY | O_NOCTTY | O_NONBLOCK);
        if (fd >= 0) {
            ::tcgetattr(fd, &t);
            ::close(fd);
        }
        return t;
    };
    const termios before = slaveTermios();
    EXPECT_TRUE(before.c_cflag & CSTOPB);

    CommState s;
    ASSERT_EQ(port.SetCommState(CommState{kFlagsToggleRts}), 0);
    ASSERT_EQ(port.GetCommState(s), 0);
    EXPECT_EQ(s.Flags, kFlagsToggleRts);
    EXPECT_TRUE(port.softwareRtsToggle() || port.kernelRtsToggle());
    EXPECT_TRUE(port.DTREnable());

    ASSERT_EQ(port.SetCommState(CommState{kFlagsManualRts}), 0);
    ASSERT_EQ(port.GetCommState(s), 0);
    EXPECT_EQ(s.Flags, kFlagsManualRts);
    EXPECT_FALSE(port.softwareRtsToggle());
    EXPECT_FALSE(port.kernelRtsToggle());
    EXPECT_TRUE(port.RTSEnable());

    // The line settings survive; flow control and parity checking are off.
    const termios after = slaveTermios();
    const tcflag_t line = CBAUD | CSIZE | PARENB | PARODD | CMSPAR | CSTOPB;
    EXPECT_EQ(after.c_cflag & line, before.c_cflag & line);
    EXPECT_EQ(::cfgetospeed(&after), ::cfgetospeed(&before));
    EXPECT_FALSE(after.c_cflag & CRTSCTS);
    EXPECT_FALSE(after.c_iflag & (IXON | IXOFF | INPCK));

    // In toggle mode bytes still go out and the send event still comes.
    EventLog log(port);
    ASSERT_EQ(port.SetCommState(CommState{kFlagsToggleRts}), 0);
    port.Output("toggled");
    ASSERT_TRUE(runUntil([&] { return log.count(comEvSend) == 1; }));
    EXPECT_EQ(far.drain(), "toggled");
    // Closing leaves the mode; the next opening starts in manual mode.
    port.setPortOpen(false);
    openPort();
    ASSERT_EQ(port.GetCommState(s), 0);
    EXPECT_FALSE(rtsToggleOf(s.Flags));
}

TEST_F(PortOnPty, PausesOnTheWireSplitPacketsEvenWhenTheEventsAreHandledLate) {
    EventLog log(port);
    openPort();
    // The event loop does not run while the bytes arrive, as with a window busy redrawing.
    far.send("first");
    std::this_thread::sleep_for(std::chrono::milliseconds(60));
    far.send("second");
    std::this_thread::sleep_for(std::chrono::milliseconds(60));
    far.send("third");
    ASSERT_TRUE(runUntil([&] { return port.InBufferCount() == 16; }));
    ASSERT_TRUE(runUntil([&] { return log.count(comEvReceive) >= 1; }));
    const Nanos gap = 20 * kMs;
    EXPECT_EQ(port.Input(SerialPort::kAll, gap, 0), "first");
    EXPECT_EQ(port.Input(SerialPort::kAll, gap, 0), "second");
    EXPECT_EQ(port.Input(3, gap, 0), "thi");
    EXPECT_EQ(port.Input(SerialPort::kAll, gap, 0), "rd");

    // Without a gap limit, or with the pauses before gapsFrom, everything comes at once.
    far.send("a");
    std::this_thread::sleep_for(std::chrono::milliseconds(60));
    far.send("b");
    ASSERT_TRUE(runUntil([&] { return port.InBufferCount() == 2; }));
    EXPECT_EQ(port.Input(SerialPort::kAll, gap, port.LastArrival() + 1), "ab");
}

TEST_F(PortOnPty, OpeningAndClosingManyTimesLeavesNoThreadOrDescriptorBehind) {
    EventLog log(port);
    auto countFds = [] {
        int n = 0;
        for (int fd = 0; fd < 1024; ++fd) n += ::fcntl(fd, F_GETFD) != -1;
        return n;
    };
    openPort();
    port.setPortOpen(false);
    const int fdsBefore = countFds();
    for (int i = 0; i < 60; ++i) {
        openPort();
        if (i % 2 == 0) port.Output("x");
        far.send("y");
        if (i % 3 == 0) runFor(2);
        port.setPortOpen(false);
    }
    EXPECT_EQ(countFds(), fdsBefore);
    runFor(50);
    // Events from an earlier opening never reach a later one or a closed port.
    EXPECT_EQ(log.count(comEvLost), 0);
    EXPECT_EQ(port.InBufferCount(), 0u);
    far.drain();
    openPort();
    far.send("fresh");
    ASSERT_TRUE(runUntil([&] { return port.InBufferCount() == 5; }));
    EXPECT_EQ(port.Input(), "fresh");
}

}  // namespace
}  // namespace lt
