#include "bench/devices.h"

#include <poll.h>
#include <signal.h>
#include <spawn.h>
#include <sys/wait.h>
#include <unistd.h>

#include <algorithm>
#include <cstdio>
#include <cstdlib>
#include <cstring>

#include "serial/linux/pty_device_end.h"

namespace bench {

Cable::Cable() {
    master = openDeviceEnd(path);
    if (master < 0) {
        std::perror("openpty");
        std::exit(1);
    }
}

Cable::~Cable() {
    ::close(master);
}

void Cable::writeAll(const char* p, std::size_t n) const {
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

bool waitHeld(const Cable& a, const Cable& b, int limitMs) {
    const Nanos deadline = now() + limitMs * kMs;
    for (;;) {
        pollfd pf[2] = {{a.master, POLLIN, 0}, {b.master, POLLIN, 0}};
        ::poll(pf, 2, 0);
        if (!(pf[0].revents & POLLHUP) && !(pf[1].revents & POLLHUP)) return true;
        if (now() > deadline) return false;
        ::usleep(200);
    }
}

Nanos Collector::arrivalOf(std::size_t offset) {
    std::lock_guard lock(m_);
    auto it = std::upper_bound(ends_.begin(), ends_.end(), offset,
                               [](std::size_t o, const auto& e) { return o < e.second; });
    return it == ends_.end() ? -1 : it->first;
}

void Collector::run() {
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

void Collector::check(const char* p, std::size_t n) {
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

CpuHogs::CpuHogs(int n) {
    char self[] = "/proc/self/exe", hog[] = "--cpu-hog";
    char* argv[] = {self, hog, nullptr};
    for (int i = 0; i < n; ++i) {
        pid_t p = -1;
        if (::posix_spawn(&p, self, nullptr, nullptr, argv, environ) == 0) pids.push_back(p);
    }
}

CpuHogs::~CpuHogs() {
    for (pid_t p : pids) ::kill(p, SIGKILL);
    for (pid_t p : pids) ::waitpid(p, nullptr, 0);
}

int CpuHogs::run() {
    volatile unsigned long x = 0;
    for (;;) x = x * 2654435761u + 1;
}

}  // namespace bench
