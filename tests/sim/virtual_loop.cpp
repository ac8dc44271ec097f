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

bool VirtualLoop::runOne(Nanos until) {
    if (queue_.empty()) return false;
    auto it = queue_.begin();
    if (it->first.first > until) return false;
    now_ = it->first.first;
    auto fn = std::move(it->second);
    at_.erase(it->first.second);
    queue_.erase(it);
    fn();
    return true;
}

void VirtualLoop::runUntil(Nanos t) {
    while (runOne(t)) {
    }
    if (t > now_) now_ = t;
}

void VirtualTimer::schedule(Nanos delay) {
    loop_.cancel(pending_);
    pending_ = 0;
    if (delay < 0) return;
    pending_ = loop_.post(loop_.now() + delay + latency, [this] { fire(); });
}

void VirtualTimer::fire() {
    pending_ = 0;
    if (!enabled_) return;
    // A periodic timer is due again one interval later, unless the tick disables it.
    schedule(interval_ > 0 ? Nanos{interval_} * kNanosPerMs : -1);
    if (onTick) onTick();
}

void VirtualTimer::setInterval(int ms) {
    interval_ = ms;
    if (enabled_) schedule(interval_ > 0 ? Nanos{interval_} * kNanosPerMs : -1);
}

void VirtualTimer::setEnabled(bool on) {
    if (on == enabled_) return;
    enabled_ = on;
    schedule(on && interval_ > 0 ? Nanos{interval_} * kNanosPerMs : -1);
}

void VirtualTimer::startFirstAfter(Nanos first) {
    enabled_ = true;
    schedule(first < 0 ? 0 : first);
}

}  // namespace lt::sim
