#pragma once

#include "serial/linux/serial_device.h"

namespace lt {

// RTS and DTR as the owner set them, kept while the port is closed and driven on the open
// device, and the inputs read from it. A device without modem lines drives nothing and reads its
// inputs as off.
class ModemLines {
public:
    explicit ModemLines(const SerialDevice& device) : device_(device) {}

    bool rts() const { return rts_; }
    bool dtr() const { return dtr_; }
    // In toggle mode the driver owns RTS; the value is kept for later.
    void setRts(bool on);
    void setDtr(bool on);
    // Drives both as set, on a device just opened.
    void driveBoth() const;

    // Asserts DTR and, unless RTS is in toggle mode, RTS, as the comm state does: 0 or the
    // driver's error code.
    int assertDtr();
    int assertRts();

    // One input (TIOCM_CD, TIOCM_DSR or TIOCM_CTS) of the open device; off where it cannot be read.
    bool input(int bit) const;

private:
    void drive(int bit, bool on) const;
    int assertOutput(int bit);

    const SerialDevice& device_;
    bool rts_ = false, dtr_ = false;
};

}  // namespace lt
