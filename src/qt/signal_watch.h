#pragma once

#include <signal.h>

#include <QObject>
#include <QSocketNotifier>
#include <functional>
#include <memory>

namespace lt {

// Turns SIGINT, SIGTERM, SIGHUP (a closed terminal or ssh session) and the other signals that
// would end the program at once into a call on the event loop's thread, so the program can stop
// cleanly: close its ports (restoring what it changed on them) and its files. The handler only
// writes a byte to a socket that the event loop watches, and never waits: a signal that finds the
// socket full (thousands pending) is dropped, the calls already on their way standing for it.
class SignalWatch : public QObject {
    Q_OBJECT
public:
    static constexpr int kStops[] = {SIGINT,  SIGTERM, SIGHUP, SIGQUIT,   SIGUSR1,   SIGUSR2,
                                     SIGALRM, SIGXCPU, SIGPWR, SIGVTALRM, SIGSTKFLT, SIGIO};

    explicit SignalWatch(std::function<void(int signal)> onSignal);
    ~SignalWatch() override;

private:
    std::function<void(int)> onSignal_;
    std::unique_ptr<QSocketNotifier> notifier_;
};

}  // namespace lt
