// linetap-demo: gives Linetap two serial lines to watch on a machine without serial hardware.
//
// Two pseudo-terminal pairs stand in for two serial cables. On the far end of the first runs a
// controller that sends a request about every 500 ms; on the far end of the second runs a device
// that answers every request it receives and reports its status now and then on its own. Linetap
// is started with LINETAP_COM1 and LINETAP_COM2 naming the near ends; the user switches the ports
// on, relays and starts capture in its window. With data relay on in both directions the requests
// travel through Linetap to the device and the answers back to the controller.
//
// Pseudo-terminals have no modem lines, so the devices exchange bytes only.
//
// The demo and Linetap live and end together: when Linetap exits the demo exits with its status,
// and when the demo is ended (SIGINT, Ctrl-C, SIGTERM, SIGHUP) it ends Linetap first. Should the
// demo die without that chance (SIGKILL, a crash), the kernel sends Linetap SIGTERM.

#include <fcntl.h>
#include <poll.h>
#include <pty.h>
#include <signal.h>
#include <sys/prctl.h>
#include <sys/wait.h>
#include <termios.h>
#include <unistd.h>

#include <cerrno>
#include <chrono>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <string>
#include <vector>

#include "serial/linux/pty_device_end.h"

namespace {

using Clock = std::chrono::steady_clock;
using std::chrono::milliseconds;

volatile sig_atomic_t g_stop = 0;
void onSignal(int) {
    g_stop = 1;
}

// The signals that end the demo, and with it Linetap.
constexpr int kStopSignals[] = {SIGINT, SIGTERM, SIGHUP};

sigset_t stopSignalSet() {
    sigset_t set;
    sigemptyset(&set);
    for (int s : kStopSignals) sigaddset(&set, s);
    return set;
}

// Ends Linetap: SIGTERM, then SIGKILL if it is still there after a grace period, so the demo
// never hangs on a Linetap that does not end. Returns Linetap's wait status.
int endChild(pid_t child) {
    ::kill(child, SIGTERM);
    const auto giveUp = Clock::now() + milliseconds(3000);
    int wstatus = 0;
    for (;;) {
        const pid_t r = ::waitpid(child, &wstatus, WNOHANG);
        if (r == child || (r < 0 && errno != EINTR)) return wstatus;
        if (Clock::now() >= giveUp) {
            ::kill(child, SIGKILL);
            ::waitpid(child, &wstatus, 0);
            return wstatus;
        }
        ::usleep(10'000);
    }
}

// The demo's exit status for Linetap's end: its own exit status, or 128 + the signal.
int exitStatusOf(int wstatus) {
    if (WIFEXITED(wstatus)) return WEXITSTATUS(wstatus);
    if (WIFSIGNALED(wstatus)) return 128 + WTERMSIG(wstatus);
    return 1;
}

// One simulated cable: the far end (master) belongs to a device of the demo, the near end is
// the path Linetap opens.
struct Cable {
    int master = -1;
    std::string path;

    bool open() {
        master = openDeviceEnd(path);
        return master >= 0;
    }

    // Whether a program holds the near end open (otherwise the far end reads a hang-up).
    bool listened() const {
        pollfd p{master, POLLIN, 0};
        ::poll(&p, 1, 0);
        return !(p.revents & POLLHUP);
    }

    void send(const std::string& bytes) const {
        if (!listened()) return;  // nobody there: nothing piles up for later
        [[maybe_unused]] auto n = ::write(master, bytes.data(), bytes.size());
    }

    std::string receive() const {
        std::string out;
        char buf[512];
        for (;;) {
            const ssize_t n = ::read(master, buf, sizeof buf);
            if (n <= 0) break;
            out.append(buf, static_cast<std::size_t>(n));
        }
        return out;
    }
};

// Requests end with CR; the answering device replies to each complete one.
struct Device {
    std::string pending;
    int answered = 0;

    std::vector<std::string> takeRequests(const std::string& bytes) {
        pending += bytes;
        std::vector<std::string> out;
        for (std::size_t cr; (cr = pending.find('\r')) != std::string::npos;) {
            out.push_back(pending.substr(0, cr));
            pending.erase(0, cr + 1);
        }
        if (pending.size() > 256) pending.clear();  // noise without an end
        return out;
    }
};

std::string answerTo(const std::string& request, int n) {
    char buf[96];
    if (request.find("READ T") != std::string::npos)
        std::snprintf(buf, sizeof buf, "!01 T=%d.%d C\r", 20 + n % 7, n * 3 % 10);
    else if (request.find("READ P") != std::string::npos)
        std::snprintf(buf, sizeof buf, "!01 P=%d kPa\r", 100 + n % 13);
    else
        std::snprintf(buf, sizeof buf, "!01 ERR\r");
    return buf;
}

// Starts Linetap on the near ends of the two cables. The stop signals are held back across fork:
// a signal that came between fork and exec would otherwise run the demo's handler in the child
// and be lost, and Linetap would start anyway and outlive the demo. Held back, it reaches the demo
// after fork and Linetap after exec. Returns the child, or -1 when fork failed.
pid_t startLinetap(const char* program, const Cable& controller, const Cable& device) {
    struct sigaction sa {};
    sa.sa_handler = onSignal;
    sigemptyset(&sa.sa_mask);
    for (int s : kStopSignals) sigaction(s, &sa, nullptr);

    const sigset_t stopSet = stopSignalSet();
    sigset_t previousMask;
    sigprocmask(SIG_BLOCK, &stopSet, &previousMask);
    const pid_t demo = ::getpid();
    const pid_t child = ::fork();
    if (child == 0) {
        struct sigaction dfl {};
        dfl.sa_handler = SIG_DFL;
        sigemptyset(&dfl.sa_mask);
        for (int s : kStopSignals) sigaction(s, &dfl, nullptr);
        // Linetap gets SIGTERM if the demo dies without ending it; if the demo is already gone,
        // Linetap is not started at all.
        ::prctl(PR_SET_PDEATHSIG, SIGTERM);
        if (::getppid() != demo) _exit(1);
        sigprocmask(SIG_SETMASK, &previousMask, nullptr);
        ::setenv("LINETAP_COM1", controller.path.c_str(), 1);
        ::setenv("LINETAP_COM2", device.path.c_str(), 1);
        ::execl(program, program, static_cast<char*>(nullptr));
        std::perror("linetap-demo: cannot start linetap");
        _exit(127);
    }
    sigprocmask(SIG_SETMASK, &previousMask, nullptr);
    return child;
}

// The two devices' side of the exchange, one step at a time.
class Traffic {
public:
    Traffic(const Cable& controller, const Cable& device)
        : controllerCable_(controller), deviceCable_(device) {}

    void step(Clock::time_point now) {
        // The controller keeps asking, whether or not anything answers.
        if (now >= nextRequest_) {
            ++request_;
            controllerCable_.send(request_ % 2 ? "#01 READ T\r" : "#01 READ P\r");
            nextRequest_ += milliseconds(500);
            if (nextRequest_ < now) nextRequest_ = now + milliseconds(500);
        }
        // What reaches the controller (answers relayed by Linetap) is consumed.
        controllerCable_.receive();

        // The device answers each request about 30 ms after it arrived.
        for (const std::string& r : device_.takeRequests(deviceCable_.receive()))
            replies_.push_back({now + milliseconds(30), answerTo(r, ++device_.answered)});
        for (auto it = replies_.begin(); it != replies_.end();) {
            if (now >= it->at) {
                deviceCable_.send(it->bytes);
                it = replies_.erase(it);
            } else {
                ++it;
            }
        }
        // And reports its status on its own now and then, so port 2 shows traffic without relay.
        if (now >= nextStatus_) {
            char buf[48];
            std::snprintf(buf, sizeof buf, "!01 STATUS %s\r", ++status_ % 4 ? "OK" : "BUSY");
            deviceCable_.send(buf);
            nextStatus_ = now + milliseconds(3000);
        }
    }

    // Waits for bytes from either device, at most 10 ms. A near end nobody holds reads as a
    // hang-up at once: then only the timeout paces the loop.
    void wait() const {
        pollfd fds[2] = {{controllerCable_.master, POLLIN, 0}, {deviceCable_.master, POLLIN, 0}};
        if (controllerCable_.listened() && deviceCable_.listened())
            ::poll(fds, 2, 10);
        else
            ::usleep(10'000);
    }

private:
    struct Reply {
        Clock::time_point at;
        std::string bytes;
    };
    const Cable& controllerCable_;
    const Cable& deviceCable_;
    Device device_;
    int request_ = 0;
    int status_ = 0;
    Clock::time_point nextRequest_ = Clock::now() + milliseconds(500);
    Clock::time_point nextStatus_ = Clock::now() + milliseconds(3000);
    std::vector<Reply> replies_;
};

}  // namespace

int main(int argc, char** argv) {
    if (argc < 2) {
        std::fprintf(stderr, "usage: %s <path to linetap>\n", argv[0]);
        return 2;
    }
    Cable controllerCable, deviceCable;
    if (!controllerCable.open() || !deviceCable.open()) {
        std::perror("linetap-demo: openpty");
        return 1;
    }
    const pid_t child = startLinetap(argv[1], controllerCable, deviceCable);
    if (child < 0) {
        std::perror("linetap-demo: fork");
        return 1;
    }
    std::printf(
        "linetap-demo: port 1 = %s (a controller asking every 500 ms), port 2 = %s (a device "
        "answering); switch both ports on, tick \"Трансляция данных\" on both and press "
        "\"Пуск\".\n",
        controllerCable.path.c_str(), deviceCable.path.c_str());
    std::fflush(stdout);

    Traffic traffic(controllerCable, deviceCable);
    while (!g_stop) {
        // Linetap closed: the demo has nothing left to do.
        int wstatus = 0;
        if (::waitpid(child, &wstatus, WNOHANG) == child) return exitStatusOf(wstatus);
        traffic.step(Clock::now());
        traffic.wait();
    }
    endChild(child);
    return 0;
}
