// The Telnet layer alone: options, IAC escaping, messages however the stream is cut.
#include <gtest/gtest.h>

#include "serial/network/telnet_com_port.h"

namespace lt::network {
namespace {

constexpr char IAC = '\xff', WILL = '\xfb', DO = '\xfd', SB = '\xfa', SE = '\xf0';

struct Heard {
    std::string data, sent;
    std::vector<std::pair<int, std::string>> messages;
    TelnetComPort telnet{{
        [this](const char* b, std::size_t n) { data.append(b, n); },
        [this](const char* b, std::size_t n) { sent.append(b, n); },
        [this](unsigned char c, const std::string& v) { messages.emplace_back(c, v); },
        [](bool) {},
        {},
    }};
};

TEST(TelnetComPort, AsksForBinaryBothWays) {
    Heard h;
    h.telnet.start();
    EXPECT_NE(h.sent.find(std::string{IAC, WILL, 0}), std::string::npos);
    EXPECT_NE(h.sent.find(std::string{IAC, DO, 0}), std::string::npos);
}

TEST(TelnetComPort, UnescapesDataAndReadsMessagesCutAnywhere) {
    // Data with a doubled IAC, a notice, a baud answer holding an escaped 0xFF, more data.
    const std::string stream = std::string{'a', IAC, IAC, 'b', IAC, SB, 44, 107, '\x30', IAC, SE} +
                               std::string{IAC, SB, 44, 101, 0, 0, IAC, IAC, 0, IAC, SE, 'c'};
    for (std::size_t cut = 0; cut <= stream.size(); ++cut) {
        Heard h;
        h.telnet.received(stream.data(), cut);
        h.telnet.received(stream.data() + cut, stream.size() - cut);
        EXPECT_EQ(h.data, "a\377bc") << "cut at " << cut;
        ASSERT_EQ(h.messages.size(), 2u) << "cut at " << cut;
        EXPECT_EQ(h.messages[0], std::make_pair(7, std::string("\x30")));
        EXPECT_EQ(comport::fromBigEndian32(h.messages[1].second), 0xff00u);
        EXPECT_EQ(h.messages[1].first, comport::SetBaudRate);
    }
}

TEST(TelnetComPort, EscapesIacInCommandValues) {
    Heard h;
    h.telnet.command(comport::SetBaudRate, comport::bigEndian32(0xff));
    EXPECT_EQ(h.sent, std::string({IAC, SB, 44, 1, 0, 0, 0, IAC, IAC, IAC, SE}));
}

}  // namespace
}  // namespace lt::network
