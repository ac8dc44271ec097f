#include "serial/network/network_serial_port.h"

#include <netdb.h>
#include <netinet/in.h>
#include <netinet/tcp.h>
#include <poll.h>
#include <sys/eventfd.h>
#include <sys/socket.h>
#include <unistd.h>

#include <QLoggingCategory>
#include <QMetaObject>
#include <QObject>
#include <algorithm>
#include <atomic>
#include <cerrno>
#include <chrono>
#include <condition_variable>
#include <cstring>
#include <map>
#include <mutex>
#include <optional>
#include <string_view>
#include <thread>

#include "serial/line_settings.h"
#include "serial/network/telnet_com_port.h"
#include "serial/rx_queue.h"
#include "serial/send_backlog.h"

namespace lt {

Q_LOGGING_CATEGORY(lcNetwork, "linetap.network")

namespace {

using Clock = std::chrono::steady_clock;

std::string errnoText(int err) {
    return std::strerror(err);
}

std::string seconds(int ms) {
    return ms % 1000 == 0 ? std::to_string(ms / 1000) + " s" : std::to_string(ms) + " ms";
}

// Notices a connection that died without a word (a cable pulled, a host gone) within seconds,
// not after the kernel's retransmissions have given up.
void watchForSilentDeath(int fd) {
    const int on = 1, idle = 5, interval = 1, count = 3;
    const unsigned userTimeoutMs = 10'000;
    ::setsockopt(fd, IPPROTO_TCP, TCP_NODELAY, &on, sizeof on);
    ::setsockopt(fd, SOL_SOCKET, SO_KEEPALIVE, &on, sizeof on);
    ::setsockopt(fd, IPPROTO_TCP, TCP_KEEPIDLE, &idle, sizeof idle);
    ::setsockopt(fd, IPPROTO_TCP, TCP_KEEPINTVL, &interval, sizeof interval);
    ::setsockopt(fd, IPPROTO_TCP, TCP_KEEPCNT, &count, sizeof count);
    ::setsockopt(fd, IPPROTO_TCP, TCP_USER_TIMEOUT, &userTimeoutMs, sizeof userTimeoutMs);
}

// The outcome of a non-blocking connect on `fd` after waiting up to `waitMs`: 0 connected,
// EINPROGRESS still waiting, or the error.
int connectOutcome(int fd, int waitMs) {
    pollfd p{fd, POLLOUT, 0};
    const int ready = ::poll(&p, 1, waitMs);
    if (ready == 0) return EINPROGRESS;
    if (ready < 0) return errno;
    int err = 0;
    socklen_t len = sizeof err;
    if (::getsockopt(fd, SOL_SOCKET, SO_ERROR, &err, &len) != 0) err = errno;
    return err;
}

// A connected, non-blocking TCP socket to `a`, or PortError with the reason. A connection that
// has not answered within the time is left going in `pending`, so that the next try (a lost port
// looked for again) takes its outcome without waiting again.
int connectTo(const std::string& device, const NetworkAddress& a, int timeoutMs, int& pending) {
    if (pending >= 0) {
        const int err = connectOutcome(pending, 0);
        if (err == EINPROGRESS)
            throw PortError(device + ": no answer within " + seconds(timeoutMs));
        const int fd = pending;
        pending = -1;
        if (err == 0) {
            watchForSilentDeath(fd);
            return fd;
        }
        ::close(fd);  // refused or unreachable by now: a fresh try says why
    }
    addrinfo hints{};
    hints.ai_family = AF_UNSPEC;
    hints.ai_socktype = SOCK_STREAM;
    addrinfo* found = nullptr;
    if (const int err =
            ::getaddrinfo(a.host.c_str(), std::to_string(a.port).c_str(), &hints, &found);
        err != 0)
        throw PortError(device + ": " + ::gai_strerror(err));
    const auto until = Clock::now() + std::chrono::milliseconds(timeoutMs);
    std::string why = "no address";
    for (addrinfo* ai = found; ai; ai = ai->ai_next) {
        const int fd = ::socket(ai->ai_family, ai->ai_socktype | SOCK_NONBLOCK | SOCK_CLOEXEC,
                                ai->ai_protocol);
        if (fd < 0) {
            why = errnoText(errno);
            continue;
        }
        int err = ::connect(fd, ai->ai_addr, ai->ai_addrlen) == 0 ? 0 : errno;
        if (err == EINPROGRESS) {
            const auto left =
                std::chrono::duration_cast<std::chrono::milliseconds>(until - Clock::now());
            err = connectOutcome(fd, static_cast<int>(std::max<long>(0, left.count())));
        }
        if (err == 0) {
            ::freeaddrinfo(found);
            watchForSilentDeath(fd);
            return fd;
        }
        if (err == EINPROGRESS && !ai->ai_next) {
            pending = fd;
        } else {
            ::close(fd);
        }
        why = err == EINPROGRESS ? "no answer within " + seconds(timeoutMs) : errnoText(err);
    }
    ::freeaddrinfo(found);
    throw PortError(device + ": " + why);
}

// The parity letters in the order of their RFC 2217 codes, 1 to 5.
constexpr std::string_view kParityLetters = "noems";

unsigned char parityCode(char parity) {
    return static_cast<unsigned char>(std::min(kParityLetters.find(parity), std::size_t{4}) + 1);
}

std::optional<char> parityOf(unsigned char code) {
    if (code < 1 || code > kParityLetters.size()) return std::nullopt;
    return kParityLetters[code - 1];
}

}  // namespace

// The parts of a network port. The owner's thread opens, closes, sends and asks; the link thread
// reads the connection, unescapes it and posts what arrived to the owner's thread. What both
// touch (the Telnet state, the bytes waiting for the socket, the server's answers) is under `mu`.
struct NetworkSerialPort::Impl {
    Impl(NetworkSerialPort& o, const Host& h, int number, Timing t)
        : owner(o), host(h), name(PortName::number(number)), timing(t) {}

    ~Impl() {
        closeDevice();
        if (pendingConnect >= 0) ::close(pendingConnect);
    }

    NetworkSerialPort& owner;
    const Host& host;
    PortName name;
    Timing timing;
    LineSettings settings;  // held for the next opening, or those in force on the server
    std::optional<LineSettings> lastTaken;  // the last settings a server took on this port
    std::string device;                     // the name the port opened, for messages
    NetworkAddress address;
    NetworkAddress pendingAddress;  // where pendingConnect goes
    bool rts = false, dtr = false;

    QObject receiver;  // queued deliveries to the owner's thread go through it
    bool open = false;
    // Bumps at every opening and closing: stale deliveries are dropped. Read by the link thread.
    std::atomic<unsigned> gen{0};

    RxQueue rx;
    std::atomic<bool> receivePosted{false};
    std::atomic<unsigned> modem{0};  // the last NOTIFY-MODEMSTATE

    // The link, shared with its thread.
    int sock = -1;
    int wakeFd = -1;
    int pendingConnect = -1;  // a connection that did not answer in time, still going
    std::thread link;
    std::atomic<bool> stopping{false};
    mutable std::mutex mu;
    std::condition_variable answered;
    std::unique_ptr<TelnetComPort> telnet;  // none for a bare TCP stream
    std::string out;                        // bytes for the socket not yet written
    std::string held;                       // line bytes held while the server suspends
    SendBacklog backlog;                    // bounds out and held together
    std::string incoming;                   // the line bytes of the chunk being unescaped
    bool suspended = false;
    bool sentPending = false;  // bytes were sent and no send event has told so yet
    bool linkDown = false;
    std::optional<bool> comPortAgreed;
    std::map<unsigned char, std::string> answers;  // the latest answer to each command

    bool isRfc2217() const { return address.kind == NetworkAddress::Kind::Rfc2217; }

    // --- Delivery to the owner's thread ----------------------------------------------------
    template <class F>
    void post(F&& fn) {
        QMetaObject::invokeMethod(&receiver, std::forward<F>(fn), Qt::QueuedConnection);
    }
    void postEvent(PortEvent event, unsigned g) {
        post([this, event, g] {
            if (g == gen && open) owner.deliver(event);
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

    // --- The link ----------------------------------------------------------------------------
    // Writes what the socket takes now; the link thread writes the rest when it can. Tells the
    // owner once all that was sent has left.
    void flushLocked() {
        while (!out.empty()) {
            const ssize_t n = ::send(sock, out.data(), out.size(), MSG_NOSIGNAL | MSG_DONTWAIT);
            if (n > 0) {
                out.erase(0, static_cast<std::size_t>(n));
            } else if (n < 0 && errno == EINTR) {
                continue;
            } else {
                if (n < 0 && errno == EAGAIN) wake();  // the link thread waits to write
                break;
            }
        }
        if (out.empty() && held.empty() && sentPending) {
            sentPending = false;
            postEvent(PortEvent::Sent, gen.load());
        }
    }

    void wake() const {
        const std::uint64_t one = 1;
        [[maybe_unused]] const ssize_t n = ::write(wakeFd, &one, sizeof one);
    }

    // A com-port message from the server, on the link thread with `mu` held.
    void comPort(unsigned char command, const std::string& value, unsigned g) {
        switch (command) {
            case comport::NotifyModemState: {
                if (value.size() != 1) break;
                const auto now = static_cast<unsigned char>(value[0]);
                const unsigned before = modem.exchange(now);
                // A line counts as changed when its level differs or the server saw it move.
                const auto changed = static_cast<unsigned char>((before ^ now) | (now << 4));
                if (changed & comport::kCts) postEvent(PortEvent::CtsChanged, g);
                if (changed & comport::kDsr) postEvent(PortEvent::DsrChanged, g);
                if (changed & comport::kDcd) postEvent(PortEvent::DcdChanged, g);
                break;
            }
            case comport::FlowControlSuspend:
                suspended = true;
                break;
            case comport::FlowControlResume:
                suspended = false;
                if (!held.empty()) {
                    const std::string bytes = std::move(held);
                    held.clear();
                    telnet->sendData(bytes.data(), bytes.size());
                }
                flushLocked();
                break;
            case comport::PurgeData:
                // What arrived before the purge was done is stale.
                rx.clear();
                answers[command] = value;
                break;
            default:
                answers[command] = value;
                break;
        }
        answered.notify_all();
    }

    void startLink() {
        stopping = false;
        const unsigned g = gen;
        if (isRfc2217()) {
            TelnetComPort::Handlers h;
            h.data = [this](const char* b, std::size_t n) { incoming.append(b, n); };
            h.send = [this](const char* b, std::size_t n) { out.append(b, n); };
            h.comPort = [this, g](unsigned char c, const std::string& v) { comPort(c, v, g); };
            h.negotiated = [this](bool agreed) {
                if (!comPortAgreed) comPortAgreed = agreed;
                answered.notify_all();
            };
            h.fault = [this](const std::string& why) {
                qCWarning(lcNetwork, "%s: %s", device.c_str(), why.c_str());
            };
            telnet = std::make_unique<TelnetComPort>(std::move(h));
        }
        link = std::thread([this, g] { run(g); });
    }

    // The link thread: reads the connection, and writes what the owner's thread could not.
    void run(unsigned g) {
        char buf[16384];
        for (;;) {
            bool writing;
            {
                std::lock_guard lock(mu);
                writing = !out.empty();
            }
            pollfd fds[2] = {{sock, static_cast<short>(POLLIN | (writing ? POLLOUT : 0)), 0},
                             {wakeFd, POLLIN, 0}};
            if (::poll(fds, 2, -1) < 0 && errno != EINTR) break;
            if (stopping) return;
            if (fds[1].revents & POLLIN) {
                std::uint64_t count;
                [[maybe_unused]] const ssize_t n = ::read(wakeFd, &count, sizeof count);
            }
            if (fds[0].revents & POLLOUT) {
                std::lock_guard lock(mu);
                flushLocked();
            }
            if (!(fds[0].revents & (POLLIN | POLLHUP | POLLERR))) continue;
            const ssize_t n = ::recv(sock, buf, sizeof buf, MSG_DONTWAIT);
            if (n < 0 && (errno == EAGAIN || errno == EINTR)) continue;
            if (n <= 0) break;
            const Nanos at = host.monotonicNow();
            std::string bytes;
            {
                std::lock_guard lock(mu);
                if (telnet) {
                    telnet->received(buf, static_cast<std::size_t>(n));
                    bytes = std::move(incoming);
                    incoming.clear();
                    flushLocked();  // answers to the server's negotiation
                } else {
                    bytes.assign(buf, static_cast<std::size_t>(n));
                }
            }
            if (!bytes.empty() && rx.push(bytes.data(), bytes.size(), at) > 0) postReceive(g);
        }
        {
            std::lock_guard lock(mu);
            linkDown = true;
            answered.notify_all();
        }
        post([this, g] { onVanished(g); });
    }

    void stopLink() {
        if (link.joinable()) {
            stopping = true;
            wake();
            link.join();
        }
        if (sock >= 0) ::close(sock);
        if (wakeFd >= 0) ::close(wakeFd);
        sock = wakeFd = -1;
        std::lock_guard lock(mu);
        telnet.reset();
        out.clear();
        held.clear();
        incoming.clear();
        suspended = sentPending = linkDown = false;
        comPortAgreed.reset();
        answers.clear();
    }

    // Sends a com-port command now.
    void command(unsigned char code, const std::string& value) {
        std::lock_guard lock(mu);
        if (!telnet) return;
        answers.erase(code);
        telnet->command(code, value);
        flushLocked();
    }

    // Sends the four line-setting commands with these values (0 asks what the server has) and
    // waits until the server has answered every one (true), the time is up or the link went down
    // (false).
    bool exchangeSettings(std::uint32_t baud, unsigned char data, unsigned char parity,
                          unsigned char stop) {
        command(comport::SetBaudRate, comport::bigEndian32(baud));
        command(comport::SetDataSize, std::string(1, static_cast<char>(data)));
        command(comport::SetParity, std::string(1, static_cast<char>(parity)));
        command(comport::SetStopSize, std::string(1, static_cast<char>(stop)));
        std::unique_lock lock(mu);
        return answered.wait_for(lock, std::chrono::milliseconds(timing.answerMs), [&] {
            if (linkDown) return true;
            for (unsigned char c : {comport::SetBaudRate, comport::SetDataSize, comport::SetParity,
                                    comport::SetStopSize})
                if (!answers.count(c)) return false;
            return true;
        }) && !linkDown;
    }

    std::string answer(unsigned char code) const {
        std::lock_guard lock(mu);
        const auto it = answers.find(code);
        return it == answers.end() ? std::string() : it->second;
    }

    // --- Settings ----------------------------------------------------------------------------
    // Sends `wanted` and reads back what the server made of them. Taken: they become the last
    // settings taken on this port. Refused: the message says why. A dropped connection throws.
    bool applySettings(const LineSettings& wanted, std::string& refusal) {
        if (!isRfc2217()) {
            lastTaken = wanted;
            return true;
        }
        const bool all = exchangeSettings(static_cast<std::uint32_t>(wanted.Baud), wanted.DataBits,
                                          parityCode(wanted.Parity), wanted.StopBits);
        {
            std::lock_guard lock(mu);
            if (linkDown) throw PortError(device + ": connection lost");
        }
        if (!all) {
            refusal = device + ": settings " + wanted.text() +
                      " not answered by the server within " + seconds(timing.answerMs);
            return false;
        }
        if (const auto made = answeredSettings(); made && made->text() == wanted.text()) {
            lastTaken = wanted;
            return true;
        } else {
            refusal =
                device + ": settings refused by the server: " + wanted.text() +
                (made ? " (it made them " + made->text() + ")" : " (it answered no settings)");
            return false;
        }
    }

    // The settings in the server's last answers, where they make settings.
    std::optional<LineSettings> answeredSettings() const {
        const std::string baud = answer(comport::SetBaudRate);
        const std::string data = answer(comport::SetDataSize);
        const std::string parity = answer(comport::SetParity);
        const std::string stop = answer(comport::SetStopSize);
        if (baud.size() != 4 || data.size() != 1 || parity.size() != 1 || stop.size() != 1)
            return std::nullopt;
        LineSettings s;
        s.Baud = static_cast<int>(comport::fromBigEndian32(baud));
        s.DataBits = static_cast<unsigned char>(data[0]);
        const auto p = parityOf(static_cast<unsigned char>(parity[0]));
        s.StopBits = static_cast<unsigned char>(stop[0]);
        if (!p || s.Baud <= 0) return std::nullopt;
        s.Parity = *p;
        if (!parseLineSettings(s.text())) return std::nullopt;  // 1.5 stop bits, 4 data bits...
        return s;
    }

    // The settings the server has now (each asked with the value 0).
    std::optional<LineSettings> serverSettings() {
        if (!exchangeSettings(0, 0, 0, 0)) return std::nullopt;
        return answeredSettings();
    }

    // --- Modem lines -------------------------------------------------------------------------
    void control(unsigned char value) {
        if (open && isRfc2217()) command(comport::SetControl, std::string(1, value));
    }
    bool input(unsigned char bit) const {
        requireOpen();
        if (!isRfc2217()) return false;
        return (modem.load() & bit) != 0;
    }

    // --- Opening and closing -----------------------------------------------------------------
    void openDevice() {
        if (open) throw PortError("port already open");
        device = name.device([this](const std::string& var) { return host.environment(var); });
        const auto a = parseNetworkAddress(device);
        if (!a) throw PortError(device + ": not a network port name");
        address = *a;
        if (pendingConnect >= 0 && !(address == pendingAddress)) {
            ::close(pendingConnect);
            pendingConnect = -1;
        }
        pendingAddress = address;
        sock = connectTo(device, address, timing.connectMs, pendingConnect);
        wakeFd = ::eventfd(0, EFD_CLOEXEC | EFD_NONBLOCK);
        modem = 0;
        rx.clear();
        ++gen;
        startLink();
        std::string refusal;
        try {
            if (isRfc2217()) negotiate(refusal);
        } catch (const PortError&) {
            stopLink();
            throw;
        }
        open = true;
        if (!refusal.empty()) throw SettingsRefused(refusal);  // refused, but open
    }

    // COM-PORT-OPTION agreed, modem-line notices asked for, the server's buffers purged, the held
    // settings sent (where the server does not take them: the last settings taken on this port,
    // or what the server has, become the held settings, and `refusal` says why), then the
    // outputs and no flow control.
    void negotiate(std::string& refusal) {
        {
            std::lock_guard lock(mu);
            telnet->start();
            flushLocked();
        }
        {
            std::unique_lock lock(mu);
            answered.wait_for(lock, std::chrono::milliseconds(timing.answerMs),
                              [&] { return comPortAgreed.has_value() || linkDown; });
            if (linkDown) throw PortError(device + ": connection closed by the server");
            if (!comPortAgreed)
                throw PortError(device + ": no answer to COM-PORT-OPTION within " +
                                seconds(timing.answerMs));
            if (!*comPortAgreed)
                throw PortError(device + ": the server refuses COM-PORT-OPTION (not RFC 2217?)");
        }
        command(comport::SetModemStateMask,
                std::string(1, static_cast<char>(comport::kCts | comport::kDsr | comport::kDcd)));
        command(comport::PurgeData, std::string(1, static_cast<char>(comport::kPurgeBoth)));
        if (!applySettings(settings, refusal)) {
            LineSettings kept = settings;
            std::string ignored;
            if (lastTaken && applySettings(*lastTaken, ignored))
                kept = *lastTaken;
            else if (const auto now = serverSettings())
                kept = *now;
            settings = kept;
        }
        command(comport::SetControl, std::string(1, comport::kNoFlowControl));
        command(comport::SetControl, std::string(1, comport::kNoInboundFlowControl));
        command(comport::SetControl, std::string(1, rts ? comport::kRtsOn : comport::kRtsOff));
        command(comport::SetControl, std::string(1, dtr ? comport::kDtrOn : comport::kDtrOff));
    }

    // Closing drops what was not taken, what a dropped connection left included.
    void closeDevice() {
        shut();
        rx.clear();
    }

    void shut() {
        if (!open) return;
        open = false;
        ++gen;
        stopLink();
        receivePosted = false;
        modem = 0;
    }

    // --- Reading and writing -----------------------------------------------------------------
    // What a dropped connection left can still be taken after the loss closed the port.
    std::string take(std::size_t maxBytes, Nanos gapLimit, Nanos gapsFrom, Nanos* firstArrival) {
        if (rx.size() == 0) requireOpen();
        return rx.take(maxBytes, gapLimit, gapsFrom, firstArrival);
    }

    void output(const std::string& bytes) {
        requireOpen();
        if (bytes.empty()) return;
        std::lock_guard lock(mu);
        if (!backlog.admits(out.size() + held.size(), bytes.size())) return;
        sentPending = true;
        if (suspended)
            held += bytes;
        else if (telnet)
            telnet->sendData(bytes.data(), bytes.size());
        else
            out += bytes;
        flushLocked();
    }

    // --- A dropped connection ----------------------------------------------------------------
    // The loss is raised as soon as it is seen; the bytes received before the drop stay until
    // they are taken, so that the packet being framed is still shown, relayed and recorded.
    void onVanished(unsigned g) {
        if (g != gen || !open) return;
        shut();
        owner.deliver(PortEvent::Lost);
    }
};

NetworkSerialPort::NetworkSerialPort(const Host& host, int defaultPortNumber, Timing timing)
    : d_(std::make_unique<Impl>(*this, host, defaultPortNumber, timing)) {}

NetworkSerialPort::~NetworkSerialPort() = default;

void NetworkSerialPort::setPortName(const PortName& name) {
    if (d_->open) throw PortError("port is open");
    d_->name = name;
}

PortName NetworkSerialPort::portName() const {
    return d_->name;
}

void NetworkSerialPort::setLineSettings(const std::string& text) {
    const auto s = parseLineSettings(text);
    if (!s) throw PortError("invalid settings: " + text);
    if (d_->open) {
        std::string refusal;
        if (!d_->applySettings(*s, refusal)) {
            // The server may have taken a part: the previous settings go back.
            std::string ignored;
            d_->applySettings(d_->settings, ignored);
            throw SettingsRefused(refusal);
        }
    }
    d_->settings = *s;
}

std::string NetworkSerialPort::lineSettings() const {
    return d_->settings.text();
}

void NetworkSerialPort::setOpen(bool open) {
    if (open)
        d_->openDevice();
    else
        d_->closeDevice();
}

bool NetworkSerialPort::isOpen() const {
    return d_->open;
}

std::string NetworkSerialPort::takeReceived(std::size_t maxBytes, Nanos gapLimit, Nanos gapsFrom,
                                            Nanos* firstArrival) {
    return d_->take(maxBytes, gapLimit, gapsFrom, firstArrival);
}

std::size_t NetworkSerialPort::receivedLength(std::size_t maxBytes, Nanos gapLimit,
                                              Nanos gapsFrom) const {
    return d_->rx.packetLength(maxBytes, gapLimit, gapsFrom);
}

std::size_t NetworkSerialPort::bytesWaiting() const {
    return d_->rx.size();
}

Nanos NetworkSerialPort::lastArrival() const {
    return d_->rx.lastArrival();
}

void NetworkSerialPort::limitBacklog(std::size_t maxBytes) {
    const std::size_t before = d_->rx.limit();
    if (maxBytes == before) return;
    const std::size_t dropped = d_->rx.setLimit(maxBytes);
    if (before == kAll || dropped == 0) return;
    qCInfo(lcNetwork, "%s: bytes dropped while the backlog was limited to %zu: %zu",
           d_->name.recordLabel().c_str(), before, dropped);
}

void NetworkSerialPort::send(const std::string& bytes) {
    d_->output(bytes);
}

std::uint64_t NetworkSerialPort::sendsDropped() const {
    std::lock_guard lock(d_->mu);
    return d_->backlog.dropped();
}

void NetworkSerialPort::setRts(bool on) {
    d_->rts = on;
    d_->control(on ? comport::kRtsOn : comport::kRtsOff);
}

bool NetworkSerialPort::rts() const {
    return d_->rts;
}

void NetworkSerialPort::setDtr(bool on) {
    d_->dtr = on;
    d_->control(on ? comport::kDtrOn : comport::kDtrOff);
}

bool NetworkSerialPort::dtr() const {
    return d_->dtr;
}

bool NetworkSerialPort::dcd() const {
    return d_->input(comport::kDcd);
}

bool NetworkSerialPort::dsr() const {
    return d_->input(comport::kDsr);
}

bool NetworkSerialPort::cts() const {
    return d_->input(comport::kCts);
}

int NetworkSerialPort::readCommState(CommState& state) {
    if (!d_->open) return EBADF;
    state.rts = RtsControl::Steady;  // never toggled across the network
    return 0;
}

// RTS and DTR on; flow control was turned off at opening. RTS raised only while sending cannot be
// timed across a network, so an RFC 2217 port refuses it (a bare TCP stream has no RTS to time).
int NetworkSerialPort::writeCommState(const CommState& state) {
    if (!d_->open) return EBADF;
    const bool toggle = state.rts == RtsControl::Toggle;
    if (toggle && d_->isRfc2217()) {
        qCWarning(lcNetwork, "%s: RTS strobe refused: RTS cannot be timed across a network",
                  d_->device.c_str());
        return EOPNOTSUPP;
    }
    setDtr(true);
    if (!toggle) setRts(true);
    return 0;
}

bool NetworkSerialPort::sendingSuspended() const {
    std::lock_guard lock(d_->mu);
    return d_->suspended;
}

}  // namespace lt
