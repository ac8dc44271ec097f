// Framing and relay latency: packets with pauses just below and above the 10 ms gap played into
// port 1, relayed out of port 2; where the program cut them and how long the relay took.
#pragma once

#include <cstddef>
#include <string>
#include <vector>

#include "bench/support.h"

namespace bench {

struct FramingResult {
    int total[4] = {}, split[4] = {}, jitter = 0;
    // Against the pause the device really made: split below 9.5 ms, joined above 10.5 ms; for
    // Linetap and for the direct reader on the same pauses.
    int wrongSplit = 0, wrongJoin = 0, directWrongSplit = 0, directWrongJoin = 0;
    std::vector<double> latencyMs, socatMs;
    std::size_t lostBytes = 0;
    double rowsPerSecond = 0;
};

// What runs beside the framing: nothing, two CPU-bound processes, or those and a steady 1 MB/s
// into port 2, which the program cuts into rows of 1024 bytes: a thousand rows a second to draw.
enum class Beside { Nothing, CpuHogs, CpuHogsAndRows };

constexpr int kPauseMs[4] = {8, 9, 11, 12};

FramingResult framingRun(const Options& o, const std::string& dir, Beside beside);

}  // namespace bench
