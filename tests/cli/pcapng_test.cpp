// The pcapng capture of the built program run headless (--pcap): a Modbus RTU exchange relayed
// between two pseudo-terminal pairs, read back strictly and by tshark; and a live reader on a
// named pipe that gets every packet at once, then goes away while capture goes on.
#include <sys/stat.h>

#include <chrono>
#include <cstdint>
#include <cstdio>
#include <thread>

#include "cli/cli_support.h"
#include "support/pcapng_reader.h"

namespace lt::cli {
namespace {

using test::PcapngFile;
using test::readPcapng;

constexpr std::uint32_t kInterface = 1, kPacket = 6;

void pause(int ms) {
    std::this_thread::sleep_for(std::chrono::milliseconds(ms));
}

// A Modbus RTU frame of `values` (bytes) with its CRC-16/MODBUS, low byte first.
std::string modbus(std::initializer_list<int> values) {
    std::string frame;
    std::uint16_t crc = 0xFFFF;
    for (int v : values) {
        frame += static_cast<char>(v);
        crc ^= static_cast<std::uint8_t>(v);
        for (int bit = 0; bit < 8; ++bit) crc = (crc & 1) ? (crc >> 1) ^ 0xA001 : crc >> 1;
    }
    return frame + static_cast<char>(crc & 0xFF) + static_cast<char>(crc >> 8);
}

// Read holding registers: `count` registers from `first` of unit `unit`.
std::string readHoldingRegisters(int unit, int first, int count) {
    return modbus({unit, 0x03, first >> 8, first & 0xFF, count >> 8, count & 0xFF});
}

std::int64_t wallMicros() {
    return std::chrono::duration_cast<std::chrono::microseconds>(
               std::chrono::system_clock::now().time_since_epoch())
        .count();
}

// One frame as the test sent it: which far end sent it, when (wall clock, before sending), and
// when its relay had reached the other far end.
struct Sent {
    int port;
    std::string frame;
    std::int64_t before = 0, relayed = 0;
};

class CliPcapng : public CliTest {};

// The device of port 1 asks unit 17 for three registers, the device of port 2 answers, three
// times, with pauses well above the 10 ms minimum; the capture holds one packet block per frame,
// which tshark decodes as Modbus RTU.
TEST_F(CliPcapng, AModbusExchangeIsCapturedOnePacketBlockPerFrameThatTsharkDecodes) {
    const std::string capture = file("capture.pcapng");
    Child child(
        on({"--pcap", capture, "--auto", "--relay", "both", "--rts", "both", "--dtr", "both"}));
    // The capture file is made just before capture starts.
    ASSERT_TRUE(child.waitFor([&] { return readFile(capture).size() > 28 || !child.running(); }));
    ASSERT_TRUE(child.waitRunning()) << child.err;
    std::vector<Sent> sent;
    for (int r = 0; r < 3; ++r) {
        const int value = 0x1234 + r;
        for (Sent s : {Sent{1, readHoldingRegisters(17, 0x10 * r, 3)},
                       Sent{2, modbus({17, 3, 6, value >> 8, value & 0xFF, 0, 0xFF, 0xA5, r})}}) {
            PtyPair& to = s.port == 1 ? two : one;
            const std::size_t relayed = to.received.size() + s.frame.size();
            s.before = wallMicros();
            ASSERT_TRUE((s.port == 1 ? one : two).send(s.frame));
            ASSERT_TRUE(waitForBytes(to, relayed)) << child.err;
            s.relayed = wallMicros();
            EXPECT_EQ(to.received.substr(relayed - s.frame.size()), s.frame);
            sent.push_back(s);
            pause(60);
        }
    }
    child.signal(SIGTERM);
    EXPECT_EQ(child.waitExit(), 0);
    EXPECT_EQ(child.err, "");

    const PcapngFile f = readPcapng(readFile(capture));
    ASSERT_TRUE(f.ok()) << f.error;
    ASSERT_EQ(f.ofType(0x0A0D0D0A).size(), 1u);
    const auto interfaces = f.ofType(kInterface);
    ASSERT_EQ(interfaces.size(), 2u);
    EXPECT_EQ(interfaces[0].ifName, "port 1 (" + one.slave + ")");
    EXPECT_EQ(interfaces[1].ifName, "port 2 (" + two.slave + ")");
    for (const auto& i : interfaces) {
        EXPECT_EQ(i.linkType, 147);
        EXPECT_EQ(i.tsResolution, 6);
    }
    const auto packets = f.ofType(kPacket);
    ASSERT_EQ(packets.size(), sent.size());
    for (std::size_t i = 0; i < packets.size(); ++i) {
        SCOPED_TRACE(i);
        const auto& p = packets[i];
        EXPECT_EQ(p.interfaceId, static_cast<std::uint32_t>(sent[i].port - 1));
        EXPECT_EQ(p.data, sent[i].frame);
        EXPECT_EQ(p.originalLength, sent[i].frame.size());
        // The arrival of the first byte on the wall clock: between the send and the relay, with a
        // second's leeway either side for the clocks' reading.
        const auto stamp = static_cast<std::int64_t>(p.timestamp);
        EXPECT_GT(stamp, sent[i].before - 1'000'000);
        EXPECT_LT(stamp, sent[i].relayed + 1'000'000);
        EXPECT_TRUE(i == 0 || p.timestamp > packets[i - 1].timestamp);
        EXPECT_EQ(p.flags.value_or(0) & 3u, 1u) << "inbound";
        // A pseudo-terminal has no modem inputs; both outputs were left on.
        EXPECT_EQ(p.comment, "RTS=1 DTR=1 DCD=0 DSR=0 CTS=0 | RTS=1 DTR=1 DCD=0 DSR=0 CTS=0");
    }

    if (::access("/usr/bin/tshark", X_OK) != 0) GTEST_SKIP() << "tshark is not installed";
    // USER0 (link type 147) decoded as Modbus RTU; tshark keeps its preferences under HOME.
    const std::string command =
        "HOME='" + dir.path().toStdString() + "' /usr/bin/tshark -r '" + capture +
        "' -o 'uat:user_dlts:\"User 0 (DLT=147)\",\"mbrtu\",\"0\",\"\",\"0\",\"\"'"
        " -o mbrtu.crc_verification:TRUE -T fields -e frame.interface_id -e mbrtu.unit_id"
        " -e modbus.func_code -e mbrtu.crc16.status -e _ws.col.Info 2>'" +
        file("tshark.err") + "'";
    FILE* out = ::popen(command.c_str(), "r");
    ASSERT_NE(out, nullptr);
    std::string text;
    for (int c; (c = std::fgetc(out)) != EOF;) text += static_cast<char>(c);
    ASSERT_EQ(::pclose(out), 0) << text << readFile(file("tshark.err"));
    // Interface, unit 17, read holding registers, CRC checked and good; port 1's device asks.
    std::string rows;
    for (const Sent& f : sent)
        rows += std::to_string(f.port - 1) + "\t17\t3\t1\t[^\n]*" +
                (f.port == 1 ? "Query" : "Response") + "[^\n]*\n";
    EXPECT_TRUE(std::regex_match(text, std::regex(rows))) << text;
}

TEST_F(CliPcapng, ANamedPipeGetsEachPacketAtOnceAndCaptureGoesOnWhenItsReaderLeaves) {
    const std::string fifo = file("live.pcapng"), records = folder("records");
    ASSERT_EQ(::mkfifo(fifo.c_str(), 0600), 0);
    // The reader opens without waiting for the writer, and reads whatever has come.
    int reader = ::open(fifo.c_str(), O_RDONLY | O_NONBLOCK | O_CLOEXEC);
    ASSERT_GE(reader, 0);
    std::string live;
    const auto read = [&] {
        char buf[4096];
        for (ssize_t n; (n = ::read(reader, buf, sizeof buf)) > 0;)
            live.append(buf, static_cast<std::size_t>(n));
        return readPcapng(live);
    };
    Child child(on({"--pcap", fifo, "--record", records, "--auto", "--relay", "12"}));
    // The header and both interfaces come first; the record file is opened after the pipe, just
    // before capture starts.
    ASSERT_TRUE(child.waitFor([&] {
        return (read().ofType(kInterface).size() == 2 && !onlyFileIn(records).empty()) ||
               !child.running();
    }));
    ASSERT_TRUE(child.waitRunning()) << child.err;

    std::string relayed, pattern;
    for (std::size_t i = 0; i < 6; ++i) {
        SCOPED_TRACE(i);
        const std::string frame = readHoldingRegisters(int(i) + 1, 0x100 * int(i), 2);
        if (i == 3) ::close(reader);  // the reader goes away
        if (i >= 3) pause(40);        // the pause between frames
        ASSERT_TRUE(one.send(frame));
        if (i < 3) {  // each packet's block reaches the reader before the next packet is sent
            PcapngFile got;
            ASSERT_TRUE(child.waitFor([&] { return (got = read()).ofType(kPacket).size() > i; }));
            ASSERT_TRUE(got.ok()) << got.error;
            ASSERT_EQ(got.ofType(kPacket).size(), i + 1);
            EXPECT_EQ(got.ofType(kPacket)[i].interfaceId, 0u);
            EXPECT_EQ(got.ofType(kPacket)[i].data, frame);
        }
        ASSERT_TRUE(waitForBytes(two, (relayed += frame).size())) << child.err;
        EXPECT_EQ(two.received, relayed);
        pattern += recordPattern(1, one, two, frame);
    }
    const std::string gone =
        "linetap: pcapng: " + fifo + ": the reader closed the pipe; capture goes on\n";
    EXPECT_TRUE(child.waitFor([&] { return child.err.find(gone) != std::string::npos; }))
        << child.err;
    ASSERT_TRUE(child.running()) << "no SIGPIPE ended it; " << child.err;
    child.signal(SIGTERM);
    EXPECT_EQ(child.waitExit(), 0);
    EXPECT_EQ(child.err, gone) << "told once";
    // Every frame is in the text record, in order, the last record whole.
    const std::string recorded = readFile(onlyFileIn(records));
    EXPECT_TRUE(std::regex_match(recorded, std::regex(pattern))) << recorded;
}

// The start waits in the opening of a named pipe until a reader comes; a SIGINT meanwhile stops
// the program cleanly, as one while it runs does.
TEST_F(CliPcapng, ASignalWhileWaitingForThePipesReaderStopsCleanly) {
    const std::string fifo = file("nobody-reads.pcapng");
    ASSERT_EQ(::mkfifo(fifo.c_str(), 0600), 0);
    Child child(on({"--pcap", fifo, "--auto"}));
    // Both ports are open: the program goes on to the pipe, where it waits for a reader.
    ASSERT_TRUE(child.waitFor([&] {
        return (child.hasOpen(one.slave) && child.hasOpen(two.slave)) || !child.running();
    }));
    ASSERT_TRUE(child.running()) << child.err;
    child.signal(SIGINT);
    EXPECT_EQ(child.waitExit(), 0) << child.err;
}

}  // namespace
}  // namespace lt::cli
