#pragma once

#include <cstddef>
#include <cstdint>

namespace lt {

// The bound on bytes waiting to leave a port whose far end takes nothing for long (flow control
// held, a stalled adapter, a server that suspends): a send that would pass it while bytes wait is
// dropped whole and counted, so memory never grows with what is relayed to such a port.
class SendBacklog {
public:
    static constexpr std::size_t kBytes = 64 * 1024;

    explicit SendBacklog(std::size_t bytes = kBytes) : bytes_(bytes) {}

    // Whether a send of `size` bytes may join the `waiting` ones; counts it when not.
    bool admits(std::size_t waiting, std::size_t size) {
        if (waiting > 0 && waiting + size > bytes_) {
            ++dropped_;
            return false;
        }
        return true;
    }
    std::uint64_t dropped() const { return dropped_; }

private:
    std::size_t bytes_;
    std::uint64_t dropped_ = 0;
};

}  // namespace lt
