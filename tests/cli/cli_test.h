#pragma once

// Shared by the command-line tests: child processes, far devices on pty pairs, a run folder.

#include <gtest/gtest.h>
#include <signal.h>
#include <spawn.h>
#include <sys/mman.h>
#include <sys/wait.h>

#include <QDir>
#include <QTemporaryDir>
#include <cstdlib>
#include <fstream>
#include <iterator>
#include <optional>

#include "support/pty_pair.h"

extern char** environ;

namespace lt::cli {

using test::pause;
using test::PtyPair;
using test::waitUntil;

inline std::string readFile(const std::string& path) {
    std::ifstream in(path, std::ios::binary);
    return {std::istreambuf_iterator<char>(in), {}};
}

inline bool waitForBytes(PtyPair& pty, std::size_t size) {
    return waitUntil([&] { return pty.drain(), pty.received.size() >= size; });
}

// A child process, its output and errors into memory files; killed if it outlives the test.
class ChildProcess {
public:
    ChildProcess(const std::string& program, std::vector<std::string> args, int stdoutFd = -1) {
        posix_spawn_file_actions_t actions;
        posix_spawn_file_actions_init(&actions);
        posix_spawn_file_actions_addopen(&actions, 0, "/dev/null", O_RDONLY, 0);
        posix_spawn_file_actions_adddup2(&actions, stdoutFd >= 0 ? stdoutFd : outFd_, 1);
        posix_spawn_file_actions_adddup2(&actions, errFd_, 2);
        args.insert(args.begin(), program);
        std::vector<char*> argv;
        for (std::string& a : args) argv.push_back(a.data());
        argv.push_back(nullptr);
        if (::posix_spawnp(&pid_, program.c_str(), &actions, nullptr, argv.data(), environ) != 0)
            pid_ = -1;
        posix_spawn_file_actions_destroy(&actions);
    }
    ~ChildProcess() {
        stop(SIGKILL);
        ::close(outFd_);
        ::close(errFd_);
    }
    ChildProcess(const ChildProcess&) = delete;

    void pump() {
        for (auto [fd, into] : {std::pair{outFd_, &out}, {errFd_, &err}}) {
            char buf[4096];
            for (ssize_t n; (n = ::pread(fd, buf, sizeof buf, into->size())) > 0;)
                into->append(buf, static_cast<std::size_t>(n));
        }
    }
    bool running() {
        if (int s = 0; pid_ > 0 && !status_ && ::waitpid(pid_, &s, WNOHANG) == pid_) status_ = s;
        return pid_ > 0 && !status_;
    }
    // Waits, reading what the child says, until `done` holds; false when it did not in time.
    bool waitFor(const std::function<bool()>& done, int limitMs = 10000) {
        return waitUntil(done, limitMs, [this] { pump(); });
    }
    // Sends `sig` (0: none) and waits for the end; the exit status, 128 + the signal, or -1.
    int stop(int sig) {
        if (running()) ::kill(pid_, sig);
        waitFor([&] { return !running(); });
        pump();
        if (!status_) return -1;
        return WIFEXITED(*status_) ? WEXITSTATUS(*status_) : 128 + WTERMSIG(*status_);
    }
    int said(const std::string& text) {
        return pump(), QString::fromStdString(err).count(QString::fromStdString(text));
    }
    std::string proc(const std::string& what) const {
        return "/proc/" + std::to_string(pid_) + "/" + what;
    }
    // Waits until the child has set its signal handlers (just before its event loop).
    bool waitRunning() {
        const auto handlers = [&] {
            std::ifstream in(proc("status"));
            for (std::string line; std::getline(in, line);)
                if (line.rfind("SigCgt:", 0) == 0)
                    return (~std::strtoull(line.c_str() + 7, nullptr, 16) &
                            (1u << (SIGTERM - 1) | 1u << (SIGINT - 1))) == 0;
            return false;
        };
        return waitFor([&] { return handlers() || !running(); }) && running();
    }

    std::string out, err;

private:
    int outFd_ = ::memfd_create("out", MFD_CLOEXEC), errFd_ = ::memfd_create("err", MFD_CLOEXEC);
    pid_t pid_ = -1;
    std::optional<int> status_;
};

// The program run with `--headless` and `args`.
struct Linetap : ChildProcess {
    explicit Linetap(std::vector<std::string> args, int stdoutFd = -1)
        : ChildProcess(LINETAP_BINARY, (args.insert(args.begin(), "--headless"), args), stdoutFd) {}
};

class CliTest : public ::testing::Test {
protected:
    void SetUp() override {
        ASSERT_TRUE(dir.isValid() && one.ok() && two.ok());
        ::setenv("XDG_CONFIG_HOME", folder("config").c_str(), 1);
        ::unsetenv("ProgramFiles");
    }
    std::vector<std::string> on(std::vector<std::string> more) const {
        more.insert(more.begin(), {"--port1", one.slave, "--port2", two.slave});
        return more;
    }
    std::string file(const QString& name) const { return dir.filePath(name).toStdString(); }
    std::string folder(const QString& name) const {
        return QDir(dir.path()).mkdir(name), file(name);
    }
    QTemporaryDir dir;
    PtyPair one, two;  // the far devices of port 1 and port 2
};

}  // namespace lt::cli
