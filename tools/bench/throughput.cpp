#include "bench/throughput.h"

#include <atomic>
#include <thread>

#include "bench/program.h"

namespace bench {

void FlowResult::count(Collector& atPort2, Collector& atPort1) {
    Collector* at[2] = {&atPort2, &atPort1};
    for (int k = 0; k < 2; ++k) {
        received[k] = at[k]->size();
        lost[k] = at[k]->gaps();
        dup[k] = at[k]->repeats();
        missing[k] = received[k] < sent[k] ? sent[k] - received[k] : 0;
    }
}

bool FlowResult::lossless() const {
    return missing[0] == 0 && missing[1] == 0 && lost[0] == 0 && lost[1] == 0 && dup[0] == 0 &&
           dup[1] == 0 && received[0] == sent[0] && received[1] == sent[1];
}

FlowResult flowRun(const Options& o, const std::string& dir, double rate, int seconds) {
    Cable a, b;
    plugIn(a, b);
    Program p(o.window, dir);
    p.switchOn();
    p.startAuto(true, true);
    Collector atB(b, true), atA(a, true);
    FlowResult r;
    r.rate = rate;
    std::atomic<int> finished{0};
    runFor(300);
    r.rssStartKb = rssKb();
    std::thread g1([&] {
        feedCounters(a, rate, seconds, r.sent[0]);
        ++finished;
    });
    std::thread g2([&] {
        feedCounters(b, rate, seconds, r.sent[1]);
        ++finished;
    });
    runLoop([&] { return finished.load() == 2; }, (seconds + 60) * 1000);
    g1.join();
    g2.join();
    runLoop([&] { return atB.size() >= r.sent[0] && atA.size() >= r.sent[1]; }, 5000);
    atA.stop();
    atB.stop();
    r.rssEndKb = rssKb();
    r.count(atB, atA);
    p.stop();
    return r;
}

}  // namespace bench
