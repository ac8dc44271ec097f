#include "serial/linux/receive_path.h"

namespace lt {

ReceivePath::ReceivePath(OwnerPost& post, std::function<Nanos()> clock,
                         std::function<void()> received)
    : post_(post),
      clock_(std::move(clock)),
      received_(std::move(received)),
      reader_(queue_, [this] { return clock_(); }) {}

void ReceivePath::start(SerialDevice& device, std::function<void()> gone) {
    reading_ = true;
    readerThread_ = false;
    QSocketNotifier* watch = device.readWatch();
    if (!watch) return;
    const unsigned turn = post_.turn();
    readerThread_ = reader_.start(
        device.fd(), [this, turn] { postReceived(turn); }, std::move(gone));
    if (readerThread_) watch->setEnabled(false);
}

void ReceivePath::stop() {
    reading_ = false;
    reader_.stop();
    posted_ = false;
}

// Where QSerialPort's reading could not be switched off: read on its signal.
void ReceivePath::readyRead(QSerialPort& serial) {
    if (readerThread_ || !reading_) return;
    const QByteArray bytes = serial.readAll();
    if (bytes.isEmpty()) return;
    if (queue_.push(bytes.constData(), static_cast<std::size_t>(bytes.size()), clock_()) > 0)
        postReceived(post_.turn());
}

void ReceivePath::postReceived(unsigned turn) {
    if (posted_.exchange(true)) return;
    post_.post(turn, [this] {
        posted_ = false;
        if (queue_.size() > 0) received_();
    });
}

}  // namespace lt
