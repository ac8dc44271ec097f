// Idle CPU: the program's share of a core with its ports open and nothing to do.
#pragma once

#include <string>
#include <utility>

#include "bench/support.h"

namespace bench {

// Percent of a core with the ports open and capture stopped, then with automatic framing
// running and no traffic.
std::pair<double, double> idleRun(const Options& o, const std::string& dir);

}  // namespace bench
