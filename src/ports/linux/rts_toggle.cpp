#include "ports/linux/rts_toggle.h"

#include <sys/ioctl.h>

#include <cstring>

#include "ports/linux/serial_log.h"

namespace lt {

void RtsToggle::enter(std::uint64_t newest, bool sending) {
    std::lock_guard lock(mutex_);
    if (mode_ != Mode::Off) return;
    lastSent_ = newest;
    serial_rs485 conf{};
    if (const int err = driver_.getRs485(conf); err == 0) {
        savedRs485_ = conf;
        rs485Saved_ = true;
        conf.flags |= SER_RS485_ENABLED | SER_RS485_RTS_ON_SEND;
        conf.flags &= ~SER_RS485_RTS_AFTER_SEND;
        if (const int setErr = driver_.setRs485(conf); setErr == 0) {
            mode_ = Mode::Kernel;
            return;
        } else {
            qCDebug(lcSerial) << "RS-485 mode refused:" << std::strerror(setErr);
        }
    } else {
        qCDebug(lcSerial) << "no RS-485 mode:" << std::strerror(err);
    }
    // No RS-485 mode in the driver: RTS goes up around each write.
    mode_ = Mode::Software;
    up_ = sending;
    driveRts(up_);
}

void RtsToggle::leave() {
    std::lock_guard lock(mutex_);
    if (mode_ == Mode::Kernel && rs485Saved_) {
        if (const int err = driver_.setRs485(savedRs485_); err != 0)
            qCWarning(lcSerial) << "RS-485 state not restored:" << std::strerror(err);
    }
    mode_ = Mode::Off;
    up_ = false;
}

RtsToggle::Mode RtsToggle::mode() const {
    std::lock_guard lock(mutex_);
    return mode_;
}

void RtsToggle::beforeSend(std::uint64_t serial) {
    std::lock_guard lock(mutex_);
    lastSent_ = serial;
    if (mode_ == Mode::Software && !up_) {
        driveRts(true);
        up_ = true;
    }
}

void RtsToggle::drained(std::uint64_t serial) {
    std::lock_guard lock(mutex_);
    if (serial != lastSent_) return;  // more was sent since: its own drain lowers RTS
    if (mode_ == Mode::Software && up_) driveRts(false);
    up_ = false;
}

void RtsToggle::driveRts(bool on) {
    if (!modemLines_) return;
    if (const int err = driver_.setOutput(TIOCM_RTS, on); err != 0)
        qCWarning(lcSerial) << "RTS not driven:" << std::strerror(err);
}

}  // namespace lt
