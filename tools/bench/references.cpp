#include "bench/references.h"

#include <fcntl.h>
#include <poll.h>
#include <signal.h>
#include <sys/wait.h>
#include <termios.h>
#include <unistd.h>

#include <cstdio>
#include <string>

namespace bench {

SocatRelay::SocatRelay() {
    // Made before the fork: the child of a threaded program only calls exec.
    const std::string l = in.path + ",raw,echo=0", r = out.path + ",raw,echo=0";
    pid = ::fork();
    if (pid == 0) {
        ::execlp("socat", "socat", "-b65536", l.c_str(), r.c_str(), static_cast<char*>(nullptr));
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

SocatRelay::~SocatRelay() {
    if (pid <= 0) return;
    ::kill(pid, SIGTERM);
    ::waitpid(pid, nullptr, 0);
}

DirectReader::DirectReader() {
    fd = ::open(cable.path.c_str(), O_RDWR | O_NOCTTY | O_NONBLOCK | O_CLOEXEC);
    termios t{};
    ::tcgetattr(fd, &t);
    ::cfmakeraw(&t);
    ::tcsetattr(fd, TCSANOW, &t);
    reads = std::make_unique<Collector>(fd);
}

DirectReader::~DirectReader() {
    reads.reset();
    ::close(fd);
}

}  // namespace bench
