#pragma once

#include <QSerialPort>
#include <QSocketNotifier>
#include <functional>
#include <memory>
#include <optional>
#include <string>

#include "serial/linux/low_latency.h"
#include "serial/linux/port_driver.h"
#include "serial/linux/rts_toggle.h"

namespace lt {

// The device of one port, opened and closed: QSerialPort opens it (lock file, exclusive use) and
// queues what the driver does not take at once; the port's driver, its RTS toggle (with the
// RS-485 state found at opening) and its low-latency flag live for as long as it is open.
// Closing, and a failed opening, leave the device as it was found.
class SerialDevice {
public:
    // Makes the driver for the descriptor of a device just opened (FdPortDriver by default).
    using DriverFactory = std::function<std::unique_ptr<PortDriver>(int fd)>;

    // `failed`: QSerialPort reported an error outside its own opening (on the owner's thread).
    SerialDevice(DriverFactory drivers, std::function<void()> failed);
    ~SerialDevice() { close(); }
    SerialDevice(const SerialDevice&) = delete;
    SerialDevice& operator=(const SerialDevice&) = delete;

    // Opens `path`, then `prepare` readies the open device (its settings). A device that cannot
    // be opened, or that `prepare` throws on, is closed again and the PortError goes on.
    void open(const std::string& path, const std::function<void(PortDriver&)>& prepare);
    void close();
    bool isOpen() const { return opened_ != nullptr; }

    // The open device's.
    QSerialPort& qt() { return serial_; }
    int fd() const { return opened_->fd; }
    PortDriver& driver() const { return *opened_->driver; }
    RtsToggle& toggle() const { return *opened_->toggle; }
    bool modemLines() const { return opened_->modem; }
    RtsToggle::Mode toggleMode() const {
        return opened_ ? opened_->toggle->mode() : RtsToggle::Mode::Off;
    }

    // Stops QSerialPort's watching of the descriptor: a device that has gone would otherwise
    // be reported again at every turn of the event loop, and the reader thread reads instead.
    void silence();
    // QSerialPort's watch for bytes to read on the open device, where it has one.
    QSocketNotifier* readWatch();
    // The device the last opening was for.
    const std::string& path() const { return path_; }

private:
    struct Opened {
        int fd;
        std::unique_ptr<PortDriver> driver;
        bool modem;
        std::unique_ptr<RtsToggle> toggle;
        std::optional<LowLatency> latency;
    };

    void openQt();
    void takeOver(const std::function<void(PortDriver&)>& prepare);

    QSerialPort serial_;
    std::string path_;
    DriverFactory makeDriver_;
    bool opening_ = false;  // errors QSerialPort reports inside its own opening are refusals
    std::unique_ptr<Opened> opened_;
};

}  // namespace lt
