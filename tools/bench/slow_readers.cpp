#include "bench/slow_readers.h"

#include <fcntl.h>
#include <poll.h>
#include <sys/mman.h>
#include <sys/stat.h>
#include <unistd.h>

#include <atomic>
#include <chrono>
#include <thread>

#include "bench/headless_run.h"

namespace bench {

namespace {

// One run of the program with `extra` options, standard output into `out` (or thrown away) and
// standard error kept in `said` (when given); the latency of `packets` packets.
std::vector<double> latencyRun(std::vector<std::string> extra, int out, int packets,
                               std::string* said) {
    const int err = ::memfd_create("stderr", MFD_CLOEXEC);
    std::vector<double> ms;
    {
        HeadlessProgram h(std::move(extra), out, err);
        if (h.pid > 0) ms = relayLatency(h, packets).ms;
        h.stop();
    }
    if (said) {
        char buf[4096];
        for (ssize_t n; (n = ::pread(err, buf, sizeof buf, static_cast<off_t>(said->size()))) > 0;)
            said->append(buf, static_cast<std::size_t>(n));
    }
    ::close(err);
    return ms;
}

}  // namespace

SlowReaderFigures slowReaderRun(int packets) {
    SlowReaderFigures f;
    f.plainMs = latencyRun({}, -1, packets, nullptr);
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
            f.slowPrintMs = latencyRun({"--print"}, fds[1], packets, &f.stderrSlowPrint);
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
                    latencyRun({"--pcap", fifo}, -1, packets, &f.stderrStalledCapture);
                ::close(reader);
                ::unlink(fifo.c_str());
            }
            ::rmdir(dir);
        }
    }
    return f;
}

}  // namespace bench
