#pragma once

#include <linux/serial.h>

#include <cstdint>
#include <mutex>

#include "ports/linux/port_driver.h"

namespace lt {

// RTS toggle on one open device: RTS raised exactly while bytes are being sent. The kernel's
// RS-485 mode does it where the driver has it; otherwise RTS goes up before a write and down
// once the output has drained. The RS-485 state found on entering is put back on leaving.
// Outputs are numbered by the owner, as for the drain worker.
class RtsToggle {
public:
    enum class Mode { Off, Kernel, Software };

    // `modemLines`: the device has modem lines; without them there is nothing to drive.
    RtsToggle(PortDriver& driver, bool modemLines) : driver_(driver), modemLines_(modemLines) {}
    ~RtsToggle() { leave(); }
    RtsToggle(const RtsToggle&) = delete;
    RtsToggle& operator=(const RtsToggle&) = delete;

    // Enters toggle mode. `newest`: the newest output so far; `sending`: it is still on its way,
    // so RTS goes up at once.
    void enter(std::uint64_t newest, bool sending);
    // Back to steady RTS (which the owner then drives).
    void leave();
    Mode mode() const;

    // Output `serial` is about to be handed to the driver.
    void beforeSend(std::uint64_t serial);
    // Everything up to output `serial` has drained: RTS goes down unless more was sent since.
    // Called on the drain worker.
    void drained(std::uint64_t serial);

private:
    void driveRts(bool on);

    PortDriver& driver_;
    const bool modemLines_;
    mutable std::mutex mutex_;
    Mode mode_ = Mode::Off;
    bool up_ = false;  // software toggle: RTS raised for bytes on their way
    std::uint64_t lastSent_ = 0;
    bool rs485Saved_ = false;
    serial_rs485 savedRs485_{};
};

}  // namespace lt
