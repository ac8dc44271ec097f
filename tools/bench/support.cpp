#include "bench/support.h"

#include <sys/resource.h>
#include <time.h>

#include <QEventLoop>
#include <QTimer>
#include <algorithm>
#include <cerrno>
#include <cstdlib>
#include <filesystem>
#include <fstream>

#include <pthread.h>
#include <sched.h>

namespace bench {

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

long rssKb(pid_t pid) {
    std::ifstream f("/proc/" + (pid > 0 ? std::to_string(pid) : "self") + "/status");
    std::string line;
    while (std::getline(f, line))
        if (line.rfind("VmRSS:", 0) == 0) return std::atol(line.c_str() + 6);
    return 0;
}

std::string linetapPath() {
    return (std::filesystem::read_symlink("/proc/self/exe").parent_path() / "linetap").string();
}

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

void runFor(int ms) {
    QEventLoop loop;
    QTimer::singleShot(ms, &loop, &QEventLoop::quit);
    loop.exec();
}

double percentile(std::vector<double> v, double q) {
    if (v.empty()) return -1;
    std::sort(v.begin(), v.end());
    const std::size_t i =
        std::min(v.size() - 1, static_cast<std::size_t>(q * (v.size() - 1) + 0.5));
    return v[i];
}

}  // namespace bench
