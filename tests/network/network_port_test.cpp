// The network port against a scripted RFC 2217 server on loopback, and bare TCP.
#include <gmock/gmock.h>

#include <array>

#include "comport_server.h"
#include "pty/pty_support.h"
#include "qt/qt_host.h"
#include "serial/network/network_serial_port.h"
#include "serial/send_backlog.h"

namespace lt::network {
namespace {

using pty::EventLog;
using pty::runUntil;
using test::ComPortServer;
using ::testing::HasSubstr;

// Short answer times keep the refusals quick; connecting on loopback is never slow.
constexpr NetworkSerialPort::Timing kQuick{1000, 300};

struct NetworkPort : ::testing::Test {
    void openOn(const std::string& name) {
        port.setPortName(PortName::path(name));
        port.setOpen(true);
        ASSERT_TRUE(port.isOpen());
    }
    template <class E = PortError>
    std::string refusal() {
        try {
            port.setOpen(true);
        } catch (const E& e) {
            return e.what();
        }
        return "";
    }
    QtHost host;
    NetworkSerialPort port{host, 1, kQuick};
    EventLog log{port};
    ComPortServer server;
};

TEST_F(NetworkPort, NegotiatesPurgesAndTakesSettingsAsTheServerAnswersThem) {
    ASSERT_NO_THROW(port.setLineSettings("19200,e,7,2"));
    port.setRts(true);
    openOn(server.rfc2217Name());
    EXPECT_EQ(port.lineSettings(), "19200,e,7,2");
    EXPECT_EQ(server.heard().line, (ComPortServer::Line{19200, 7, 3, 2}));

    // Notices asked for and buffers purged before the settings; flow off, RTS on, DTR off.
    const std::vector<unsigned char> codes = server.heard().commands;
    const auto at = [&](unsigned char code) {
        return std::find(codes.begin(), codes.end(), code) - codes.begin();
    };
    EXPECT_LT(at(comport::SetModemStateMask), at(comport::SetBaudRate));
    EXPECT_LT(at(comport::PurgeData), at(comport::SetBaudRate));
    ASSERT_TRUE(runUntil([&] { return server.heard().controls.size() == 4; }));
    EXPECT_EQ(server.heard().controls,
              (std::vector<int>{comport::kNoFlowControl, comport::kNoInboundFlowControl,
                                comport::kRtsOn, comport::kDtrOff}));

    port.setDtr(true);
    port.setRts(false);
    ASSERT_TRUE(runUntil([&] { return server.heard().controls.size() == 6; }));
    EXPECT_EQ(server.heard().controls[4], comport::kDtrOn);
    EXPECT_EQ(server.heard().controls[5], comport::kRtsOff);

    // Manual RTS is fine; the strobe cannot be timed across the network and is refused.
    EXPECT_EQ(port.writeCommState(CommState{RtsControl::Steady}), 0);
    EXPECT_EQ(port.writeCommState(CommState{RtsControl::Toggle}), EOPNOTSUPP);
    CommState state{RtsControl::Toggle};
    EXPECT_EQ(port.readCommState(state), 0);
    EXPECT_EQ(state.rts, RtsControl::Steady);
}

TEST_F(NetworkPort, SettingsTheServerAnswersOtherwiseOrNotAtAllAreRefusedAndThePreviousStay) {
    server.maxBaud = 57600;

    // Refused at opening: open, with what the server has, and told why.
    port.setLineSettings("115200,n,8,1");
    port.setPortName(PortName::path(server.rfc2217Name()));
    EXPECT_THAT(refusal<SettingsRefused>(), HasSubstr("it made them 9600,n,8,1"));
    EXPECT_TRUE(port.isOpen());
    EXPECT_EQ(port.lineSettings(), "9600,n,8,1");

    // Refused on the open port: the previous settings stay, on the port and on the server.
    port.setLineSettings("38400,e,8,1");
    EXPECT_THROW(port.setLineSettings("115200,o,7,2"), SettingsRefused);
    EXPECT_EQ(port.lineSettings(), "38400,e,8,1");
    EXPECT_EQ(server.heard().line, (ComPortServer::Line{38400, 8, 3, 1}));
    port.setOpen(false);

    // Reopened with refused settings: the last ones taken on this port come back.
    port.setLineSettings("230400,n,8,1");
    EXPECT_THROW(port.setOpen(true), SettingsRefused);
    EXPECT_EQ(port.lineSettings(), "38400,e,8,1");
    port.setOpen(false);

    // A server that never answers the settings refuses them after the answer time.
    ComPortServer silent(ComPortServer::Mode::SilentOnSettings);
    NetworkSerialPort other(host, 2, kQuick);
    other.setPortName(PortName::path(silent.rfc2217Name()));
    EXPECT_THROW(other.setOpen(true), SettingsRefused);
    EXPECT_TRUE(other.isOpen());
    EXPECT_THROW(other.setLineSettings("9600,n,8,1"), SettingsRefused);
}

// The inputs are set before the line event; a suspend holds back sends within the send bound.
TEST_F(NetworkPort, ServerNoticesSetTheInputsAndHoldBackWhatIsSent) {
    std::array<bool, 3> inputs{};
    port.onEvent = [&, logged = port.onEvent] {
        logged();
        inputs = {port.cts(), port.dsr(), port.dcd()};
    };
    EXPECT_THROW(port.cts(), PortError);  // closed
    openOn(server.rfc2217Name());
    EXPECT_FALSE(port.cts() || port.dsr() || port.dcd());

    server.notifyModemState(comport::kCts | comport::kDsr | 0x03);
    ASSERT_TRUE(runUntil([&] { return log.count(PortEvent::DsrChanged) == 1; }));
    EXPECT_EQ(log.count(PortEvent::CtsChanged), 1);
    EXPECT_EQ(log.count(PortEvent::DcdChanged), 0);
    EXPECT_EQ(inputs, (std::array<bool, 3>{true, true, false}));
    server.notifyModemState(comport::kDsr | comport::kDcd | 0x09);
    ASSERT_TRUE(runUntil([&] { return log.count(PortEvent::DcdChanged) == 1; }));
    EXPECT_EQ(log.count(PortEvent::CtsChanged), 2);
    EXPECT_EQ(log.count(PortEvent::DsrChanged), 1);
    EXPECT_EQ(inputs, (std::array<bool, 3>{false, true, true}));

    server.suspend(true);
    ASSERT_TRUE(runUntil([&] { return port.sendingSuspended(); }));
    port.send("held");
    port.send(std::string(SendBacklog::kBytes, 'x'));  // past the bound: dropped whole, counted
    EXPECT_EQ(port.sendsDropped(), 1u);
    port.setDtr(true);  // a command sent after the bytes reaches the server; the bytes do not
    ASSERT_TRUE(runUntil([&] { return server.heard().controls.size() == 5; }));
    EXPECT_EQ(server.heard().bytes, "");
    EXPECT_EQ(log.count(PortEvent::Sent), 0);
    server.suspend(false);
    ASSERT_TRUE(runUntil([&] { return server.heard().bytes == "held"; }));
    ASSERT_TRUE(runUntil([&] { return log.count(PortEvent::Sent) == 1; }));
    EXPECT_FALSE(port.sendingSuspended());
}

TEST_F(NetworkPort, EveryByteValuePassesBothWaysAndADropKeepsWhatCameBefore) {
    openOn(server.rfc2217Name());
    std::string all;
    for (int i = 0; i < 256; ++i) all += static_cast<char>(i);
    const std::string bytes = all + "\xff\xff\xff" + all;
    port.send(bytes);
    ASSERT_TRUE(runUntil([&] { return server.heard().bytes.size() >= bytes.size(); }));
    EXPECT_TRUE(server.heard().bytes == bytes);
    ASSERT_TRUE(runUntil([&] { return log.count(PortEvent::Sent) == 1; }));

    // The owner is told before it takes anything: a notice that finds the bytes taken is dropped.
    server.sendData(bytes);
    ASSERT_TRUE(runUntil([&] {
        return log.count(PortEvent::Received) >= 1 && port.bytesWaiting() >= bytes.size();
    }));
    server.drop();
    ASSERT_TRUE(runUntil([&] { return log.count(PortEvent::Lost) == 1; }));
    EXPECT_FALSE(port.isOpen());
    Nanos first = 0;
    EXPECT_TRUE(port.takeReceived(SerialPort::kAll, 0, 0, &first) == bytes);
    EXPECT_GT(first, 0);
    EXPECT_THROW(port.takeReceived(), PortError);
    EXPECT_THROW(port.send("x"), PortError);
}

TEST_F(NetworkPort, ServersThatRefuseOrNeverAnswerCannotBeOpened) {
    port.setPortName(PortName::path(ComPortServer().rfc2217Name()));
    EXPECT_THROW(port.setOpen(true), PortError);
    EXPECT_FALSE(port.isOpen());

    // Taken, never answered: refused after the answer time.
    ComPortServer mute(ComPortServer::Mode::Mute);
    port.setPortName(PortName::path(mute.rfc2217Name()));
    EXPECT_THAT(refusal(), HasSubstr("no answer to COM-PORT-OPTION"));
    EXPECT_FALSE(port.isOpen());
    // Its queue full, the listener drops further requests: the connection itself times out.
    std::vector<int> fillers;
    for (int i = 0; i < 8; ++i) {
        fillers.push_back(::socket(AF_INET, SOCK_STREAM | SOCK_NONBLOCK | SOCK_CLOEXEC, 0));
        sockaddr_in a{AF_INET, htons(mute.port()), {htonl(INADDR_LOOPBACK)}, {}};
        ::connect(fillers.back(), reinterpret_cast<sockaddr*>(&a), sizeof a);
    }
    port.setPortName(PortName::path(mute.tcpName()));
    EXPECT_THAT(refusal(), HasSubstr("no answer within"));
    for (int fd : fillers) ::close(fd);

    ComPortServer plain(ComPortServer::Mode::NoComPort);
    port.setPortName(PortName::path(plain.rfc2217Name()));
    EXPECT_THROW(port.setOpen(true), PortError);
    EXPECT_FALSE(port.isOpen());

    port.setPortName(PortName::path("/dev/null"));
    EXPECT_THROW(port.setOpen(true), PortError);
}

TEST_F(NetworkPort, ABareTcpStreamCarriesBytesAloneAndHoldsSettingsAndOutputs) {
    ComPortServer raw(ComPortServer::Mode::Raw);
    openOn(raw.tcpName());
    // Settings and outputs are held here, sent nowhere; the strobe is taken.
    port.setLineSettings("300,m,5,2");
    EXPECT_EQ(port.lineSettings(), "300,m,5,2");
    port.setRts(true);
    port.setDtr(true);
    EXPECT_TRUE(port.rts() && port.dtr());
    EXPECT_FALSE(port.cts() || port.dsr() || port.dcd());
    EXPECT_EQ(port.writeCommState(CommState{RtsControl::Toggle}), 0);
    // No Telnet: IAC is a byte like any other; nothing went out but the data, unescaped.
    port.send("\xff\x01\xff");
    ASSERT_TRUE(runUntil([&] { return raw.heard().bytes.size() >= 3; }));
    EXPECT_EQ(raw.heard().bytes, "\xff\x01\xff");
    raw.sendData(std::string("a\xff\x00z", 4));
    ASSERT_TRUE(runUntil([&] { return port.bytesWaiting() == 4; }));
    EXPECT_EQ(port.takeReceived(), std::string("a\xff\x00z", 4));
}

}  // namespace
}  // namespace lt::network

int main(int argc, char** argv) {
    QCoreApplication app(argc, argv);
    ::testing::InitGoogleTest(&argc, argv);
    return RUN_ALL_TESTS();
}
