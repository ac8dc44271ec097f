#pragma once

#include <cstdint>
#include <functional>
#include <map>
#include <unordered_map>
#include <utility>

#include "base/timer.h"
#include "base/types.h"

namespace lt::sim {

constexpr Nanos ms(double v) {
    return static_cast<Nanos>(v * 1e6);
}
constexpr Nanos us(double v) {
    return static_cast<Nanos>(v * 1e3);
}

// A virtual clock with an event queue: events run in time order, ties in posting order.
class VirtualLoop {
public:
    using Id = std::uint64_t;

    Nanos now() const { return now_; }

    Id post(Nanos at, std::function<void()> fn);
    Id postAfter(Nanos delay, std::function<void()> fn) {
        return post(now_ + delay, std::move(fn));
    }
    void cancel(Id id);

    // Runs every event due up to and including `t`; the clock then stands at `t`.
    void runUntil(Nanos t);
    void runFor(Nanos d) { runUntil(now_ + d); }
    bool empty() const { return queue_.empty(); }

private:
    Nanos now_ = 0;
    Id next_ = 1;
    std::map<std::pair<Nanos, Id>, std::function<void()>> queue_;
    std::unordered_map<Id, Nanos> at_;
};

// A timer of the event loop on the virtual clock.
class VirtualTimer : public Timer {
public:
    explicit VirtualTimer(VirtualLoop& loop) : loop_(loop) {}
    ~VirtualTimer() override { loop_.cancel(pending_); }

    void setInterval(int ms) override;
    int interval() const override { return interval_; }
    void setEnabled(bool on) override;
    bool enabled() const override { return enabled_; }
    void startFirstAfter(Nanos first) override;

    Nanos latency = 0;  // ticks reach the program this late (a busy window)

private:
    Nanos period() const { return interval_ > 0 ? Nanos{interval_} * kNanosPerMs : -1; }
    void schedule(Nanos delay);

    VirtualLoop& loop_;
    int interval_ = 0;
    bool enabled_ = false;
    VirtualLoop::Id pending_ = 0;
};

}  // namespace lt::sim
