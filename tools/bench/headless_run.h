// The headless front end as a process of its own: its start-up, idle CPU, relay latency and
// throughput both ways while recording and printing.
#pragma once

#include <sys/types.h>

#include <string>
#include <vector>

#include "bench/devices.h"
#include "bench/support.h"
#include "bench/throughput.h"

namespace bench {

struct SocatRelay;

// `linetap --headless` beside the bench: the built program, on two cables, relaying both ways in
// automatic framing with a 10 ms pause, given 300 ms to settle once both ports are open.
struct HeadlessProgram {
    Cable a, b;
    pid_t pid = -1;
    double startupMs = -1;  // from the spawn to both ports open

    // `extra` options after those; standard output into `out` (thrown away when -1), standard
    // error into `err` (the bench's own when -1).
    explicit HeadlessProgram(std::vector<std::string> extra = {}, int out = -1, int err = -1);
    ~HeadlessProgram() { stop(); }
    HeadlessProgram(const HeadlessProgram&) = delete;
    HeadlessProgram& operator=(const HeadlessProgram&) = delete;

    // Ends the program (SIGTERM) and waits for it.
    void stop();
    // CPU seconds the process has used.
    double cpuSeconds() const;
};

// Relay latency: `packets` 8-byte packets 20 ms apart into port 1, each taken when its last byte
// comes out of port 2, in ms beyond the 10 ms pause. `socat`, when running, is fed the same
// packets at the same moments and its figures (the whole time) go to `socatMs`.
struct Latencies {
    std::vector<double> ms, socatMs;
};
Latencies relayLatency(HeadlessProgram& h, int packets, SocatRelay* socat = nullptr);

struct HeadlessResult {
    double startupMs = -1, idleCpu = -1;
    std::vector<double> latencyMs, socatMs;
    FlowResult flow;
};

HeadlessResult headlessRun(const Options& o, const std::string& dir);

}  // namespace bench
