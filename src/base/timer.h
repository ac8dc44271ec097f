#pragma once

#include <functional>

#include "base/types.h"

namespace lt {

// A timer of the event loop (the window's, or the headless run's): an interval in milliseconds
// and an enabled flag. While enabled it fires every interval; disabling and enabling again
// restarts the count. An interval of 0 never fires. Ticks are delivered by the event loop, one at
// a time, inside another handler only where that one lets the loop run (the RTS strobe's yields).
class Timer {
public:
    virtual ~Timer() = default;

    virtual void setInterval(int ms) = 0;
    virtual int interval() const = 0;
    virtual void setEnabled(bool on) = 0;
    virtual bool enabled() const = 0;

    // Enables the timer so that its first expiry comes `first` nanoseconds from now (0: at the next
    // turn of the event loop), and later ones every interval (none for an interval of 0). Used to
    // end a packet a gap after its last byte arrived rather than after its receive event was
    // handled.
    virtual void startFirstAfter(Nanos first) = 0;

    // Restart as the program does it: disable, set the interval, enable.
    void restart(int ms) {
        setEnabled(false);
        setInterval(ms);
        setEnabled(true);
    }

    std::function<void()> onTick;
};

}  // namespace lt
