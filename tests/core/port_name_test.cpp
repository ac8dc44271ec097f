// Port names, network ones among them, and the port that opens the backend its name calls for.
#include <gtest/gtest.h>

#include "serial/named_port.h"
#include "sim/sim_line.h"
#include "sim/test_host.h"

namespace lt {
namespace {

using Kind = NetworkAddress::Kind;

TEST(PortNames, NetworkNamesAreTakenWithTheirHostAndPort) {
    const std::pair<std::string, NetworkAddress> taken[] = {
        {"rfc2217://127.0.0.1:3001", {Kind::Rfc2217, "127.0.0.1", 3001}},
        {"tcp://plc-7.lab:1", {Kind::Tcp, "plc-7.lab", 1}},
        {"tcp://[fe80::1]:65535", {Kind::Tcp, "fe80::1", 65535}},
    };
    for (const auto& [text, address] : taken) {
        EXPECT_EQ(parseNetworkAddress(text), address) << text;
        EXPECT_TRUE(parsePortName(text)) << text;
    }
    // An IPv6 address goes in brackets. None of these names a line at all.
    for (const char* text :
         {"rfc2217://host", "rfc2217://:3001", "rfc2217://host:0", "rfc2217://host:65536",
          "rfc2217://host:30x", "tcp://fe80::1:80", "tcp://[]:80", "tcp://user@host:80",
          "udp://host:80", "RFC2217://host:80"}) {
        EXPECT_EQ(parseNetworkAddress(text), std::nullopt) << text;
        EXPECT_FALSE(parsePortName(text)) << text;
    }
    EXPECT_EQ(parseNetworkAddress("/dev/ttyUSB0"), std::nullopt);
    EXPECT_TRUE(parsePortName("/dev/ttyUSB0"));
    const auto name = parsePortName("  tcp://h:9 ");
    ASSERT_TRUE(name);
    EXPECT_EQ(name->recordLabel(), "tcp://h:9");
}

// Two simulated backends stand in for the local and the network one.
struct Routed : ::testing::Test {
    sim::VirtualLoop loop;
    sim::TestHost host{loop};
    sim::SimLine local{loop, 1}, network{loop, 1};
    NamedPort port{host, local, network};
};

TEST_F(Routed, EachOpeningUsesTheBackendItsNameCallsForWithTheSettingsAndOutputsHeld) {
    std::vector<PortEvent> events;
    port.onEvent = [&] { events.push_back(port.event()); };
    port.setLineSettings("19200,e,7,2");
    port.setRts(true);
    port.limitBacklog(16);

    host.env["LINETAP_COM1"] = "rfc2217://10.1.1.1:3001";
    port.setPortName(PortName::number(1));
    port.setOpen(true);
    EXPECT_EQ(&port.active(), &network);
    EXPECT_TRUE(network.isOpen());
    EXPECT_FALSE(local.isOpen());
    EXPECT_EQ(network.lineSettings(), "19200,e,7,2");
    EXPECT_TRUE(network.rts());
    network.peerSend(std::string(40, 'x'));
    loop.runFor(sim::ms(100));
    EXPECT_EQ(port.bytesWaiting(), 16u) << "the backlog limit moved along";

    // Changed while open on the network, then a local device: the settings move back.
    port.setLineSettings("9600,n,8,1");
    port.setDtr(true);
    port.setOpen(false);
    port.setPortName(PortName::path("/dev/ttyUSB3"));
    EXPECT_EQ(local.portName(), PortName::path("/dev/ttyUSB3"));
    port.setOpen(true);
    EXPECT_EQ(&port.active(), &local);
    EXPECT_EQ(local.lineSettings(), "9600,n,8,1");
    EXPECT_TRUE(local.rts() && local.dtr());

    // Only the backend in use speaks for the port.
    events.clear();
    network.peerSetRts(true);
    loop.runFor(sim::ms(10));
    EXPECT_TRUE(events.empty());
    local.peerSetRts(true);
    loop.runFor(sim::ms(10));
    EXPECT_EQ(events, std::vector<PortEvent>{PortEvent::CtsChanged});
    EXPECT_TRUE(port.cts());
    // Its line errors and the sends it drops past its bound come through too.
    local.peerLineError(LineError::Parity);
    EXPECT_EQ(port.takeLineErrors().size(), 1u);
    local.boundSends(4);
    port.send("abcd");
    port.send("e");
    EXPECT_EQ(port.sendsDropped(), 1u);
}

}  // namespace
}  // namespace lt
