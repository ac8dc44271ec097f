#pragma once

// What the command-line tests share: the built program run headless as a child, two far devices
// on pseudo-terminal pairs, and a folder for the run with the program's configuration folder.

#include <gtest/gtest.h>

#include <QDir>
#include <QTemporaryDir>
#include <fstream>
#include <iterator>

#include "support/child_process.h"
#include "support/pty_pair.h"

namespace lt::cli {

using test::ChildProcess;
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

// The program run with `--headless` and `args`.
struct Linetap : ChildProcess {
    explicit Linetap(std::vector<std::string> args, int stdoutFd = -1)
        : ChildProcess(LINETAP_BINARY, withHeadless(std::move(args)), stdoutFd) {}
    static std::vector<std::string> withHeadless(std::vector<std::string> args) {
        args.insert(args.begin(), "--headless");
        return args;
    }
};

class CliTest : public ::testing::Test {
protected:
    void SetUp() override {
        ASSERT_TRUE(dir.isValid() && one.ok() && two.ok());
        ::setenv("XDG_CONFIG_HOME", folder("config").c_str(), 1);
        ::unsetenv("ProgramFiles");
    }
    // `more` with the ports on the two devices.
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
