#pragma once

#include <optional>

#include "serial/line_settings.h"
#include "serial/linux/port_driver.h"

namespace lt {

// Line settings in the kernel's terms, and applying them so that a driver's silent changes are
// found out: a UART's driver that has no 5 data bits, or cannot make a baud rate, often sets
// something else and still says yes.

// Writes baud rate, data bits, parity and stop bits into `t`, with line errors marked in the input
// (see markLineErrors).
void putLineSettings(const LineSettings& s, LineTermios& t);
// Has the terminal layer mark line errors in the received bytes instead of hiding them: a
// character with a parity or framing error comes as 0xFF 0x00 and the character (INPCK, PARMRK),
// a break as 0xFF 0x00 0x00 rather than a bare 0x00 (IGNBRK and BRKINT off), a data byte 0xFF
// doubled; nothing is dropped (IGNPAR off) and all eight bits are kept (ISTRIP off). The port
// takes the marks out again, so the data is exactly as on the wire.
void markLineErrors(LineTermios& t);
// The line settings `t` holds.
LineSettings lineSettingsOf(const LineTermios& t);

struct SettingsOutcome {
    enum Result {
        Taken,    // the device holds exactly the settings asked for
        Refused,  // the driver did not take them; the device holds what it held before
        Failed,   // the device could not be reached (err)
    } result;
    int err = 0;                        // the driver's error code, where it gave one
    std::optional<LineSettings> holds;  // what the driver made of a refused set, where it said yes
};

// Sets `wanted` on the device and reads the settings back. A pseudo-terminal has no wire: its
// driver reports 8 data bits and no parity whatever it is told, so there only the baud rate and
// stop bits are compared.
SettingsOutcome applyLineSettings(PortDriver& driver, const LineSettings& wanted);

}  // namespace lt
