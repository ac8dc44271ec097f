#pragma once

// The built program run as a child process, headless, on pseudo-terminal pairs: the test plays
// the far devices on the masters and reads the program's standard output and error.

#include <gtest/gtest.h>
#include <signal.h>
#include <spawn.h>
#include <sys/wait.h>

#include <QDir>
#include <QTemporaryDir>
#include <cstdlib>
#include <filesystem>
#include <fstream>
#include <iterator>
#include <optional>
#include <regex>
#include <vector>

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

// The built program, started with `args`, standard input from /dev/null, standard output and
// error into pipes the test reads, XDG_CONFIG_HOME set to `configHome`, ProgramFiles and
// LINETAP_COM* unset.
class Child {
public:
    Child(std::vector<std::string> args, const std::string& configHome) {
        int out[2], err[2];
        if (::pipe2(out, O_CLOEXEC) != 0 || ::pipe2(err, O_CLOEXEC) != 0) return;
        posix_spawn_file_actions_t actions;
        posix_spawn_file_actions_init(&actions);
        posix_spawn_file_actions_addopen(&actions, 0, "/dev/null", O_RDONLY, 0);
        posix_spawn_file_actions_adddup2(&actions, out[1], 1);
        posix_spawn_file_actions_adddup2(&actions, err[1], 2);
        std::vector<std::string> env{"XDG_CONFIG_HOME=" + configHome};
        for (char** e = environ; *e; ++e) {
            const std::string v = *e;
            if (v.rfind("ProgramFiles=", 0) && v.rfind("XDG_CONFIG_HOME=", 0) &&
                v.rfind("LINETAP_COM", 0))
                env.push_back(v);
        }
        args.insert(args.begin(), LINETAP_BINARY);
        std::vector<char*> argv, envp;
        for (std::string& a : args) argv.push_back(a.data());
        for (std::string& e : env) envp.push_back(e.data());
        argv.push_back(nullptr);
        envp.push_back(nullptr);
        if (::posix_spawn(&pid_, LINETAP_BINARY, &actions, nullptr, argv.data(), envp.data()) != 0)
            pid_ = -1;
        posix_spawn_file_actions_destroy(&actions);
        ::close(out[1]);
        ::close(err[1]);
        for (int fd : {out_ = out[0], err_ = err[0]}) ::fcntl(fd, F_SETFL, O_NONBLOCK);
    }
    ~Child() {
        if (running()) {  // a child the test did not see to its end is killed, by its own id
            ::kill(pid_, SIGKILL);
            ::waitpid(pid_, nullptr, 0);
        }
        ::close(out_);
        ::close(err_);
    }
    Child(const Child&) = delete;

    // Reads what the child has written so far.
    void pump() {
        for (auto [fd, into] : {std::pair{out_, &out}, {err_, &err}}) {
            char buf[4096];
            for (ssize_t n; (n = ::read(fd, buf, sizeof buf)) > 0;)
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
    pid_t pid_ = -1;
    std::optional<int> status_;
    int out_ = -1, err_ = -1;
};

// Two far devices, a folder for the run and the arguments that put the program on them.
class CliTest : public ::testing::Test {
protected:
    void SetUp() override { ASSERT_TRUE(dir.isValid() && one.ok() && two.ok()); }
    std::vector<std::string> on(std::vector<std::string> more) const {
        more.insert(more.begin(), {"--headless", "--port1", one.slave, "--port2", two.slave});
        return more;
    }
    std::string file(const QString& name) const { return dir.filePath(name).toStdString(); }
    std::string folder(const QString& name) const {
        return QDir(dir.path()).mkdir(name), file(name);
    }
    QTemporaryDir dir;
    std::string config = folder("config");
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
