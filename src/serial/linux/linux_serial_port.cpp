#include "serial/linux/linux_serial_port.h"

#include <sys/ioctl.h>

#include <cstring>

#include "serial/linux/comm_state_map.h"
#include "serial/linux/serial_log.h"

namespace lt {

LinuxSerialPort::LinuxSerialPort(const Host& host, int defaultPortNumber, DriverFactory drivers)
    : host_(host),
      name_(PortName::number(defaultPortNumber)),
      device_(std::move(drivers), [this] { vanish_.errorReported(); }),
      receive_(
          post_, [&host] { return host.monotonicNow(); }, [this] { raise(PortEvent::Received); },
          [this] { raise(PortEvent::LineErrors); }),
      send_(post_, device_, [this] { raise(PortEvent::Sent); }),
      vanish_(post_, device_, [this] { lose(); }) {
    QObject::connect(&device_.qt(), &QSerialPort::bytesWritten, post_.context(),
                     [this](qint64) { send_.written(); });
    QObject::connect(&device_.qt(), &QSerialPort::readyRead, post_.context(),
                     [this] { receive_.readyRead(device_.qt()); });
}

LinuxSerialPort::~LinuxSerialPort() {
    closeDevice();
}

void LinuxSerialPort::openDevice() {
    if (open_) throw PortError("port already open");
    receive_.queue().clear();  // what a vanished device left goes with a new opening
    std::string refusal;
    bool marked = false;
    device_.open(name_.device([this](const std::string& var) { return host_.environment(var); }),
                 [&](PortDriver& driver) {
                     settings_.applyAtOpening(driver, device_.path(), refusal);
                     // Bytes that came before these settings were received under others (a rate,
                     // marking) and cannot be read right: the port begins with what follows.
                     LineTermios now;
                     marked = driver.getTermios(now) == 0 && (now.c_iflag & PARMRK) != 0;
                     if (const int err = driver.flushInput(); err != 0)
                         qCWarning(lcSerial)
                             << "input not flushed at opening:" << std::strerror(err);
                 });
    open_ = true;
    post_.nextTurn();
    vanish_.start();
    lines_.driveBoth();
    const unsigned turn = post_.turn();
    receive_.start(device_, marked, settings_.held().Parity != 'n',
                   [this, turn] { vanish_.readerFoundGone(turn); });
    if (device_.modemLines()) {
        watcher_ = std::make_unique<LineWatcher>(device_.driver(), [this, turn](PortEvent e) {
            post_.post(turn, [this, e] { raise(e); });
        });
        watcher_->start();
    }
    send_.start();
    if (!refusal.empty()) throw SettingsRefused(refusal);  // refused, but open
}

// Closing drops what was not taken, what a vanished device left included.
void LinuxSerialPort::closeDevice() {
    shutDevice();
    receive_.queue().clear();
}

void LinuxSerialPort::shutDevice() {
    if (!open_) return;
    // What was sent leaves before the port closes (closing flushes what is left after that); a
    // vanished device takes nothing more.
    if (!vanish_.vanished())
        send_.letOut(settings_.held().Baud, settings_.held().bitsPerCharacter());
    open_ = false;
    vanish_.stop();
    post_.nextTurn();
    receive_.stop();
    watcher_.reset();
    send_.stop();
    device_.close();
}

void LinuxSerialPort::requireOpen() const {
    if (!open_) throw PortError("port is closed");
}

// The loss is raised as soon as it is seen, capture running or not; the bytes read before it stay
// to be taken, however late that comes.
void LinuxSerialPort::lose() {
    shutDevice();
    raise(PortEvent::Lost);
}

void LinuxSerialPort::setPortName(const PortName& name) {
    if (open_) throw PortError("port is open");
    name_ = name;
}

PortName LinuxSerialPort::portName() const {
    return name_;
}

void LinuxSerialPort::setLineSettings(const std::string& text) {
    const auto s = parseLineSettings(text);
    if (!s) throw PortError("invalid settings: " + text);
    std::string refusal;
    if (!open_)
        settings_.hold(*s);
    else if (!settings_.apply(device_.driver(), device_.path(), *s, refusal))
        throw SettingsRefused(refusal);
    if (open_) receive_.setParity(settings_.held().Parity != 'n');
}

std::string LinuxSerialPort::lineSettings() const {
    return settings_.held().text();
}

void LinuxSerialPort::setOpen(bool open) {
    if (open)
        openDevice();
    else
        closeDevice();
}

bool LinuxSerialPort::isOpen() const {
    return open_;
}

// What a vanished device left can still be taken after the loss closed the port.
std::string LinuxSerialPort::takeReceived(std::size_t maxBytes, Nanos gapLimit, Nanos gapsFrom,
                                          Nanos* firstArrival) {
    if (receive_.queue().size() == 0) requireOpen();
    return receive_.queue().take(maxBytes, gapLimit, gapsFrom, firstArrival);
}

std::size_t LinuxSerialPort::receivedLength(std::size_t maxBytes, Nanos gapLimit,
                                            Nanos gapsFrom) const {
    return receive_.queue().packetLength(maxBytes, gapLimit, gapsFrom);
}

std::size_t LinuxSerialPort::bytesWaiting() const {
    return receive_.queue().size();
}

Nanos LinuxSerialPort::lastArrival() const {
    return receive_.queue().lastArrival();
}

void LinuxSerialPort::limitBacklog(std::size_t maxBytes) {
    RxQueue& queue = receive_.queue();
    const std::size_t before = queue.limit();
    if (maxBytes == before) return;
    const std::size_t dropped = queue.setLimit(maxBytes);
    // Only a limit that dropped something is worth a line.
    if (before == kAll || dropped == 0) return;
    qCInfo(lcSerial).noquote() << QStringLiteral(
                                      "%1: bytes dropped while the backlog was limited to %2: %3")
                                      .arg(QString::fromStdString(name_.recordLabel()))
                                      .arg(static_cast<qulonglong>(before))
                                      .arg(static_cast<qulonglong>(dropped));
}

void LinuxSerialPort::send(const std::string& bytes) {
    requireOpen();
    if (!bytes.empty()) send_.send(bytes);
}

void LinuxSerialPort::setRts(bool on) {
    lines_.setRts(on);
}

bool LinuxSerialPort::rts() const {
    return lines_.rts();
}

void LinuxSerialPort::setDtr(bool on) {
    lines_.setDtr(on);
}

bool LinuxSerialPort::dtr() const {
    return lines_.dtr();
}

bool LinuxSerialPort::dcd() const {
    requireOpen();
    return lines_.input(TIOCM_CD);
}
bool LinuxSerialPort::dsr() const {
    requireOpen();
    return lines_.input(TIOCM_DSR);
}
bool LinuxSerialPort::cts() const {
    requireOpen();
    return lines_.input(TIOCM_CTS);
}

std::vector<LineErrorReport> LinuxSerialPort::takeLineErrors() {
    return receive_.takeErrors();
}

int LinuxSerialPort::readCommState(CommState& state) {
    if (!open_) return EBADF;
    return commStateOf(device_, state);
}
int LinuxSerialPort::writeCommState(const CommState& state) {
    if (!open_) return EBADF;
    return putCommState(device_, lines_, state, send_.newest(), send_.sending());
}

std::string LinuxSerialPort::devicePath() const {
    return device_.path();
}
bool LinuxSerialPort::hasModemLines() const {
    return open_ && device_.modemLines();
}
bool LinuxSerialPort::kernelRtsToggle() const {
    return open_ && device_.toggleMode() == RtsToggle::Mode::Kernel;
}
bool LinuxSerialPort::softwareRtsToggle() const {
    return open_ && device_.toggleMode() == RtsToggle::Mode::Software;
}
bool LinuxSerialPort::lineWatcherRunning() const {
    return watcher_ && watcher_->running();
}
int LinuxSerialPort::errorReports() const {
    return vanish_.errorReports();
}
int LinuxSerialPort::readerWakeups() const {
    return receive_.readerWakeups();
}

}  // namespace lt
