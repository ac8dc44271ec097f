#pragma once

#include <functional>
#include <memory>

#include "base/host.h"
#include "base/timer.h"

namespace lt {

// The poll timer of polled capture: while running it ticks every interval, and each tick takes
// whatever both ports have received since the one before.
class Poller {
public:
    explicit Poller(Host& host) : timer_(host.createTimer()) { timer_->setInterval(100); }

    void start(int ms) {
        timer_->setInterval(ms);
        timer_->setEnabled(true);
    }
    void stop() { timer_->setEnabled(false); }
    // A new period takes effect at once; a stopped poll stays stopped.
    void setInterval(int ms) { timer_->setInterval(ms); }
    int interval() const { return timer_->interval(); }
    void onTick(std::function<void()> tick) { timer_->onTick = std::move(tick); }

private:
    std::unique_ptr<Timer> timer_;
};

}  // namespace lt
