#include "qt/qt_host.h"

#include <sys/timerfd.h>
#include <unistd.h>

#include <QCoreApplication>
#include <QSocketNotifier>
#include <QTimer>
#include <algorithm>
#include <cerrno>
#include <chrono>
#include <cstdint>
#include <cstdlib>
#include <iostream>

namespace lt {

namespace {

// A timer on the Qt event loop of the thread that creates it, with or without a window. Periodic
// ticks come from a QTimer with Qt::PreciseTimer; the first expiry after startFirstAfter() comes
// from a timerfd, which the event loop watches and which keeps nanoseconds, so a packet can end a
// gap after its last byte without rounding to whole milliseconds.
class QtTimer : public Timer {
public:
    QtTimer() {
        periodic_.setTimerType(Qt::PreciseTimer);
        QObject::connect(&periodic_, &QTimer::timeout, [this] { tick(); });
        fd_ = ::timerfd_create(CLOCK_MONOTONIC, TFD_NONBLOCK | TFD_CLOEXEC);
        if (fd_ >= 0) {
            notifier_ = std::make_unique<QSocketNotifier>(fd_, QSocketNotifier::Read);
            QObject::connect(notifier_.get(), &QSocketNotifier::activated, [this] { firstDue(); });
        } else {
            first_.setTimerType(Qt::PreciseTimer);
            first_.setSingleShot(true);
            QObject::connect(&first_, &QTimer::timeout, [this] { firstExpired(); });
        }
    }

    ~QtTimer() override {
        notifier_.reset();
        if (fd_ >= 0) ::close(fd_);
    }

    void setInterval(int ms) override {
        interval_ = ms;
        // A change while counting restarts the count with the new interval.
        if (enabled_ && !firstArmed_) startPeriodic();
    }
    int interval() const override { return interval_; }

    void setEnabled(bool on) override {
        if (on == enabled_) return;
        enabled_ = on;
        disarmFirst();
        if (on)
            startPeriodic();
        else
            periodic_.stop();
    }
    bool enabled() const override { return enabled_; }

    void startFirstAfter(Nanos first) override {
        enabled_ = true;
        periodic_.stop();
        disarmFirst();
        armFirst(std::max<Nanos>(first, 1));
    }

private:
    void startPeriodic() {
        if (interval_ > 0)
            periodic_.start(interval_);
        else
            periodic_.stop();  // an interval of 0 never fires
    }

    void armFirst(Nanos ns) {
        firstArmed_ = true;
        if (fd_ >= 0) {
            itimerspec timeout{};
            timeout.it_value.tv_sec = static_cast<time_t>(ns / 1'000'000'000);
            timeout.it_value.tv_nsec = static_cast<long>(ns % 1'000'000'000);
            ::timerfd_settime(fd_, 0, &timeout, nullptr);
        } else {
            // Rounded up: a gap timer must never end a packet early.
            first_.start(static_cast<int>((ns + kNanosPerMs - 1) / kNanosPerMs));
        }
    }

    void disarmFirst() {
        if (!firstArmed_) return;
        firstArmed_ = false;
        if (fd_ >= 0) {
            itimerspec off{};
            ::timerfd_settime(fd_, 0, &off, nullptr);  // also clears an unread expiry
        } else {
            first_.stop();
        }
    }

    void firstDue() {
        std::uint64_t expirations = 0;
        // Disarmed or re-armed after the notifier saw it: nothing is due.
        if (::read(fd_, &expirations, sizeof expirations) != sizeof expirations) return;
        firstExpired();
    }

    void firstExpired() {
        if (!firstArmed_) return;
        firstArmed_ = false;
        if (!enabled_) return;
        startPeriodic();
        tick();
    }

    void tick() {
        if (enabled_ && onTick) onTick();
    }

    QTimer periodic_;
    QTimer first_;  // used only where no timerfd can be made
    int fd_ = -1;
    std::unique_ptr<QSocketNotifier> notifier_;
    int interval_ = 0;
    bool enabled_ = false;
    bool firstArmed_ = false;
};

}  // namespace

QtHost::QtHost()
    : onMessage([](const std::string& text) { std::cerr << "Linetap: " << text << '\n'; }),
      onQuit([] { QCoreApplication::quit(); }) {}

QtHost::~QtHost() = default;

std::unique_ptr<Timer> QtHost::createTimer() {
    return std::make_unique<QtTimer>();
}

void QtHost::processEvents() {
    QCoreApplication::processEvents();
}

void QtHost::showMessage(const std::string& text) {
    if (onMessage) onMessage(text);
}

void QtHost::notify(const std::string& text) {
    if (onNotify)
        onNotify(text);
    else
        showMessage(text);
}

void QtHost::notifyLater(const std::string& text) {
    if (onAnyThread) {
        onAnyThread(text);
        return;
    }
    QMetaObject::invokeMethod(
        QCoreApplication::instance(), [this, text] { notify(text); }, Qt::QueuedConnection);
}

QDateTime QtHost::currentDateTime() const {
    return QDateTime::currentDateTime();
}

std::int64_t QtHost::wallClockMicros() const {
    return std::chrono::duration_cast<std::chrono::microseconds>(
               std::chrono::system_clock::now().time_since_epoch())
        .count();
}

Nanos QtHost::monotonicNow() const {
    return std::chrono::duration_cast<std::chrono::nanoseconds>(
               std::chrono::steady_clock::now().time_since_epoch())
        .count();
}

std::optional<std::string> QtHost::environment(const std::string& name) const {
    if (const char* v = std::getenv(name.c_str())) return std::string(v);
    return std::nullopt;
}

void QtHost::quit() {
    if (onQuit) onQuit();
}

}  // namespace lt
