// References run beside the program on cables of their own, fed the same bytes at the same
// moments, so that the program's figures can be read against what the machine allows.
#pragma once

#include <sys/types.h>

#include <memory>

#include "bench/devices.h"

namespace bench {

// socat as a plain byte relay from one cable's program end to another's.
struct SocatRelay {
    Cable in, out;
    pid_t pid = -1;
    bool running = false;
    SocatRelay();
    ~SocatRelay();
    SocatRelay(const SocatRelay&) = delete;
    SocatRelay& operator=(const SocatRelay&) = delete;
};

// The best any program can frame on this machine: the program's end of a cable of its own,
// read by a real-time thread that stamps every read, a pause of 10 ms between stamps ending a
// packet. Fed the same packets at the same moments as Linetap, so both see the same disturbances.
struct DirectReader {
    Cable cable;
    int fd = -1;
    std::unique_ptr<Collector> reads;
    DirectReader();
    ~DirectReader();
    DirectReader(const DirectReader&) = delete;
    DirectReader& operator=(const DirectReader&) = delete;
};

}  // namespace bench
