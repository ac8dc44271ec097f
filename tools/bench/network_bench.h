// Relay latency and framing accuracy with port 1 reached through ser2net.
#pragma once

#include <string>

namespace bench {

// Relay latency and framing accuracy of `linetap --headless` with port 1 reached through ser2net
// over RFC 2217 on this machine, beside the same figures for a port 1 on a local pseudo-terminal,
// both programs fed the same packets at the same moments. Nothing is asserted.
struct NetworkFigures {
    bool ran = false;  // false when ser2net is not installed or did not start
    struct Side {
        double latencyP50Ms = -1, latencyP99Ms = -1, latencyMaxMs = -1;
        // Share of pauses framed right, by pause length (8, 9, 11, 12 ms with a 10 ms minimum).
        double accuracy[4] = {-1, -1, -1, -1};
        int lost = 0;  // packets that never came out of port 2
    } network, local;
};

// `linetap` is the built program; `dir` a scratch folder; `pauses` of each length.
NetworkFigures networkRun(const std::string& linetap, const std::string& dir, int pauses);

// The figures as a JSON value and as table rows.
std::string networkJson(const NetworkFigures& f);
std::string networkTable(const NetworkFigures& f);

}  // namespace bench
