// The far ends of the program's lines: simulated cables and the devices the bench runs on them.
#pragma once

#include <sys/types.h>

#include <atomic>
#include <cstddef>
#include <cstdint>
#include <mutex>
#include <string>
#include <thread>
#include <utility>
#include <vector>

#include "bench/support.h"

namespace bench {

// A simulated cable: the device end (master) for the bench, the path for the program.
struct Cable {
    int master = -1;
    std::string path;
    Cable();
    ~Cable();
    Cable(const Cable&) = delete;
    Cable& operator=(const Cable&) = delete;

    void writeAll(const char* p, std::size_t n) const;
};

// Waits up to `limitMs` until something holds the program ends of both cables open (a device end
// reports a hang-up while nobody does); true once it does.
bool waitHeld(const Cable& a, const Cable& b, int limitMs);

// Reads what a device receives, with the time of every read.
class Collector {
public:
    // With `counters`, the bytes are checked as 32-bit counters as they come and not kept, so
    // the bench's own memory stays out of the program's resident-size figure.
    explicit Collector(const Cable& c, bool counters = false) : Collector(c.master, counters) {}
    explicit Collector(int fd, bool counters = false) : fd_(fd), counters_(counters) {
        thread_ = std::thread([this] { run(); });
    }
    ~Collector() { stop(); }
    void stop() {
        stop_ = true;
        if (thread_.joinable()) thread_.join();
    }
    std::size_t size() {
        std::lock_guard lock(m_);
        return counters_ ? total_ : data_.size();
    }
    std::size_t gaps() {
        std::lock_guard lock(m_);
        return lost_;
    }
    std::size_t repeats() {
        std::lock_guard lock(m_);
        return dup_;
    }
    std::string data() {
        std::lock_guard lock(m_);
        return data_;
    }
    // When byte `offset` arrived (-1 if it has not).
    Nanos arrivalOf(std::size_t offset);

private:
    void run();
    // A gap in the counters is bytes lost, a step back bytes repeated or out of order.
    void check(const char* p, std::size_t n);
    int fd_;
    bool counters_;
    std::size_t total_ = 0, lost_ = 0, dup_ = 0, fill_ = 0;
    std::uint32_t expect_ = 0;
    char word_[4] = {};
    std::atomic<bool> stop_{false};
    std::thread thread_;
    std::mutex m_;
    std::string data_;
    std::vector<std::pair<Nanos, std::size_t>> ends_;
};

// Writes 32-bit counters in 1024-byte chunks at `rate` bytes a second for `seconds`.
void feedCounters(const Cable& c, double rate, int seconds, std::size_t& count);

// Processes that keep a core each busy, for the framing run under load. Started afresh from the
// bench's own program rather than forked, so the program under test pays no copy-on-write faults
// for memory it shares with them.
struct CpuHogs {
    std::vector<pid_t> pids;
    explicit CpuHogs(int n);
    ~CpuHogs();
    // The hog's own work, when the bench is started as one.
    static int run();
};

}  // namespace bench
