#include "bench/slow_readers.h"

#include <fcntl.h>
#include <poll.h>
#include <signal.h>
#include <spawn.h>
#include <sys/mman.h>
#include <sys/stat.h>
#include <sys/wait.h>
#include <unistd.h>

#include <atomic>
#include <chrono>
#include <cstdio>
#include <mutex>
#include <thread>

#include "serial/linux/pty_device_end.h"

extern char** environ;

namespace bench {

namespace {

using Clock = std::chrono::steady_clock;

double msSince(Clock::time_point from, Clock::time_point to) {
    return std::chrono::duration<double, std::milli>(to - from).count();
}

// One device end the bench plays; the program opens `path`.
struct End {
    int master = -1;
    std::string path;
    End() { master = openDeviceEnd(path); }
    ~End() {
        if (master >= 0) ::close(master);
    }
};

// Arrival time of every byte read from a device end, on a thread of its own.
class Arrivals {
public:
    explicit Arrivals(int fd) : fd_(fd), thread_([this] { run(); }) {}
    ~Arrivals() {
        stop_ = true;
        thread_.join();
    }
    // When byte `index` arrived; empty until it has.
    bool at(std::size_t index, Clock::time_point& when) {
        std::lock_guard lock(mutex_);
        if (index >= times_.size()) return false;
        when = times_[index];
        return true;
    }
    std::size_t size() {
        std::lock_guard lock(mutex_);
        return times_.size();
    }

private:
    void run() {
        char buf[4096];
        while (!stop_) {
            pollfd pf{fd_, POLLIN, 0};
            if (::poll(&pf, 1, 20) <= 0) continue;
            const ssize_t n = ::read(fd_, buf, sizeof buf);
            const auto t = Clock::now();
            if (n <= 0) continue;
            std::lock_guard lock(mutex_);
            times_.insert(times_.end(), static_cast<std::size_t>(n), t);
        }
    }
    int fd_;
    std::atomic<bool> stop_{false};
    std::mutex mutex_;
    std::vector<Clock::time_point> times_;
    std::thread thread_;
};

// One run of the program with `extra` options, standard output into `stdoutFd` (or /dev/null),
// standard error kept; the latency of `packets` packets.
std::vector<double> latencyRun(const std::string& program, std::vector<std::string> extra,
                               int stdoutFd, int packets, std::string* said) {
    End a, b;
    std::vector<std::string> args{program,   "--headless", "--port1", a.path,  "--port2", b.path,
                                  "--relay", "both",       "--auto",  "--gap", "10"};
    args.insert(args.end(), extra.begin(), extra.end());
    std::vector<char*> argv;
    for (auto& arg : args) argv.push_back(arg.data());
    argv.push_back(nullptr);
    const int err = ::memfd_create("stderr", MFD_CLOEXEC);
    posix_spawn_file_actions_t actions;
    ::posix_spawn_file_actions_init(&actions);
    if (stdoutFd >= 0)
        ::posix_spawn_file_actions_adddup2(&actions, stdoutFd, 1);
    else
        ::posix_spawn_file_actions_addopen(&actions, 1, "/dev/null", O_WRONLY, 0);
    ::posix_spawn_file_actions_adddup2(&actions, err, 2);
    pid_t pid = -1;
    if (::posix_spawn(&pid, program.c_str(), &actions, nullptr, argv.data(), environ) != 0)
        pid = -1;
    ::posix_spawn_file_actions_destroy(&actions);
    std::vector<double> ms;
    if (pid <= 0) return ms;
    // Both ports are open once neither device end reports a hang-up.
    for (int i = 0; i < 5000; ++i) {
        pollfd pf[2] = {{a.master, POLLIN, 0}, {b.master, POLLIN, 0}};
        ::poll(pf, 2, 0);
        if (!(pf[0].revents & POLLHUP) && !(pf[1].revents & POLLHUP)) break;
        ::usleep(200);
    }
    ::usleep(300'000);
    Arrivals relayed(b.master);
    std::vector<Clock::time_point> sent(static_cast<std::size_t>(packets));
    auto t = Clock::now() + std::chrono::milliseconds(50);
    for (int i = 0; i < packets; ++i, t += std::chrono::milliseconds(20)) {
        std::this_thread::sleep_until(t);
        const char pkt[8] = {
            '\x55', static_cast<char>(i >> 8), static_cast<char>(i), 's', 'l', 'o', 'w', '\n'};
        for (std::size_t done = 0; done < 8;) {
            const ssize_t n = ::write(a.master, pkt + done, 8 - done);
            if (n > 0) done += static_cast<std::size_t>(n);
        }
        sent[static_cast<std::size_t>(i)] = Clock::now();
    }
    for (int i = 0; i < 300 && relayed.size() < std::size_t(packets) * 8; ++i) ::usleep(10'000);
    for (int i = 0; i < packets; ++i) {
        Clock::time_point out;
        if (relayed.at(std::size_t(i) * 8 + 7, out))
            ms.push_back(msSince(sent[std::size_t(i)], out) - 10);
    }
    ::kill(pid, SIGTERM);
    ::waitpid(pid, nullptr, 0);
    if (said) {
        char buf[4096];
        for (ssize_t n; (n = ::pread(err, buf, sizeof buf, static_cast<off_t>(said->size()))) > 0;)
            said->append(buf, static_cast<std::size_t>(n));
    }
    ::close(err);
    return ms;
}

}  // namespace

SlowReaderFigures slowReaderRun(const std::string& program, int packets) {
    SlowReaderFigures f;
    f.plainMs = latencyRun(program, {}, -1, packets, nullptr);
    {
        // --print into a pipe of one page that a reader empties at 1 KB/s.
        int fds[2];
        if (::pipe2(fds, O_CLOEXEC) == 0) {
            ::fcntl(fds[0], F_SETPIPE_SZ, 4096);
            std::atomic<bool> stop{false};
            std::thread reader([&] {
                char buf[100];
                while (!stop) {
                    pollfd pf{fds[0], POLLIN, 0};
                    if (::poll(&pf, 1, 100) > 0 && ::read(fds[0], buf, sizeof buf) <= 0) break;
                    std::this_thread::sleep_for(std::chrono::milliseconds(100));
                }
            });
            f.slowPrintMs = latencyRun(program, {"--print"}, fds[1], packets, &f.stderrSlowPrint);
            stop = true;
            reader.join();
            ::close(fds[0]);
            ::close(fds[1]);
        }
    }
    {
        // --pcap into a named pipe of one page whose reader never reads.
        char dir[] = "/tmp/linetap-bench-fifo-XXXXXX";
        if (::mkdtemp(dir)) {
            const std::string fifo = std::string(dir) + "/stalled.pcapng";
            if (::mkfifo(fifo.c_str(), 0600) == 0) {
                const int reader = ::open(fifo.c_str(), O_RDONLY | O_NONBLOCK | O_CLOEXEC);
                ::fcntl(reader, F_SETPIPE_SZ, 4096);
                f.stalledCaptureMs =
                    latencyRun(program, {"--pcap", fifo}, -1, packets, &f.stderrStalledCapture);
                ::close(reader);
                ::unlink(fifo.c_str());
            }
            ::rmdir(dir);
        }
    }
    return f;
}

}  // namespace bench
