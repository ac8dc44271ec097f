#include "bench/framing.h"

#include <algorithm>
#include <atomic>
#include <cstdint>
#include <cstdlib>
#include <memory>
#include <random>
#include <thread>

#include "bench/devices.h"
#include "bench/program.h"
#include "bench/references.h"

namespace bench {

namespace {

// The load beside a run: CPU-bound processes and, with rows, port 2's steady stream (relayed out
// of port 1 into a collector that only counts).
class Load {
public:
    Load(Beside beside, const Cable& a, const Cable& b, const std::atomic<bool>& done) {
        if (beside != Beside::Nothing) hogs_ = std::make_unique<CpuHogs>(2);
        if (beside != Beside::CpuHogsAndRows) return;
        drain_ = std::make_unique<Collector>(a, true);
        rowsFeed_ = std::thread([&b, &done] {
            const std::string chunk(1024, '\x5a');
            for (Nanos t = now(); !done; t += kMs) {
                sleepUntil(t);
                b.writeAll(chunk.data(), chunk.size());
            }
        });
    }
    ~Load() { endRows(); }
    void endRows() {
        if (rowsFeed_.joinable()) rowsFeed_.join();
    }
    void endHogs() { hogs_.reset(); }

private:
    std::unique_ptr<CpuHogs> hogs_;
    std::unique_ptr<Collector> drain_;
    std::thread rowsFeed_;
};

// The packets of a run: `pauses` of each length in a shuffled order (an index into kPauseMs after
// each packet but the last), and the stream of 8-byte packets, packet i naming i.
struct Plan {
    std::vector<int> kinds;
    std::string stream;
};

Plan planPackets(int pauses, Beside beside) {
    Plan plan;
    for (int k = 0; k < 4; ++k) plan.kinds.insert(plan.kinds.end(), pauses, k);
    std::shuffle(plan.kinds.begin(), plan.kinds.end(),
                 std::mt19937(static_cast<unsigned>(beside) * 4 + 3));
    for (std::size_t i = 0; i <= plan.kinds.size(); ++i) {
        char pkt[8] = {'\x55', static_cast<char>(i >> 8), static_cast<char>(i), 'p', 'k', 't', '\r',
                       '\n'};
        plan.stream.append(pkt, 8);
    }
    return plan;
}

// When packet i was written to Linetap's cable, the direct reader's and socat's, and the offset
// just past it in the stream.
struct Sent {
    Nanos at, direct, socat;
    std::size_t end;
};

std::vector<Sent> play(const Plan& plan, const Cable& a, const DirectReader& direct,
                       const SocatRelay& socat) {
    // The simulated device keeps its pauses exact where the system allows a real-time thread.
    realTime(20);
    std::vector<Sent> sent(plan.kinds.size() + 1);
    Nanos t = now() + 50 * kMs;
    for (std::size_t i = 0; i <= plan.kinds.size(); ++i) {
        sleepUntil(t);
        const char* pkt = plan.stream.data() + i * 8;
        a.writeAll(pkt, 8);
        sent[i].at = now();
        direct.cable.writeAll(pkt, 8);
        sent[i].direct = now();
        if (socat.running) socat.in.writeAll(pkt, 8);
        sent[i].socat = now();
        sent[i].end = (i + 1) * 8;
        if (i < plan.kinds.size()) t += kPauseMs[plan.kinds[i]] * kMs;
    }
    return sent;
}

// Boundaries the program made, as byte offsets of the stream.
std::vector<std::size_t> packetEnds(const std::vector<std::string>& packets) {
    std::vector<std::size_t> ends;
    std::size_t off = 0;
    for (const std::string& pk : packets) {
        off += pk.size();
        ends.push_back(off);
    }
    return ends;
}

void misjudged(Nanos actual, bool split, int& wrongSplit, int& wrongJoin) {
    if (split && actual < 9 * kMs + kMs / 2) ++wrongSplit;
    if (!split && actual > 10 * kMs + kMs / 2) ++wrongJoin;
}

// Each pause against the cuts the program and the direct reader made, and each packet's relay
// through the program and through socat.
FramingResult judge(const Plan& plan, const std::vector<Sent>& sent,
                    const std::vector<std::size_t>& ends, Nanos gap, Collector& relayed,
                    Collector& direct, Collector& socatOut) {
    FramingResult r;
    for (std::size_t i = 0; i < plan.kinds.size(); ++i) {
        const int kind = plan.kinds[i];
        const Nanos actual = sent[i + 1].at - sent[i].at;
        const bool wasSplit = std::binary_search(ends.begin(), ends.end(), sent[i].end);
        r.total[kind]++;
        r.split[kind] += wasSplit;
        if (std::llabs(actual - kPauseMs[kind] * kMs) > kMs / 2) ++r.jitter;
        misjudged(actual, wasSplit, r.wrongSplit, r.wrongJoin);
        // The direct reader splits where two of its reads lie a gap apart.
        const Nanos last = direct.arrivalOf(sent[i].end - 1);
        const Nanos next = direct.arrivalOf(sent[i].end);
        if (last > 0 && next > 0)
            misjudged(sent[i + 1].direct - sent[i].direct, next - last >= 10 * kMs,
                      r.directWrongSplit, r.directWrongJoin);
        // Relay latency of a packet that ended here: its last byte leaving port 2.
        if (wasSplit) {
            const Nanos out = relayed.arrivalOf(sent[i].end - 1);
            if (out > 0) r.latencyMs.push_back((out - sent[i].at - gap) / 1e6);
        }
        const Nanos through = socatOut.arrivalOf(sent[i].end - 1);
        if (through > 0) r.socatMs.push_back((through - sent[i].socat) / 1e6);
    }
    const std::string got = relayed.data();
    r.lostBytes = got.size() >= plan.stream.size() ? 0 : plan.stream.size() - got.size();
    if (got != plan.stream.substr(0, got.size())) r.lostBytes = SIZE_MAX;
    return r;
}

}  // namespace

FramingResult framingRun(const Options& o, const std::string& dir, Beside beside) {
    Cable a, b;
    plugIn(a, b);
    Program p(o.window, dir);
    p.keepPackets = true;
    p.switchOn();
    p.startAuto(true, false);
    Collector relayed(b);
    DirectReader direct;
    SocatRelay socat;
    Collector socatOut(socat.out);
    std::atomic<bool> done{false};
    Load load(beside, a, b, done);
    const long rowsBefore = p.rows;
    const Nanos began = now();

    const Plan plan = planPackets(o.pauses, beside);
    std::vector<Sent> sent;
    std::thread gen([&] {
        sent = play(plan, a, direct, socat);
        done = true;
    });
    runLoop([&] { return done.load(); }, 600'000);
    gen.join();
    load.endRows();
    const double rowsPerSecond = (p.rows - rowsBefore) / ((now() - began) / 1e9);
    runLoop([&] { return relayed.size() >= plan.stream.size(); }, 3000);
    relayed.stop();
    direct.reads->stop();
    socatOut.stop();
    load.endHogs();

    FramingResult r = judge(plan, sent, packetEnds(p.packets1), p.core.settings().gapMs * kMs,
                            relayed, *direct.reads, socatOut);
    r.rowsPerSecond = rowsPerSecond;
    p.stop();
    return r;
}

}  // namespace bench
