#pragma once

#include <sys/ioctl.h>

#include <cerrno>
#include <functional>
#include <memory>
#include <mutex>
#include <optional>
#include <thread>
#include <vector>

#include "ports/linux/linux_serial_port.h"
#include "ports/linux/port_driver.h"

namespace lt::pty {

// What a pseudo-terminal cannot play: a device with modem lines (inputs off, no wait for them),
// with or without RS-485 mode. Bytes still travel through the pseudo-terminal; the calls the port
// makes on the device are recorded. It outlives the driver the port makes at each opening, and
// its calls come from the port's helper threads too. Set its fields before the port opens.
class FakeDevice {
public:
    struct Output {
        int bit;
        bool on;
        std::thread::id thread;
    };
    // One record of what happened, in order: an output changed, or a drain returned.
    struct Step {
        enum { OutputChanged, Drained } kind;
        Output output;
    };

    LinuxSerialPort::DriverFactory drivers() {
        return [this](int fd) { return std::make_unique<Driver>(fd, *this); };
    }

    // The device's RS-485 state; none where the driver has no RS-485 mode.
    std::optional<serial_rs485> rs485;
    bool rs485Settable = true;  // false: reads its state but refuses every change (ENOTTY)
    int rs485Writes = 0;
    // Reading or writing the terminal settings fails with this code (0: the pseudo-terminal's).
    int termiosError = 0;
    // Terminal settings kept here, as a UART's driver keeps them, rather than on the
    // pseudo-terminal: `driverAdjusts` may change what it is asked to set, or refuse it with an
    // errno value.
    bool ownTermios = false;
    LineTermios termios;
    std::function<int(LineTermios&)> driverAdjusts;

    std::vector<Step> steps() const {
        std::lock_guard lock(mutex_);
        return steps_;
    }
    // The level of RTS the port left, and whether it was ever driven.
    bool rts() const {
        std::lock_guard lock(mutex_);
        for (auto it = steps_.rbegin(); it != steps_.rend(); ++it)
            if (it->kind == Step::OutputChanged && it->output.bit == TIOCM_RTS)
                return it->output.on;
        return false;
    }

private:
    class Driver : public FdPortDriver {
    public:
        Driver(int fd, FakeDevice& device) : FdPortDriver(fd), device_(device) {}
        int waitChange(int) override { return EIO; }  // the watcher ends at once
        int levels(int& bits) override {
            bits = 0;
            return 0;
        }
        int counts(LineCounts&) override { return EINVAL; }
        int setOutput(int bit, bool on) override {
            device_.record({Step::OutputChanged, {bit, on, std::this_thread::get_id()}});
            return 0;
        }
        int getRs485(serial_rs485& conf) override {
            std::lock_guard lock(device_.mutex_);
            if (!device_.rs485) return ENOTTY;
            conf = *device_.rs485;
            return 0;
        }
        int setRs485(const serial_rs485& conf) override {
            std::lock_guard lock(device_.mutex_);
            if (!device_.rs485 || !device_.rs485Settable) return ENOTTY;
            device_.rs485 = conf;
            ++device_.rs485Writes;
            return 0;
        }
        int getTermios(LineTermios& t) override {
            std::lock_guard lock(device_.mutex_);
            if (device_.termiosError) return device_.termiosError;
            if (!device_.ownTermios) return FdPortDriver::getTermios(t);
            t = device_.termios;
            return 0;
        }
        int setTermios(const LineTermios& t) override {
            std::lock_guard lock(device_.mutex_);
            if (device_.termiosError) return device_.termiosError;
            if (!device_.ownTermios) return FdPortDriver::setTermios(t);
            LineTermios taken = t;
            if (device_.driverAdjusts)
                if (const int err = device_.driverAdjusts(taken); err != 0) return err;
            device_.termios = taken;
            return 0;
        }
        bool pseudoTerminal() override {
            return !device_.ownTermios && FdPortDriver::pseudoTerminal();
        }
        int drain() override {
            const int err = FdPortDriver::drain();
            device_.record({Step::Drained, {0, false, std::this_thread::get_id()}});
            return err;
        }

    private:
        FakeDevice& device_;
    };

    void record(const Step& s) {
        std::lock_guard lock(mutex_);
        steps_.push_back(s);
    }

    mutable std::mutex mutex_;
    std::vector<Step> steps_;
};

}  // namespace lt::pty
