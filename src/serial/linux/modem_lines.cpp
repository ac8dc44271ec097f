#include "serial/linux/modem_lines.h"

#include <sys/ioctl.h>

#include <cstring>

#include "serial/linux/serial_log.h"

namespace lt {

void ModemLines::setRts(bool on) {
    rts_ = on;
    if (device_.isOpen() && device_.toggleMode() == RtsToggle::Mode::Off) drive(TIOCM_RTS, on);
}

void ModemLines::setDtr(bool on) {
    dtr_ = on;
    if (device_.isOpen()) drive(TIOCM_DTR, on);
}

void ModemLines::driveBoth() const {
    drive(TIOCM_RTS, rts_);
    drive(TIOCM_DTR, dtr_);
}

int ModemLines::assertDtr() {
    dtr_ = true;
    return assertOutput(TIOCM_DTR);
}

int ModemLines::assertRts() {
    rts_ = true;
    return assertOutput(TIOCM_RTS);
}

int ModemLines::assertOutput(int bit) {
    return device_.modemLines() ? device_.driver().setOutput(bit, true) : 0;
}

void ModemLines::drive(int bit, bool on) const {
    if (!device_.modemLines()) return;
    if (const int err = device_.driver().setOutput(bit, on); err != 0)
        qCWarning(lcSerial) << device_.path().c_str() << "output not driven:" << std::strerror(err);
}

bool ModemLines::input(int bit) const {
    if (!device_.modemLines()) return false;
    int bits = 0;
    if (const int err = device_.driver().levels(bits); err != 0) {
        qCDebug(lcSerial) << device_.path().c_str() << "inputs not read:" << std::strerror(err);
        return false;
    }
    return (bits & bit) != 0;
}

}  // namespace lt
