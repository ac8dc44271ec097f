#pragma once

#include <string>
#include <vector>

namespace bench {

// Relay latency of the built `linetap --headless` (ms added beyond the 10 ms pause, one sample
// per 8-byte packet sent every 20 ms into port 1 and taken at port 2), in three runs one after
// the other: plain (no output), --print into a reader that takes 1 KB/s, and --pcap into a named
// pipe whose reader never reads. Both pipes are cut to one page, so they are full within the
// first second and every later packet meets a blocked reader.
struct SlowReaderFigures {
    std::vector<double> plainMs, slowPrintMs, stalledCaptureMs;
    std::string stderrSlowPrint, stderrStalledCapture;  // what the program said in those runs
};

SlowReaderFigures slowReaderRun(int packets);

}  // namespace bench
