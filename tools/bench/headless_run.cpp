#include "bench/headless_run.h"

#include <fcntl.h>
#include <signal.h>
#include <spawn.h>
#include <sys/wait.h>
#include <unistd.h>

#include <cstdio>
#include <cstdlib>
#include <fstream>
#include <iterator>
#include <memory>
#include <sstream>
#include <thread>

#include "bench/devices.h"
#include "bench/references.h"

namespace bench {

HeadlessProgram::HeadlessProgram(std::vector<std::string> extra, int out, int err) {
    const std::string program = linetapPath();
    std::vector<std::string> args{program,   "--headless", "--port1", a.path,  "--port2", b.path,
                                  "--relay", "both",       "--auto",  "--gap", "10"};
    args.insert(args.end(), extra.begin(), extra.end());
    std::vector<char*> argv;
    for (auto& arg : args) argv.push_back(arg.data());
    argv.push_back(nullptr);
    posix_spawn_file_actions_t actions;
    ::posix_spawn_file_actions_init(&actions);
    if (out >= 0)
        ::posix_spawn_file_actions_adddup2(&actions, out, 1);
    else
        ::posix_spawn_file_actions_addopen(&actions, 1, "/dev/null", O_WRONLY, 0);
    if (err >= 0) ::posix_spawn_file_actions_adddup2(&actions, err, 2);
    const Nanos spawned = now();
    if (::posix_spawn(&pid, program.c_str(), &actions, nullptr, argv.data(), environ) != 0)
        pid = -1;
    ::posix_spawn_file_actions_destroy(&actions);
    if (pid > 0 && waitHeld(a, b, 1000)) startupMs = (now() - spawned) / 1e6;
    if (startupMs < 0) std::fprintf(stderr, "linetap --headless did not open its ports\n");
    ::usleep(300'000);
}

void HeadlessProgram::stop() {
    if (pid <= 0) return;
    ::kill(pid, SIGTERM);
    ::waitpid(pid, nullptr, 0);
    pid = -1;
}

double HeadlessProgram::cpuSeconds() const {
    std::ifstream f("/proc/" + std::to_string(pid) + "/stat");
    std::string stat((std::istreambuf_iterator<char>(f)), {});
    std::istringstream rest(stat.substr(stat.rfind(')') + 2));
    std::string field;
    double ticks = 0;
    for (int i = 3; i <= 15 && rest >> field; ++i)
        if (i == 14 || i == 15) ticks += std::atof(field.c_str());
    return ticks / static_cast<double>(::sysconf(_SC_CLK_TCK));
}

Latencies relayLatency(HeadlessProgram& h, int packets, SocatRelay* socat) {
    Collector relayed(h.b);
    const bool withSocat = socat && socat->running;
    std::unique_ptr<Collector> socatOut;
    if (withSocat) socatOut = std::make_unique<Collector>(socat->out);
    std::vector<Nanos> sentAt(packets), socatAt(packets);
    std::thread gen([&] {
        realTime(20);
        Nanos t = now() + 50 * kMs;
        for (int i = 0; i < packets; ++i, t += 20 * kMs) {
            sleepUntil(t);
            const char pkt[8] = {
                '\x55', static_cast<char>(i >> 8), static_cast<char>(i), 'h', 'l', 's', '\r', '\n'};
            h.a.writeAll(pkt, 8);
            sentAt[i] = now();
            if (withSocat) socat->in.writeAll(pkt, 8);
            socatAt[i] = now();
        }
    });
    gen.join();
    for (int i = 0; i < 300 && relayed.size() < std::size_t(packets) * 8; ++i) ::usleep(10'000);
    relayed.stop();
    if (socatOut) socatOut->stop();
    Latencies l;
    for (int i = 0; i < packets; ++i) {
        const std::size_t last = std::size_t(i) * 8 + 7;
        if (const Nanos out = relayed.arrivalOf(last); out > 0)
            l.ms.push_back((out - sentAt[i] - 10 * kMs) / 1e6);
        if (socatOut)
            if (const Nanos out = socatOut->arrivalOf(last); out > 0)
                l.socatMs.push_back((out - socatAt[i]) / 1e6);
    }
    return l;
}

namespace {

// Start-up, idle CPU, then relay latency with socat beside on cables of its own.
void headlessLatencyRun(const Options& o, HeadlessResult& r) {
    HeadlessProgram h;
    r.startupMs = h.startupMs;
    const double c0 = h.cpuSeconds();
    const Nanos t0 = now();
    ::usleep(3'000'000);
    r.idleCpu = (h.cpuSeconds() - c0) / ((now() - t0) / 1e9) * 100;
    SocatRelay socat;
    Latencies l = relayLatency(h, o.pauses, &socat);
    r.latencyMs = std::move(l.ms);
    r.socatMs = std::move(l.socatMs);
}

// Throughput both ways at 1 MB/s, recording into `dir` and printing every record.
FlowResult headlessFlowRun(const Options& o, const std::string& dir) {
    HeadlessProgram h({"--record", dir, "--print"});
    Collector atB(h.b, true), atA(h.a, true);
    FlowResult f;
    f.rate = 1e6;
    f.rssStartKb = rssKb(h.pid);
    std::thread g1([&] { feedCounters(h.a, f.rate, o.seconds, f.sent[0]); });
    std::thread g2([&] { feedCounters(h.b, f.rate, o.seconds, f.sent[1]); });
    g1.join();
    g2.join();
    for (int i = 0; i < 500 && (atB.size() < f.sent[0] || atA.size() < f.sent[1]); ++i)
        ::usleep(10'000);
    atA.stop();
    atB.stop();
    f.rssEndKb = rssKb(h.pid);
    f.count(atB, atA);
    return f;
}

}  // namespace

HeadlessResult headlessRun(const Options& o, const std::string& dir) {
    HeadlessResult r;
    headlessLatencyRun(o, r);
    r.flow = headlessFlowRun(o, dir);
    return r;
}

}  // namespace bench
