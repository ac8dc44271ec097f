// The bench's report: every figure as JSON on stdout, then a short table of the main ones.
#pragma once

#include <vector>

#include "bench/framing.h"
#include "bench/headless_run.h"
#include "bench/slow_readers.h"
#include "bench/throughput.h"

namespace bench {

struct Figures {
    bool window = true;
    double startupMs = -1;  // to the window shown; -1 without a window
    // Framing with nothing, two CPU-bound processes, and those and 1000 rows/s beside.
    FramingResult framing[3];
    FlowResult flow;                 // 1 MB/s each way, recording
    std::vector<FlowResult> ladder;  // the higher rates tried after a lossless 1 MB/s
    double highest = 0;              // the highest lossless rate each way, bytes per second
    double idleOpen = -1, idleAuto = -1;
    HeadlessResult headless;
    SlowReaderFigures slowReaders;  // headless relay latency beside outputs that lag
};

void report(const Figures& f);

}  // namespace bench
