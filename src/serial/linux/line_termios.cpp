#include "serial/linux/line_termios.h"

#include <cerrno>
#include <cstring>
#include <utility>

#include "serial/linux/device_gone.h"
#include "serial/linux/serial_log.h"

namespace lt {

namespace {

// The kernel's own code for the bit rate, in the field beside the number.
constexpr tcflag_t kOtherRate = 0010000;  // BOTHER

constexpr std::pair<int, speed_t> kRates[] = {
    {50, B50},           {75, B75},           {110, B110},         {134, B134},
    {150, B150},         {200, B200},         {300, B300},         {600, B600},
    {1200, B1200},       {1800, B1800},       {2400, B2400},       {4800, B4800},
    {9600, B9600},       {19200, B19200},     {38400, B38400},     {57600, B57600},
    {115200, B115200},   {230400, B230400},   {460800, B460800},   {500000, B500000},
    {576000, B576000},   {921600, B921600},   {1000000, B1000000}, {1152000, B1152000},
    {1500000, B1500000}, {2000000, B2000000}, {2500000, B2500000}, {3000000, B3000000},
    {3500000, B3500000}, {4000000, B4000000},
};

bool takenAsAsked(const LineSettings& wanted, const LineSettings& got, bool pseudoTerminal) {
    if (got.Baud != wanted.Baud || got.StopBits != wanted.StopBits) return false;
    return pseudoTerminal || (got.DataBits == wanted.DataBits && got.Parity == wanted.Parity);
}

}  // namespace

void putLineSettings(const LineSettings& s, LineTermios& t) {
    // A rate with a code of its own goes by its code, which every driver knows; any other as a
    // number.
    tcflag_t code = kOtherRate;
    for (const auto& [rate, c] : kRates)
        if (rate == s.Baud) code = c;
    t.c_cflag &= ~(CBAUD | CIBAUD);  // the input rate follows the output rate
    t.c_cflag |= code;
    t.c_ispeed = t.c_ospeed = static_cast<speed_t>(s.Baud);

    t.c_cflag &= ~CSIZE;
    t.c_cflag |= s.DataBits == 5 ? CS5 : s.DataBits == 6 ? CS6 : s.DataBits == 7 ? CS7 : CS8;
    t.c_cflag &= ~(PARENB | PARODD | CMSPAR);
    switch (s.Parity) {
        case 'e':
            t.c_cflag |= PARENB;
            break;
        case 'o':
            t.c_cflag |= PARENB | PARODD;
            break;
        case 's':
            t.c_cflag |= PARENB | CMSPAR;
            break;
        case 'm':
            t.c_cflag |= PARENB | CMSPAR | PARODD;
            break;
        default:
            break;
    }
    if (s.StopBits == 2)
        t.c_cflag |= CSTOPB;
    else
        t.c_cflag &= ~CSTOPB;
    t.c_iflag &= ~(INPCK | PARMRK | IGNPAR);
}

LineSettings lineSettingsOf(const LineTermios& t) {
    LineSettings s;
    s.Baud = static_cast<int>(t.c_ospeed);
    switch (t.c_cflag & CSIZE) {
        case CS5:
            s.DataBits = 5;
            break;
        case CS6:
            s.DataBits = 6;
            break;
        case CS7:
            s.DataBits = 7;
            break;
        default:
            s.DataBits = 8;
            break;
    }
    if (!(t.c_cflag & PARENB))
        s.Parity = 'n';
    else if (t.c_cflag & CMSPAR)
        s.Parity = (t.c_cflag & PARODD) ? 'm' : 's';
    else
        s.Parity = (t.c_cflag & PARODD) ? 'o' : 'e';
    s.StopBits = (t.c_cflag & CSTOPB) ? 2 : 1;
    return s;
}

SettingsOutcome applyLineSettings(PortDriver& driver, const LineSettings& wanted) {
    LineTermios before;
    if (const int err = driver.getTermios(before); err != 0)
        return {SettingsOutcome::Failed, err, std::nullopt};
    LineTermios asked = before;
    putLineSettings(wanted, asked);
    const int setErr = driver.setTermios(asked);
    if (deviceGone(setErr)) return {SettingsOutcome::Failed, setErr, std::nullopt};
    std::optional<LineSettings> holds;
    if (setErr == 0) {
        LineTermios after;
        if (const int err = driver.getTermios(after); err != 0)
            return {SettingsOutcome::Failed, err, std::nullopt};
        holds = lineSettingsOf(after);
        if (takenAsAsked(wanted, *holds, driver.pseudoTerminal()))
            return {SettingsOutcome::Taken, 0, holds};
    }
    // Whatever the driver made of them, the device goes back to what it held.
    if (const int err = driver.setTermios(before); err != 0)
        qCWarning(lcSerial) << "settings not put back:" << std::strerror(err);
    return {SettingsOutcome::Refused, setErr, holds};
}

}  // namespace lt
