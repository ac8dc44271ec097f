#include "serial/linux/rx_queue.h"

#include <algorithm>

#include "serial/serial_port.h"

namespace lt {

std::size_t RxQueue::push(const char* bytes, std::size_t count, Nanos at) {
    std::lock_guard lock(mutex_);
    const std::size_t room = limit_ > size_ ? limit_ - size_ : 0;
    dropped_ += count - std::min(count, room);
    count = std::min(count, room);
    if (count == 0) return 0;
    // Stamps never go backwards, even if a caller's clock did.
    if (!chunks_.empty()) at = std::max(at, chunks_.back().at);
    if (!chunks_.empty() && chunks_.back().at == at) {
        chunks_.back().bytes.append(bytes, count);
    } else {
        chunks_.push_back(Chunk{at, std::string(bytes, count)});
    }
    size_ += count;
    return count;
}

std::size_t RxQueue::setLimit(std::size_t maxBytes) {
    std::lock_guard lock(mutex_);
    const std::size_t dropped = dropped_;
    limit_ = maxBytes;
    dropped_ = 0;
    // The newest bytes past the new limit go, as if they had come after it was set.
    while (size_ > limit_) {
        Chunk& c = chunks_.back();
        const std::size_t n = std::min(c.bytes.size() - c.used, size_ - limit_);
        c.bytes.resize(c.bytes.size() - n);
        size_ -= n;
        dropped_ += n;
        if (c.used == c.bytes.size()) chunks_.pop_back();
    }
    return dropped;
}

std::size_t RxQueue::limit() const {
    std::lock_guard lock(mutex_);
    return limit_;
}

std::size_t RxQueue::lengthLocked(std::size_t maxBytes, Nanos gapLimit, Nanos gapsFrom) const {
    std::size_t length = 0;
    bool havePrevious = false;
    Nanos previous = 0;
    for (const Chunk& c : chunks_) {
        if (length >= maxBytes) break;
        if (havePrevious && pauseCuts(previous, c.at, gapLimit, gapsFrom)) break;
        length += std::min(c.bytes.size() - c.used, maxBytes - length);
        previous = c.at;
        havePrevious = true;
    }
    return length;
}

std::size_t RxQueue::packetLength(std::size_t maxBytes, Nanos gapLimit, Nanos gapsFrom) const {
    std::lock_guard lock(mutex_);
    return lengthLocked(maxBytes, gapLimit, gapsFrom);
}

std::string RxQueue::take(std::size_t maxBytes, Nanos gapLimit, Nanos gapsFrom,
                          Nanos* firstArrival) {
    std::lock_guard lock(mutex_);
    if (firstArrival) *firstArrival = chunks_.empty() ? 0 : chunks_.front().at;
    std::string out;
    std::size_t left = lengthLocked(maxBytes, gapLimit, gapsFrom);
    out.reserve(left);
    while (left > 0) {
        Chunk& c = chunks_.front();
        const std::size_t n = std::min(c.bytes.size() - c.used, left);
        out.append(c.bytes, c.used, n);
        c.used += n;
        size_ -= n;
        left -= n;
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
