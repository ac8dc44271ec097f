#pragma once

#include <cstddef>
#include <deque>
#include <mutex>
#include <string>

#include "base/types.h"
#include "serial/serial_port.h"

namespace lt {

// The receive buffer of a port: chunks of bytes, each stamped with the monotonic time at which it
// was read from the device. Filled by the reader thread, taken by the GUI thread. Not limited in
// size unless a limit is set, so that while capture runs no byte is ever dropped.
class RxQueue {
public:
    // Adds bytes read at `at`, as many as the limit leaves room for. Returns how many it kept.
    std::size_t push(const char* bytes, std::size_t count, Nanos at);

    // From now on keeps at most `maxBytes` bytes (SerialPort::kAll: all), the first that arrived:
    // bytes past it are dropped at once, and later ones as they come, and counted. Returns how many
    // the limit before dropped since it was set.
    std::size_t setLimit(std::size_t maxBytes);
    std::size_t limit() const;

    // Takes bytes oldest first: at most `maxBytes`, stopping before the first byte that arrived
    // `gapLimit` or more after the byte before it, where that byte arrived at or after `gapsFrom`
    // (no such stop for a gapLimit of 0 or less). Bytes of one chunk arrived together.
    // `firstArrival`, when given, gets the stamp of the first byte taken (0 when none), under the
    // same lock as the bytes.
    std::string take(std::size_t maxBytes, Nanos gapLimit, Nanos gapsFrom,
                     Nanos* firstArrival = nullptr);
    // How many bytes take() would return now.
    std::size_t packetLength(std::size_t maxBytes, Nanos gapLimit, Nanos gapsFrom) const;

    std::size_t size() const;
    Nanos lastArrival() const;  // 0 when empty
    // Empties the buffer; the limit stays.
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
    std::size_t limit_ = SerialPort::kAll;
    std::size_t dropped_ = 0;  // since the limit was set
};

}  // namespace lt
