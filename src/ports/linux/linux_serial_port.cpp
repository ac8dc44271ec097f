#include "ports/linux/linux_serial_port.h"

#include <fcntl.h>
#include <linux/serial.h>
#include <poll.h>
#include <pthread.h>
#include <sched.h>
#include <sys/eventfd.h>
#include <sys/ioctl.h>
#include <termios.h>
#include <unistd.h>

#include <QMetaObject>
#include <QObject>
#include <QSerialPort>
#include <QSocketNotifier>
#include <QTimer>
#include <atomic>
#include <cerrno>
#include <cstring>
#include <thread>

#include "ports/line_settings.h"
#include "ports/linux/interruptible_thread.h"
#include "ports/linux/line_watcher.h"
#include "ports/linux/rx_queue.h"

namespace lt {

namespace {

// Bytes read from the device must stay readable for a while after it vanished, so that the
// packet being framed is still shown, relayed and recorded; then the port is closed regardless.
constexpr int kLostGraceMs = 2000;

std::string errnoText(int err) {
    return std::strerror(err);
}

}  // namespace

struct LinuxSerialPort::Impl {
    Impl(LinuxSerialPort& o, const Host& h, int number)
        : owner(o), host(h), name(PortName::number(number)) {
        QObject::connect(&serial, &QSerialPort::errorOccurred, &receiver,
                         [this](QSerialPort::SerialPortError e) { serialError(e); });
        QObject::connect(&serial, &QSerialPort::bytesWritten, &receiver,
                         [this](qint64) { written(); });
        QObject::connect(&serial, &QSerialPort::readyRead, &receiver,
                         [this] { readInGuiThread(); });
        grace.setSingleShot(true);
        QObject::connect(&grace, &QTimer::timeout, &receiver, [this] { finishLost(); });
    }

    ~Impl() { closeDevice(); }

    LinuxSerialPort& owner;
    const Host& host;
    PortName name;
    LineSettings settings;  // 1200,o,8,1
    std::string device;
    bool rts = false, dtr = false;

    QObject receiver;  // queued deliveries to the owner's thread go through it
    QSerialPort serial;
    QTimer grace;
    int fd = -1;
    bool open = false;
    unsigned gen = 0;  // bumps at every opening and closing: stale deliveries are dropped
    bool modem = false;
    bool toggle = false, kernelToggle = false, softToggle = false, rtsUpForSend = false;
    bool rs485Saved = false;
    serial_rs485 savedRs485{};
    bool lowLatencySet = false;
    serial_struct savedSerial{};
    bool vanished = false;
    bool applying = false;  // errors QSerialPort reports inside our own settings calls
    int errorReports = 0;

    RxQueue rx;
    std::atomic<bool> receivePosted{false};
    bool readerThread = false;
    std::thread reader;
    int wakeFd = -1;
    std::atomic<int> readerWakeups{0};

    std::unique_ptr<FdModemLineDriver> lineDriver;
    std::unique_ptr<LineWatcher> watcher;

    InterruptibleThread drainer;
    std::atomic<std::uint64_t> drainWanted{0};
    std::uint64_t outputSerial = 0;

    // --- Delivery to the owner's thread ----------------------------------------------------
    template <class F>
    void post(F&& fn) {
        QMetaObject::invokeMethod(&receiver, std::forward<F>(fn), Qt::QueuedConnection);
    }
    void postEvent(PortEvent event, unsigned g) {
        post([this, event, g] {
            if (g == gen && open && !vanished) owner.deliver(event);
        });
    }
    void postReceive(unsigned g) {
        if (receivePosted.exchange(true)) return;
        post([this, g] {
            receivePosted = false;
            if (g == gen && open && rx.size() > 0) owner.deliver(PortEvent::Received);
        });
    }

    void requireOpen() const {
        if (!open) throw PortError("port is closed");
    }

    // --- Settings ----------------------------------------------------------------------------
    // Baud rate (any the driver takes), data and stop bits through QSerialPort; parity through
    // termios, because QSerialPort leaves CMSPAR set when going from mark or space parity to
    // even or odd, which would keep sending mark or space. Parity is never checked on input,
    // so a byte with a parity error is still shown rather than dropped.
    bool applySettings(const LineSettings& s, const LineSettings* current = nullptr) {
        // On an open port only what changes is handed to the driver: a pseudo-terminal, for
        // one, refuses to be told its data bits again.
        auto changed = [&](auto field) { return !current || s.*field != current->*field; };
        bool ok = true;
        applying = true;
        if (ok && changed(&LineSettings::Baud)) ok = serial.setBaudRate(s.Baud);
        if (ok && changed(&LineSettings::DataBits))
            ok = serial.setDataBits(static_cast<QSerialPort::DataBits>(s.DataBits));
        if (ok && changed(&LineSettings::StopBits))
            ok = serial.setStopBits(s.StopBits == 2 ? QSerialPort::TwoStop : QSerialPort::OneStop);
        if (ok && !current) ok = serial.setFlowControl(QSerialPort::NoFlowControl);
        applying = false;
        if (ok && serial.isOpen()) ok = applyParity(s.Parity);
        return ok;
    }

    bool applyParity(char letter) const {
        termios t{};
        if (::tcgetattr(fd, &t) != 0) return false;
        t.c_cflag &= ~(PARENB | PARODD | CMSPAR);
        switch (letter) {
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
        t.c_iflag &= ~(INPCK | PARMRK | IGNPAR);
        return ::tcsetattr(fd, TCSANOW, &t) == 0;
    }

    // --- Modem lines -------------------------------------------------------------------------
    void drive(int bit, bool on) const {
        if (fd < 0 || !modem) return;
        ::ioctl(fd, on ? TIOCMBIS : TIOCMBIC, &bit);
    }
    bool input(int bit) const {
        requireOpen();
        if (!modem || vanished) return false;
        int bits = 0;
        if (::ioctl(fd, TIOCMGET, &bits) != 0) return false;
        return (bits & bit) != 0;
    }

    // --- Opening and closing -----------------------------------------------------------------
    void openDevice() {
        if (open) throw PortError("port already open");
        device = name.device([this](const std::string& var) { return host.environment(var); });

        // A device that another program holds exclusively stays untouched, even for root, whom
        // the kernel would let in. Kept open until the port is, so opening raises no extra
        // hang-up on the lines.
        const int probe = ::open(device.c_str(), O_RDONLY | O_NOCTTY | O_NONBLOCK | O_CLOEXEC);
        if (probe < 0) throw PortError(device + ": " + errnoText(errno));
        int exclusive = 0;
        if (::ioctl(probe, TIOCGEXCL, &exclusive) == 0 && exclusive) {
            ::close(probe);
            throw PortError(device + ": in use by another program");
        }

        serial.setPortName(QString::fromStdString(device));
        applySettings(settings);  // kept by QSerialPort and applied as it opens
        applying = true;
        const bool ok = serial.open(QIODevice::ReadWrite);
        applying = false;
        if (!ok) {
            ::close(probe);
            throw PortError(device + ": " + serial.errorString().toStdString());
        }
        ::close(probe);
        fd = static_cast<int>(serial.handle());
        if (!applyParity(settings.Parity)) {
            const std::string why = errnoText(errno);
            serial.close();
            fd = -1;
            throw PortError(device + ": settings refused: " + why);
        }

        // The reader thread takes the bytes; QSerialPort's own reading on the GUI thread is
        // switched off so the two never split the stream between them.
        readerThread = false;
        for (QSocketNotifier* n : serial.findChildren<QSocketNotifier*>()) {
            if (n->type() == QSocketNotifier::Read && n->socket() == fd) {
                n->setEnabled(false);
                readerThread = true;
            }
        }

        int bits = 0;
        modem = ::ioctl(fd, TIOCMGET, &bits) == 0;
        setLowLatency();

        open = true;
        vanished = false;
        ++gen;
        toggle = kernelToggle = softToggle = rtsUpForSend = false;
        rs485Saved = false;
        drive(TIOCM_RTS, rts);
        drive(TIOCM_DTR, dtr);

        startReader();
        if (modem) {
            lineDriver = std::make_unique<FdModemLineDriver>(fd);
            const unsigned g = gen;
            watcher = std::make_unique<LineWatcher>(*lineDriver,
                                                    [this, g](PortEvent e) { postEvent(e, g); });
            watcher->start();
        }
        startDrainer();
    }

    void setLowLatency() {
        lowLatencySet = false;
        serial_struct ss{};
        if (::ioctl(fd, TIOCGSERIAL, &ss) != 0) return;  // not offered: quietly skipped
        savedSerial = ss;
        if (ss.flags & ASYNC_LOW_LATENCY) return;
        ss.flags |= ASYNC_LOW_LATENCY;
        lowLatencySet = ::ioctl(fd, TIOCSSERIAL, &ss) == 0;
    }

    void closeDevice() {
        if (!open) return;
        open = false;
        vanished = false;
        ++gen;
        grace.stop();
        stopReader();
        if (watcher) watcher->stop();
        watcher.reset();
        lineDriver.reset();
        drainer.stop();
        leaveKernelToggle();
        if (lowLatencySet) ::ioctl(fd, TIOCSSERIAL, &savedSerial);
        lowLatencySet = false;
        serial.clear();
        serial.close();
        fd = -1;
        rx.clear();
        receivePosted = false;
        toggle = softToggle = rtsUpForSend = false;
    }

    // --- Reading -----------------------------------------------------------------------------
    void startReader() {
        if (!readerThread) return;
        wakeFd = ::eventfd(0, EFD_CLOEXEC | EFD_NONBLOCK);
        readerWakeups = 0;
        const unsigned g = gen;
        const int devFd = fd;
        const int stopFd = wakeFd;
        reader = std::thread([this, g, devFd, stopFd] { readLoop(g, devFd, stopFd); });
    }

    void stopReader() {
        if (!reader.joinable()) return;
        const std::uint64_t one = 1;
        [[maybe_unused]] auto n = ::write(wakeFd, &one, sizeof one);
        reader.join();
        ::close(wakeFd);
        wakeFd = -1;
    }

    void readLoop(unsigned g, int devFd, int stopFd) {
        // The stamps must follow the wire even while other programs keep the processors busy.
        // Where the system allows it the reader runs in the real-time class: it only ever waits
        // for the device, so it cannot starve anything. Elsewhere it runs as any thread.
        sched_param realTime{};
        realTime.sched_priority = 10;
        ::pthread_setschedparam(::pthread_self(), SCHED_FIFO, &realTime);
        char buf[4096];
        pollfd fds[2] = {{devFd, POLLIN, 0}, {stopFd, POLLIN, 0}};
        for (;;) {
            const int r = ::poll(fds, 2, -1);
            if (r < 0) {
                if (errno == EINTR) continue;
                break;
            }
            if (fds[1].revents) return;
            ++readerWakeups;
            const short ev = fds[0].revents;
            bool gone = (ev & POLLNVAL) != 0;
            while (!gone) {
                const ssize_t n = ::read(devFd, buf, sizeof buf);
                if (n > 0) {
                    // Stamped the moment they are read: the pause on the wire, not the delay of
                    // the GUI thread, decides where a packet ends.
                    rx.push(buf, static_cast<std::size_t>(n), host.monotonicNow());
                    postReceive(g);
                    continue;
                }
                if (n < 0 && errno == EINTR) continue;
                if (n < 0 && errno == EAGAIN) break;
                // Nothing left: an end of input is a hang-up only when poll said so.
                if (n == 0 && !(ev & (POLLHUP | POLLERR))) break;
                gone = true;
            }
            if (gone) {
                post([this, g] { onVanished(g); });
                return;  // nothing more to read: no spinning on a dead descriptor
            }
        }
    }

    // Fallback where QSerialPort's reading could not be switched off: read on its signal.
    void readInGuiThread() {
        if (readerThread || !open) return;
        const QByteArray bytes = serial.readAll();
        if (bytes.isEmpty()) return;
        rx.push(bytes.constData(), static_cast<std::size_t>(bytes.size()), host.monotonicNow());
        postReceive(gen);
    }

    std::string take(std::size_t maxBytes, Nanos gapLimit, Nanos gapsFrom) {
        requireOpen();
        std::string out = rx.take(maxBytes, gapLimit, gapsFrom);
        if (vanished && rx.size() == 0) {
            const unsigned g = gen;
            post([this, g] {
                if (g == gen) finishLost();
            });
        }
        return out;
    }

    // --- Writing and the send event ----------------------------------------------------------
    void output(const std::string& bytes) {
        requireOpen();
        if (vanished) throw PortError(device + ": device vanished");
        if (bytes.empty()) return;
        if (softToggle && !rtsUpForSend) {
            drive(TIOCM_RTS, true);
            rtsUpForSend = true;
        }
        ++outputSerial;
        // Handed to the driver at once when nothing waits before it: a relayed packet leaves
        // now, not at the next turn of the event loop, which a redraw may hold up. What the
        // driver does not take (or a write it refuses, which then reports its error as
        // QSerialPort's) is queued behind, in order.
        std::size_t done = 0;
        if (serial.bytesToWrite() == 0) done = writeNow(bytes);
        if (done == bytes.size()) {
            written();
            return;
        }
        const qint64 rest = static_cast<qint64>(bytes.size() - done);
        if (serial.write(bytes.data() + done, rest) != rest)
            throw PortError(device + ": " + serial.errorString().toStdString());
    }

    // Writes what the driver takes without waiting (the descriptor is non-blocking).
    std::size_t writeNow(const std::string& bytes) const {
        std::size_t done = 0;
        while (done < bytes.size()) {
            const ssize_t n = ::write(fd, bytes.data() + done, bytes.size() - done);
            if (n > 0)
                done += static_cast<std::size_t>(n);
            else if (n < 0 && errno == EINTR)
                continue;
            else
                break;
        }
        return done;
    }

    // All queued bytes have left QSerialPort: the drain worker waits for the kernel's queue
    // (and the UART) to empty, off the GUI thread.
    void written() {
        if (!open || serial.bytesToWrite() > 0) return;
        drainWanted = outputSerial;
        drainer.notify();
    }

    void startDrainer() {
        const unsigned g = gen;
        const int devFd = fd;
        // Taken here, not on the new thread: a write may ask for a drain before it runs.
        const std::uint64_t alreadyServed = drainWanted.load();
        drainer.start([this, g, devFd, alreadyServed](const std::atomic<bool>& stopping) {
            std::uint64_t served = alreadyServed;
            while (!stopping) {
                const std::uint64_t want = drainWanted.load();
                if (want == served) {
                    drainer.waitFor(1000);
                    continue;
                }
                if (::tcdrain(devFd) != 0 && errno == EINTR) continue;
                served = want;
                post([this, g, want] { drained(g, want); });
            }
        });
    }

    void drained(unsigned g, std::uint64_t served) {
        if (g != gen || !open || vanished) return;
        // More was written since: its own drain brings the event.
        if (served != outputSerial || serial.bytesToWrite() > 0) return;
        if (softToggle && rtsUpForSend) drive(TIOCM_RTS, false);
        rtsUpForSend = false;
        owner.deliver(PortEvent::Sent);
    }

    // --- Comm state --------------------------------------------------------------------------
    int getCommState(CommState& state) const {
        if (!open) return EBADF;
        if (vanished) return EIO;
        termios t{};
        if (::tcgetattr(fd, &t) != 0) return errno;
        std::uint32_t f = 1;                    // fBinary
        if (t.c_iflag & INPCK) f |= 1u << 1;    // fParity
        if (t.c_cflag & CRTSCTS) f |= 1u << 2;  // fOutxCtsFlow
        if (dtr) f |= 1u << 4;                  // fDtrControl = enable
        if (t.c_iflag & IXON) f |= 1u << 8;     // fOutX
        if (t.c_iflag & IXOFF) f |= 1u << 9;    // fInX
        if (toggle)
            f |= 3u << 12;
        else if (t.c_cflag & CRTSCTS)
            f |= 2u << 12;
        else if (rts)
            f |= 1u << 12;
        state.Flags = f;
        return 0;
    }

    int setCommState(const CommState& state) {
        if (!open) return EBADF;
        if (vanished) return EIO;
        termios t{};
        if (::tcgetattr(fd, &t) != 0) return errno;
        // The line settings stay; flow control, parity checking and character translation go.
        t.c_iflag &= ~(IXON | IXOFF | IXANY | INPCK | PARMRK | IGNPAR | ISTRIP | INLCR | IGNCR |
                       ICRNL | IGNBRK | BRKINT);
        t.c_cflag &= ~CRTSCTS;
        t.c_cflag |= CLOCAL | CREAD;
        if (::tcsetattr(fd, TCSANOW, &t) != 0) return errno;

        dtr = true;
        if (modem) {
            int bit = TIOCM_DTR;
            if (::ioctl(fd, TIOCMBIS, &bit) != 0) return errno;
        }
        if (rtsToggleOf(state.Flags)) {
            enterToggle();
        } else {
            leaveKernelToggle();
            toggle = softToggle = false;
            rtsUpForSend = false;
            rts = true;
            if (modem) {
                int bit = TIOCM_RTS;
                if (::ioctl(fd, TIOCMBIS, &bit) != 0) return errno;
            }
        }
        return 0;
    }

    void enterToggle() {
        if (toggle) return;
        toggle = true;
        serial_rs485 conf{};
        if (::ioctl(fd, TIOCGRS485, &conf) == 0) {
            savedRs485 = conf;
            rs485Saved = true;
            conf.flags |= SER_RS485_ENABLED | SER_RS485_RTS_ON_SEND;
            conf.flags &= ~SER_RS485_RTS_AFTER_SEND;
            if (::ioctl(fd, TIOCSRS485, &conf) == 0) {
                kernelToggle = true;
                return;
            }
        }
        // No RS-485 mode in the driver: RTS goes up around each write.
        softToggle = true;
        rtsUpForSend = serial.bytesToWrite() > 0;
        drive(TIOCM_RTS, rtsUpForSend);
    }

    void leaveKernelToggle() {
        if (kernelToggle && rs485Saved && fd >= 0) ::ioctl(fd, TIOCSRS485, &savedRs485);
        kernelToggle = false;
    }

    // --- A vanished device -------------------------------------------------------------------
    void serialError(QSerialPort::SerialPortError e) {
        if (e == QSerialPort::NoError || applying) return;
        ++errorReports;
        if (!open || vanished) return;
        // QSerialPort would report the same error again at every turn of the event loop: its
        // notifiers are stopped here, and the port is closed from the loop.
        for (QSocketNotifier* n : serial.findChildren<QSocketNotifier*>()) n->setEnabled(false);
        const unsigned g = gen;
        post([this, g] { onVanished(g); });
    }

    void onVanished(unsigned g) {
        if (g != gen || !open || vanished) return;
        vanished = true;
        for (QSocketNotifier* n : serial.findChildren<QSocketNotifier*>()) n->setEnabled(false);
        if (rx.size() == 0)
            finishLost();
        else
            grace.start(kLostGraceMs);
    }

    void finishLost() {
        if (!open || !vanished) return;
        closeDevice();
        owner.deliver(PortEvent::Lost);
    }
};

LinuxSerialPort::LinuxSerialPort(const Host& host, int defaultPortNumber)
    : d_(std::make_unique<Impl>(*this, host, defaultPortNumber)) {}

LinuxSerialPort::~LinuxSerialPort() = default;

void LinuxSerialPort::setPortName(const PortName& name) {
    if (d_->open) throw PortError("port is open");
    d_->name = name;
}

PortName LinuxSerialPort::portName() const {
    return d_->name;
}

void LinuxSerialPort::setLineSettings(const std::string& text) {
    const auto s = parseLineSettings(text);
    if (!s) throw PortError("invalid settings: " + text);
    if (d_->open && !d_->applySettings(*s, &d_->settings)) {
        d_->applySettings(d_->settings, &*s);
        throw PortError("settings refused by the driver: " + text);
    }
    d_->settings = *s;
}

std::string LinuxSerialPort::lineSettings() const {
    return d_->settings.text();
}

void LinuxSerialPort::setOpen(bool open) {
    if (open)
        d_->openDevice();
    else
        d_->closeDevice();
}

bool LinuxSerialPort::isOpen() const {
    return d_->open;
}

std::string LinuxSerialPort::takeReceived(std::size_t maxBytes, Nanos gapLimit, Nanos gapsFrom) {
    return d_->take(maxBytes, gapLimit, gapsFrom);
}

std::size_t LinuxSerialPort::receivedLength(std::size_t maxBytes, Nanos gapLimit,
                                            Nanos gapsFrom) const {
    return d_->rx.packetLength(maxBytes, gapLimit, gapsFrom);
}

std::size_t LinuxSerialPort::bytesWaiting() const {
    return d_->rx.size();
}

Nanos LinuxSerialPort::firstArrival() const {
    return d_->rx.firstArrival();
}

Nanos LinuxSerialPort::lastArrival() const {
    return d_->rx.lastArrival();
}

void LinuxSerialPort::send(const std::string& bytes) {
    d_->output(bytes);
}

void LinuxSerialPort::setRts(bool on) {
    d_->rts = on;
    // In toggle mode the driver owns RTS; the value is kept for later.
    if (d_->open && !d_->toggle) d_->drive(TIOCM_RTS, on);
}

bool LinuxSerialPort::rts() const {
    return d_->rts;
}

void LinuxSerialPort::setDtr(bool on) {
    d_->dtr = on;
    if (d_->open) d_->drive(TIOCM_DTR, on);
}

bool LinuxSerialPort::dtr() const {
    return d_->dtr;
}

bool LinuxSerialPort::dcd() const {
    return d_->input(TIOCM_CD);
}
bool LinuxSerialPort::dsr() const {
    return d_->input(TIOCM_DSR);
}
bool LinuxSerialPort::cts() const {
    return d_->input(TIOCM_CTS);
}

int LinuxSerialPort::readCommState(CommState& state) {
    return d_->getCommState(state);
}
int LinuxSerialPort::writeCommState(const CommState& state) {
    return d_->setCommState(state);
}

std::string LinuxSerialPort::devicePath() const {
    return d_->device;
}
bool LinuxSerialPort::hasModemLines() const {
    return d_->open && d_->modem;
}
bool LinuxSerialPort::kernelRtsToggle() const {
    return d_->open && d_->kernelToggle;
}
bool LinuxSerialPort::softwareRtsToggle() const {
    return d_->open && d_->softToggle;
}
bool LinuxSerialPort::lineWatcherRunning() const {
    return d_->watcher && d_->watcher->running();
}
int LinuxSerialPort::errorReports() const {
    return d_->errorReports;
}
int LinuxSerialPort::readerWakeups() const {
    return d_->readerWakeups.load();
}

}  // namespace lt
