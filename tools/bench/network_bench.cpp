#include "bench/network_bench.h"

#include <fcntl.h>
#include <signal.h>
#include <spawn.h>
#include <sys/mman.h>
#include <sys/wait.h>
#include <unistd.h>

#include <algorithm>
#include <cstdio>
#include <fstream>
#include <map>
#include <regex>
#include <vector>

#include "bench/devices.h"
#include "bench/support.h"

extern char** environ;

namespace bench {

namespace {

// A child process with its standard output in a memory file, ended by SIGTERM.
struct Child {
    pid_t pid = -1;
    int out = ::memfd_create("out", MFD_CLOEXEC);
    explicit Child(std::vector<std::string> args) {
        posix_spawn_file_actions_t actions;
        ::posix_spawn_file_actions_init(&actions);
        ::posix_spawn_file_actions_addopen(&actions, 0, "/dev/null", O_RDONLY, 0);
        ::posix_spawn_file_actions_adddup2(&actions, out, 1);
        ::posix_spawn_file_actions_addopen(&actions, 2, "/dev/null", O_WRONLY, 0);
        std::vector<char*> argv;
        for (auto& a : args) argv.push_back(a.data());
        argv.push_back(nullptr);
        if (::posix_spawnp(&pid, argv[0], &actions, nullptr, argv.data(), environ) != 0) pid = -1;
        ::posix_spawn_file_actions_destroy(&actions);
    }
    ~Child() {
        stop();
        ::close(out);
    }
    void stop() {
        if (pid <= 0) return;
        ::kill(pid, SIGTERM);
        ::waitpid(pid, nullptr, 0);
        pid = -1;
    }
    std::string output() const {
        std::string s;
        char buf[65536];
        for (ssize_t n; (n = ::pread(out, buf, sizeof buf, static_cast<off_t>(s.size()))) > 0;)
            s.append(buf, static_cast<std::size_t>(n));
        return s;
    }
};

// When each packet (8 bytes: 0xA5, number low, number high, five fillers) a device end received
// was there whole, by its number.
std::map<int, Nanos> arrivals(Collector& c) {
    std::map<int, Nanos> out;
    const std::string data = c.data();
    for (std::size_t i = 0; i + 8 <= data.size(); i += 8) {
        const int number =
            static_cast<unsigned char>(data[i + 1]) | static_cast<unsigned char>(data[i + 2]) << 8;
        out.emplace(number, c.arrivalOf(i + 7));
    }
    return out;
}

std::string packet(int number) {
    return std::string{'\xa5',
                       static_cast<char>(number & 0xff),
                       static_cast<char>(number >> 8),
                       'L',
                       'T',
                       'N',
                       'E',
                       'T'};
}

// Port 1's packets as the printed records give them, each a list of packet numbers.
std::vector<std::vector<int>> printedPackets(const std::string& printed) {
    std::vector<std::vector<int>> out;
    static const std::regex line(R"(^\d\d:\d\d:\d\d,\d+  .*Data=((?: [0-9A-F]{2})+)\r?$)");
    std::size_t from = 0;
    while (from < printed.size()) {
        const std::size_t end = printed.find('\n', from);
        const std::string l = printed.substr(from, end - from);
        from = end == std::string::npos ? printed.size() : end + 1;
        std::smatch m;
        if (!std::regex_match(l, m, line)) continue;
        std::vector<unsigned> bytes;
        for (std::size_t i = 1; i + 2 <= m[1].str().size(); i += 3)
            bytes.push_back(std::stoul(m[1].str().substr(i, 2), nullptr, 16));
        std::vector<int> numbers;
        for (std::size_t i = 0; i + 8 <= bytes.size(); i += 8)
            numbers.push_back(static_cast<int>(bytes[i + 1] | bytes[i + 2] << 8));
        out.push_back(numbers);
    }
    return out;
}

bool listening(int port) {
    std::ifstream in("/proc/net/tcp");
    char wanted[32];
    std::snprintf(wanted, sizeof wanted, ":%04X 00000000:0000 0A", port);
    for (std::string l; std::getline(in, l);)
        if (l.find(wanted) != std::string::npos) return true;
    return false;
}

int freePort() {
    for (int port = 20000 + ::getpid() % 20000;; ++port)
        if (!listening(port)) return port;
}

constexpr int kPauses[] = {8, 9, 11, 12};

// What was played: when each latency packet was sent, and where each kind of packet begins.
struct Played {
    std::map<int, Nanos> sent;
    int firstLatency = 0, firstFraming = 0, end = 0;
};

// The same packets into port 1 of both runs at the same moments: probes until both relay, then
// latency packets 30 ms apart, then framing packets after pauses of 8, 9, 11 and 12 ms in turn.
Played play(Cable& served, Cable& local1, Collector& atNet, Collector& atLocal, int pauses) {
    Played played;
    int number = 0;
    const auto both = [&] {
        const std::string p = packet(number);
        served.writeAll(p.data(), p.size());
        local1.writeAll(p.data(), p.size());
    };
    for (int i = 0; i < 300; ++i, ++number) {
        both();
        ::usleep(20'000);
        if (arrivals(atNet).count(number) && arrivals(atLocal).count(number)) break;
    }
    ::usleep(100'000);  // a quiet moment so no probe runs into the measured packets
    played.firstLatency = ++number;
    for (int i = 0; i < 200; ++i, ++number) {
        played.sent[number] = now();
        both();
        sleepUntil(played.sent[number] + 30 * kMs);
    }
    played.firstFraming = number;
    Nanos at = now() + 50 * kMs;
    for (int i = 0; i < 4 * pauses; ++i, ++number) {
        sleepUntil(at);
        both();
        at = now() + kPauses[i % 4] * kMs;
    }
    played.end = number;
    ::usleep(300'000);
    return played;
}

// One run's latency from its collector, and its framing from what the program printed: a cut
// before packet n is right when its pause was at least the minimum pause.
void measure(const Played& played, Collector& c, Child& program, NetworkFigures::Side& side) {
    const auto arrived = arrivals(c);
    std::vector<double> ms;
    for (int n = played.firstLatency; n < played.firstFraming; ++n) {
        const auto it = arrived.find(n);
        if (it == arrived.end())
            ++side.lost;
        else
            ms.push_back((it->second - played.sent.at(n)) / 1e6);
    }
    side.latencyP50Ms = percentile(ms, 0.5);
    side.latencyP99Ms = percentile(ms, 0.99);
    side.latencyMaxMs = ms.empty() ? -1 : *std::max_element(ms.begin(), ms.end());
    program.stop();
    std::map<int, int> packetOf;
    int k = 0;
    for (const auto& p : printedPackets(program.output())) {
        for (int n : p) packetOf[n] = k;
        ++k;
    }
    int right[4] = {}, seen[4] = {};
    for (int n = played.firstFraming + 1; n < played.end; ++n) {
        const int pause = (n - played.firstFraming - 1) % 4;
        if (!packetOf.count(n) || !packetOf.count(n - 1)) continue;
        const bool cut = packetOf[n] != packetOf[n - 1];
        ++seen[pause];
        if (cut == (kPauses[pause] >= 10)) ++right[pause];
    }
    for (int i = 0; i < 4; ++i) side.accuracy[i] = seen[i] ? 100.0 * right[i] / seen[i] : -1;
}

}  // namespace

NetworkFigures networkRun(const std::string& linetap, const std::string& dir, int pauses) {
    NetworkFigures f;
    if (std::system("command -v ser2net >/dev/null 2>&1") != 0) return f;
    Cable served, net2, local1, local2;  // behind ser2net; the network run's port 2; the local run
    const int port = freePort();
    const std::string config = dir + "/ser2net.yaml";
    std::ofstream(config) << "%YAML 1.1\n---\nconnection: &line1\n"
                          << "  accepter: telnet(rfc2217),tcp,127.0.0.1," << port << "\n"
                          << "  connector: serialdev," << served.path << ",9600n81,local\n";
    Child ser2net({"ser2net", "-n", "-d", "-c", config, "-P", dir + "/ser2net.pid"});
    for (int i = 0; i < 100 && !listening(port); ++i) ::usleep(20'000);
    if (!listening(port)) return f;

    const auto run = [&](const std::string& port1, const Cable& port2) {
        return std::make_unique<Child>(std::vector<std::string>{
            linetap, "--headless", "--port1", port1, "--settings1", "9600,n,8,1", "--port2",
            port2.path, "--settings2", "9600,n,8,1", "--relay", "12", "--auto", "--gap", "10",
            "--print"});
    };
    auto viaNetwork = run("rfc2217://127.0.0.1:" + std::to_string(port), net2);
    auto viaLocal = run(local1.path, local2);
    Collector atNet(net2), atLocal(local2);
    const Played played = play(served, local1, atNet, atLocal, pauses);
    measure(played, atNet, *viaNetwork, f.network);
    measure(played, atLocal, *viaLocal, f.local);
    f.ran = true;
    return f;
}

std::string networkJson(const NetworkFigures& f) {
    if (!f.ran) return "null";
    const auto side = [](const NetworkFigures::Side& s) {
        char buf[512];
        std::snprintf(buf, sizeof buf,
                      "{\"latency_p50_ms\": %.3f, \"latency_p99_ms\": %.3f, \"latency_max_ms\": "
                      "%.3f, \"lost\": %d, \"framing_percent\": {\"8\": %.1f, \"9\": %.1f, "
                      "\"11\": %.1f, \"12\": %.1f}}",
                      s.latencyP50Ms, s.latencyP99Ms, s.latencyMaxMs, s.lost, s.accuracy[0],
                      s.accuracy[1], s.accuracy[2], s.accuracy[3]);
        return std::string(buf);
    };
    return "{\"through_ser2net\": " + side(f.network) + ", \"local\": " + side(f.local) + "}";
}

std::string networkTable(const NetworkFigures& f) {
    if (!f.ran) return "port 1 through ser2net: not run (ser2net missing or not started)\n";
    std::string out;
    for (const auto& [name, s] : {std::pair{"port 1 through ser2net", f.network},
                                  std::pair{"port 1 local (same run)", f.local}}) {
        char buf[256];
        std::snprintf(
            buf, sizeof buf,
            "%-24s packet in to relayed out (with the 10 ms pause) p50 %.2f ms, p99 %.2f ms, max "
            "%.2f ms, lost %d; framing right "
            "8/9/11/12 ms: %.0f/%.0f/%.0f/%.0f %%\n",
            name, s.latencyP50Ms, s.latencyP99Ms, s.latencyMaxMs, s.lost, s.accuracy[0],
            s.accuracy[1], s.accuracy[2], s.accuracy[3]);
        out += buf;
    }
    return out;
}

}  // namespace bench
