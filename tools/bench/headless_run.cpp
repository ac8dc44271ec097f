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
#include <sstream>
#include <thread>

#include "bench/devices.h"
#include "bench/references.h"

namespace bench {

namespace {

// `linetap --headless` beside the bench: the built program, on two cables, relaying both ways in
// automatic framing with a 10 ms pause, its standard output thrown away.
struct HeadlessProgram {
    Cable a, b;
    pid_t pid = -1;
    double startupMs = -1;  // from the spawn to both ports open

    explicit HeadlessProgram(const std::string& recordDir);
    ~HeadlessProgram() {
        if (pid <= 0) return;
        ::kill(pid, SIGTERM);
        ::waitpid(pid, nullptr, 0);
    }
    HeadlessProgram(const HeadlessProgram&) = delete;
    HeadlessProgram& operator=(const HeadlessProgram&) = delete;

    // CPU seconds the process has used.
    double cpuSeconds() const;
};

HeadlessProgram::HeadlessProgram(const std::string& recordDir) {
    const std::string program = linetapPath();
    std::vector<std::string> args{program,   "--headless", "--port1", a.path,  "--port2", b.path,
                                  "--relay", "both",       "--auto",  "--gap", "10"};
    if (!recordDir.empty()) args.insert(args.end(), {"--record", recordDir, "--print"});
    std::vector<char*> argv;
    for (auto& arg : args) argv.push_back(arg.data());
    argv.push_back(nullptr);
    posix_spawn_file_actions_t actions;
    ::posix_spawn_file_actions_init(&actions);
    ::posix_spawn_file_actions_addopen(&actions, 1, "/dev/null", O_WRONLY, 0);
    const Nanos spawned = now();
    if (::posix_spawn(&pid, program.c_str(), &actions, nullptr, argv.data(), environ) != 0)
        pid = -1;
    ::posix_spawn_file_actions_destroy(&actions);
    if (pid > 0 && waitHeld(a, b, 1000)) startupMs = (now() - spawned) / 1e6;
    if (startupMs < 0) std::fprintf(stderr, "linetap --headless did not open its ports\n");
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

// Start-up, idle CPU, then relay latency: 8-byte packets 20 ms apart into port 1, out of port 2,
// with socat fed the same packets at the same moments on cables of its own.
void headlessLatencyRun(const Options& o, HeadlessResult& r) {
    HeadlessProgram h("");
    r.startupMs = h.startupMs;
    ::usleep(300'000);
    const double c0 = h.cpuSeconds();
    const Nanos t0 = now();
    ::usleep(3'000'000);
    r.idleCpu = (h.cpuSeconds() - c0) / ((now() - t0) / 1e9) * 100;

    Collector relayed(h.b);
    SocatRelay socat;
    Collector socatOut(socat.out);
    const int packets = o.pauses;
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
            if (socat.running) socat.in.writeAll(pkt, 8);
            socatAt[i] = now();
        }
    });
    gen.join();
    for (int i = 0; i < 300 && relayed.size() < std::size_t(packets) * 8; ++i) ::usleep(10'000);
    relayed.stop();
    socatOut.stop();
    for (int i = 0; i < packets; ++i) {
        const std::size_t last = std::size_t(i) * 8 + 7;
        if (const Nanos out = relayed.arrivalOf(last); out > 0)
            r.latencyMs.push_back((out - sentAt[i] - 10 * kMs) / 1e6);
        if (const Nanos out = socatOut.arrivalOf(last); out > 0)
            r.socatMs.push_back((out - socatAt[i]) / 1e6);
    }
}

// Throughput both ways at 1 MB/s, recording into `dir` and printing every record.
FlowResult headlessFlowRun(const Options& o, const std::string& dir) {
    HeadlessProgram h(dir);
    Collector atB(h.b, true), atA(h.a, true);
    FlowResult f;
    f.rate = 1e6;
    ::usleep(300'000);
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
