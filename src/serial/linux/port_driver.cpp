#include "serial/linux/port_driver.h"

#include <linux/major.h>
#include <sys/ioctl.h>
#include <sys/stat.h>
#include <sys/sysmacros.h>
#include <unistd.h>

#include <cerrno>
#include <cstddef>
#include <cstring>

// The kernel's name for LineTermios, which TCGETS2 and TCSETS2 are defined with.
struct termios2 {
    tcflag_t c_iflag, c_oflag, c_cflag, c_lflag;
    cc_t c_line;
    cc_t c_cc[19];
    speed_t c_ispeed, c_ospeed;
};

namespace lt {

static_assert(sizeof(termios2) == sizeof(LineTermios));
static_assert(offsetof(termios2, c_ospeed) == offsetof(LineTermios, c_ospeed));

namespace {

int result(int r) {
    return r == 0 ? 0 : errno;
}

}  // namespace

int FdPortDriver::getTermios(LineTermios& t) {
    termios2 k{};
    if (::ioctl(fd_, TCGETS2, &k) != 0) return errno;
    std::memcpy(static_cast<void*>(&t), &k, sizeof k);
    return 0;
}

int FdPortDriver::setTermios(const LineTermios& t) {
    termios2 k{};
    std::memcpy(&k, &t, sizeof k);
    return result(::ioctl(fd_, TCSETS2, &k));
}

bool FdPortDriver::pseudoTerminal() {
    struct stat st {};
    if (::fstat(fd_, &st) != 0 || !S_ISCHR(st.st_mode)) return false;
    const unsigned int m = major(st.st_rdev);
    return m >= UNIX98_PTY_SLAVE_MAJOR && m < UNIX98_PTY_SLAVE_MAJOR + UNIX98_PTY_MAJOR_COUNT;
}

int FdPortDriver::setOutput(int bit, bool on) {
    return result(::ioctl(fd_, on ? TIOCMBIS : TIOCMBIC, &bit));
}

int FdPortDriver::getRs485(serial_rs485& conf) {
    return result(::ioctl(fd_, TIOCGRS485, &conf));
}

int FdPortDriver::setRs485(const serial_rs485& conf) {
    serial_rs485 c = conf;
    return result(::ioctl(fd_, TIOCSRS485, &c));
}

int FdPortDriver::drain() {
    return result(::tcdrain(fd_));
}

int FdPortDriver::getSerialInfo(serial_struct& info) {
    return result(::ioctl(fd_, TIOCGSERIAL, &info));
}

int FdPortDriver::setSerialInfo(const serial_struct& info) {
    serial_struct s = info;
    return result(::ioctl(fd_, TIOCSSERIAL, &s));
}

int FdPortDriver::errorCounts(ErrorCounts& counts) {
    serial_icounter_struct c{};
    if (::ioctl(fd_, TIOCGICOUNT, &c) != 0) return errno;
    counts = {static_cast<std::uint32_t>(c.frame), static_cast<std::uint32_t>(c.parity),
              static_cast<std::uint32_t>(c.brk), static_cast<std::uint32_t>(c.overrun),
              static_cast<std::uint32_t>(c.buf_overrun)};
    return 0;
}

int FdPortDriver::flushInput() {
    return result(::tcflush(fd_, TCIFLUSH));
}

}  // namespace lt
