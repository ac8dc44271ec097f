// linetap-bench: plays traffic through Linetap on pseudo-terminal pairs and prints figures.
//
// The program under test is the real core with the Linux serial ports and the Qt host, set up
// through its handlers as a user would (ports switched on, data relay 1 -> 2 and 2 -> 1, "Авт.",
// "Пуск", "Запись"), with the main window drawn offscreen beside it unless --no-window is given.
// Devices on the far ends of the pseudo-terminals run on their own threads. Nothing is asserted:
// the figures go to stdout as JSON and as a short table.
//
//   linetap-bench [--seconds N] [--pauses N] [--no-window]
//
// --seconds: length of the 1 MB/s throughput run (default 10; 60 for a soak run).
// --pauses:  pauses of each length (8, 9, 11, 12 ms) in the framing runs (default 300).

#include <unistd.h>

#include <QApplication>
#include <algorithm>
#include <cstdio>
#include <cstdlib>
#include <filesystem>
#include <optional>
#include <string>
#include <tuple>

#include "bench/framing.h"
#include "bench/headless_run.h"
#include "bench/idle.h"
#include "bench/program.h"
#include "bench/report.h"
#include "bench/support.h"
#include "bench/throughput.h"

using namespace bench;

namespace {

std::optional<Options> parseOptions(int argc, char** argv) {
    Options o;
    for (int i = 1; i < argc; ++i) {
        const std::string a = argv[i];
        if (a == "--seconds" && i + 1 < argc)
            o.seconds = std::max(1, std::atoi(argv[++i]));
        else if (a == "--pauses" && i + 1 < argc)
            o.pauses = std::max(1, std::atoi(argv[++i]));
        else if (a == "--no-window")
            o.window = false;
        else
            return std::nullopt;
    }
    return o;
}

// The program's settings and records go to a scratch folder, never the user's.
std::filesystem::path scratchFolder() {
    const std::filesystem::path dir =
        std::filesystem::temp_directory_path() / ("linetap-bench-" + std::to_string(::getpid()));
    std::filesystem::create_directories(dir / "records");
    ::setenv("XDG_CONFIG_HOME", (dir / "config").c_str(), 1);
    ::setenv("HOME", dir.c_str(), 1);
    ::unsetenv("ProgramFiles");
    return dir;
}

// From the bench's start to the program's window shown.
double windowStartup(Nanos started, const std::string& records) {
    Cable a, b;
    plugIn(a, b);
    Program p(true, records);
    runLoop([&] { return p.window->isVisible(); }, 5000);
    QApplication::processEvents();
    return (now() - started) / 1e6;
}

// Throughput at 1 MB/s each way, then, while nothing is lost, 2, 4 and 8 MB/s for 3 s each.
void throughputRuns(const Options& o, const std::string& records, Figures& f) {
    std::fprintf(stderr, "throughput %d s at 1 MB/s each way, recording...\n", o.seconds);
    f.flow = flowRun(o, records, 1e6, o.seconds);
    f.highest = f.flow.lossless() ? 1e6 : 0;
    if (!f.flow.lossless()) return;
    for (double rate : {2e6, 4e6, 8e6}) {
        std::fprintf(stderr, "throughput 3 s at %.0f MB/s each way...\n", rate / 1e6);
        f.ladder.push_back(flowRun(o, records, rate, 3));
        if (!f.ladder.back().lossless()) break;
        f.highest = rate;
    }
}

Figures measure(const Options& o, const std::string& records) {
    Figures f;
    f.window = o.window;
    std::fprintf(stderr, "framing and relay latency...\n");
    f.framing[0] = framingRun(o, records, Beside::Nothing);
    std::fprintf(stderr, "framing with two CPU-bound processes beside...\n");
    f.framing[1] = framingRun(o, records, Beside::CpuHogs);
    std::fprintf(stderr, "framing with two CPU-bound processes and 1000 rows/s beside...\n");
    f.framing[2] = framingRun(o, records, Beside::CpuHogsAndRows);
    throughputRuns(o, records, f);
    std::fprintf(stderr, "idle CPU...\n");
    std::tie(f.idleOpen, f.idleAuto) = idleRun(o, records);
    std::fprintf(stderr,
                 "headless: start-up, idle CPU, relay latency, %d s at 1 MB/s each way...\n",
                 o.seconds);
    f.headless = headlessRun(o, records);
    std::fprintf(stderr,
                 "headless: relay latency plain, --print read at 1 KB/s, --pcap never read...\n");
    f.slowReaders = slowReaderRun(o.pauses);
    std::fprintf(stderr, "relay through ser2net (RFC 2217) beside a local port...\n");
    f.network = networkRun(linetapPath(), std::filesystem::path(records).parent_path().string(),
                           std::max(1, o.pauses / 3));
    return f;
}

}  // namespace

int main(int argc, char** argv) {
    const Nanos started = now();
    if (argc == 2 && std::string(argv[1]) == "--cpu-hog") return CpuHogs::run();
    const std::optional<Options> o = parseOptions(argc, argv);
    if (!o) {
        std::fprintf(stderr, "usage: %s [--seconds N] [--pauses N] [--no-window]\n", argv[0]);
        return 2;
    }
    if (!std::getenv("QT_QPA_PLATFORM")) ::setenv("QT_QPA_PLATFORM", "offscreen", 1);
    const std::filesystem::path dir = scratchFolder();
    QApplication app(argc, argv);
    const std::string records = (dir / "records").string();

    const double startupMs = o->window ? windowStartup(started, records) : -1;
    Figures f = measure(*o, records);
    f.startupMs = startupMs;
    report(f);
    std::error_code ec;
    std::filesystem::remove_all(dir, ec);
    return 0;
}
