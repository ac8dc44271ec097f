#include "serial/linux/send_path.h"

#include <sys/ioctl.h>
#include <unistd.h>

#include <algorithm>
#include <chrono>
#include <thread>

#include <cerrno>

#include "serial/serial_port.h"

namespace lt {

// RTS falls on the drain worker the moment the output has drained, not when the owner's thread
// comes to the send event: a busy window would otherwise hold it up while the peer answers, and an
// RS-485 converter would talk over the answer.
void SendPath::start() {
    started_ = true;
    const unsigned turn = post_.turn();
    drainer_.start([d = &device_.driver()] { return d->drain(); },
                   [this, turn, t = &device_.toggle()](std::uint64_t served) {
                       t->drained(served);
                       post_.post(turn, [this, served] { drained(served); });
                   });
}

void SendPath::stop() {
    started_ = false;
    drainer_.stop();
}

// Handed to the driver at once when nothing waits before it: a relayed packet leaves now, not at
// the next turn of the event loop, which a redraw may hold up. What the driver does not take (or a
// write it refuses, which then reports its error as QSerialPort's) is queued behind, in order.
void SendPath::send(const std::string& bytes) {
    QSerialPort& serial = device_.qt();
    if (!backlog_.admits(static_cast<std::size_t>(serial.bytesToWrite()), bytes.size())) return;
    device_.toggle().beforeSend(++newest_);
    std::size_t done = 0;
    if (serial.bytesToWrite() == 0) done = writeNow(bytes);
    if (done == bytes.size()) {
        written();
        return;
    }
    const qint64 rest = static_cast<qint64>(bytes.size() - done);
    if (serial.write(bytes.data() + done, rest) != rest)
        throw PortError(device_.path() + ": " + serial.errorString().toStdString());
}

void SendPath::letOut(int baud, int bits) {
    QSerialPort& serial = device_.qt();
    const auto queued = [this] {
        int n = 0;
        return ::ioctl(device_.fd(), TIOCOUTQ, &n) == 0 ? std::max(n, 0) : 0;
    };
    const qint64 waiting = serial.bytesToWrite() + queued();
    if (waiting == 0 || baud <= 0) return;
    using Clock = std::chrono::steady_clock;
    const auto needed = std::chrono::milliseconds(waiting * bits * 1000 / baud + 20);
    const auto until = Clock::now() + std::min(needed, std::chrono::milliseconds(kLetOutMs));
    while (Clock::now() < until) {
        const auto left =
            std::chrono::duration_cast<std::chrono::milliseconds>(until - Clock::now()).count();
        if (serial.bytesToWrite() > 0) {
            serial.waitForBytesWritten(static_cast<int>(std::max<long long>(1, left)));
        } else if (queued() > 0) {
            std::this_thread::sleep_for(std::chrono::milliseconds(1));
        } else {
            return;
        }
    }
    // Out of time (flow control held): what is left is cleared, so closing never waits for it.
    serial.clear(QSerialPort::Output);
}

// Writes what the driver takes without waiting (the descriptor is non-blocking).
std::size_t SendPath::writeNow(const std::string& bytes) const {
    std::size_t done = 0;
    while (done < bytes.size()) {
        const ssize_t n = ::write(device_.fd(), bytes.data() + done, bytes.size() - done);
        if (n > 0)
            done += static_cast<std::size_t>(n);
        else if (n < 0 && errno == EINTR)
            continue;
        else
            break;
    }
    return done;
}

// All queued bytes have left QSerialPort: the drain worker waits for the kernel's queue (and the
// UART) to empty.
void SendPath::written() {
    if (!started_ || device_.qt().bytesToWrite() > 0) return;
    drainer_.request(newest_);
}

void SendPath::drained(std::uint64_t served) {
    // More was written since: its own drain brings the event.
    if (served != newest_ || device_.qt().bytesToWrite() > 0) return;
    sent_();
}

}  // namespace lt
