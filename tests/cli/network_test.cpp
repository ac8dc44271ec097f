// The built program headless on lines that go away and come back: ser2net (RFC 2217), a path.
#include <netinet/in.h>
#include <sys/socket.h>

#include <cstdio>
#include <memory>

#include "cli/cli_test.h"

namespace lt::cli {
namespace {

class CliNetwork : public CliTest {
protected:
    // `run` relays `bytes` from `from` to device two.
    bool relays(ChildProcess& run, const PtyPair& from, const std::string& bytes) {
        two.received.clear();
        return from.send(bytes) && run.waitFor([&] {
            return two.drain(), two.received.find(bytes) != std::string::npos;
        });
    }
};

// ser2net serving one's pseudo-terminal over RFC 2217 on a free port of loopback.
struct Ser2net {
    Ser2net(const std::string& folder, const std::string& device) : config(folder + "/s.yaml") {
        const int fd = ::socket(AF_INET, SOCK_STREAM, 0);
        sockaddr_in a{AF_INET, 0, {htonl(INADDR_LOOPBACK)}, {}};
        socklen_t len = sizeof a;
        ::bind(fd, reinterpret_cast<sockaddr*>(&a), len);
        ::getsockname(fd, reinterpret_cast<sockaddr*>(&a), &len);
        ::close(fd);
        port = ntohs(a.sin_port);
        std::ofstream(config) << "%YAML 1.1\n---\nconnection: &line1\n"
                              << "  accepter: telnet(rfc2217),tcp,127.0.0.1," << port << "\n"
                              << "  connector: serialdev," << device << ",9600n81,local\n"
                              << "  options:\n    kickolduser: true\n";
    }
    // Started, once it listens (read from the kernel's table, not by connecting).
    bool start() {
        child = std::make_unique<ChildProcess>(
            "ser2net", std::vector<std::string>{"-n", "-d", "-c", config, "-P", config + ".pid"});
        char wanted[32];
        std::snprintf(wanted, sizeof wanted, ":%04X 00000000:0000 0A", port);
        return waitUntil(
            [&] { return readFile("/proc/net/tcp").find(wanted) != std::string::npos; });
    }
    std::string config;
    int port;
    std::unique_ptr<ChildProcess> child;
};

TEST_F(CliNetwork, ThroughSer2netBytesPassBothWaysTheBaudRateIsTakenAndADropIsTakenUpAgain) {
    if (std::system("command -v ser2net >/dev/null 2>&1") != 0)
        GTEST_SKIP() << "ser2net is not installed";
    Ser2net server(dir.path().toStdString(), one.slave);
    ASSERT_TRUE(server.start());
    const std::string name = "rfc2217://127.0.0.1:" + std::to_string(server.port);
    Linetap run({"--port1", name, "--settings1", "19200,n,8,2", "--port2", two.slave, "--settings2",
                 "19200,n,8,2", "--relay", "both", "--auto"});

    // A pseudo-terminal keeps 8N whatever it is asked: the baud rate and stop bits tell.
    termios t{};
    ASSERT_TRUE(run.waitFor([&] {
        return ::tcgetattr(one.master, &t) == 0 && ::cfgetospeed(&t) == B19200 &&
               (t.c_cflag & CSTOPB);
    })) << run.err;

    // Every byte value both ways, IAC included, once a probe gets through.
    std::string all;
    for (int i = 0; i < 256; ++i) all += static_cast<char>(i);
    ASSERT_TRUE(run.waitFor([&] { return one.send("x") && (two.drain(), !two.received.empty()); }))
        << run.err;
    EXPECT_TRUE(relays(run, one, "hello\xff\xff" + all)) << run.err;
    ASSERT_TRUE(two.send(all + "answer"));
    ASSERT_TRUE(waitForBytes(one, all.size() + 6)) << run.err;
    EXPECT_EQ(one.received, all + "answer");

    // ser2net stopped: told once; started again: the port is opened again by itself.
    server.child->stop(SIGTERM);
    ASSERT_TRUE(run.waitFor([&] { return run.said("device lost") == 1; })) << run.err;
    ASSERT_TRUE(server.start());
    ASSERT_TRUE(run.waitFor([&] { return run.said("device back") == 1; })) << run.err;
    EXPECT_TRUE(relays(run, one, "again")) << run.err;
    EXPECT_EQ(run.said("device lost"), 1);
    EXPECT_EQ(run.stop(SIGTERM), 0) << run.err;
}

// A far end gone (socat stopped) is looked for until a pseudo-terminal comes back under its path.
TEST_F(CliNetwork, AFarEndClosedAndBackUnderItsPathIsTakenBackUnlessReconnectingIsOff) {
    const std::string path = file("dev");
    std::unique_ptr<PtyPair> far;
    const auto comeBack = [&] {
        far = std::make_unique<PtyPair>();
        return ::symlink(far->slave.c_str(), path.c_str()) == 0;
    };
    const auto go = [&] { return far->closeMaster(), ::unlink(path.c_str()) == 0; };
    ASSERT_TRUE(comeBack());
    {
        Linetap run({"--port1", path, "--port2", two.slave, "--relay", "12", "--auto"});
        ASSERT_TRUE(run.waitRunning()) << run.err;
        for (int back = 1; back <= 2; ++back) {
            SCOPED_TRACE(back);
            EXPECT_TRUE(relays(run, *far, "relayed")) << run.err;
            ASSERT_TRUE(go());
            ASSERT_TRUE(run.waitFor([&] { return run.said("device lost") == back; })) << run.err;
            if (back == 2) pause(3000);
            EXPECT_EQ(run.said("device back"), back - 1);
            EXPECT_EQ(run.said("device lost"), back) << "told once";
            ASSERT_TRUE(comeBack());
            ASSERT_TRUE(run.waitFor([&] { return run.said("device back") == back; })) << run.err;
        }
        EXPECT_TRUE(relays(run, *far, "relayed")) << run.err;
        EXPECT_EQ(run.stop(SIGTERM), 0) << run.err;
    }
    Linetap once({"--port1", path, "--port2", two.slave, "--no-reconnect", "--relay", "12"});
    ASSERT_TRUE(once.waitRunning()) << once.err;
    far->closeMaster();
    EXPECT_EQ(once.stop(0), 3) << once.err;
    EXPECT_EQ(once.said("device lost"), 1);
}

}  // namespace
}  // namespace lt::cli
