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
// with or without RS-485 mode, or whose driver keeps and adjusts its own terminal settings. Bytes
// still travel through the pseudo-terminal. Calls come from the port's helper threads too; set
// the fields before the port opens.
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
    // Settings kept here, as a UART's driver keeps them: `driverAdjusts` may change what it is
    // asked to set, or refuse it with an errno value.
    bool ownTermios = false;
    LineTermios termios;
    std::function<int(LineTermios&)> driverAdjusts;

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
            if (d_.termiosError || !d_.ownTermios)
                return d_.termiosError ? d_.termiosError : FdPortDriver::getTermios(t);
            t = d_.termios;
            return 0;
        }
        int setTermios(const LineTermios& t) override {
            std::lock_guard lock(d_.mutex_);
            if (d_.termiosError || !d_.ownTermios)
                return d_.termiosError ? d_.termiosError : FdPortDriver::setTermios(t);
            LineTermios taken = t;
            if (const int err = d_.driverAdjusts ? d_.driverAdjusts(taken) : 0) return err;
            d_.termios = taken;
            return 0;
        }
        bool pseudoTerminal() override { return !d_.ownTermios && FdPortDriver::pseudoTerminal(); }
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

}  // namespace lt::pty
