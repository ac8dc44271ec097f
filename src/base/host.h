#pragma once

#include <QDateTime>
#include <memory>
#include <optional>
#include <string>

#include "base/timer.h"
#include "base/types.h"

namespace lt {

// The platform services the core needs besides its serial ports: timers, the event loop, message
// boxes, the clock and the environment. The program provides them with Qt; tests with a virtual
// clock.
class Host {
public:
    virtual ~Host() = default;

    virtual std::unique_ptr<Timer> createTimer() = 0;

    // Lets the event loop run the events that are already waiting (the yields of the RTS strobe).
    virtual void processEvents() = 0;

    // A message box with a single OK button; `text` is UTF-8. It returns when the box is closed,
    // and the handler that asked goes on from there; timers and port events keep running while
    // the box is open.
    virtual void showMessage(const std::string& text) = 0;
    // A message that does not hold up the handler that gives it (told from the middle of a
    // packet's handling, where nothing else may run).
    virtual void notify(const std::string& text) = 0;
    // A notice from any thread (an output's writer), shown as notify() shows it; never waits.
    virtual void notifyLater(const std::string& text) { notify(text); }

    // Local wall-clock date and time, with milliseconds.
    virtual QDateTime currentDateTime() const = 0;

    // Monotonic time, the clock in which serial ports stamp the arrival of bytes.
    virtual Nanos monotonicNow() const = 0;
    // Wall-clock time in microseconds since the Unix epoch (the capture file's time stamps).
    virtual std::int64_t wallClockMicros() const = 0;

    virtual std::optional<std::string> environment(const std::string& name) const = 0;

    // Ends the program at once ("Выход").
    virtual void quit() = 0;
};

}  // namespace lt
