// What every run of the bench uses: the clock, the event loop, the process's own figures and the
// command line's choices.
#pragma once

#include <functional>
#include <string>
#include <vector>

#include <sys/types.h>

#include "base/types.h"

namespace bench {

using lt::Nanos;
constexpr Nanos kMs = 1'000'000;

struct Options {
    int seconds = 10;
    int pauses = 300;
    bool window = true;
};

Nanos now();
void sleepUntil(Nanos t);

// Puts the calling thread in the real-time class where the system allows it (as root).
void realTime(int priority);

// CPU seconds this process has used, and the resident size of process `pid` (this one when 0).
double cpuSeconds();
long rssKb(pid_t pid = 0);

// The built `linetap`, beside the bench's own executable.
std::string linetapPath();

// Runs the Qt event loop until `done` holds or `limitMs` passes.
bool runLoop(const std::function<bool()>& done, int limitMs);

// Runs the event loop for `ms` milliseconds with no timer of the bench's own in between, so an
// idle measurement sees the program alone.
void runFor(int ms);

double percentile(std::vector<double> v, double q);

}  // namespace bench
