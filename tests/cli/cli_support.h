#pragma once

// The built program run as a child process, headless, on pseudo-terminal pairs: the test plays
// the far devices on the masters and reads the program's standard output and error.

#include <gtest/gtest.h>
#include <signal.h>
#include <spawn.h>
#include <sys/mman.h>
#include <sys/wait.h>

#include <QDir>
#include <QTemporaryDir>
#include <cstdlib>
#include <filesystem>
#include <fstream>
#include <optional>
#include <regex>

#include "support/pty_pair.h"

extern char** environ;

namespace lt::cli {

using test::PtyPair;
using test::waitUntil;

inline std::string readFile(const std::string& path) {
    std::ifstream in(path, std::ios::binary);
    return {std::istreambuf_iterator<char>(in), {}};
}

// Waits until the device at `pty` has received `size` bytes in all.
inline bool waitForBytes(PtyPair& pty, std::size_t size) {
    return waitUntil([&] { return pty.drain(), pty.received.size() >= size; });
}

// The built program, started with `args` and the test's environment, standard input from
// /dev/null, standard output and error into memory files the test reads.
class Child {
public:
    explicit Child(std::vector<std::string> args) {
        posix_spawn_file_actions_t actions;
        posix_spawn_file_actions_init(&actions);
        posix_spawn_file_actions_addopen(&actions, 0, "/dev/null", O_RDONLY, 0);
        posix_spawn_file_actions_adddup2(&actions, outFd_, 1);
        posix_spawn_file_actions_adddup2(&actions, errFd_, 2);
        args.insert(args.begin(), LINETAP_BINARY);
        std::vector<char*> argv;
        for (std::string& a : args) argv.push_back(a.data());
        argv.push_back(nullptr);
        if (::posix_spawn(&pid_, LINETAP_BINARY, &actions, nullptr, argv.data(), environ) != 0)
            pid_ = -1;
        posix_spawn_file_actions_destroy(&actions);
    }
    ~Child() {
        if (running()) {  // a child the test did not see to its end is killed, by its own id
            ::kill(pid_, SIGKILL);
            ::waitpid(pid_, nullptr, 0);
        }
        ::close(outFd_);
        ::close(errFd_);
    }
    Child(const Child&) = delete;

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
    bool waitFor(const std::function<bool()>& done) {
        return waitUntil(done, 5000, [this] { pump(); });
    }
    // The exit status, or 128 + the signal that ended it, or -1 when it did not end in time.
    int waitExit() {
        waitFor([&] { return !running(); });
        pump();
        if (!status_) return -1;
        return WIFEXITED(*status_) ? WEXITSTATUS(*status_) : 128 + WTERMSIG(*status_);
    }
    void signal(int sig) const {
        if (pid_ > 0) ::kill(pid_, sig);
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
    // Waits until the child runs with its SIGTERM and SIGINT handlers set, which it sets just
    // before its event loop; false when it ended.
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

    std::string out, err;  // standard output and error so far

private:
    int outFd_ = ::memfd_create("out", MFD_CLOEXEC), errFd_ = ::memfd_create("err", MFD_CLOEXEC);
    pid_t pid_ = -1;
    std::optional<int> status_;
};

// Two far devices, a folder for the run with the program's configuration folder in it, and the
// arguments that put the program on the devices.
class CliTest : public ::testing::Test {
protected:
    void SetUp() override {
        ASSERT_TRUE(dir.isValid() && one.ok() && two.ok());
        ::setenv("XDG_CONFIG_HOME", folder("config").c_str(), 1);
        ::unsetenv("ProgramFiles");
    }
    std::vector<std::string> on(std::vector<std::string> more) const {
        more.insert(more.begin(), {"--headless", "--port1", one.slave, "--port2", two.slave});
        return more;
    }
    std::string file(const QString& name) const { return dir.filePath(name).toStdString(); }
    std::string folder(const QString& name) const {
        return QDir(dir.path()).mkdir(name), file(name);
    }
    QTemporaryDir dir;
    PtyPair one, two;  // the far devices of port 1 and port 2
};

// The hex of bytes as the record file writes it: " 01 03 0A".
inline std::string recordHex(const std::string& bytes) {
    std::string out;
    for (unsigned char b : bytes)
        out += {' ', "0123456789ABCDEF"[b >> 4], "0123456789ABCDEF"[b & 15]};
    return out;
}

// A record for a packet of `port` on devices one and two, any stamp and any outputs: the inputs
// of a pseudo-terminal read as off.
inline std::string recordPattern(int port, const PtyPair& one, const PtyPair& two,
                                 const std::string& bytes) {
    const auto quote = [](const std::string& s) {
        return std::regex_replace(s, std::regex(R"([.^$|()\[\]{}*+?\\/])"), R"(\$&)");
    };
    const std::string lines = "RTS=[01] DTR=[01] DCD=0 DSR=0 CTS=0   Data=";
    return R"(\d\d:\d\d:\d\d,\d+  )" + quote(one.slave) + ":  " + lines +
           quote(port == 1 ? recordHex(bytes) : "") + "\r\n {13}" + quote(two.slave) + ":  " +
           lines + quote(port == 2 ? recordHex(bytes) : "") + "\r\n\r\n";
}

// The one file in `folder` ("" when there is none, or more than one).
inline std::string onlyFileIn(const std::string& folder) {
    std::vector<std::string> found;
    std::error_code ec;
    for (const auto& e : std::filesystem::directory_iterator(folder, ec)) found.push_back(e.path());
    return found.size() == 1 ? found[0] : "";
}

}  // namespace lt::cli
