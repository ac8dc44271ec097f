// The headless front end as a process of its own: its start-up, idle CPU, relay latency and
// throughput both ways while recording and printing.
#pragma once

#include <string>
#include <vector>

#include "bench/support.h"
#include "bench/throughput.h"

namespace bench {

struct HeadlessResult {
    double startupMs = -1, idleCpu = -1;
    std::vector<double> latencyMs, socatMs;
    FlowResult flow;
};

HeadlessResult headlessRun(const Options& o, const std::string& dir);

}  // namespace bench
