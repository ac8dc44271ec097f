#include "ports/linux/rx_queue.h"

#include <algorithm>

namespace lt {

bool RxQueue::push(const char* bytes, std::size_t count, Nanos at) {
    if (count == 0) return false;
    std::lock_guard lock(mutex_);
    const bool wasEmpty = size_ == 0;
    // Stamps never go backwards, even if a caller's clock did.
    if (!chunks_.empty()) at = std::max(at, chunks_.back().at);
    if (!chunks_.empty() && chunks_.back().at == at) {
        chunks_.back().bytes.append(bytes, count);
    } else {
        chunks_.push_back(Chunk{at, std::string(bytes, count)});
    }
    size_ += count;
    return wasEmpty;
}

std::string RxQueue::take(std::size_t maxBytes, Nanos gapLimit, Nanos gapsFrom) {
    std::lock_guard lock(mutex_);
    std::string out;
    bool havePrevious = false;
    Nanos previous = 0;
    while (!chunks_.empty() && out.size() < maxBytes) {
        Chunk& c = chunks_.front();
        if (havePrevious && gapLimit > 0 && previous >= gapsFrom && c.at - previous >= gapLimit)
            break;
        const std::size_t n = std::min(c.bytes.size() - c.used, maxBytes - out.size());
        out.append(c.bytes, c.used, n);
        c.used += n;
        size_ -= n;
        previous = c.at;
        havePrevious = true;
        if (c.used == c.bytes.size()) chunks_.pop_front();
    }
    return out;
}

std::size_t RxQueue::size() const {
    std::lock_guard lock(mutex_);
    return size_;
}

Nanos RxQueue::lastArrival() const {
    std::lock_guard lock(mutex_);
    return chunks_.empty() ? 0 : chunks_.back().at;
}

void RxQueue::clear() {
    std::lock_guard lock(mutex_);
    chunks_.clear();
    size_ = 0;
}

}  // namespace lt
