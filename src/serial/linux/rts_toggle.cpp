#include "serial/linux/rts_toggle.h"

#include <sys/ioctl.h>

#include <cstring>

#include "serial/linux/serial_log.h"

namespace lt {

RtsToggle::RtsToggle(PortDriver& driver, bool modemLines)
    : driver_(driver), modemLines_(modemLines) {
    serial_rs485 conf{};
    if (const int err = driver_.getRs485(conf); err != 0) {
        qCDebug(lcSerial) << "no RS-485 mode:" << std::strerror(err);
        return;
    }
    found_ = conf;
    if (conf.flags & SER_RS485_ENABLED) {
        std::lock_guard lock(mutex_);
        conf.flags &= ~SER_RS485_ENABLED;
        setRs485(conf);
    }
}

void RtsToggle::enter(std::uint64_t newest, bool sending) {
    std::lock_guard lock(mutex_);
    if (mode_ != Mode::Off) return;
    lastSent_ = newest;
    if (found_) {
        // RTS up for sending and down after; the receiver stays on while sending, so the lines
        // are watched as before and only RTS changes.
        serial_rs485 conf = *found_;
        conf.flags |= SER_RS485_ENABLED | SER_RS485_RTS_ON_SEND | SER_RS485_RX_DURING_TX;
        conf.flags &= ~SER_RS485_RTS_AFTER_SEND;
        if (const int err = driver_.setRs485(conf); err == 0) {
            changed_ = true;
            mode_ = Mode::Kernel;
            return;
        } else {
            qCDebug(lcSerial) << "RS-485 mode refused:" << std::strerror(err);
        }
    }
    // No RS-485 mode in the driver: RTS goes up around each write.
    mode_ = Mode::Software;
    up_ = sending;
    driveRts(up_);
}

void RtsToggle::leave() {
    std::lock_guard lock(mutex_);
    if (mode_ == Mode::Kernel) {
        serial_rs485 conf = *found_;
        conf.flags &= ~SER_RS485_ENABLED;
        setRs485(conf);
    }
    mode_ = Mode::Off;
    up_ = false;
}

void RtsToggle::restore() {
    std::lock_guard lock(mutex_);
    if (found_ && changed_) {
        if (const int err = driver_.setRs485(*found_); err != 0)
            qCWarning(lcSerial) << "RS-485 state not restored:" << std::strerror(err);
        changed_ = false;
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

void RtsToggle::setRs485(const serial_rs485& conf) {
    if (const int err = driver_.setRs485(conf); err != 0)
        qCWarning(lcSerial) << "RS-485 state not set:" << std::strerror(err);
    else
        changed_ = true;
}

void RtsToggle::driveRts(bool on) {
    if (!modemLines_) return;
    if (const int err = driver_.setOutput(TIOCM_RTS, on); err != 0)
        qCWarning(lcSerial) << "RTS not driven:" << std::strerror(err);
}

}  // namespace lt
