#pragma once

#include <functional>
#include <memory>
#include <string>

#include "base/host.h"
#include "serial/linux/held_settings.h"
#include "serial/linux/line_watcher.h"
#include "serial/linux/modem_lines.h"
#include "serial/linux/owner_post.h"
#include "serial/linux/receive_path.h"
#include "serial/linux/send_path.h"
#include "serial/linux/serial_device.h"
#include "serial/linux/vanish_watch.h"
#include "serial/serial_port.h"

namespace lt {

// A real serial port on Linux: QSerialPort opens the device (lock file, exclusive use) and
// writes; a thin POSIX layer does the rest.
//
// - Line settings: set through termios2 (any baud rate) and read back, so that settings a driver
//   changes or refuses are refused (SettingsRefused) rather than taken on trust.
//
// - Reading: a reader thread takes bytes from the device as soon as they arrive and stamps every
//   chunk with the host's monotonic clock, so packet boundaries follow the pauses on the wire
//   even while the GUI thread is busy.
// - Events: every event is posted to the thread that owns the port (the GUI thread) and raised
//   from its event loop, never from inside a call.
// - Modem lines: CTS, DSR and DCD are watched by a helper thread (TIOCMIWAIT with the driver's
//   transition counters and a look at least every 50 ms, or polling at 250 Hz where the wait is
//   refused). A port without modem
//   lines (a pseudo-terminal, some USB devices) reads its inputs as off and raises no line event.
// - RTS toggle: the kernel's RS-485 mode where the driver has it (the receiver stays on while
//   sending), otherwise RTS raised before a write and dropped by the drain worker as soon as the
//   output has drained. Closing the port, a failed opening and the destructor put back the
//   RS-485 state found at opening; a program ending on SIGTERM or SIGINT closes its ports from
//   its event loop so that the device is left as it was found.
// - A vanished device: the port closes and raises PortEvent::Lost once, as soon as the loss is
//   seen; bytes already read stay readable until they are taken. Closing the port again, or
//   opening it, drops them.
//
// The host's monotonicNow() is called from the reader thread, so it must be thread-safe.
class LinuxSerialPort : public SerialPort {
public:
    // Makes the driver for the descriptor of a device just opened (FdPortDriver by default);
    // tests stand in for drivers that a pseudo-terminal cannot play.
    using DriverFactory = SerialDevice::DriverFactory;

    LinuxSerialPort(const Host& host, int defaultPortNumber, DriverFactory drivers = {});
    ~LinuxSerialPort() override;
    LinuxSerialPort(const LinuxSerialPort&) = delete;
    LinuxSerialPort& operator=(const LinuxSerialPort&) = delete;

    void setPortName(const PortName& name) override;
    PortName portName() const override;
    void setLineSettings(const std::string& text) override;
    std::string lineSettings() const override;
    void setOpen(bool open) override;
    bool isOpen() const override;
    std::string takeReceived(std::size_t maxBytes = kAll, Nanos gapLimit = 0, Nanos gapsFrom = 0,
                             Nanos* firstArrival = nullptr) override;
    std::size_t receivedLength(std::size_t maxBytes, Nanos gapLimit, Nanos gapsFrom) const override;
    std::size_t bytesWaiting() const override;
    Nanos lastArrival() const override;
    void limitBacklog(std::size_t maxBytes) override;
    void send(const std::string& bytes) override;
    std::uint64_t sendsDropped() const override { return send_.dropped(); }
    void setRts(bool on) override;
    bool rts() const override;
    void setDtr(bool on) override;
    bool dtr() const override;
    bool dcd() const override;
    bool dsr() const override;
    bool cts() const override;
    int readCommState(CommState& state) override;
    int writeCommState(const CommState& state) override;

    // --- What the open port turned out to offer (for diagnostics and tests) --------------------
    std::string devicePath() const;   // the device the port name resolved to at the last open
    bool hasModemLines() const;       // the driver reports CTS, DSR and DCD
    bool kernelRtsToggle() const;     // RTS toggle done by the kernel's RS-485 mode
    bool softwareRtsToggle() const;   // RTS toggle done around each write
    bool lineWatcherRunning() const;  // the modem-line helper thread is alive
    int errorReports() const;         // errors QSerialPort reported since construction
    int readerWakeups() const;        // turns of the reader thread since the last open

private:
    void openDevice();
    void closeDevice();
    // Closes the device and keeps what was read from it.
    void shutDevice();
    void requireOpen() const;
    void lose();

    // The parts, each with its own state; the order is that of setting up.
    const Host& host_;
    PortName name_;
    bool open_ = false;
    OwnerPost post_;
    SerialDevice device_;
    HeldSettings settings_;
    ModemLines lines_{device_};
    ReceivePath receive_;
    SendPath send_;
    VanishWatch vanish_;
    std::unique_ptr<LineWatcher> watcher_;  // for each opening of a device with modem lines
};

}  // namespace lt
