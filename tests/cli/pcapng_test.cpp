// The pcapng capture of the built program run headless (--pcap): a Modbus RTU exchange relayed
// between two pseudo-terminal pairs, read back strictly and by tshark; and a live reader on a
// named pipe that gets every packet at once, then goes away while capture goes on.
#include <gtest/gtest.h>
#include <sys/stat.h>

#include <atomic>
#include <chrono>
#include <cstdint>
#include <cstdio>
#include <mutex>
#include <sstream>
#include <string>
#include <thread>
#include <vector>

#include "cli/cli_support.h"
#include "support/pcapng_reader.h"

namespace lt::cli {
namespace {

using test::PcapngBlock;
using test::PcapngFile;
using test::readPcapng;

constexpr std::uint32_t kInterface = 1;
constexpr std::uint32_t kPacket = 6;

// CRC-16/MODBUS (polynomial 0xA001 reflected, start 0xFFFF), appended low byte first.
std::string withCrc(const std::string& frame) {
    std::uint16_t crc = 0xFFFF;
    for (unsigned char b : frame) {
        crc ^= b;
        for (int bit = 0; bit < 8; ++bit)
            crc = (crc & 1) ? static_cast<std::uint16_t>((crc >> 1) ^ 0xA001)
                            : static_cast<std::uint16_t>(crc >> 1);
    }
    return frame + static_cast<char>(crc & 0xFF) + static_cast<char>(crc >> 8);
}

std::string bytes(std::initializer_list<int> values) {
    std::string s;
    for (int v : values) s += static_cast<char>(v);
    return s;
}

// Read holding registers: `count` registers from `first` of unit `unit`.
std::string readHoldingRegisters(int unit, int first, int count) {
    return withCrc(bytes({unit, 0x03, first >> 8, first & 0xFF, count >> 8, count & 0xFF}));
}

// Its answer with the register values.
std::string registersAnswer(int unit, const std::vector<int>& values) {
    std::string frame = bytes({unit, 0x03, static_cast<int>(values.size() * 2)});
    for (int v : values) frame += bytes({v >> 8, v & 0xFF});
    return withCrc(frame);
}

std::int64_t wallMicros() {
    return std::chrono::duration_cast<std::chrono::microseconds>(
               std::chrono::system_clock::now().time_since_epoch())
        .count();
}

TEST(CliPcapng, ModbusCrcOfTheTestIsTheStandardOne) {
    EXPECT_EQ(withCrc(bytes({0x01, 0x03, 0x00, 0x00, 0x00, 0x0A})),
              bytes({0x01, 0x03, 0x00, 0x00, 0x00, 0x0A, 0xC5, 0xCD}));
    EXPECT_EQ(readHoldingRegisters(0x11, 0x006B, 3),
              bytes({0x11, 0x03, 0x00, 0x6B, 0x00, 0x03, 0x76, 0x87}));
}

// One frame as the test sent it: which far end sent it, when (wall clock, before sending), and
// when its relay had reached the other far end.
struct Sent {
    int port;
    std::string frame;
    std::int64_t before = 0, relayed = 0;
};

// A run of the program with `--pcap FILE --auto --relay both`, on which the device of port 1
// asks for registers and the device of port 2 answers, `rounds` times, with pauses well above
// the 10 ms minimum pause between the frames.
class ModbusRun {
public:
    bool ok() const { return ok_; }
    const std::string& why() const { return why_; }

    ModbusRun(const TempDir& dir, int rounds) : file(dir.file("capture.pcapng")) {
        ok_ = play(dir, rounds);
    }

    std::string file;
    PtyPair one, two;
    std::vector<Sent> sent;
    int status = -1;
    std::string err;

private:
    bool play(const TempDir& dir, int rounds) {
        if (!one.ok() || !two.ok()) return fail("no pseudo-terminal");
        Child child({"--headless", "--port1", one.slave(), "--port2", two.slave(), "--settings1",
                     "9600,n,8,1", "--settings2", "9600,n,8,1", "--pcap", file, "--auto", "--relay",
                     "both", "--rts", "both", "--dtr", "both"},
                    dir.folder("config"));
        if (!child.started()) return fail("not started");
        // The capture file is made just before capture starts.
        if (!waitUntil([&] { return readFile(file).size() > 28 || !child.running(); }, kDeadlineMs,
                       [&] { child.pump(); }) ||
            !child.waitRunning())
            return fail("not ready: " + child.err);

        std::string to1, to2;
        for (int r = 0; r < rounds; ++r) {
            const int first = 0x10 * r;
            const std::vector<int> values{0x1234 + r, 0x00FF, 0xA5A5 - r};
            for (const Sent& s : {Sent{1, readHoldingRegisters(0x11, first, 3)},
                                  Sent{2, registersAnswer(0x11, values)}}) {
                Sent done = s;
                PtyPair& from = s.port == 1 ? one : two;
                PtyPair& to = s.port == 1 ? two : one;
                std::string& expected = s.port == 1 ? to2 : to1;
                done.before = wallMicros();
                if (!from.send(s.frame)) return fail("cannot send");
                expected += s.frame;
                if (!to.waitForReceived(expected.size())) return fail("not relayed: " + child.err);
                done.relayed = wallMicros();
                if (to.received() != expected) return fail("relayed bytes differ");
                sent.push_back(done);
                std::this_thread::sleep_for(std::chrono::milliseconds(60));  // the pause
            }
        }
        child.signal(SIGTERM);
        status = child.waitExit();
        err = child.err;
        return true;
    }
    bool fail(const std::string& why) {
        why_ = why;
        return false;
    }
    bool ok_ = false;
    std::string why_;
};

TEST(CliPcapng, AModbusExchangeIsCapturedOnePacketBlockPerFrame) {
    TempDir dir;
    ASSERT_TRUE(dir.valid());
    ModbusRun run(dir, 3);
    ASSERT_TRUE(run.ok()) << run.why();
    EXPECT_EQ(run.status, 0) << run.err;
    EXPECT_EQ(run.err, "");

    const PcapngFile f = readPcapng(readFile(run.file));
    ASSERT_TRUE(f.ok()) << f.error;
    ASSERT_EQ(f.ofType(0x0A0D0D0A).size(), 1u);
    const auto interfaces = f.ofType(kInterface);
    ASSERT_EQ(interfaces.size(), 2u);
    EXPECT_EQ(interfaces[0].ifName, "port 1 (" + run.one.slave() + ")");
    EXPECT_EQ(interfaces[1].ifName, "port 2 (" + run.two.slave() + ")");
    for (const PcapngBlock& i : interfaces) {
        EXPECT_EQ(i.linkType, 147);
        EXPECT_EQ(i.tsResolution, 6);
    }

    const auto packets = f.ofType(kPacket);
    ASSERT_EQ(packets.size(), run.sent.size());
    std::uint64_t previous = 0;
    for (std::size_t i = 0; i < packets.size(); ++i) {
        SCOPED_TRACE("packet " + std::to_string(i));
        const PcapngBlock& p = packets[i];
        const Sent& s = run.sent[i];
        EXPECT_EQ(p.interfaceId, static_cast<std::uint32_t>(s.port - 1));
        EXPECT_EQ(p.data, s.frame);
        EXPECT_EQ(p.capturedLength, s.frame.size());
        EXPECT_EQ(p.originalLength, s.frame.size());
        EXPECT_GT(p.timestamp, previous) << "in order";
        previous = p.timestamp;
        // The arrival of the first byte on the wall clock: between the send and the relay, with a
        // second's leeway either side for the clocks' reading.
        const auto stamp = static_cast<std::int64_t>(p.timestamp);
        EXPECT_GT(stamp, s.before - 1'000'000);
        EXPECT_LT(stamp, s.relayed + 1'000'000);
        ASSERT_TRUE(p.flags.has_value());
        EXPECT_EQ(*p.flags & 3u, 1u) << "inbound";
        // A pseudo-terminal has no modem inputs; both outputs were left on.
        EXPECT_EQ(p.comment, "RTS=1 DTR=1 DCD=0 DSR=0 CTS=0 | RTS=1 DTR=1 DCD=0 DSR=0 CTS=0");
    }
}

TEST(CliPcapng, TsharkDecodesEveryPacketAsModbusRtu) {
    if (::access("/usr/bin/tshark", X_OK) != 0) GTEST_SKIP() << "tshark is not installed";
    TempDir dir;
    ASSERT_TRUE(dir.valid());
    ModbusRun run(dir, 3);
    ASSERT_TRUE(run.ok()) << run.why();
    ASSERT_EQ(run.status, 0) << run.err;

    // USER0 (link type 147) decoded as Modbus RTU; tshark keeps its preferences under HOME.
    const std::string command =
        "HOME='" + dir.path() + "' /usr/bin/tshark -r '" + run.file +
        "' -o 'uat:user_dlts:\"User 0 (DLT=147)\",\"mbrtu\",\"0\",\"\",\"0\",\"\"'"
        " -o mbrtu.crc_verification:TRUE"
        " -T fields -e frame.interface_id -e mbrtu.unit_id -e modbus.func_code"
        " -e mbrtu.crc16.status -e _ws.col.Info 2>'" +
        dir.file("tshark.err") + "'";
    FILE* out = ::popen(command.c_str(), "r");
    ASSERT_NE(out, nullptr);
    std::string text;
    char buf[4096];
    for (std::size_t n; (n = std::fread(buf, 1, sizeof buf, out)) > 0;) text.append(buf, n);
    ASSERT_EQ(::pclose(out), 0) << text << readFile(dir.file("tshark.err"));

    std::istringstream lines(text);
    std::vector<std::string> rows;
    for (std::string line; std::getline(lines, line);) rows.push_back(line);
    ASSERT_EQ(rows.size(), run.sent.size()) << text;
    for (std::size_t i = 0; i < rows.size(); ++i) {
        SCOPED_TRACE(rows[i]);
        std::vector<std::string> fields;
        std::istringstream row(rows[i]);
        for (std::string field; std::getline(row, field, '\t');) fields.push_back(field);
        ASSERT_EQ(fields.size(), 5u);
        EXPECT_EQ(fields[0], std::to_string(run.sent[i].port - 1)) << "interface";
        EXPECT_EQ(fields[1], "17") << "unit";
        EXPECT_EQ(fields[2], "3") << "function: read holding registers";
        EXPECT_EQ(fields[3], "1") << "CRC checked and good";
        // Port 1's device asks, port 2's answers.
        EXPECT_NE(fields[4].find(run.sent[i].port == 1 ? "Query" : "Response"), std::string::npos);
    }
}

// A reader of the named pipe: a thread that reads the blocks as they come, parses each whole
// block strictly, and closes the pipe when told.
class PipeReader {
public:
    explicit PipeReader(const std::string& path) : thread_([this, path] { run(path); }) {}
    ~PipeReader() { close(); }
    PipeReader(const PipeReader&) = delete;
    PipeReader& operator=(const PipeReader&) = delete;

    // The whole blocks read so far.
    PcapngFile file() {
        std::lock_guard<std::mutex> lock(mutex_);
        return file_;
    }
    std::size_t packets() { return file().ofType(kPacket).size(); }
    bool opened() const { return opened_; }
    // Closes the pipe and ends the thread.
    void close() {
        stop_ = true;
        if (thread_.joinable()) thread_.join();
    }

private:
    void run(const std::string& path) {
        // Without waiting for the writer: the thread can always be stopped.
        const int fd = ::open(path.c_str(), O_RDONLY | O_NONBLOCK | O_CLOEXEC);
        if (fd < 0) return;
        opened_ = true;
        std::string data;
        char buf[4096];
        while (!stop_) {
            const ssize_t n = ::read(fd, buf, sizeof buf);
            if (n <= 0) {
                std::this_thread::sleep_for(std::chrono::milliseconds(1));
                continue;
            }
            data.append(buf, static_cast<std::size_t>(n));
            // The whole blocks so far.
            std::size_t whole = 0;
            while (data.size() - whole >= 12) {
                const std::uint32_t length = test::pcapng_detail::get32(data, whole + 4);
                if (length < 12 || data.size() - whole < length) break;
                whole += length;
            }
            PcapngFile parsed = readPcapng(data.substr(0, whole));
            std::lock_guard<std::mutex> lock(mutex_);
            file_ = std::move(parsed);
        }
        ::close(fd);
    }

    std::mutex mutex_;
    PcapngFile file_;
    std::atomic<bool> stop_{false}, opened_{false};
    std::thread thread_;
};

TEST(CliPcapng, ANamedPipeGetsEachPacketAtOnceAndCaptureGoesOnWhenItsReaderLeaves) {
    TempDir dir;
    ASSERT_TRUE(dir.valid());
    PtyPair one, two;
    ASSERT_TRUE(one.ok());
    ASSERT_TRUE(two.ok());
    const std::string fifo = dir.file("live.pcapng");
    ASSERT_EQ(::mkfifo(fifo.c_str(), 0600), 0);
    const std::string records = dir.folder("records");

    PipeReader reader(fifo);
    ASSERT_TRUE(waitUntil([&] { return reader.opened(); }));
    Child child({"--headless", "--port1", one.slave(), "--port2", two.slave(), "--settings1",
                 "9600,n,8,1", "--settings2", "9600,n,8,1", "--pcap", fifo, "--record", records,
                 "--auto", "--relay", "12"},
                dir.folder("config"));
    ASSERT_TRUE(child.started());
    // The header and both interfaces come first; the record file is opened after the pipe, just
    // before capture starts.
    ASSERT_TRUE(waitUntil(
        [&] {
            return (reader.file().blocks.size() >= 3 && !onlyFileIn(records).empty()) ||
                   !child.running();
        },
        kDeadlineMs, [&] { child.pump(); }));
    ASSERT_TRUE(child.waitRunning()) << child.err;
    {
        const PcapngFile header = reader.file();
        ASSERT_TRUE(header.ok()) << header.error;
        const auto interfaces = header.ofType(kInterface);
        ASSERT_EQ(interfaces.size(), 2u);
        EXPECT_EQ(interfaces[0].ifName, "port 1 (" + one.slave() + ")");
        EXPECT_EQ(interfaces[1].ifName, "port 2 (" + two.slave() + ")");
    }

    std::vector<std::string> frames;
    for (int i = 0; i < 6; ++i) frames.push_back(readHoldingRegisters(1 + i, 0x100 * i, 2));
    std::string relayed;

    // Each packet's block reaches the reader before the next packet is sent.
    for (std::size_t i = 0; i < 3; ++i) {
        SCOPED_TRACE("frame " + std::to_string(i));
        ASSERT_TRUE(one.send(frames[i]));
        ASSERT_TRUE(waitUntil([&] { return reader.packets() >= i + 1; }, kDeadlineMs,
                              [&] { child.pump(); }))
            << "the block did not reach the reader; " << child.err;
        const PcapngFile got = reader.file();
        ASSERT_TRUE(got.ok()) << got.error;
        const auto packets = got.ofType(kPacket);
        ASSERT_EQ(packets.size(), i + 1);
        EXPECT_EQ(packets[i].interfaceId, 0u);
        EXPECT_EQ(packets[i].data, frames[i]);
        relayed += frames[i];
        ASSERT_TRUE(two.waitForReceived(relayed.size()));
        EXPECT_EQ(two.received(), relayed);
    }

    // The reader goes away; relaying and the text record go on.
    reader.close();
    for (std::size_t i = 3; i < frames.size(); ++i) {
        SCOPED_TRACE("frame " + std::to_string(i));
        std::this_thread::sleep_for(std::chrono::milliseconds(40));  // the pause between frames
        ASSERT_TRUE(one.send(frames[i]));
        relayed += frames[i];
        ASSERT_TRUE(two.waitForReceived(relayed.size())) << child.err;
        EXPECT_EQ(two.received(), relayed);
    }
    const std::string gone =
        "linetap: pcapng: " + fifo + ": the reader closed the pipe; capture goes on\n";
    EXPECT_TRUE(waitUntil([&] { return child.err.find(gone) != std::string::npos; }, kDeadlineMs,
                          [&] { child.pump(); }))
        << child.err;
    ASSERT_TRUE(child.running()) << "no SIGPIPE ended it; " << child.err;

    child.signal(SIGTERM);
    EXPECT_EQ(child.waitExit(), 0) << child.err;
    EXPECT_EQ(child.err, gone) << "told once";

    // Every frame is in the text record, in order, from port 1.
    const std::string recorded = readFile(onlyFileIn(records));
    std::size_t at = 0;
    for (const std::string& frame : frames) {
        const std::string line =
            one.slave() + ":  RTS=0 DTR=0 DCD=0 DSR=0 CTS=0   Data=" + recordHex(frame) + "\r\n";
        const std::size_t found = recorded.find(line, at);
        EXPECT_NE(found, std::string::npos) << line << "\n" << recorded;
        if (found != std::string::npos) at = found + line.size();
    }
    ASSERT_GE(recorded.size(), 4u);
    EXPECT_EQ(recorded.substr(recorded.size() - 4), "\r\n\r\n");
}

// The start waits in the opening of a named pipe until a reader comes; a SIGTERM meanwhile stops
// the program cleanly, as one while it runs does.
TEST(CliPcapng, ASignalWhileWaitingForThePipesReaderStopsCleanly) {
    TempDir dir;
    ASSERT_TRUE(dir.valid());
    PtyPair one, two;
    ASSERT_TRUE(one.ok());
    ASSERT_TRUE(two.ok());
    const std::string fifo = dir.file("nobody-reads.pcapng");
    ASSERT_EQ(::mkfifo(fifo.c_str(), 0600), 0);
    Child child(
        {"--headless", "--port1", one.slave(), "--port2", two.slave(), "--pcap", fifo, "--auto"},
        dir.folder("config"));
    ASSERT_TRUE(child.started());
    // Both ports are open: the program goes on to the pipe, where it waits for a reader.
    ASSERT_TRUE(waitUntil(
        [&] {
            return (child.hasOpen(one.slave()) && child.hasOpen(two.slave())) || !child.running();
        },
        kDeadlineMs, [&] { child.pump(); }));
    ASSERT_TRUE(child.running()) << child.err;
    child.signal(SIGTERM);
    EXPECT_EQ(child.waitExit(), 0) << child.err;
}

}  // namespace
}  // namespace lt::cli
