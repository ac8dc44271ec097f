#include "serial/linux/serial_device.h"

#include <fcntl.h>
#include <sys/ioctl.h>
#include <unistd.h>

#include <cerrno>
#include <cstring>

#include "serial/linux/serial_log.h"
#include "serial/serial_port.h"

namespace lt {

namespace {

// A device that another program holds exclusively stays untouched, even for root, whom the kernel
// would let in. The descriptor returned is kept open until the port is, so opening raises no
// extra hang-up on the lines.
int probeNotHeld(const std::string& path) {
    const int probe = ::open(path.c_str(), O_RDONLY | O_NOCTTY | O_NONBLOCK | O_CLOEXEC);
    if (probe < 0) throw PortError(path + ": " + std::strerror(errno));
    int exclusive = 0;
    if (::ioctl(probe, TIOCGEXCL, &exclusive) == 0 && exclusive) {
        ::close(probe);
        throw PortError(path + ": in use by another program");
    }
    return probe;
}

}  // namespace

SerialDevice::SerialDevice(DriverFactory drivers, std::function<void()> failed)
    : makeDriver_(std::move(drivers)) {
    QObject::connect(&serial_, &QSerialPort::errorOccurred, &serial_,
                     [this, failed = std::move(failed)](QSerialPort::SerialPortError e) {
                         if (e == QSerialPort::NoError) return;
                         if (opening_) {
                             qCDebug(lcSerial)
                                 << path_.c_str() << "refused:" << serial_.errorString();
                             return;
                         }
                         failed();
                     });
}

void SerialDevice::open(const std::string& path, const std::function<void(PortDriver&)>& prepare) {
    path_ = path;
    const int probe = probeNotHeld(path_);
    try {
        openQt();
    } catch (const PortError&) {
        ::close(probe);
        throw;
    }
    ::close(probe);
    takeOver(prepare);
}

// QSerialPort opens with settings every driver takes; ours follow, read back.
void SerialDevice::openQt() {
    serial_.setPortName(QString::fromStdString(path_));
    opening_ = true;
    const bool ok = serial_.open(QIODevice::ReadWrite);
    opening_ = false;
    if (!ok) throw PortError(path_ + ": " + serial_.errorString().toStdString());
}

void SerialDevice::takeOver(const std::function<void(PortDriver&)>& prepare) {
    auto o = std::make_unique<Opened>();
    o->fd = static_cast<int>(serial_.handle());
    o->driver = makeDriver_ ? makeDriver_(o->fd) : std::make_unique<FdPortDriver>(o->fd);
    int bits = 0;
    o->modem = o->driver->levels(bits) == 0;
    o->toggle = std::make_unique<RtsToggle>(*o->driver, o->modem);
    try {
        prepare(*o->driver);
    } catch (const PortError&) {
        o->toggle.reset();  // puts back the RS-485 state it found
        serial_.close();
        throw;
    }
    o->latency.emplace(*o->driver, path_);
    opened_ = std::move(o);
}

void SerialDevice::close() {
    if (!opened_) return;
    opened_->toggle.reset();  // puts back the RS-485 state found at opening
    opened_->latency.reset();
    // Input only: output still on its way was given its time before (SendPath::letOut), and
    // what is left then was cleared there.
    serial_.clear(QSerialPort::Input);
    serial_.close();
    opened_.reset();
}

void SerialDevice::silence() {
    for (QSocketNotifier* n : serial_.findChildren<QSocketNotifier*>()) n->setEnabled(false);
}

QSocketNotifier* SerialDevice::readWatch() {
    QSocketNotifier* watch = nullptr;
    for (QSocketNotifier* n : serial_.findChildren<QSocketNotifier*>()) {
        if (n->type() == QSocketNotifier::Read && n->socket() == opened_->fd) watch = n;
    }
    return watch;
}

}  // namespace lt
