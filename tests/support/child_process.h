#pragma once

// A program run as a child process for the command-line tests: started with its arguments and
// the test's environment, standard input from /dev/null, standard output and error into memory
// files the test reads; killed by its own id if the test does not see it end.

#include <signal.h>
#include <spawn.h>
#include <sys/mman.h>
#include <sys/wait.h>
#include <unistd.h>

#include <fcntl.h>

#include <cstdlib>
#include <filesystem>
#include <fstream>
#include <optional>
#include <string>
#include <vector>

#include "support/pty_pair.h"

extern char** environ;

namespace lt::test {

class ChildProcess {
public:
    // `stdoutFd` >= 0: standard output goes there (a pipe the test reads, or does not).
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

    // Reads what the child has written so far.
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
    bool waitFor(const std::function<bool()>& done, int limitMs = 5000) {
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
    // How many times the child has written `text` to standard error so far.
    int said(const std::string& text) {
        pump();
        int n = 0;
        for (auto at = err.find(text); at != std::string::npos; at = err.find(text, at + 1)) ++n;
        return n;
    }
    std::string proc(const std::string& what) const {
        return "/proc/" + std::to_string(pid_) + "/" + what;
    }
    bool hasOpen(const std::string& path) const {
        std::error_code ec;
        for (const auto& e : std::filesystem::directory_iterator(proc("fd"), ec))
            if (std::filesystem::read_symlink(e.path(), ec) == path) return true;
        return false;
    }
    // Waits until the child runs with its SIGTERM and SIGINT handlers set, which the program sets
    // just before its event loop; false when it ended.
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

}  // namespace lt::test
