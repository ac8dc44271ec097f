#pragma once

#include <cstddef>
#include <deque>
#include <mutex>
#include <string>

#include "engine/types.h"

namespace lt {

// The receive buffer of a port: chunks of bytes, each stamped with the monotonic time at which it
// was read from the device. Filled by the reader thread, taken by the GUI thread; not limited in
// size, so no byte is ever dropped.
class RxQueue {
public:
    // Adds bytes read at `at`. Returns true when the buffer was empty before (so the owner knows
    // a receive event is due).
    bool push(const char* bytes, std::size_t count, Nanos at);

    // Takes bytes oldest first: at most `maxBytes`, stopping before the first byte that arrived
    // `gapLimit` or more after the byte before it, where that byte arrived at or after `gapsFrom`
    // (no such stop for a gapLimit of 0 or less). Bytes of one chunk arrived together.
    std::string take(std::size_t maxBytes, Nanos gapLimit, Nanos gapsFrom);
    // How many bytes take() would return now.
    std::size_t packetLength(std::size_t maxBytes, Nanos gapLimit, Nanos gapsFrom) const;

    std::size_t size() const;
    Nanos lastArrival() const;   // 0 when empty
    Nanos firstArrival() const;  // 0 when empty
    void clear();

private:
    std::size_t lengthLocked(std::size_t maxBytes, Nanos gapLimit, Nanos gapsFrom) const;

    struct Chunk {
        Nanos at;
        std::string bytes;
        std::size_t used = 0;  // bytes already taken from the front
    };
    mutable std::mutex mutex_;
    std::deque<Chunk> chunks_;
    std::size_t size_ = 0;
};

}  // namespace lt
