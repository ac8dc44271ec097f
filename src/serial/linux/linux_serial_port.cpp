#include "serial/linux/linux_serial_port.h"

#include <fcntl.h>
#include <sys/ioctl.h>
#include <unistd.h>

#include <QMetaObject>
#include <QObject>
#include <QSerialPort>
#include <QSocketNotifier>
#include <atomic>
#include <cerrno>
#include <cstring>
#include <optional>

#include "serial/line_settings.h"
#include "serial/linux/drain_worker.h"
#include "serial/linux/line_termios.h"
#include "serial/linux/line_watcher.h"
#include "serial/linux/port_driver.h"
#include "serial/linux/rts_toggle.h"
#include "serial/linux/serial_log.h"
#include "serial/linux/stamping_reader.h"
#include "serial/rx_queue.h"

namespace lt {

namespace {

std::string errnoText(int err) {
    return std::strerror(err);
}

}  // namespace

// The parts of a port and the order in which they are set up and taken down; what each part does
// is its own business.
struct LinuxSerialPort::Impl {
    Impl(LinuxSerialPort& o, const Host& h, int number, DriverFactory drivers)
        : owner(o),
          host(h),
          name(PortName::number(number)),
          makeDriver(std::move(drivers)),
          reader(rx, [&h] { return h.monotonicNow(); }) {
        QObject::connect(&serial, &QSerialPort::errorOccurred, &receiver,
                         [this](QSerialPort::SerialPortError e) { serialError(e); });
        QObject::connect(&serial, &QSerialPort::bytesWritten, &receiver,
                         [this](qint64) { written(); });
        QObject::connect(&serial, &QSerialPort::readyRead, &receiver,
                         [this] { readInGuiThread(); });
    }

    ~Impl() { closeDevice(); }

    LinuxSerialPort& owner;
    const Host& host;
    PortName name;
    DriverFactory makeDriver;
    LineSettings settings;  // held for the next opening, or those of the open device; 1200,o,8,1
    std::optional<LineSettings> lastTaken;  // the last settings a device took on this port
    std::string device;
    bool rts = false, dtr = false;

    QObject receiver;  // queued deliveries to the owner's thread go through it
    QSerialPort serial;
    int fd = -1;
    bool open = false;
    unsigned gen = 0;  // bumps at every opening and closing: stale deliveries are dropped
    bool modem = false;
    bool vanished = false;
    bool applying = false;  // errors QSerialPort reports inside its own opening
    int errorReports = 0;
    bool lowLatencySet = false;
    serial_struct savedSerial{};

    RxQueue rx;
    std::atomic<bool> receivePosted{false};
    StampingReader reader;
    bool readerThread = false;
    DrainWorker drainer;
    std::uint64_t outputSerial = 0;  // numbers the outputs, for the drain worker and the toggle
    // Set up for each opening, on the open device.
    std::unique_ptr<PortDriver> driver;
    std::unique_ptr<RtsToggle> toggle;
    std::unique_ptr<LineWatcher> watcher;

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
    // Applies `wanted` to the open device. Taken: they become the last settings taken on this
    // port. Refused: the device keeps what it had, and the message says why. A device that
    // cannot be reached throws PortError.
    bool applySettings(const LineSettings& wanted, std::string& refusal) {
        const SettingsOutcome o = applyLineSettings(*driver, wanted);
        if (o.result == SettingsOutcome::Failed)
            throw PortError(device + ": settings not applied: " + errnoText(o.err));
        if (o.result == SettingsOutcome::Taken) {
            lastTaken = wanted;
            return true;
        }
        refusal =
            device + ": settings refused by the driver: " + wanted.text() +
            (o.holds ? " (it made them " + o.holds->text() + ")" : " (" + errnoText(o.err) + ")");
        return false;
    }

    // --- Modem lines -------------------------------------------------------------------------
    void drive(int bit, bool on) const {
        if (!driver || !modem) return;
        if (const int err = driver->setOutput(bit, on); err != 0)
            qCWarning(lcSerial) << device.c_str() << "output not driven:" << errnoText(err).c_str();
    }
    bool input(int bit) const {
        requireOpen();
        if (!modem || vanished) return false;
        int bits = 0;
        if (const int err = driver->levels(bits); err != 0) {
            qCDebug(lcSerial) << device.c_str() << "inputs not read:" << errnoText(err).c_str();
            return false;
        }
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

        // QSerialPort opens with settings every driver takes; ours follow, read back.
        serial.setPortName(QString::fromStdString(device));
        applying = true;
        const bool ok = serial.open(QIODevice::ReadWrite);
        applying = false;
        if (!ok) {
            ::close(probe);
            throw PortError(device + ": " + serial.errorString().toStdString());
        }
        ::close(probe);
        fd = static_cast<int>(serial.handle());
        driver = makeDriver ? makeDriver(fd) : std::make_unique<FdPortDriver>(fd);
        int bits = 0;
        modem = driver->levels(bits) == 0;
        toggle = std::make_unique<RtsToggle>(*driver, modem);
        std::string refusal;
        try {
            openSettings(refusal);
        } catch (const PortError&) {
            toggle.reset();  // puts back the RS-485 state it found
            serial.close();
            driver.reset();
            fd = -1;
            throw;
        }
        setLowLatency();

        open = true;
        vanished = false;
        ++gen;
        drive(TIOCM_RTS, rts);
        drive(TIOCM_DTR, dtr);

        startReader();
        const unsigned g = gen;
        if (modem) {
            watcher =
                std::make_unique<LineWatcher>(*driver, [this, g](PortEvent e) { postEvent(e, g); });
            watcher->start();
        }
        // RTS falls on the drain worker the moment the output has drained, not when the owner's
        // thread comes to the send event: a busy window would otherwise hold it up while the
        // peer answers, and an RS-485 converter would talk over the answer.
        drainer.start([d = driver.get()] { return d->drain(); },
                      [this, g, t = toggle.get()](std::uint64_t served) {
                          t->drained(served);
                          post([this, g, served] { drained(g, served); });
                      });
        if (!refusal.empty()) throw SettingsRefused(refusal);  // refused, but open
    }

    // The held settings go to the device just opened. Where the driver does not take them, the
    // device gets the last settings taken on this port, or keeps what it had, and those become
    // the held settings; `refusal` says why.
    void openSettings(std::string& refusal) {
        LineTermios had;
        if (const int err = driver->getTermios(had); err != 0)
            throw PortError(device + ": settings not read: " + errnoText(err));
        if (applySettings(settings, refusal)) return;
        LineSettings kept = lineSettingsOf(had);
        std::string ignored;
        if (lastTaken && applySettings(*lastTaken, ignored)) kept = *lastTaken;
        settings = kept;
    }

    void setLowLatency() {
        lowLatencySet = false;
        serial_struct ss{};
        if (const int err = driver->getSerialInfo(ss); err != 0) {
            qCDebug(lcSerial) << device.c_str() << "no low-latency mode:" << errnoText(err).c_str();
            return;
        }
        savedSerial = ss;
        if (ss.flags & ASYNC_LOW_LATENCY) return;
        ss.flags |= ASYNC_LOW_LATENCY;
        const int err = driver->setSerialInfo(ss);
        lowLatencySet = err == 0;
        if (err != 0)
            qCDebug(lcSerial) << device.c_str() << "low latency refused:" << errnoText(err).c_str();
    }

    void restoreLatency() {
        if (!lowLatencySet) return;
        lowLatencySet = false;
        if (const int err = driver->setSerialInfo(savedSerial); err != 0)
            qCWarning(lcSerial) << device.c_str()
                                << "low-latency flag not restored:" << errnoText(err).c_str();
    }

    void closeDevice() {
        if (!open) return;
        open = false;
        vanished = false;
        ++gen;
        reader.stop();
        if (watcher) watcher->stop();
        watcher.reset();
        drainer.stop();
        toggle.reset();  // puts back the RS-485 state found at opening
        restoreLatency();
        serial.clear();
        serial.close();
        driver.reset();
        fd = -1;
        rx.clear();
        receivePosted = false;
    }

    // --- Reading -----------------------------------------------------------------------------
    // The reader thread takes the bytes; QSerialPort's own reading on the owner's thread is
    // switched off so the two never split the stream between them.
    void startReader() {
        readerThread = false;
        QSocketNotifier* readNotifier = nullptr;
        for (QSocketNotifier* n : serial.findChildren<QSocketNotifier*>()) {
            if (n->type() == QSocketNotifier::Read && n->socket() == fd) readNotifier = n;
        }
        if (!readNotifier) return;
        const unsigned g = gen;
        readerThread = reader.start(
            fd, [this, g] { postReceive(g); }, [this, g] { post([this, g] { onVanished(g); }); });
        if (readerThread) readNotifier->setEnabled(false);
    }

    // Fallback where QSerialPort's reading could not be switched off: read on its signal.
    void readInGuiThread() {
        if (readerThread || !open) return;
        const QByteArray bytes = serial.readAll();
        if (bytes.isEmpty()) return;
        if (rx.push(bytes.constData(), static_cast<std::size_t>(bytes.size()),
                    host.monotonicNow()) > 0)
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
        toggle->beforeSend(++outputSerial);
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
    // (and the UART) to empty, off the owner's thread.
    void written() {
        if (!open || serial.bytesToWrite() > 0) return;
        drainer.request(outputSerial);
    }

    void drained(unsigned g, std::uint64_t served) {
        if (g != gen || !open || vanished) return;
        // More was written since: its own drain brings the event.
        if (served != outputSerial || serial.bytesToWrite() > 0) return;
        owner.deliver(PortEvent::Sent);
    }

    // --- Comm state --------------------------------------------------------------------------
    int getCommState(CommState& state) const {
        if (!open) return EBADF;
        if (vanished) return EIO;
        LineTermios t;
        if (const int err = driver->getTermios(t); err != 0) return err;
        std::uint32_t f = 1;                    // fBinary
        if (t.c_iflag & INPCK) f |= 1u << 1;    // fParity
        if (t.c_cflag & CRTSCTS) f |= 1u << 2;  // fOutxCtsFlow
        if (dtr) f |= 1u << 4;                  // fDtrControl = enable
        if (t.c_iflag & IXON) f |= 1u << 8;     // fOutX
        if (t.c_iflag & IXOFF) f |= 1u << 9;    // fInX
        if (toggle->mode() != RtsToggle::Mode::Off)
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
        LineTermios t;
        if (const int err = driver->getTermios(t); err != 0) return err;
        // The line settings stay; flow control, parity checking and character translation go.
        t.c_iflag &= ~(IXON | IXOFF | IXANY | INPCK | PARMRK | IGNPAR | ISTRIP | INLCR | IGNCR |
                       ICRNL | IGNBRK | BRKINT);
        t.c_cflag &= ~CRTSCTS;
        t.c_cflag |= CLOCAL | CREAD;
        if (const int err = driver->setTermios(t); err != 0) return err;

        dtr = true;
        if (modem) {
            if (const int err = driver->setOutput(TIOCM_DTR, true); err != 0) return err;
        }
        if (rtsToggleOf(state.Flags)) {
            toggle->enter(outputSerial, serial.bytesToWrite() > 0);
        } else {
            toggle->leave();
            rts = true;
            if (modem) {
                if (const int err = driver->setOutput(TIOCM_RTS, true); err != 0) return err;
            }
        }
        return 0;
    }

    // --- A vanished device -------------------------------------------------------------------
    void serialError(QSerialPort::SerialPortError e) {
        if (e == QSerialPort::NoError) return;
        if (applying) {
            qCDebug(lcSerial) << device.c_str() << "refused:" << serial.errorString();
            return;
        }
        ++errorReports;
        if (!open || vanished) return;
        // QSerialPort would report the same error again at every turn of the event loop: its
        // notifiers are stopped here, and the port is closed from the loop.
        for (QSocketNotifier* n : serial.findChildren<QSocketNotifier*>()) n->setEnabled(false);
        const unsigned g = gen;
        post([this, g] { onVanished(g); });
    }

    // Bytes read before the device vanished stay until they are taken, so that the packet being
    // framed is still shown, relayed and recorded however late that comes; then the port closes.
    // Closing it first (to open it again) drops them.
    void onVanished(unsigned g) {
        if (g != gen || !open || vanished) return;
        vanished = true;
        for (QSocketNotifier* n : serial.findChildren<QSocketNotifier*>()) n->setEnabled(false);
        if (rx.size() == 0) finishLost();
    }

    void finishLost() {
        if (!open || !vanished) return;
        closeDevice();
        owner.deliver(PortEvent::Lost);
    }
};

LinuxSerialPort::LinuxSerialPort(const Host& host, int defaultPortNumber, DriverFactory drivers)
    : d_(std::make_unique<Impl>(*this, host, defaultPortNumber, std::move(drivers))) {}

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
    std::string refusal;
    if (d_->open && !d_->applySettings(*s, refusal)) throw SettingsRefused(refusal);
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

void LinuxSerialPort::limitBacklog(std::size_t maxBytes) {
    const std::size_t before = d_->rx.limit();
    if (maxBytes == before) return;
    const std::size_t dropped = d_->rx.setLimit(maxBytes);
    // Only a limit that dropped something is worth a line.
    if (before == kAll || dropped == 0) return;
    qCInfo(lcSerial).noquote() << QStringLiteral(
                                      "%1: bytes dropped while the backlog was limited to %2: %3")
                                      .arg(QString::fromStdString(d_->name.recordLabel()))
                                      .arg(static_cast<qulonglong>(before))
                                      .arg(static_cast<qulonglong>(dropped));
}

void LinuxSerialPort::send(const std::string& bytes) {
    d_->output(bytes);
}

void LinuxSerialPort::setRts(bool on) {
    d_->rts = on;
    // In toggle mode the driver owns RTS; the value is kept for later.
    if (d_->open && d_->toggle->mode() == RtsToggle::Mode::Off) d_->drive(TIOCM_RTS, on);
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
    return d_->open && d_->toggle->mode() == RtsToggle::Mode::Kernel;
}
bool LinuxSerialPort::softwareRtsToggle() const {
    return d_->open && d_->toggle->mode() == RtsToggle::Mode::Software;
}
bool LinuxSerialPort::lineWatcherRunning() const {
    return d_->watcher && d_->watcher->running();
}
int LinuxSerialPort::errorReports() const {
    return d_->errorReports;
}
int LinuxSerialPort::readerWakeups() const {
    return d_->reader.wakeups();
}

}  // namespace lt
