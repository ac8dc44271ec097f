#pragma once

#include <linux/serial.h>
#include <termios.h>

#include <cstdint>

#include "serial/linux/line_watcher.h"

namespace lt {

// The terminal settings of a device as the kernel holds them (struct termios2, TCGETS2): termios
// with the baud rates as plain numbers, so that any rate can be set and read back. Declared here
// because the kernel's own header for it clashes with <termios.h>.
struct LineTermios {
    tcflag_t c_iflag = 0, c_oflag = 0, c_cflag = 0, c_lflag = 0;
    cc_t c_line = 0;
    cc_t c_cc[19] = {};
    speed_t c_ispeed = 0, c_ospeed = 0;
};

// The driver's error counters (TIOCGICOUNT): characters with a framing or a parity error, breaks,
// and received characters lost in the UART (overrun) or for want of buffer room in the kernel.
struct ErrorCounts {
    std::uint32_t frame = 0, parity = 0, brk = 0, overrun = 0, bufOverrun = 0;
};

// What the port asks of its open device besides reading and writing: the terminal settings, the
// outputs, RS-485 mode, the drain, the low-latency flag and, for the line watcher, the inputs.
// Every call returns 0 or an errno value. Calls come from the owner's thread, the drain worker
// (drain and RTS) and the line watcher (the inputs).
class PortDriver : public ModemLineDriver {
public:
    virtual int getTermios(LineTermios& t) = 0;
    virtual int setTermios(const LineTermios& t) = 0;
    // The device is a pseudo-terminal, which has terminal settings but no wire.
    virtual bool pseudoTerminal() = 0;
    // Raises or lowers one output: TIOCM_RTS or TIOCM_DTR.
    virtual int setOutput(int bit, bool on) = 0;
    virtual int getRs485(serial_rs485& conf) = 0;
    virtual int setRs485(const serial_rs485& conf) = 0;
    // Blocks until everything written has left the device (tcdrain); EINTR when interrupted.
    virtual int drain() = 0;
    virtual int getSerialInfo(serial_struct& info) = 0;
    virtual int setSerialInfo(const serial_struct& info) = 0;
    // The error counters, where the driver keeps them; called on the reader thread.
    virtual int errorCounts(ErrorCounts& counts) = 0;
    // Drops what has been received and not read (TCIFLUSH).
    virtual int flushInput() = 0;
};

// The driver of an open serial device, through system calls on its descriptor.
class FdPortDriver : public PortDriver {
public:
    explicit FdPortDriver(int fd) : fd_(fd), lines_(fd) {}

    int waitChange(int timeoutMs) override { return lines_.waitChange(timeoutMs); }
    int levels(int& bits) override { return lines_.levels(bits); }
    int counts(LineCounts& counts) override { return lines_.counts(counts); }
    int getTermios(LineTermios& t) override;
    int setTermios(const LineTermios& t) override;
    bool pseudoTerminal() override;
    int setOutput(int bit, bool on) override;
    int getRs485(serial_rs485& conf) override;
    int setRs485(const serial_rs485& conf) override;
    int drain() override;
    int getSerialInfo(serial_struct& info) override;
    int setSerialInfo(const serial_struct& info) override;
    int errorCounts(ErrorCounts& counts) override;
    int flushInput() override;

private:
    int fd_;
    FdModemLineDriver lines_;
};

}  // namespace lt
