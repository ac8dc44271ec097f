#include "bench/idle.h"

#include "bench/program.h"

namespace bench {

std::pair<double, double> idleRun(const Options& o, const std::string& dir) {
    Cable a, b;
    plugIn(a, b);
    Program p(o.window, dir);
    p.switchOn();
    runFor(200);
    double c0 = cpuSeconds();
    Nanos t0 = now();
    runFor(3000);
    const double open = (cpuSeconds() - c0) / ((now() - t0) / 1e9) * 100;
    p.startAuto(false, false);
    runFor(200);
    c0 = cpuSeconds();
    t0 = now();
    runFor(3000);
    const double autoRun = (cpuSeconds() - c0) / ((now() - t0) / 1e9) * 100;
    p.stop();
    return {open, autoRun};
}

}  // namespace bench
