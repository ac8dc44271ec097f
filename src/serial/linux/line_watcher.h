#pragma once

#include <sys/types.h>
#include <time.h>

#include <atomic>
#include <functional>

#include "base/types.h"
#include "serial/linux/interruptible_thread.h"
#include "serial/serial_port.h"

namespace lt {

// Transition counters of the three inputs (TIOCGICOUNT).
struct LineCounts {
    int cts = 0, dsr = 0, dcd = 0;
};

// What the watcher asks of a port's driver. Every call returns 0 or an errno value.
class ModemLineDriver {
public:
    virtual ~ModemLineDriver() = default;
    // Blocks until CTS, DSR or DCD changes (TIOCMIWAIT), for about `timeoutMs` at most: 0 on a
    // change, EINTR when interrupted or when the time ran out.
    virtual int waitChange(int timeoutMs) = 0;
    // The present inputs as TIOCM_CTS, TIOCM_DSR, TIOCM_CD bits (TIOCMGET).
    virtual int levels(int& bits) = 0;
    // The transition counters, where the driver keeps them (TIOCGICOUNT).
    virtual int counts(LineCounts& counts) = 0;
};

// The driver of an open serial device, through ioctl calls on its descriptor.
// The wait's time is kept by a timer that interrupts the waiting thread.
class FdModemLineDriver : public ModemLineDriver {
public:
    explicit FdModemLineDriver(int fd) : fd_(fd) {}
    ~FdModemLineDriver() override;
    FdModemLineDriver(const FdModemLineDriver&) = delete;
    FdModemLineDriver& operator=(const FdModemLineDriver&) = delete;

    int waitChange(int timeoutMs) override;
    int levels(int& bits) override;
    int counts(LineCounts& counts) override;

private:
    int armTimer(int ms);
    void deleteTimer();

    int fd_;
    timer_t timer_{};
    bool timerMade_ = false;
    pid_t timerThread_ = 0;  // the thread the timer interrupts
};

// Watches CTS, DSR and DCD on a helper thread and reports each change as PortEvent::CtsChanged,
// PortEvent::DsrChanged or PortEvent::DcdChanged through `post` (called on the helper thread; the
// receiver forwards it to the GUI thread). It waits with TIOCMIWAIT; where the driver refuses the
// wait (EINVAL, ENOTTY, ...) or the wait keeps returning with nothing changed, it polls the inputs
// every 4 ms instead. The transition counters make a pulse that is over before the inputs are read
// still count as a change. A device that has gone (EIO) ends the watch quietly: the reader reports
// the loss.
//
// The wait sees only changes after it began, so a change between a look and the wait would go
// unreported until the next one: the inputs are looked at before every wait, and every wait ends
// after kLookMs, so no change waits longer than that to be reported.
class LineWatcher {
public:
    enum class Mode { Waiting, Polling, Ended };

    LineWatcher(ModemLineDriver& driver, std::function<void(PortEvent event)> post)
        : driver_(driver), post_(std::move(post)) {}
    ~LineWatcher() { stop(); }

    void start();
    void stop();
    bool running() const { return thread_.running(); }
    Mode mode() const { return mode_.load(); }

    static constexpr int kPollMs = 4;
    static constexpr int kLookMs = 50;
    // Waits that come back with nothing changed, in a row, before the watcher polls instead.
    static constexpr int kSpuriousLimit = 3;

private:
    // The inputs as last read.
    struct Seen {
        int bits = 0;
        LineCounts counts;
        bool haveCounts = false;
    };
    enum class Look { Changed, Same, Unread, Gone };
    enum class Wait { Woken, TimeUp, Over };

    void run(const std::atomic<bool>& stopping);
    Look lookAgain(Seen& seen);
    Wait waitForChange(const std::atomic<bool>& stopping);

    ModemLineDriver& driver_;
    std::function<void(PortEvent)> post_;
    InterruptibleThread thread_;
    std::atomic<Mode> mode_{Mode::Waiting};
};

}  // namespace lt
