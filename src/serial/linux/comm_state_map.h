#pragma once

#include <cstdint>

#include "serial/linux/modem_lines.h"
#include "serial/linux/serial_device.h"
#include "serial/serial_port.h"

namespace lt {

// The comm state of an open device in the kernel's terms. Both return 0 or the driver's error
// code.

// RTS in toggle mode or steady, as the device now has it.
int commStateOf(const SerialDevice& device, CommState& state);

// Keeps the line settings, switches off flow control, parity checking and character
// translation, asserts DTR, and puts RTS in toggle mode or asserts it steadily. `newest` is the
// newest output so far and `sending` says it is still on its way, so toggled RTS goes up at once.
int putCommState(SerialDevice& device, ModemLines& lines, const CommState& state,
                 std::uint64_t newest, bool sending);

}  // namespace lt
