#include "serial/linux/comm_state_map.h"

#include <termios.h>

namespace lt {

int commStateOf(const SerialDevice& device, CommState& state) {
    LineTermios t;
    if (const int err = device.driver().getTermios(t); err != 0) return err;
    state.rts =
        device.toggleMode() != RtsToggle::Mode::Off ? RtsControl::Toggle : RtsControl::Steady;
    return 0;
}

int putCommState(SerialDevice& device, ModemLines& lines, const CommState& state,
                 std::uint64_t newest, bool sending) {
    LineTermios t;
    if (const int err = device.driver().getTermios(t); err != 0) return err;
    t.c_iflag &= ~(IXON | IXOFF | IXANY | INPCK | PARMRK | IGNPAR | ISTRIP | INLCR | IGNCR | ICRNL |
                   IGNBRK | BRKINT);
    t.c_cflag &= ~CRTSCTS;
    t.c_cflag |= CLOCAL | CREAD;
    if (const int err = device.driver().setTermios(t); err != 0) return err;

    if (const int err = lines.assertDtr(); err != 0) return err;
    if (state.rts == RtsControl::Toggle) {
        device.toggle().enter(newest, sending);
        return 0;
    }
    device.toggle().leave();
    return lines.assertRts();
}

}  // namespace lt
