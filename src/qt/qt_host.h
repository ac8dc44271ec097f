#pragma once

#include <functional>
#include <memory>
#include <optional>
#include <string>

#include "base/host.h"

namespace lt {

// Host services of the running program on Qt: precise timers on the GUI thread's event loop, the
// steady clock, the environment. Message boxes and quitting are handed to the window through
// onMessage and onQuit, so the core never needs a widget.
class QtHost : public Host {
public:
    QtHost();
    ~QtHost() override;

    // A timer on the calling thread's event loop: periodic ticks from a QTimer with
    // Qt::PreciseTimer, and a first expiry after startFirstAfter() exact to well below a
    // millisecond (a timerfd watched by the event loop). An interval of 0 never fires by itself.
    std::unique_ptr<Timer> createTimer() override;
    void processEvents() override;
    void showMessage(const std::string& text) override;
    void notify(const std::string& text) override;
    // Through onAnyThread when set; otherwise queued for this host's event loop and given there
    // as notify() gives it.
    void notifyLater(const std::string& text) override;
    QDateTime currentDateTime() const override;
    // std::chrono::steady_clock in nanoseconds; safe to call from any thread (the serial ports'
    // reader threads stamp arrivals with it).
    Nanos monotonicNow() const override;
    std::int64_t wallClockMicros() const override;
    std::optional<std::string> environment(const std::string& name) const override;
    void quit() override;

    // Shows a message box (UTF-8 text) and returns when it is closed; by default the text goes to
    // stderr.
    std::function<void(const std::string&)> onMessage;
    // Shows a message without waiting for it to be closed; by default as onMessage.
    std::function<void(const std::string&)> onNotify;
    // Gives a notice at once from whatever thread (headless: a line on standard error).
    std::function<void(const std::string&)> onAnyThread;
    // Ends the program; by default QCoreApplication::quit().
    std::function<void()> onQuit;
};

}  // namespace lt
