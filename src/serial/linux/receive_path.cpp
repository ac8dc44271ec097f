#include "serial/linux/receive_path.h"

#include <cerrno>
#include <utility>

namespace lt {

ReceivePath::ReceivePath(OwnerPost& post, std::function<Nanos()> clock,
                         std::function<void()> received, std::function<void()> errorsFound)
    : post_(post),
      clock_(std::move(clock)),
      received_(std::move(received)),
      reader_(
          [this](const char* bytes, std::size_t size, Nanos at) { return accept(bytes, size, at); },
          [this] { return clock_(); }),
      errorsFound_(std::move(errorsFound)) {}

void ReceivePath::start(SerialDevice& device, bool marked, bool parity,
                        std::function<void()> gone) {
    reading_ = true;
    readerThread_ = false;
    driver_ = &device.driver();
    marked_ = marked;
    counted_ = true;
    parity_ = parity;
    turn_ = post_.turn();
    // Errors count from the opening on.
    ErrorCounts counts;
    const bool haveCounts = driver_->errorCounts(counts) == 0;
    marks_.reset(haveCounts ? &counts : nullptr);
    QSocketNotifier* watch = device.readWatch();
    if (!watch) return;
    readerThread_ = reader_.start(
        device.fd(), [this] { postReceived(); }, std::move(gone));
    if (readerThread_) watch->setEnabled(false);
}

void ReceivePath::stop() {
    reading_ = false;
    reader_.stop();
    posted_ = false;
    driver_ = nullptr;
    std::lock_guard lock(errorsMutex_);
    errors_.clear();
    errorsPosted_ = false;
}

std::vector<LineErrorReport> ReceivePath::takeErrors() {
    std::lock_guard lock(errorsMutex_);
    return std::exchange(errors_, {});
}

bool ReceivePath::accept(const char* bytes, std::size_t size, Nanos at) {
    // The counters are read after the bytes, so they hold every error the bytes carry.
    ErrorCounts counts;
    bool haveCounts = false;
    if (counted_ && driver_) {
        const int err = driver_->errorCounts(counts);
        haveCounts = err == 0;
        if (err == EINVAL || err == ENOTTY) counted_ = false;  // the driver keeps none
    }
    std::string data;
    std::vector<LineErrorReport> errors;
    if (marked_) {
        marks_.take(bytes, size, at, haveCounts ? &counts : nullptr, parity_, data, errors);
    } else {
        // Unmarked input is data as it is; the counters alone tell the errors.
        marks_.take(nullptr, 0, at, haveCounts ? &counts : nullptr, parity_, data, errors);
        data.assign(bytes, size);
    }
    if (!errors.empty()) {
        {
            std::lock_guard lock(errorsMutex_);
            errors_.insert(errors_.end(), errors.begin(), errors.end());
        }
        if (!errorsPosted_.exchange(true))
            post_.post(turn_, [this] {
                errorsPosted_ = false;
                errorsFound_();
            });
    }
    return !data.empty() && queue_.push(data.data(), data.size(), at) > 0;
}

// Where QSerialPort's reading could not be switched off: read on its signal.
void ReceivePath::readyRead(QSerialPort& serial) {
    if (readerThread_ || !reading_) return;
    const QByteArray bytes = serial.readAll();
    if (bytes.isEmpty()) return;
    if (accept(bytes.constData(), static_cast<std::size_t>(bytes.size()), clock_())) postReceived();
}

void ReceivePath::postReceived() {
    if (posted_.exchange(true)) return;
    post_.post(turn_, [this] {
        posted_ = false;
        if (queue_.size() > 0) received_();
    });
}

}  // namespace lt
