#include "bench/references.h"

#include <fcntl.h>
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
    running = waitHeld(in, out, 2000);
    if (!running) std::fprintf(stderr, "socat not running: its figures are left out\n");
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
