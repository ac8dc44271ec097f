#include "sim/virtual_loop.h"

namespace lt::sim {

VirtualLoop::Id VirtualLoop::post(Nanos at, std::function<void()> fn) {
    if (at < now_) at = now_;
    const Id id = next_++;
    queue_.emplace(std::pair{at, id}, std::move(fn));
    at_.emplace(id, at);
    return id;
}

void VirtualLoop::cancel(Id id) {
    const auto it = at_.find(id);
    if (it == at_.end()) return;
    queue_.erase({it->second, id});
    at_.erase(it);
}

void VirtualLoop::runUntil(Nanos t) {
    for (auto it = queue_.begin(); it != queue_.end() && it->first.first <= t;
         it = queue_.begin()) {
        now_ = it->first.first;
        auto fn = std::move(it->second);
        at_.erase(it->first.second);
        queue_.erase(it);
        fn();
    }
    if (t > now_) now_ = t;
}

void VirtualTimer::schedule(Nanos delay) {
    loop_.cancel(pending_);
    pending_ = 0;
    if (delay < 0) return;
    pending_ = loop_.post(loop_.now() + delay + latency, [this] {
        pending_ = 0;
        if (!enabled_) return;
        // A periodic timer is due again one interval later, unless the tick disables it.
        schedule(period());
        if (onTick) onTick();
    });
}

void VirtualTimer::setInterval(int ms) {
    interval_ = ms;
    if (enabled_) schedule(period());
}

void VirtualTimer::setEnabled(bool on) {
    if (on == enabled_) return;
    enabled_ = on;
    schedule(on ? period() : -1);
}

void VirtualTimer::startFirstAfter(Nanos first) {
    enabled_ = true;
    schedule(first < 0 ? 0 : first);
}

}  // namespace lt::sim
