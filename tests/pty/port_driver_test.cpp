// The port against drivers a pseudo-terminal cannot play: modem lines, RTS toggle, RS-485 mode,
// line settings a driver does not take, line errors marked in the input and counted.
#include <sys/ioctl.h>

#include <functional>
#include <memory>
#include <mutex>
#include <optional>
#include <thread>
#include <tuple>

#include "pty_support.h"
#include "serial/linux/line_termios.h"
#include "serial/linux/linux_serial_port.h"
#include "serial/linux/port_driver.h"

namespace lt::pty {
namespace {

using namespace std::string_literals;

// A device with modem lines, with or without RS-485 mode, or whose driver adjusts its own
// terminal settings; bytes travel through the pseudo-terminal. Set the fields before opening.
class FakeDevice {
public:
    // An output changed (bit TIOCM_RTS or TIOCM_DTR), or a drain returned (bit 0), on `thread`.
    struct Step {
        int bit;
        bool on;
        std::thread::id thread;
    };

    LinuxSerialPort::DriverFactory drivers() {
        return [this](int fd) { return std::make_unique<Driver>(fd, *this); };
    }

    std::optional<serial_rs485> rs485;  // none: the driver has no RS-485 mode
    bool rs485Settable = true;          // false: reads its state but refuses every change
    int rs485Writes = 0;
    int termiosError = 0;  // reading or writing the terminal settings fails with it
    // With `driverAdjusts`, settings are kept here, as a UART's driver keeps them: it may change
    // what it is asked to set, or refuse it with an errno value.
    LineTermios termios;
    std::function<int(LineTermios&)> driverAdjusts;

    // The driver's error counters; none: it keeps none.
    std::optional<ErrorCounts> errors;
    void count(const std::function<void(ErrorCounts&)>& rise) {
        std::lock_guard lock(mutex_);
        rise(*errors);
    }

    std::vector<Step> steps() const {
        std::lock_guard lock(mutex_);
        return steps_;
    }
    bool rts() const {
        std::lock_guard lock(mutex_);
        for (auto it = steps_.rbegin(); it != steps_.rend(); ++it)
            if (it->bit == TIOCM_RTS) return it->on;
        return false;
    }

private:
    class Driver : public FdPortDriver {
    public:
        Driver(int fd, FakeDevice& device) : FdPortDriver(fd), d_(device) {}
        int waitChange(int) override { return EIO; }  // the watcher ends at once
        int levels(int& bits) override { return bits = 0; }
        int counts(LineCounts&) override { return EINVAL; }
        int setOutput(int bit, bool on) override { return d_.record({bit, on, {}}); }
        int getRs485(serial_rs485& conf) override {
            std::lock_guard lock(d_.mutex_);
            if (!d_.rs485) return ENOTTY;
            conf = *d_.rs485;
            return 0;
        }
        int setRs485(const serial_rs485& conf) override {
            std::lock_guard lock(d_.mutex_);
            if (!d_.rs485 || !d_.rs485Settable) return ENOTTY;
            d_.rs485 = conf;
            ++d_.rs485Writes;
            return 0;
        }
        int getTermios(LineTermios& t) override {
            std::lock_guard lock(d_.mutex_);
            if (d_.termiosError || !d_.driverAdjusts)
                return d_.termiosError ? d_.termiosError : FdPortDriver::getTermios(t);
            t = d_.termios;
            return 0;
        }
        int setTermios(const LineTermios& t) override {
            std::lock_guard lock(d_.mutex_);
            if (d_.termiosError || !d_.driverAdjusts)
                return d_.termiosError ? d_.termiosError : FdPortDriver::setTermios(t);
            LineTermios taken = t;
            if (const int err = d_.driverAdjusts(taken)) return err;
            d_.termios = taken;
            return 0;
        }
        bool pseudoTerminal() override {
            return !d_.driverAdjusts && FdPortDriver::pseudoTerminal();
        }
        int errorCounts(ErrorCounts& counts) override {
            std::lock_guard lock(d_.mutex_);
            if (!d_.errors) return EINVAL;
            counts = *d_.errors;
            return 0;
        }
        int drain() override {
            const int err = FdPortDriver::drain();
            d_.record({0, false, {}});
            return err;
        }

    private:
        FakeDevice& d_;
    };

    int record(Step s) {
        s.thread = std::this_thread::get_id();
        std::lock_guard lock(mutex_);
        steps_.push_back(s);
        return 0;
    }

    mutable std::mutex mutex_;
    std::vector<Step> steps_;
};

struct PortOnFakeDevice : OnPty {
    FakeDevice device;
    LinuxSerialPort port{host, 1, device.drivers()};
};

// A UART that reports RS-485 state but refuses every change toggles RTS in software, with nothing
// to put back or warn about.
TEST_F(PortOnFakeDevice, SoftwareToggleDropsRtsRightAfterTheDrainWhileTheOwnerIsBusy) {
    SerialLog logged;
    EventLog log(port);
    device.rs485 = serial_rs485{};
    device.rs485Settable = false;
    port.setOpen(true);
    ASSERT_EQ(port.writeCommState(CommState{RtsControl::Toggle}), 0);
    ASSERT_TRUE(port.softwareRtsToggle());
    EXPECT_FALSE(device.rts());

    for (const char* bytes : {"ping", "pong"}) {
        SCOPED_TRACE(bytes);
        const std::size_t before = device.steps().size();
        port.send(bytes);
        // The owner's thread stays busy, its event loop held, well past the drain: RTS falls all
        // the same, with the send event still to come.
        std::this_thread::sleep_for(std::chrono::milliseconds(50));
        ASSERT_TRUE(test::waitUntil([&] { return !device.rts(); }));
        EXPECT_EQ(log.count(PortEvent::Sent), 0);

        // Raised on the owner's thread before sending, dropped by the drain worker after draining.
        const auto steps = device.steps();
        ASSERT_EQ(steps.size(), before + 3);
        const auto& [up, drained, down] =
            std::tie(steps[before], steps[before + 1], steps[before + 2]);
        EXPECT_EQ(std::tuple(up.bit, up.on, up.thread),
                  std::tuple(TIOCM_RTS, true, std::this_thread::get_id()));
        EXPECT_EQ(std::tuple(drained.bit, down.bit, down.on), std::tuple(0, TIOCM_RTS, false));
        EXPECT_EQ(down.thread, drained.thread);

        ASSERT_TRUE(runUntil([&] { return log.count(PortEvent::Sent) == 1; }));
        EXPECT_EQ(far.drain(), bytes);
        log.events.clear();
    }
    port.setOpen(false);
    EXPECT_TRUE(logged.lines().empty());
}

TEST_F(PortOnFakeDevice, KernelToggleKeepsTheReceiverOnAndTheStateFoundIsPutBack) {
    serial_rs485 found{};
    found.flags = SER_RS485_ENABLED | SER_RS485_RTS_AFTER_SEND;  // left on by someone else
    found.delay_rts_before_send = 3;
    found.delay_rts_after_send = 5;
    device.rs485 = found;
    auto fields = [](const serial_rs485& c) {
        return std::tuple(c.flags, c.delay_rts_before_send, c.delay_rts_after_send);
    };
    auto now = [&] { return fields(*device.rs485); };

    // Opened in manual mode: the kernel lets go of RTS, so it stays as the program sets it.
    port.setOpen(true);
    EXPECT_EQ(now(), std::tuple(SER_RS485_RTS_AFTER_SEND, 3u, 5u));
    // Toggle mode: RTS up exactly while sending, and the receiver left on meanwhile.
    ASSERT_EQ(port.writeCommState(CommState{RtsControl::Toggle}), 0);
    EXPECT_TRUE(port.kernelRtsToggle());
    EXPECT_EQ(now(), std::tuple(SER_RS485_ENABLED | SER_RS485_RTS_ON_SEND | SER_RS485_RX_DURING_TX,
                                3u, 5u));
    ASSERT_EQ(port.writeCommState(CommState{RtsControl::Steady}), 0);
    EXPECT_FALSE(device.rs485->flags & SER_RS485_ENABLED);

    // Closing puts back what was found, from either mode; so does the end of the port's life.
    for (auto rts : {RtsControl::Toggle, RtsControl::Steady}) {
        if (!port.isOpen()) port.setOpen(true);
        ASSERT_EQ(port.writeCommState(CommState{rts}), 0);
        port.setOpen(false);
        EXPECT_EQ(now(), fields(found));
    }
    {
        LinuxSerialPort other(host, 1, device.drivers());
        other.setOpen(true);
        ASSERT_EQ(other.writeCommState(CommState{RtsControl::Toggle}), 0);
        ASSERT_NE(now(), fields(found));
    }
    EXPECT_EQ(now(), fields(found));
    // And an opening that fails after the device was taken over.
    const int writes = device.rs485Writes;
    device.termiosError = EIO;
    EXPECT_THROW(port.setOpen(true), PortError);
    EXPECT_FALSE(port.isOpen());
    EXPECT_GT(device.rs485Writes, writes);
    EXPECT_EQ(now(), fields(found));
}

TEST_F(PortOnFakeDevice, SettingsTheDriverDoesNotTakeAreRefusedAndTheLastTakenKept) {
    putLineSettings(*parseLineSettings("9600,n,8,1"), device.termios);
    // A driver without 5 data bits makes them 8 and says yes; it has no rate of 3 Mbaud at all.
    device.driverAdjusts = [](LineTermios& t) {
        if ((t.c_cflag & CSIZE) == CS5) t.c_cflag = (t.c_cflag & ~CSIZE) | CS8;
        return t.c_ospeed == 3'000'000 ? EINVAL : 0;
    };
    // The port's settings and the device's.
    auto both = [&] { return port.lineSettings() + " " + lineSettingsOf(device.termios).text(); };

    // Nothing was ever taken on this port: it opens with what the device had.
    port.setLineSettings("19200,e,5,1");
    EXPECT_THROW(port.setOpen(true), SettingsRefused);
    EXPECT_TRUE(port.isOpen());
    EXPECT_EQ(both(), "9600,n,8,1 9600,n,8,1");
    expectReceived(far, port, "ok");

    // Open: settings taken exactly stay; others leave the device and the port as they were.
    port.setLineSettings("19200,e,7,2");
    for (const char* text : {"19200,e,5,2", "3000000,e,7,2"}) {
        EXPECT_THROW(port.setLineSettings(text), SettingsRefused) << text;
        EXPECT_EQ(both(), "19200,e,7,2 19200,e,7,2");
    }
    EXPECT_TRUE(port.isOpen());

    // Reopened on a device reset to other settings, with held ones it refuses: the port goes back
    // to the last settings taken on it.
    port.setOpen(false);
    putLineSettings(*parseLineSettings("9600,n,8,1"), device.termios);
    port.setLineSettings("115200,n,5,1");
    EXPECT_THROW(port.setOpen(true), SettingsRefused);
    EXPECT_TRUE(port.isOpen());
    EXPECT_EQ(both(), "19200,e,7,2 19200,e,7,2");
    expectReceived(far, port, "ok");
}

// The device's own settings, kept at a first opening that refused the held ones, come without
// error marking (as QSerialPort leaves them); the comm state written next must not leave the
// port reading marked input as plain data.
TEST_F(PortOnFakeDevice, SettingsKeptAtARefusedFirstOpeningReadMarkedInputRight) {
    putLineSettings(*parseLineSettings("9600,n,8,1"), device.termios);
    device.termios.c_iflag &= ~(PARMRK | INPCK);
    device.driverAdjusts = [](LineTermios& t) { return t.c_ospeed == 3'000'000 ? EINVAL : 0; };
    port.setLineSettings("3000000,n,8,1");
    EXPECT_THROW(port.setOpen(true), SettingsRefused);
    ASSERT_TRUE(port.isOpen());
    ASSERT_EQ(port.writeCommState(CommState{RtsControl::Steady}), 0);

    // A data byte 0xFF, doubled, and a character B received with a framing error.
    far.send("\x01\xFF\xFF\xFF\0B"s);
    std::string got;
    ASSERT_TRUE(runUntil([&] {
        got += port.takeReceived();
        return !got.empty() && got.back() == 'B';
    }));
    EXPECT_EQ(got, "\x01\xFF"s + 'B');
    std::vector<LineErrorReport> errors;
    EXPECT_TRUE(runUntil([&] {
        errors = port.takeLineErrors();
        return !errors.empty();
    }));
    ASSERT_EQ(errors.size(), 1u);
    EXPECT_EQ(errors[0].kind, LineError::Framing);
}

// With its settings kept by the fake driver, the pseudo-terminal passes the far end's bytes as
// they are: they play the input as the terminal layer hands it over with errors marked.
struct PortMarkingErrors : PortOnFakeDevice {
    void SetUp() override {
        PortOnFakeDevice::SetUp();
        putLineSettings(*parseLineSettings("9600,e,8,1"), device.termios);
        device.driverAdjusts = [](LineTermios&) { return 0; };
        port.setLineSettings("9600,e,8,1");
    }
    // Sends the marked `input`; the port's data once it holds `size` bytes, their arrival from
    // `first` to `last`.
    std::string receive(const std::string& input, std::size_t size) {
        far.send(input);
        EXPECT_TRUE(runUntil([&] { return port.bytesWaiting() == size; }));
        last = port.lastArrival();
        return port.takeReceived(SerialPort::kAll, 0, 0, &first);
    }
    Nanos first = 0, last = 0;
    std::vector<LineErrorReport> errors(std::size_t count) {
        std::vector<LineErrorReport> all;
        EXPECT_TRUE(runUntil([&] {
            const auto more = port.takeLineErrors();
            all.insert(all.end(), more.begin(), more.end());
            return all.size() >= count;
        }));
        return all;
    }
    EventLog log{port};
};

TEST_F(PortMarkingErrors, AMarkedErrorInAPacketKeepsItsCharacterAndItsPlaceAndTheDataIsUnharmed) {
    device.errors = ErrorCounts{};
    port.setOpen(true);
    // Data bytes 0xFF (doubled by the terminal layer) and 0x00, and in the middle a character
    // received with a framing error, as the counters tell.
    device.count([](ErrorCounts& c) { ++c.frame; });
    EXPECT_EQ(receive("\x01\xFF\xFF\0A\xFF\0BC"s, 6), "\x01\xFF\0ABC"s);
    const auto got = errors(1);
    ASSERT_EQ(got.size(), 1u);
    EXPECT_EQ(std::tuple(got[0].kind, got[0].count), std::tuple(LineError::Framing, 1u));
    EXPECT_TRUE(first <= got[0].at && got[0].at <= last) << "inside the packet";
    EXPECT_GE(log.count(PortEvent::LineErrors), 1);
}

TEST_F(PortMarkingErrors, WithoutCountersAMarkIsAParityErrorWhereTheLineHasParityElseFraming) {
    port.setOpen(true);
    for (auto [settings, kind] :
         {std::pair("9600,e,8,1", LineError::Parity), {"9600,n,8,1", LineError::Framing}}) {
        port.setLineSettings(settings);
        EXPECT_EQ(receive("\xFF\0x"s, 1), "x");
        const auto got = errors(1);
        ASSERT_EQ(got.size(), 1u);
        EXPECT_EQ(got[0].kind, kind) << settings;
    }
    // Errors not yet taken are dropped with the closing.
    far.send(std::string("\xFF\x00\x00", 3));
    ASSERT_TRUE(runUntil([&] { return log.count(PortEvent::LineErrors) >= 3; }));
    port.setOpen(false);
    port.setOpen(true);
    EXPECT_TRUE(port.takeLineErrors().empty());
}

}  // namespace
}  // namespace lt::pty
