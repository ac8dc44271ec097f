// The built program run headless on lines that go away and come back: a pseudo-terminal served by
// the real ser2net over RFC 2217 (bytes both ways, a baud rate taken, ser2net stopped and started
// again), and pseudo-terminal pairs whose far end is closed and opened again under the same path.
#include <arpa/inet.h>
#include <netinet/in.h>
#include <sys/socket.h>
#include <termios.h>

#include <cstdio>
#include <memory>

#include "cli/cli_test.h"

namespace lt::cli {
namespace {

bool onPath(const std::string& program) {
    return std::system(("command -v " + program + " >/dev/null 2>&1").c_str()) == 0;
}

// A TCP port on loopback that nothing listens on now.
int freePort() {
    const int fd = ::socket(AF_INET, SOCK_STREAM, 0);
    sockaddr_in a{};
    a.sin_family = AF_INET;
    a.sin_addr.s_addr = htonl(INADDR_LOOPBACK);
    ::bind(fd, reinterpret_cast<sockaddr*>(&a), sizeof a);
    socklen_t len = sizeof a;
    ::getsockname(fd, reinterpret_cast<sockaddr*>(&a), &len);
    ::close(fd);
    return ntohs(a.sin_port);
}

// Whether something listens on `port` of loopback, read from the kernel's table: a connection
// made to find out would be one more client for the server to serve.
bool listening(int port) {
    std::ifstream in("/proc/net/tcp");
    char wanted[32];
    std::snprintf(wanted, sizeof wanted, ":%04X 00000000:0000 0A", port);
    for (std::string line; std::getline(in, line);)
        if (line.find(wanted) != std::string::npos) return true;
    return false;
}

class CliNetwork : public CliTest {};

// ser2net serving one's pseudo-terminal over RFC 2217 on loopback.
struct Ser2net {
    Ser2net(const std::string& folder, const std::string& device) : port(freePort()) {
        config = folder + "/ser2net.yaml";
        std::ofstream(config) << "%YAML 1.1\n---\nconnection: &line1\n"
                              << "  accepter: telnet(rfc2217),tcp,127.0.0.1," << port << "\n"
                              << "  connector: serialdev," << device << ",9600n81,local\n"
                              << "  options:\n    kickolduser: true\n";
        pidFile = folder + "/ser2net.pid";
    }
    bool start() {
        child = std::make_unique<ChildProcess>(
            "ser2net", std::vector<std::string>{"-n", "-d", "-c", config, "-P", pidFile});
        return waitUntil([&] { return listening(port); });
    }
    void stop() { child->stop(SIGTERM); }
    std::string name() const { return "rfc2217://127.0.0.1:" + std::to_string(port); }

    int port;
    std::string config, pidFile;
    std::unique_ptr<ChildProcess> child;
};

TEST_F(CliNetwork, ThroughSer2netBytesPassBothWaysTheBaudRateIsTakenAndADropIsTakenUpAgain) {
    if (!onPath("ser2net")) GTEST_SKIP() << "ser2net is not installed";
    Ser2net server(dir.path().toStdString(), one.slave);
    ASSERT_TRUE(server.start());
    Linetap run({"--port1", server.name(), "--settings1", "19200,n,8,2", "--port2", two.slave,
                 "--settings2", "19200,n,8,2", "--relay", "both", "--auto"});

    // The settings reach the device behind ser2net (a pseudo-terminal keeps 8 data bits without
    // parity whatever it is asked, so the baud rate and the stop bits tell).
    const auto line = [&] {
        termios t{};
        const int fd = ::open(one.slave.c_str(), O_RDONLY | O_NOCTTY | O_NONBLOCK);
        if (fd >= 0) ::tcgetattr(fd, &t), ::close(fd);
        return std::pair(cfgetospeed(&t), (t.c_cflag & CSTOPB) != 0);
    };
    ASSERT_TRUE(run.waitFor([&] { return line() == std::pair<speed_t, bool>(B19200, true); }))
        << run.err;

    // Both ways, every byte value, IAC included.
    std::string all;
    for (int i = 0; i < 256; ++i) all += static_cast<char>(i);
    const std::string ask = "hello\xff\xff" + all, answer = all + "answer";
    // Running once a probe gets through (bytes that came while it started wait for the next).
    ASSERT_TRUE(run.waitFor([&] { return one.send("x") && (two.drain(), !two.received.empty()); }))
        << run.err;
    one.send(ask);
    ASSERT_TRUE(waitUntil([&] { return two.drain(), two.received.find(ask) != std::string::npos; }))
        << run.err;
    two.send(answer);
    ASSERT_TRUE(waitForBytes(one, answer.size())) << run.err;
    EXPECT_TRUE(one.received == answer);

    // ser2net stopped: told once; started again: the port is opened again by itself.
    server.stop();
    ASSERT_TRUE(run.waitFor([&] { return run.said("device lost") == 1; })) << run.err;
    ASSERT_TRUE(server.start());
    ASSERT_TRUE(run.waitFor([&] { return run.said("device back") == 1; })) << run.err;
    one.received.clear();
    two.received.clear();
    one.send("again");
    ASSERT_TRUE(waitForBytes(two, 5)) << run.err;
    EXPECT_EQ(two.received, "again");
    EXPECT_EQ(run.said("device lost"), 1);
    EXPECT_EQ(run.stop(SIGTERM), 0) << run.err;
}

// A pseudo-terminal pair made by socat, its two ends named by links in the test's folder: the
// program opens `dev`, the test plays the device on `far`.
struct SocatLine {
    explicit SocatLine(const std::string& folder) : dev(folder + "/dev"), far(folder + "/far") {}
    bool start() {
        child = std::make_unique<ChildProcess>(
            "socat",
            std::vector<std::string>{"pty,raw,echo=0,link=" + dev, "pty,raw,echo=0,link=" + far});
        return waitUntil([&] { return ::access(dev.c_str(), F_OK) == 0 && farFd() >= 0; });
    }
    void stop() {
        if (fd >= 0) ::close(fd);
        fd = -1;
        child->stop(SIGTERM);
    }
    int farFd() {
        if (fd < 0) fd = ::open(far.c_str(), O_RDWR | O_NOCTTY | O_NONBLOCK | O_CLOEXEC);
        return fd;
    }
    bool send(const std::string& bytes) {
        return ::write(farFd(), bytes.data(), bytes.size()) == static_cast<ssize_t>(bytes.size());
    }
    ~SocatLine() {
        if (fd >= 0) ::close(fd);
    }
    std::string dev, far;
    int fd = -1;
    std::unique_ptr<ChildProcess> child;
};

// A far end closed and opened again under its path is taken back, each time it comes back; a run
// told not to reconnect ends with status 3 when the port is lost.
TEST_F(CliNetwork, AFarEndClosedAndOpenedAgainUnderItsPathIsTakenBackUnlessReconnectingIsOff) {
    if (!onPath("socat")) GTEST_SKIP() << "socat is not installed";
    SocatLine line(dir.path().toStdString());
    ASSERT_TRUE(line.start());
    const auto relays = [&](const std::string& bytes) {
        two.received.clear();
        return line.send(bytes) && waitUntil([&] {
                   return two.drain(), two.received.find(bytes) != std::string::npos;
               });
    };
    // Running once a probe gets through (bytes that came while it started wait for the next).
    const auto started = [&](ChildProcess& run) {
        two.received.clear();
        return run.waitFor([&] { return line.send("x") && (two.drain(), !two.received.empty()); });
    };
    {
        Linetap run({"--port1", line.dev, "--port2", two.slave, "--relay", "12", "--auto"});
        ASSERT_TRUE(started(run)) << run.err;

        // Closed and opened again at once.
        line.stop();
        ASSERT_TRUE(run.waitFor([&] { return run.said("device lost") == 1; })) << run.err;
        ASSERT_TRUE(line.start());
        ASSERT_TRUE(run.waitFor([&] { return run.said("device back") == 1; })) << run.err;
        EXPECT_TRUE(relays("first return"));

        // Gone for three seconds: looked for meanwhile, back as soon as the path is.
        line.stop();
        ASSERT_TRUE(run.waitFor([&] { return run.said("device lost") == 2; })) << run.err;
        pause(3000);
        EXPECT_EQ(run.said("device back"), 1);
        EXPECT_TRUE(run.running());
        ASSERT_TRUE(line.start());
        ASSERT_TRUE(run.waitFor([&] { return run.said("device back") == 2; })) << run.err;
        EXPECT_TRUE(relays("second return"));
        EXPECT_EQ(run.stop(SIGTERM), 0) << run.err;
    }
    Linetap once(
        {"--port1", line.dev, "--port2", two.slave, "--no-reconnect", "--relay", "12", "--auto"});
    ASSERT_TRUE(started(once)) << once.err;
    line.stop();
    EXPECT_EQ(once.stop(0), 3) << once.err;
    EXPECT_EQ(once.said("device lost"), 1);
}

}  // namespace
}  // namespace lt::cli
