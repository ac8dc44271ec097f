// Throughput both ways: 32-bit counters fed into both ports at a steady rate, relayed and
// recorded; what came through, what was lost, repeated or still missing, and the memory grown.
#pragma once

#include <cstddef>
#include <string>

#include "bench/devices.h"
#include "bench/support.h"

namespace bench {

struct FlowResult {
    double rate = 0;  // bytes per second each way, offered
    std::size_t sent[2] = {}, received[2] = {}, lost[2] = {}, dup[2] = {};
    std::size_t missing[2] = {};  // not through within 5 s of the end: lost or far behind
    long rssStartKb = 0, rssEndKb = 0;
    // What reached the far ends: port 1's stream at port 2's device, port 2's at port 1's.
    void count(Collector& atPort2, Collector& atPort1);
    bool lossless() const;
};

FlowResult flowRun(const Options& o, const std::string& dir, double rate, int seconds);

}  // namespace bench
