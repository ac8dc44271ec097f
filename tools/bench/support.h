// What every run of the bench uses: the clock, the event loop, the process's own figures and the
// command line's choices.
#pragma once

#include <functional>
#include <string>
#include <vector>

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

// CPU seconds this process has used, and its resident size.
double cpuSeconds();
long rssKb();

// Runs the Qt event loop until `done` holds or `limitMs` passes.
bool runLoop(const std::function<bool()>& done, int limitMs);

// Runs the event loop for `ms` milliseconds with no timer of the bench's own in between, so an
// idle measurement sees the program alone.
void runFor(int ms);

double percentile(std::vector<double> v, double q);

}  // namespace bench
