#pragma once

// The built program run as a child process, headless, on pseudo-terminal pairs: the test plays
// the far devices on the masters and reads the program's standard output and error.

#include <fcntl.h>
#include <poll.h>
#include <pty.h>
#include <signal.h>
#include <spawn.h>
#include <sys/stat.h>
#include <sys/wait.h>
#include <termios.h>
#include <unistd.h>

#include <chrono>
#include <cstdlib>
#include <cstring>
#include <filesystem>
#include <fstream>
#include <functional>
#include <iterator>
#include <optional>
#include <string>
#include <thread>
#include <vector>

extern char** environ;

namespace lt::cli {

// Generous bounds for what the child does; never a measurement.
constexpr int kDeadlineMs = 5000;

inline std::string readFile(const std::string& path) {
    std::ifstream in(path, std::ios::binary);
    return {std::istreambuf_iterator<char>(in), std::istreambuf_iterator<char>()};
}

// Polls `done` every few milliseconds, after calling `pump` (which reads what the child said),
// until it holds or `limitMs` has passed.
inline bool waitUntil(const std::function<bool()>& done, int limitMs = kDeadlineMs,
                      const std::function<void()>& pump = {}) {
    const auto until = std::chrono::steady_clock::now() + std::chrono::milliseconds(limitMs);
    for (;;) {
        if (pump) pump();
        if (done()) return true;
        if (std::chrono::steady_clock::now() > until) return false;
        std::this_thread::sleep_for(std::chrono::milliseconds(2));
    }
}

// A fresh folder under the system's temporary one, removed with everything in it.
class TempDir {
public:
    TempDir() {
        std::string pattern = (std::filesystem::temp_directory_path() / "linetap-cli-XXXXXX");
        if (::mkdtemp(pattern.data()) != nullptr) path_ = pattern;
    }
    ~TempDir() {
        if (!path_.empty()) std::filesystem::remove_all(path_);
    }
    TempDir(const TempDir&) = delete;
    TempDir& operator=(const TempDir&) = delete;

    bool valid() const { return !path_.empty(); }
    const std::string& path() const { return path_; }
    std::string file(const std::string& name) const { return path_ + "/" + name; }
    // A folder inside, made now.
    std::string folder(const std::string& name) const {
        const std::string f = file(name);
        ::mkdir(f.c_str(), 0755);
        return f;
    }

private:
    std::string path_;
};

// A pseudo-terminal pair: the program opens the slave by its path, the test is the device at the
// master, in raw mode and non-blocking.
class PtyPair {
public:
    PtyPair() {
        int slave = -1;
        char name[128] = {};
        if (::openpty(&master_, &slave, name, nullptr, nullptr) != 0) return;
        termios t{};
        ::tcgetattr(master_, &t);
        ::cfmakeraw(&t);
        ::tcsetattr(master_, TCSANOW, &t);
        ::fcntl(master_, F_SETFL, ::fcntl(master_, F_GETFL) | O_NONBLOCK);
        ::fcntl(master_, F_SETFD, FD_CLOEXEC);
        slave_ = name;
        ::close(slave);  // the program opens it
    }
    ~PtyPair() {
        if (master_ >= 0) ::close(master_);
    }
    PtyPair(const PtyPair&) = delete;
    PtyPair& operator=(const PtyPair&) = delete;

    bool ok() const { return master_ >= 0 && !slave_.empty(); }
    const std::string& slave() const { return slave_; }

    // The device sends.
    bool send(const std::string& bytes) const {
        for (std::size_t done = 0; done < bytes.size();) {
            const ssize_t n = ::write(master_, bytes.data() + done, bytes.size() - done);
            if (n > 0) {
                done += static_cast<std::size_t>(n);
            } else if (n < 0 && errno != EAGAIN && errno != EINTR) {
                return false;
            }
        }
        return true;
    }
    // Everything that has reached the device so far.
    const std::string& received() {
        char buf[4096];
        for (ssize_t n; (n = ::read(master_, buf, sizeof buf)) > 0;)
            received_.append(buf, static_cast<std::size_t>(n));
        return received_;
    }
    // Waits until the device has received `bytes` in all (the relay of what it was sent).
    bool waitForReceived(std::size_t bytes) {
        return waitUntil([&] { return received().size() >= bytes; });
    }
    // The line speed the slave is set to now (the program sets its own).
    speed_t speed() const {
        termios t{};
        if (::tcgetattr(master_, &t) != 0) return 0;
        return ::cfgetospeed(&t);
    }

private:
    int master_ = -1;
    std::string slave_;
    std::string received_;
};

// The built program, started with `args` (after the program name), standard input from
// /dev/null, standard output and error into pipes the test reads, and an environment of its own:
// XDG_CONFIG_HOME set to `configHome`, ProgramFiles and LINETAP_COM* unset.
class Child {
public:
    Child(const std::vector<std::string>& args, const std::string& configHome) {
        int out[2] = {-1, -1}, err[2] = {-1, -1};
        if (::pipe2(out, O_CLOEXEC) != 0 || ::pipe2(err, O_CLOEXEC) != 0) return;
        posix_spawn_file_actions_t actions;
        posix_spawn_file_actions_init(&actions);
        posix_spawn_file_actions_addopen(&actions, 0, "/dev/null", O_RDONLY, 0);
        posix_spawn_file_actions_adddup2(&actions, out[1], 1);
        posix_spawn_file_actions_adddup2(&actions, err[1], 2);

        std::vector<std::string> env;
        for (char** e = environ; *e; ++e) {
            const std::string v = *e;
            if (v.rfind("ProgramFiles=", 0) == 0 || v.rfind("XDG_CONFIG_HOME=", 0) == 0 ||
                v.rfind("LINETAP_COM", 0) == 0)
                continue;
            env.push_back(v);
        }
        env.push_back("XDG_CONFIG_HOME=" + configHome);

        std::vector<std::string> argv{LINETAP_BINARY};
        argv.insert(argv.end(), args.begin(), args.end());
        std::vector<char*> cargv, cenv;
        for (std::string& a : argv) cargv.push_back(a.data());
        cargv.push_back(nullptr);
        for (std::string& e : env) cenv.push_back(e.data());
        cenv.push_back(nullptr);

        if (::posix_spawn(&pid_, LINETAP_BINARY, &actions, nullptr, cargv.data(), cenv.data()) != 0)
            pid_ = -1;
        posix_spawn_file_actions_destroy(&actions);
        ::close(out[1]);
        ::close(err[1]);
        out_ = out[0];
        err_ = err[0];
        ::fcntl(out_, F_SETFL, ::fcntl(out_, F_GETFL) | O_NONBLOCK);
        ::fcntl(err_, F_SETFL, ::fcntl(err_, F_GETFL) | O_NONBLOCK);
    }
    ~Child() {
        // A child the test did not see to its end is killed, by its own id.
        if (pid_ > 0 && !status_) {
            ::kill(pid_, SIGKILL);
            int s = 0;
            ::waitpid(pid_, &s, 0);
        }
        if (out_ >= 0) ::close(out_);
        if (err_ >= 0) ::close(err_);
    }
    Child(const Child&) = delete;
    Child& operator=(const Child&) = delete;

    bool started() const { return pid_ > 0; }
    pid_t pid() const { return pid_; }

    // Reads what the child has written so far.
    void pump() {
        drain(out_, out);
        drain(err_, err);
    }
    bool running() {
        reap();
        return pid_ > 0 && !status_;
    }
    // Waits for the child to end; its exit status, or -1 when it did not end in time, or
    // 128 + the signal that ended it.
    int waitExit(int limitMs = kDeadlineMs) {
        waitUntil([&] { return !running(); }, limitMs, [&] { pump(); });
        pump();
        if (!status_) return -1;
        if (WIFEXITED(*status_)) return WEXITSTATUS(*status_);
        if (WIFSIGNALED(*status_)) return 128 + WTERMSIG(*status_);
        return -1;
    }
    void signal(int sig) const {
        if (pid_ > 0) ::kill(pid_, sig);
    }
    // Whether the child has `path` open (a link in /proc/<pid>/fd).
    bool hasOpen(const std::string& path) const {
        std::error_code ec;
        for (const auto& e :
             std::filesystem::directory_iterator("/proc/" + std::to_string(pid_) + "/fd", ec)) {
            std::error_code ec2;
            if (std::filesystem::read_symlink(e.path(), ec2) == path) return true;
        }
        return false;
    }
    // Whether the child has its own handler for `sig` now (SigCgt in /proc/<pid>/status): the
    // program sets its SIGINT and SIGTERM handlers once it runs, just before its event loop.
    bool catches(int sig) const {
        std::ifstream in("/proc/" + std::to_string(pid_) + "/status");
        for (std::string line; std::getline(in, line);) {
            if (line.rfind("SigCgt:", 0) != 0) continue;
            const unsigned long long mask = std::strtoull(line.c_str() + 7, nullptr, 16);
            return (mask >> (sig - 1)) & 1u;
        }
        return false;
    }
    // Waits until the child runs with its signal handlers set, or has ended.
    bool waitRunning() {
        return waitUntil([&] { return (catches(SIGTERM) && catches(SIGINT)) || !running(); },
                         kDeadlineMs, [&] { pump(); }) &&
               running();
    }
    std::string maps() const { return readFile("/proc/" + std::to_string(pid_) + "/maps"); }

    std::string out, err;  // standard output and error so far

private:
    void reap() {
        if (pid_ <= 0 || status_) return;
        int s = 0;
        if (::waitpid(pid_, &s, WNOHANG) == pid_) status_ = s;
    }
    static void drain(int fd, std::string& into) {
        if (fd < 0) return;
        char buf[4096];
        for (ssize_t n; (n = ::read(fd, buf, sizeof buf)) > 0;)
            into.append(buf, static_cast<std::size_t>(n));
    }

    pid_t pid_ = -1;
    std::optional<int> status_;
    int out_ = -1, err_ = -1;
};

// The hex of bytes as the record file writes it: " 01 03 0A".
inline std::string recordHex(const std::string& bytes) {
    static constexpr char kDigits[] = "0123456789ABCDEF";
    std::string out;
    for (unsigned char b : bytes) {
        out += ' ';
        out += kDigits[b >> 4];
        out += kDigits[b & 15];
    }
    return out;
}

// The one record file in `folder` ("" when there is none, or more than one).
inline std::string onlyFileIn(const std::string& folder) {
    std::string found;
    int count = 0;
    std::error_code ec;
    for (const auto& e : std::filesystem::directory_iterator(folder, ec)) {
        found = e.path().string();
        ++count;
    }
    return count == 1 ? found : "";
}

}  // namespace lt::cli
