#pragma once

#include <linux/serial.h>

#include <cstdint>
#include <mutex>
#include <optional>

#include "serial/linux/port_driver.h"

namespace lt {

// RTS on one open device: steady (driven by the owner) or in toggle mode, raised exactly while
// bytes are being sent. Toggle mode uses the kernel's RS-485 mode where the driver has it, with
// the receiver left on, so that only RTS changes; otherwise RTS goes up before a write and down
// once the output has drained.
//
// The RS-485 state found when the device was opened is put back by restore(), which the
// destructor calls: closing the port, a failed opening and the end of the program all leave the
// device as they found it. Outputs are numbered by the owner, as for the drain worker.
class RtsToggle {
public:
    enum class Mode { Off, Kernel, Software };

    // Takes over RTS on a device just opened: a kernel RS-485 mode found on is switched off, since
    // a steady RTS is the owner's. `modemLines`: the device has modem lines to drive.
    RtsToggle(PortDriver& driver, bool modemLines);
    ~RtsToggle() { restore(); }
    RtsToggle(const RtsToggle&) = delete;
    RtsToggle& operator=(const RtsToggle&) = delete;

    // Enters toggle mode. `newest`: the newest output so far; `sending`: it is still on its way,
    // so RTS goes up at once.
    void enter(std::uint64_t newest, bool sending);
    // Back to steady RTS (which the owner then drives).
    void leave();
    // Puts back the RS-485 state found at opening, if it was changed; steady RTS afterwards.
    void restore();
    Mode mode() const;

    // Output `serial` is about to be handed to the driver.
    void beforeSend(std::uint64_t serial);
    // Everything up to output `serial` has drained: RTS goes down unless more was sent since.
    // Called on the drain worker.
    void drained(std::uint64_t serial);

private:
    void setRs485(const serial_rs485& conf);
    void driveRts(bool on);

    PortDriver& driver_;
    const bool modemLines_;
    mutable std::mutex mutex_;
    Mode mode_ = Mode::Off;
    bool up_ = false;  // software toggle: RTS raised for bytes on their way
    std::uint64_t lastSent_ = 0;
    std::optional<serial_rs485> found_;  // the RS-485 state at opening, where the driver has one
    bool changed_ = false;               // changed since, so restore() has work to do
};

}  // namespace lt
