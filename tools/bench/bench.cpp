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

#include <fcntl.h>
#include <poll.h>
#include <pthread.h>
#include <pty.h>
#include <sched.h>
#include <signal.h>
#include <spawn.h>
#include <sys/resource.h>
#include <sys/wait.h>
#include <termios.h>
#include <time.h>
#include <unistd.h>

#include <QApplication>
#include <QEventLoop>
#include <QTimer>
#include <algorithm>
#include <atomic>
#include <chrono>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <filesystem>
#include <fstream>
#include <functional>
#include <memory>
#include <mutex>
#include <random>
#include <sstream>
#include <string>
#include <thread>

#include <vector>
#include "network_bench.h"
#include "serial/linux/pty_device_end.h"

#include "app/core.h"
#include "qt/qt_host.h"
#include "record/file_record_sink.h"
#include "serial/linux/linux_serial_port.h"
#include "window/main_window.h"

namespace {

using lt::Nanos;
constexpr Nanos kMs = 1'000'000;

Nanos now() {
    timespec ts{};
    clock_gettime(CLOCK_MONOTONIC, &ts);
    return Nanos{ts.tv_sec} * 1'000'000'000 + ts.tv_nsec;
}

void sleepUntil(Nanos t) {
    timespec ts{static_cast<time_t>(t / 1'000'000'000), static_cast<long>(t % 1'000'000'000)};
    while (clock_nanosleep(CLOCK_MONOTONIC, TIMER_ABSTIME, &ts, nullptr) == EINTR) {
    }
}

// Puts the calling thread in the real-time class where the system allows it (as root).
void realTime(int priority) {
    sched_param p{};
    p.sched_priority = priority;
    ::pthread_setschedparam(::pthread_self(), SCHED_FIFO, &p);
}

double cpuSeconds() {
    rusage ru{};
    getrusage(RUSAGE_SELF, &ru);
    return ru.ru_utime.tv_sec + ru.ru_stime.tv_sec +
           (ru.ru_utime.tv_usec + ru.ru_stime.tv_usec) / 1e6;
}

long rssKb() {
    std::ifstream f("/proc/self/status");
    std::string line;
    while (std::getline(f, line))
        if (line.rfind("VmRSS:", 0) == 0) return std::atol(line.c_str() + 6);
    return 0;
}

// Runs the Qt event loop until `done` holds or `limitMs` passes.
bool runLoop(const std::function<bool()>& done, int limitMs) {
    QEventLoop loop;
    QTimer check;
    const Nanos deadline = now() + Nanos{limitMs} * kMs;
    bool ok = false;
    QObject::connect(&check, &QTimer::timeout, [&] {
        if (done()) {
            ok = true;
            loop.quit();
        } else if (now() > deadline) {
            loop.quit();
        }
    });
    check.start(5);
    loop.exec();
    return ok;
}

// Runs the event loop for `ms` milliseconds with no timer of the bench's own in between, so an
// idle measurement sees the program alone.
void runFor(int ms) {
    QEventLoop loop;
    QTimer::singleShot(ms, &loop, &QEventLoop::quit);
    loop.exec();
}

// A simulated cable: the device end (master) for the bench, the path for the program.
struct Cable {
    int master = -1;
    std::string path;
    Cable() {
        master = openDeviceEnd(path);
        if (master < 0) {
            std::perror("openpty");
            std::exit(1);
        }
    }
    ~Cable() { ::close(master); }
    Cable(const Cable&) = delete;
    Cable& operator=(const Cable&) = delete;

    void writeAll(const char* p, std::size_t n) const {
        while (n > 0) {
            const ssize_t w = ::write(master, p, n);
            if (w > 0) {
                p += w;
                n -= static_cast<std::size_t>(w);
            } else {
                pollfd pf{master, POLLOUT, 0};
                ::poll(&pf, 1, 50);
            }
        }
    }
};

// Reads what a device receives, with the time of every read.
class Collector {
public:
    // With `counters`, the bytes are checked as 32-bit counters as they come and not kept, so
    // the bench's own memory stays out of the program's resident-size figure.
    explicit Collector(const Cable& c, bool counters = false) : Collector(c.master, counters) {}
    explicit Collector(int fd, bool counters = false) : fd_(fd), counters_(counters) {
        thread_ = std::thread([this] { run(); });
    }
    ~Collector() { stop(); }
    void stop() {
        stop_ = true;
        if (thread_.joinable()) thread_.join();
    }
    std::size_t size() {
        std::lock_guard lock(m_);
        return counters_ ? total_ : data_.size();
    }
    std::size_t gaps() {
        std::lock_guard lock(m_);
        return lost_;
    }
    std::size_t repeats() {
        std::lock_guard lock(m_);
        return dup_;
    }
    std::string data() {
        std::lock_guard lock(m_);
        return data_;
    }
    // When byte `offset` arrived (-1 if it has not).
    Nanos arrivalOf(std::size_t offset) {
        std::lock_guard lock(m_);
        auto it = std::upper_bound(ends_.begin(), ends_.end(), offset,
                                   [](std::size_t o, const auto& e) { return o < e.second; });
        return it == ends_.end() ? -1 : it->first;
    }

private:
    void run() {
        // The far device stamps arrivals as exactly as the system allows, like the sender.
        realTime(20);
        char buf[65536];
        while (!stop_) {
            pollfd pf{fd_, POLLIN, 0};
            if (::poll(&pf, 1, 20) <= 0) continue;
            const ssize_t n = ::read(fd_, buf, sizeof buf);
            const Nanos t = now();
            if (n <= 0) continue;
            std::lock_guard lock(m_);
            if (counters_) {
                check(buf, static_cast<std::size_t>(n));
                continue;
            }
            data_.append(buf, static_cast<std::size_t>(n));
            ends_.push_back({t, data_.size()});
        }
    }
    // A gap in the counters is bytes lost, a step back bytes repeated or out of order.
    void check(const char* p, std::size_t n) {
        total_ += n;
        for (std::size_t i = 0; i < n; ++i) {
            word_[fill_++] = p[i];
            if (fill_ < 4) continue;
            fill_ = 0;
            std::uint32_t w;
            std::memcpy(&w, word_, 4);
            if (w == expect_) {
                ++expect_;
            } else if (w > expect_) {
                lost_ += (w - expect_) * 4u;
                expect_ = w + 1;
            } else {
                dup_ += 4;
            }
        }
    }
    int fd_;
    bool counters_;
    std::size_t total_ = 0, lost_ = 0, dup_ = 0, fill_ = 0;
    std::uint32_t expect_ = 0;
    char word_[4] = {};
    std::atomic<bool> stop_{false};
    std::thread thread_;
    std::mutex m_;
    std::string data_;
    std::vector<std::pair<Nanos, std::size_t>> ends_;
};

// Processes that keep a core each busy, for the framing run under load. Started afresh from the
// bench's own program rather than forked, so the program under test pays no copy-on-write faults
// for memory it shares with them.
struct CpuHogs {
    std::vector<pid_t> pids;
    explicit CpuHogs(int n) {
        char self[] = "/proc/self/exe", hog[] = "--cpu-hog";
        char* argv[] = {self, hog, nullptr};
        for (int i = 0; i < n; ++i) {
            pid_t p = -1;
            if (::posix_spawn(&p, self, nullptr, nullptr, argv, environ) == 0) pids.push_back(p);
        }
    }
    ~CpuHogs() {
        for (pid_t p : pids) ::kill(p, SIGKILL);
        for (pid_t p : pids) ::waitpid(p, nullptr, 0);
    }
    static int run() {
        volatile unsigned long x = 0;
        for (;;) x = x * 2654435761u + 1;
    }
};

double percentile(std::vector<double> v, double q) {
    if (v.empty()) return -1;
    std::sort(v.begin(), v.end());
    const std::size_t i =
        std::min(v.size() - 1, static_cast<std::size_t>(q * (v.size() - 1) + 0.5));
    return v[i];
}

// The program: core, ports, host, records and (optionally) the window.
struct Program {
    lt::QtHost host;
    lt::LinuxSerialPort comm1{host, 1};
    lt::LinuxSerialPort comm2{host, 2};
    lt::FileRecordSink records;
    lt::Core core{host, comm1, comm2, records, QLocale(QLocale::C)};
    std::unique_ptr<lt::MainWindow> window;
    std::vector<std::string> messages;
    std::vector<std::string> packets1;  // every packet port 1 framed, in order
    bool keepPackets = false;           // only in the framing runs: it is the bench's memory
    int lastRow = -1;
    long rows = 0;  // rows written to the data screen

    Program(bool withWindow, const std::string& recordDir) {
        host.onMessage = [this](const std::string& m) { messages.push_back(m); };
        core.load();
        if (withWindow) {
            window = std::make_unique<lt::MainWindow>(core);
            window->showState();
            window->show();
        }
        // Every row written shows up as a move of the screen's next row; port 1's packet is then
        // the one its channel holds.
        core.addChangeListener([this] {
            const int next = core.screen().nextRow();
            if (next != lastRow) {
                rows += (next - lastRow + lt::DataScreen::kRows) % lt::DataScreen::kRows;
                lastRow = next;
                const std::string& packet = core.channel(1).packet();
                if (keepPackets && packet != lastData1 && !packet.empty())
                    packets1.push_back(packet);
                lastData1 = packet;
            }
        });
        lt::Settings settings = core.settings();
        settings.recordFolder = recordDir + "/";
        settings.gapMs = 10;
        core.useSettings(settings);
    }
    std::string lastData1;

    void switchOn() {
        core.switchPort(1, true);
        core.switchPort(2, true);
        runFor(50);
    }
    void startAuto(bool relay, bool record) {
        if (relay) {
            core.setDataRelay(1, true);
            core.setDataRelay(2, true);
        }
        core.setAutoFraming(true);
        core.start();
        if (record) core.setRecording(true);
        runFor(20);
    }
    void stop() {
        core.setRecording(false);
        core.stop();
        core.switchPort(1, false);
        core.switchPort(2, false);
        runFor(20);
    }
};

struct Json {
    std::ostringstream s;
    bool first = true;
    void key(const std::string& k) {
        s << (first ? "" : ",") << "\n  \"" << k << "\": ";
        first = false;
    }
    void num(const std::string& k, double v) {
        key(k);
        s << v;
    }
    void raw(const std::string& k, const std::string& v) {
        key(k);
        s << v;
    }
    std::string str() const { return "{" + s.str() + "\n}"; }
};

struct Options {
    int seconds = 10;
    int pauses = 300;
    bool window = true;
};

// --- References run beside the program on cables of their own --------------------------------

// socat as a plain byte relay from one cable's program end to another's.
struct SocatRelay {
    Cable in, out;
    pid_t pid = -1;
    bool running = false;
    SocatRelay() {
        // Made before the fork: the child of a threaded program only calls exec.
        const std::string l = in.path + ",raw,echo=0", r = out.path + ",raw,echo=0";
        pid = ::fork();
        if (pid == 0) {
            ::execlp("socat", "socat", "-b65536", l.c_str(), r.c_str(),
                     static_cast<char*>(nullptr));
            _exit(127);
        }
        // Wait until socat holds both ends (a master reports a hang-up while nobody does).
        for (int i = 0; i < 200; ++i) {
            pollfd pf[2] = {{in.master, POLLIN, 0}, {out.master, POLLIN, 0}};
            ::poll(pf, 2, 0);
            running = !(pf[0].revents & POLLHUP) && !(pf[1].revents & POLLHUP);
            if (running) return;
            ::usleep(10'000);
        }
        std::fprintf(stderr, "socat not running: its figures are left out\n");
    }
    ~SocatRelay() {
        if (pid <= 0) return;
        ::kill(pid, SIGTERM);
        ::waitpid(pid, nullptr, 0);
    }
    SocatRelay(const SocatRelay&) = delete;
    SocatRelay& operator=(const SocatRelay&) = delete;
};

// The best any program can frame on this machine: the program's end of a cable of its own,
// read by a real-time thread that stamps every read, a pause of 10 ms between stamps ending a
// packet. Fed the same packets at the same moments as Linetap, so both see the same disturbances.
struct DirectReader {
    Cable cable;
    int fd = -1;
    std::unique_ptr<Collector> reads;
    DirectReader() {
        fd = ::open(cable.path.c_str(), O_RDWR | O_NOCTTY | O_NONBLOCK | O_CLOEXEC);
        termios t{};
        ::tcgetattr(fd, &t);
        ::cfmakeraw(&t);
        ::tcsetattr(fd, TCSANOW, &t);
        reads = std::make_unique<Collector>(fd);
    }
    ~DirectReader() {
        reads.reset();
        ::close(fd);
    }
    DirectReader(const DirectReader&) = delete;
    DirectReader& operator=(const DirectReader&) = delete;
};

// --- Framing and relay latency ---------------------------------------------------------------

struct FramingResult {
    int total[4] = {}, split[4] = {}, jitter = 0;
    // Against the pause the device really made: split below 9.5 ms, joined above 10.5 ms; for
    // Linetap and for the direct reader on the same pauses.
    int wrongSplit = 0, wrongJoin = 0, directWrongSplit = 0, directWrongJoin = 0;
    std::vector<double> latencyMs, socatMs;
    std::size_t lostBytes = 0;
    double rowsPerSecond = 0;
};

// What runs beside the framing: nothing, two CPU-bound processes, or those and a steady 1 MB/s
// into port 2, which the program cuts into rows of 1024 bytes: a thousand rows a second to draw.
enum class Beside { Nothing, CpuHogs, CpuHogsAndRows };

constexpr int kPauseMs[4] = {8, 9, 11, 12};

FramingResult framingRun(const Options& o, const std::string& dir, Beside beside) {
    Cable a, b;
    ::setenv("LINETAP_COM1", a.path.c_str(), 1);
    ::setenv("LINETAP_COM2", b.path.c_str(), 1);
    Program p(o.window, dir);
    p.keepPackets = true;
    p.switchOn();
    p.startAuto(true, false);
    Collector relayed(b);
    DirectReader direct;
    SocatRelay socat;
    Collector socatOut(socat.out);
    std::unique_ptr<CpuHogs> hogs;
    if (beside != Beside::Nothing) hogs = std::make_unique<CpuHogs>(2);
    std::atomic<bool> done{false};
    std::thread rowsFeed;
    std::unique_ptr<Collector> drain;  // port 2's stream relayed out of port 1
    if (beside == Beside::CpuHogsAndRows) {
        drain = std::make_unique<Collector>(a, true);
        rowsFeed = std::thread([&] {
            const std::string chunk(1024, '\x5a');
            for (Nanos t = now(); !done; t += kMs) {
                sleepUntil(t);
                b.writeAll(chunk.data(), chunk.size());
            }
        });
    }
    const long rowsBefore = p.rows;
    const Nanos began = now();

    std::vector<int> kinds;
    for (int k = 0; k < 4; ++k) kinds.insert(kinds.end(), o.pauses, k);
    std::shuffle(kinds.begin(), kinds.end(), std::mt19937(static_cast<unsigned>(beside) * 4 + 3));

    // Packet i: 8 bytes naming i; written at planned times to Linetap's cable, then to the
    // direct reader's and socat's, each write stamped.
    struct Sent {
        Nanos at, direct, socat;
        std::size_t end;
    };
    std::vector<Sent> sent(kinds.size() + 1);
    std::string stream;
    for (std::size_t i = 0; i <= kinds.size(); ++i) {
        char pkt[8] = {'\x55', static_cast<char>(i >> 8), static_cast<char>(i), 'p', 'k', 't', '\r',
                       '\n'};
        stream.append(pkt, 8);
    }
    std::thread gen([&] {
        // The simulated device keeps its pauses exact where the system allows a real-time thread.
        realTime(20);
        Nanos t = now() + 50 * kMs;
        for (std::size_t i = 0; i <= kinds.size(); ++i) {
            sleepUntil(t);
            const char* pkt = stream.data() + i * 8;
            a.writeAll(pkt, 8);
            sent[i].at = now();
            direct.cable.writeAll(pkt, 8);
            sent[i].direct = now();
            if (socat.running) socat.in.writeAll(pkt, 8);
            sent[i].socat = now();
            sent[i].end = (i + 1) * 8;
            if (i < kinds.size()) t += kPauseMs[kinds[i]] * kMs;
        }
        done = true;
    });
    runLoop([&] { return done.load(); }, 600'000);
    gen.join();
    if (rowsFeed.joinable()) rowsFeed.join();
    const double rowsPerSecond = (p.rows - rowsBefore) / ((now() - began) / 1e9);
    runLoop([&] { return relayed.size() >= stream.size(); }, 3000);
    relayed.stop();
    direct.reads->stop();
    socatOut.stop();
    hogs.reset();

    // Boundaries the program made, as byte offsets of the stream.
    std::vector<std::size_t> ends;
    std::size_t off = 0;
    for (const std::string& pk : p.packets1) {
        off += pk.size();
        ends.push_back(off);
    }
    FramingResult r;
    r.rowsPerSecond = rowsPerSecond;
    auto misjudged = [](Nanos actual, bool split, int& wrongSplit, int& wrongJoin) {
        if (split && actual < 9 * kMs + kMs / 2) ++wrongSplit;
        if (!split && actual > 10 * kMs + kMs / 2) ++wrongJoin;
    };
    for (std::size_t i = 0; i < kinds.size(); ++i) {
        const Nanos actual = sent[i + 1].at - sent[i].at;
        const bool wasSplit = std::binary_search(ends.begin(), ends.end(), sent[i].end);
        r.total[kinds[i]]++;
        r.split[kinds[i]] += wasSplit;
        if (std::llabs(actual - kPauseMs[kinds[i]] * kMs) > kMs / 2) ++r.jitter;
        misjudged(actual, wasSplit, r.wrongSplit, r.wrongJoin);
        // The direct reader splits where two of its reads lie a gap apart.
        const Nanos last = direct.reads->arrivalOf(sent[i].end - 1);
        const Nanos next = direct.reads->arrivalOf(sent[i].end);
        if (last > 0 && next > 0)
            misjudged(sent[i + 1].direct - sent[i].direct, next - last >= 10 * kMs,
                      r.directWrongSplit, r.directWrongJoin);
        // Relay latency of a packet that ended here: its last byte leaving port 2.
        if (wasSplit) {
            const Nanos out = relayed.arrivalOf(sent[i].end - 1);
            if (out > 0)
                r.latencyMs.push_back((out - sent[i].at - p.core.settings().gapMs * kMs) / 1e6);
        }
        const Nanos through = socatOut.arrivalOf(sent[i].end - 1);
        if (through > 0) r.socatMs.push_back((through - sent[i].socat) / 1e6);
    }
    const std::string got = relayed.data();
    r.lostBytes = got.size() >= stream.size() ? 0 : stream.size() - got.size();
    if (got != stream.substr(0, got.size())) r.lostBytes = SIZE_MAX;
    p.stop();
    return r;
}

// --- Throughput both ways with recording -------------------------------------------------------

struct FlowResult {
    double rate = 0;  // bytes per second each way, offered
    std::size_t sent[2] = {}, received[2] = {}, lost[2] = {}, dup[2] = {};
    std::size_t missing[2] = {};  // not through within 5 s of the end: lost or far behind
    long rssStartKb = 0, rssEndKb = 0;
    // What reached the far ends: port 1's stream at port 2's device, port 2's at port 1's.
    void count(Collector& atPort2, Collector& atPort1) {
        Collector* at[2] = {&atPort2, &atPort1};
        for (int k = 0; k < 2; ++k) {
            received[k] = at[k]->size();
            lost[k] = at[k]->gaps();
            dup[k] = at[k]->repeats();
            missing[k] = received[k] < sent[k] ? sent[k] - received[k] : 0;
        }
    }
    bool lossless() const {
        return missing[0] == 0 && missing[1] == 0 && lost[0] == 0 && lost[1] == 0 && dup[0] == 0 &&
               dup[1] == 0 && received[0] == sent[0] && received[1] == sent[1];
    }
};

// Writes 32-bit counters in 1024-byte chunks at `rate` bytes a second for `seconds`.
void feedCounters(const Cable& c, double rate, int seconds, std::size_t& count) {
    const std::size_t chunk = 1024;
    const Nanos step = static_cast<Nanos>(chunk / rate * 1e9);
    const Nanos end = now() + Nanos{seconds} * 1'000'000'000;
    std::string buf(chunk, '\0');
    std::uint32_t counter = 0;
    for (Nanos t = now(); t < end; t += step) {
        sleepUntil(t);
        for (std::size_t i = 0; i < chunk; i += 4, ++counter) std::memcpy(&buf[i], &counter, 4);
        c.writeAll(buf.data(), chunk);
        count += chunk;
    }
}

FlowResult flowRun(const Options& o, const std::string& dir, double rate, int seconds) {
    Cable a, b;
    ::setenv("LINETAP_COM1", a.path.c_str(), 1);
    ::setenv("LINETAP_COM2", b.path.c_str(), 1);
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

// --- Idle CPU -----------------------------------------------------------------------------------

std::pair<double, double> idleRun(const Options& o, const std::string& dir) {
    Cable a, b;
    ::setenv("LINETAP_COM1", a.path.c_str(), 1);
    ::setenv("LINETAP_COM2", b.path.c_str(), 1);
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

// --- The headless front end, as a process of its own ---------------------------------------------

// `linetap --headless` beside the bench: the built program, on two cables, relaying both ways in
// automatic framing with a 10 ms pause, its standard output thrown away.
struct HeadlessProgram {
    Cable a, b;
    pid_t pid = -1;
    double startupMs = -1;  // from the spawn to both ports open

    explicit HeadlessProgram(const std::string& recordDir) {
        char self[4096];
        const ssize_t n = ::readlink("/proc/self/exe", self, sizeof self - 1);
        std::string program = n > 0 ? std::string(self, static_cast<std::size_t>(n)) : "";
        program = program.substr(0, program.rfind('/') + 1) + "linetap";
        std::vector<std::string> args{program,   "--headless", "--port1", a.path,
                                      "--port2", b.path,       "--relay", "both",
                                      "--auto",  "--gap",      "10"};
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
        // Both ports are open once neither cable's device end reports a hang-up.
        for (int i = 0; pid > 0 && i < 5000; ++i) {
            pollfd pf[2] = {{a.master, POLLIN, 0}, {b.master, POLLIN, 0}};
            ::poll(pf, 2, 0);
            if (!(pf[0].revents & POLLHUP) && !(pf[1].revents & POLLHUP)) {
                startupMs = (now() - spawned) / 1e6;
                break;
            }
            ::usleep(200);
        }
        if (startupMs < 0) std::fprintf(stderr, "linetap --headless did not open its ports\n");
    }
    ~HeadlessProgram() {
        if (pid <= 0) return;
        ::kill(pid, SIGTERM);
        ::waitpid(pid, nullptr, 0);
    }
    HeadlessProgram(const HeadlessProgram&) = delete;
    HeadlessProgram& operator=(const HeadlessProgram&) = delete;

    // CPU seconds the process has used, and its resident size.
    double cpuSeconds() const {
        std::ifstream f("/proc/" + std::to_string(pid) + "/stat");
        std::string stat((std::istreambuf_iterator<char>(f)), {});
        std::istringstream rest(stat.substr(stat.rfind(')') + 2));
        std::string field;
        double ticks = 0;
        for (int i = 3; i <= 15 && rest >> field; ++i)
            if (i == 14 || i == 15) ticks += std::atof(field.c_str());
        return ticks / static_cast<double>(::sysconf(_SC_CLK_TCK));
    }
    long rssKb() const {
        std::ifstream f("/proc/" + std::to_string(pid) + "/status");
        std::string line;
        while (std::getline(f, line))
            if (line.rfind("VmRSS:", 0) == 0) return std::atol(line.c_str() + 6);
        return 0;
    }
};

struct HeadlessResult {
    double startupMs = -1, idleCpu = -1;
    std::vector<double> latencyMs, socatMs;
    FlowResult flow;
};

HeadlessResult headlessRun(const Options& o, const std::string& dir) {
    HeadlessResult r;
    {
        // Relay latency: 8-byte packets 20 ms apart into port 1, out of port 2, with socat fed the
        // same packets at the same moments on cables of its own.
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
                    '\x55', static_cast<char>(i >> 8), static_cast<char>(i), 'h', 'l', 's', '\r',
                    '\n'};
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
    {
        // Throughput both ways, recording and printing every record.
        HeadlessProgram h(dir);
        Collector atB(h.b, true), atA(h.a, true);
        FlowResult& f = r.flow;
        f.rate = 1e6;
        ::usleep(300'000);
        f.rssStartKb = h.rssKb();
        std::thread g1([&] { feedCounters(h.a, f.rate, o.seconds, f.sent[0]); });
        std::thread g2([&] { feedCounters(h.b, f.rate, o.seconds, f.sent[1]); });
        g1.join();
        g2.join();
        for (int i = 0; i < 500 && (atB.size() < f.sent[0] || atA.size() < f.sent[1]); ++i)
            ::usleep(10'000);
        atA.stop();
        atB.stop();
        f.rssEndKb = h.rssKb();
        f.count(atB, atA);
    }
    return r;
}

}  // namespace

int main(int argc, char** argv) {
    const Nanos started = now();
    if (argc == 2 && std::string(argv[1]) == "--cpu-hog") return CpuHogs::run();
    Options o;
    for (int i = 1; i < argc; ++i) {
        const std::string a = argv[i];
        if (a == "--seconds" && i + 1 < argc)
            o.seconds = std::max(1, std::atoi(argv[++i]));
        else if (a == "--pauses" && i + 1 < argc)
            o.pauses = std::max(1, std::atoi(argv[++i]));
        else if (a == "--no-window")
            o.window = false;
        else {
            std::fprintf(stderr, "usage: %s [--seconds N] [--pauses N] [--no-window]\n", argv[0]);
            return 2;
        }
    }
    if (!std::getenv("QT_QPA_PLATFORM")) ::setenv("QT_QPA_PLATFORM", "offscreen", 1);
    // The program's settings and records go to a scratch folder, never the user's.
    const std::filesystem::path dir =
        std::filesystem::temp_directory_path() / ("linetap-bench-" + std::to_string(::getpid()));
    std::filesystem::create_directories(dir / "records");
    ::setenv("XDG_CONFIG_HOME", (dir / "config").c_str(), 1);
    ::setenv("HOME", dir.c_str(), 1);
    ::unsetenv("ProgramFiles");
    QApplication app(argc, argv);
    const std::string records = (dir / "records").string();
    Json j;

    double startupMs = -1;
    if (o.window) {
        Cable a, b;
        ::setenv("LINETAP_COM1", a.path.c_str(), 1);
        ::setenv("LINETAP_COM2", b.path.c_str(), 1);
        Program p(true, records);
        runLoop([&] { return p.window->isVisible(); }, 5000);
        QApplication::processEvents();
        startupMs = (now() - started) / 1e6;
    }

    std::fprintf(stderr, "framing and relay latency...\n");
    const FramingResult f = framingRun(o, records, Beside::Nothing);
    std::fprintf(stderr, "framing with two CPU-bound processes beside...\n");
    const FramingResult fl = framingRun(o, records, Beside::CpuHogs);
    std::fprintf(stderr, "framing with two CPU-bound processes and 1000 rows/s beside...\n");
    const FramingResult fr = framingRun(o, records, Beside::CpuHogsAndRows);
    std::fprintf(stderr, "throughput %d s at 1 MB/s each way, recording...\n", o.seconds);
    const FlowResult flow = flowRun(o, records, 1e6, o.seconds);
    double highest = flow.lossless() ? 1e6 : 0;
    std::vector<FlowResult> ladder;
    if (flow.lossless()) {
        for (double rate : {2e6, 4e6, 8e6}) {
            std::fprintf(stderr, "throughput 3 s at %.0f MB/s each way...\n", rate / 1e6);
            ladder.push_back(flowRun(o, records, rate, 3));
            if (!ladder.back().lossless()) break;
            highest = rate;
        }
    }
    std::fprintf(stderr, "idle CPU...\n");
    const auto [idleOpen, idleAuto] = idleRun(o, records);
    std::fprintf(stderr,
                 "headless: start-up, idle CPU, relay latency, %d s at 1 MB/s each way...\n",
                 o.seconds);
    const HeadlessResult hl = headlessRun(o, records);
    std::fprintf(stderr, "relay through ser2net (RFC 2217) beside a local port...\n");
    const lt::bench::NetworkFigures net = lt::bench::networkRun(
        (std::filesystem::canonical("/proc/self/exe").parent_path() / "linetap").string(),
        dir.string(), std::max(1, o.pauses / 3));

    auto framingJson = [](const FramingResult& r) {
        std::ostringstream s;
        s << "{";
        for (int k = 0; k < 4; ++k)
            s << (k ? ", " : "") << "\"pause_" << kPauseMs[k] << "ms\": {\"pauses\": " << r.total[k]
              << ", \"split\": " << r.split[k] << "}";
        s << ", \"generator_jitter_over_0.5ms\": " << r.jitter
          << ", \"split_though_actual_pause_below_9.5ms\": " << r.wrongSplit
          << ", \"joined_though_actual_pause_above_10.5ms\": " << r.wrongJoin
          << ", \"direct_reader_split_below_9.5ms\": " << r.directWrongSplit
          << ", \"direct_reader_joined_above_10.5ms\": " << r.directWrongJoin
          << ", \"rows_per_second\": " << r.rowsPerSecond
          << ", \"relay_added_latency_median_ms\": " << percentile(r.latencyMs, 0.5)
          << ", \"relay_added_latency_p99_ms\": " << percentile(r.latencyMs, 0.99)
          << ", \"relay_latency_samples\": " << r.latencyMs.size()
          << ", \"socat_latency_median_ms\": " << percentile(r.socatMs, 0.5)
          << ", \"socat_latency_p99_ms\": " << percentile(r.socatMs, 0.99) << "}";
        return s.str();
    };
    j.raw("window", o.window ? "true" : "false");
    j.num("startup_to_window_ms", startupMs);
    j.raw("framing_gap10ms", framingJson(f));
    j.raw("framing_gap10ms_with_2_cpu_hogs", framingJson(fl));
    j.raw("framing_gap10ms_with_2_cpu_hogs_and_1000_rows_per_s", framingJson(fr));
    auto flowJson = [](const FlowResult& r) {
        std::ostringstream s;
        s << "{\"rate_each_way_Bps\": " << r.rate << ", \"sent\": [" << r.sent[0] << ", "
          << r.sent[1] << "], \"received\": [" << r.received[0] << ", " << r.received[1]
          << "], \"lost\": [" << r.lost[0] << ", " << r.lost[1] << "], \"missing_at_end\": ["
          << r.missing[0] << ", " << r.missing[1] << "], \"duplicated_or_reordered\": [" << r.dup[0]
          << ", " << r.dup[1] << "], \"rss_growth_kb\": " << (r.rssEndKb - r.rssStartKb) << "}";
        return s.str();
    };
    j.raw("throughput_1MBps_recording", flowJson(flow));
    std::string lad = "[";
    for (std::size_t i = 0; i < ladder.size(); ++i) lad += (i ? ", " : "") + flowJson(ladder[i]);
    j.raw("throughput_ladder", lad + "]");
    j.num("highest_lossless_rate_each_way_Bps", highest);
    j.num("idle_cpu_percent_ports_open_stopped", idleOpen);
    j.num("idle_cpu_percent_auto_running_no_traffic", idleAuto);
    {
        std::ostringstream s;
        s << "{\"startup_to_ports_open_ms\": " << hl.startupMs
          << ", \"idle_cpu_percent_auto_running_no_traffic\": " << hl.idleCpu
          << ", \"relay_added_latency_median_ms\": " << percentile(hl.latencyMs, 0.5)
          << ", \"relay_added_latency_p99_ms\": " << percentile(hl.latencyMs, 0.99)
          << ", \"relay_latency_samples\": " << hl.latencyMs.size()
          << ", \"socat_latency_median_ms\": " << percentile(hl.socatMs, 0.5)
          << ", \"socat_latency_p99_ms\": " << percentile(hl.socatMs, 0.99)
          << ", \"throughput_1MBps_recording_print\": " << flowJson(hl.flow) << "}";
        j.raw("headless", s.str());
    }
    j.raw("network_port1_via_ser2net_beside_local", lt::bench::networkJson(net));
    std::printf("%s\n", j.str().c_str());

    std::printf("\n%-44s %s\n", "figure", "value");
    std::printf("%-44s %.1f ms\n", "start-up to window shown", startupMs);
    std::printf("%-44s %s\n",
                "framing, gap 10 ms, beside it:", "nothing | 2 CPU hogs | 2 CPU hogs + rows");
    const FramingResult* runs[3] = {&f, &fl, &fr};
    for (int k = 0; k < 4; ++k) {
        std::string cells;
        for (const FramingResult* r : runs)
            cells += (cells.empty() ? "" : " | ") + std::to_string(r->split[k]) + "/" +
                     std::to_string(r->total[k]);
        std::printf("%-44s %s split\n",
                    ("  pauses of " + std::to_string(kPauseMs[k]) + " ms").c_str(), cells.c_str());
    }
    auto row3 = [&](const char* what, auto cell) {
        std::string cells;
        for (const FramingResult* r : runs) cells += (cells.empty() ? "" : " | ") + cell(*r);
        std::printf("%-44s %s\n", what, cells.c_str());
    };
    row3("  split <9.5 / joined >10.5 ms (real pause)", [](const FramingResult& r) {
        return std::to_string(r.wrongSplit) + " / " + std::to_string(r.wrongJoin);
    });
    row3("  the same, direct reader beside", [](const FramingResult& r) {
        return std::to_string(r.directWrongSplit) + " / " + std::to_string(r.directWrongJoin);
    });
    row3("  rows written per second",
         [](const FramingResult& r) { return std::to_string(static_cast<long>(r.rowsPerSecond)); });
    auto latency = [](const std::vector<double>& v) {
        char b[64];
        std::snprintf(b, sizeof b, "%.2f / %.2f", percentile(v, 0.5), percentile(v, 0.99));
        return std::string(b);
    };
    row3("relay added latency ms, median / p99",
         [&](const FramingResult& r) { return latency(r.latencyMs); });
    row3("socat beside, median / p99", [&](const FramingResult& r) { return latency(r.socatMs); });
    std::printf("%-44s lost %zu/%zu, missing %zu/%zu, dup %zu/%zu, RSS +%ld kB\n",
                "1 MB/s each way, recording", flow.lost[0], flow.lost[1], flow.missing[0],
                flow.missing[1], flow.dup[0], flow.dup[1], flow.rssEndKb - flow.rssStartKb);
    std::printf("%-44s %.0f MB/s\n", "highest lossless rate each way", highest / 1e6);
    std::printf("%-44s %.2f %% / %.2f %%\n", "idle CPU: open+stopped / auto no traffic", idleOpen,
                idleAuto);
    std::printf("%-44s %.1f ms\n", "headless: start-up to ports open", hl.startupMs);
    std::printf("%-44s %.2f %%\n", "headless: idle CPU, auto, no traffic", hl.idleCpu);
    std::printf("%-44s %s (socat %s)\n", "headless: relay added latency ms, median / p99",
                latency(hl.latencyMs).c_str(), latency(hl.socatMs).c_str());
    std::printf("%-44s lost %zu/%zu, missing %zu/%zu, dup %zu/%zu, RSS +%ld kB\n",
                "headless: 1 MB/s each way, record + print", hl.flow.lost[0], hl.flow.lost[1],
                hl.flow.missing[0], hl.flow.missing[1], hl.flow.dup[0], hl.flow.dup[1],
                hl.flow.rssEndKb - hl.flow.rssStartKb);
    std::error_code ec;
    std::filesystem::remove_all(dir, ec);
    std::printf("%s", lt::bench::networkTable(net).c_str());
    return 0;
}
