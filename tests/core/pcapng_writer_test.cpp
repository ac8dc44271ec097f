// The pcapng capture: blocks byte for byte, files, writes that stop part-way, a pipe viewer.
#include "record/pcapng_writer.h"

#include <fcntl.h>
#include <gtest/gtest.h>
#include <poll.h>
#include <pthread.h>
#include <stdlib.h>
#include <sys/stat.h>
#include <unistd.h>

#include <atomic>
#include <csignal>
#include <fstream>
#include <string>
#include <thread>

#include "record/capture_file.h"
#include "settings_test_support.h"
#include "support/pcapng_reader.h"
#include "support/pty_pair.h"

namespace lt::sim {
namespace {

using test::PcapngFile;
using test::readPcapng;

const std::string kStates = "RTS=1 DTR=1 DCD=0 DSR=0 CTS=0 | RTS=0 DTR=0 DCD=0 DSR=0 CTS=0";
const std::array<std::string, 2> kDevices{"/dev/ttyUSB0", "COM1"};

// Bytes from hex digit pairs; spaces are for reading only.
std::string hex(const std::string& text) {
    std::string out;
    for (std::size_t i = 0; i < text.size(); ++i)
        if (text[i] != ' ') out += static_cast<char>(std::stoi(text.substr(i++, 2), nullptr, 16));
    return out;
}

TEST(PcapngBlocks, EachBlockKindByteForByteReadBackByTheStrictReader) {
    const std::pair<std::string, std::string> blocks[] = {
        // Type, total length 28, byte-order magic, version 1.0, section length -1, total length.
        {pcapng::sectionHeaderBlock(),
         hex("0A0D0D0A 1C000000 4D3C2B1A 01000000 FFFFFFFFFFFFFFFF 1C000000")},
        // Link type 250 (RTAC serial) or 147 (USER0), if_name padded to 16, if_tsresol 6 (us).
        {pcapng::interfaceBlock(pcapng::portInterfaceName(0, "COM1"), 250),
         hex("01000000 34000000 FA000000 00000000 02000D00") + "port 1 (COM1)" +
             hex("000000 09000100 06000000 00000000 34000000")},
        {pcapng::interfaceBlock(pcapng::portInterfaceName(1, "COM2"), 147),
         hex("01000000 34000000 93000000 00000000 02000D00") + "port 2 (COM2)" +
             hex("000000 09000100 06000000 00000000 34000000")},
        // Interface 1, the time in high and low halves, 3 bytes padded, inbound, a comment.
        {pcapng::packetBlock(1, 1700000000123456, "\x01\x02\x41", "RTS=1 DTR=0"),
         hex("06000000 40000000 01000000 240A0600 40222018 03000000 03000000 01024100 "
             "02000400 01000000 01000B00") +
             "RTS=1 DTR=0" + hex("00 00000000 40000000")},
        // No data, no comment, packets lost before this one: epb_dropcount after the flags.
        {pcapng::packetBlock(1, 7, "", "", 0x100000002),
         hex("06000000 38000000 01000000 00000000 07000000 00000000 00000000 02000400 "
             "01000000 04000800 02000000 01000000 00000000 38000000")},
    };
    std::string file;
    for (const auto& [built, golden] : blocks) {
        EXPECT_EQ(built, golden);
        file += golden;
    }
    EXPECT_TRUE(readPcapng(file).ok()) << readPcapng(file).error;
    // A comment longer than an option holds is cut back to the start of a UTF-8 character.
    const std::string cut = pcapng::packetBlock(0, 0, "", std::string(65534, 'a') + "я");
    EXPECT_EQ(cut.substr(36, 4), hex("0100FEFF"));
    EXPECT_EQ(cut.size(), 36 + 4 + 65536 + 4 + 4u);
}

// A capture file on a virtual clock whose wall clock reads 1700000000.5 s at its start.
class CaptureFileBlocks : public ::testing::Test {
protected:
    void SetUp() override {
        ASSERT_TRUE(dir.isValid());
        host.startTime = QDateTime::fromMSecsSinceEpoch(1700000000500, Qt::UTC);
        loop.runUntil(ms(1000));  // wall clock 1700000001.5 s
        capture.withoutThread();
    }
    std::string read() {
        if (OutputWriter* writer = capture.writer()) writer->writeWaiting();
        return readBytes(path);
    }

    QTemporaryDir dir;
    std::string path = dir.path().toStdString() + "/c.pcapng";
    VirtualLoop loop;
    TestHost host{loop};
    CaptureFile capture{host};
    const LineStates one{.rts = true, .dtr = true, .cts = true};  // port 1: RTS, DTR, CTS
    const LineStates two{.dcd = true, .dsr = true};               // port 2: DCD, DSR
    const std::string both = "RTS=1 DTR=1 DCD=0 DSR=0 CTS=1 | RTS=0 DTR=0 DCD=1 DSR=1 CTS=0";
};

TEST_F(CaptureFileBlocks, EachEventIsItsBlockOnItsPortWithThePortsLinesAndTheEndClosesTheRun) {
    ASSERT_TRUE(capture.open(path, kDevices));
    // A packet from 250 ms ago, a line change 1 ms ago, each line error, three lost packets.
    const Nanos now = loop.now();
    capture.write(2, now - ms(250), "\x11\x03", one, two);
    capture.lineChange(2, now - ms(1), one, two);
    for (LineError kind :
         {LineError::Framing, LineError::Parity, LineError::Overrun, LineError::Break})
        capture.lineError(1, now + us(100) * (static_cast<int>(kind) + 1), kind, one);
    capture.markLost(3, 1700000002000000);
    loop.runFor(ms(2));
    capture.close();
    EXPECT_FALSE(capture.isOpen());
    EXPECT_TRUE(host.messages.empty());

    // Interface, time, RTAC header (seconds, microseconds, event, lines, footer), comment.
    const std::tuple<int, std::int64_t, const char*, std::string> blocks[] = {
        // DATA_RX_START with port 2's DCD and DSR, then the bytes.
        {1, 1700000001250000, "6553F101 0003D090 02 06 0000 1103", both},
        {1, 1700000001499000, "6553F101 00079D38 00 06 0000", both},  // STATUS_CHANGE
        // Framing, parity, overflow, break, with port 1's CTS, RTS and DTR.
        {0, 1700000001500100, "6553F101 0007A184 07 19 0000", ""},
        {0, 1700000001500200, "6553F101 0007A1E8 08 19 0000", ""},
        {0, 1700000001500300, "6553F101 0007A24C 0A 19 0000", ""},
        {0, 1700000001500400, "6553F101 0007A2B0 09 19 0000", ""},
        // Data lost on both interfaces, told in a comment; capture complete at close.
        {0, 1700000002000000, "6553F102 00000000 05 00 0000", "3 packets lost here"},
        {1, 1700000002000000, "6553F102 00000000 05 00 0000", "3 packets lost here"},
        {0, 1700000001502000, "6553F101 0007A8F0 06 00 0000", ""},
        {1, 1700000001502000, "6553F101 0007A8F0 06 00 0000", ""},
    };
    std::string expected = pcapng::sectionHeaderBlock() +
                           pcapng::interfaceBlock("port 1 (/dev/ttyUSB0)", 250) +
                           pcapng::interfaceBlock("port 2 (COM1)", 250);
    for (const auto& [interface, micros, header, comment] : blocks)
        expected += pcapng::packetBlock(interface, micros, hex(header), comment);
    EXPECT_EQ(read(), expected);
}

TEST_F(CaptureFileBlocks, TheBareLinkCarriesPacketsOnlyAndLossesAsAnEmptyPacketWithADropCount) {
    ASSERT_TRUE(capture.open(path, kDevices, CaptureLink::Bare));
    capture.lineChange(1, loop.now(), one, two);
    capture.lineError(2, loop.now(), LineError::Break, two);
    capture.write(2, loop.now() - ms(1), "ab", one, two);
    capture.markLost(5, 1700000001500000);
    capture.close();

    const std::string expected =
        pcapng::sectionHeaderBlock() + pcapng::interfaceBlock("port 1 (/dev/ttyUSB0)", 147) +
        pcapng::interfaceBlock("port 2 (COM1)", 147) +
        pcapng::packetBlock(1, 1700000001499000, "ab", both) +
        pcapng::packetBlock(0, 1700000001500000, "", "5 packets lost here", 5);
    EXPECT_EQ(read(), expected);
}

class PcapngOnDisk : public ::testing::Test {
protected:
    void SetUp() override { ASSERT_TRUE(dir.isValid()); }
    std::string file(const std::string& name) const {
        return dir.path().toStdString() + "/" + name;
    }
    static std::string packets(const std::string& bytes) {
        const PcapngFile f = readPcapng(bytes);
        std::string seen = f.ok() ? "" : f.error;
        for (const test::PcapngBlock& b : f.blocks)
            seen += b.type == pcapng::kSectionHeaderType ? "|" : b.data;
        return seen;
    }

    static constexpr std::uint16_t kBare = pcapng::kLinkTypeUser0;
    QTemporaryDir dir;
    PcapngWriter writer;
};

TEST_F(PcapngOnDisk, APartWrittenBlockIsCutOffAndTheNextPacketFollowsTheLastWholeOne) {
    const std::string path = file("c.pcapng");
    ASSERT_TRUE(writer.open(path, kDevices, {}, kBare)) << writer.lastError();
    ASSERT_EQ(writer.writePacket(0, 10, "first", kStates), PcapngWrite::Written);
    const std::string before = readBytes(path);

    const std::string second(100, 's');
    const auto limit = before.size() + pcapng::packetBlock(1, 20, second, kStates).size() / 2;
    EXPECT_EQ(withFileSizeLimit(limit, [&] { return writer.writePacket(1, 20, second, kStates); }),
              PcapngWrite::Failed);
    EXPECT_EQ(writer.lastError(), path + ": File too large");
    EXPECT_EQ(readBytes(path), before) << "the part that got through is cut off";

    EXPECT_EQ(writer.writePacket(1, 30, "third", kStates), PcapngWrite::Written);
    EXPECT_EQ(packets(readBytes(path)), "|firstthird");
    EXPECT_EQ(writer.writePacket(2, 40, "x", ""), PcapngWrite::Failed);
    EXPECT_EQ(writer.lastError(), path + ": no port 2");
}

// A block cut short at the end (a crash while writing) goes first; a non-capture is left alone.
TEST_F(PcapngOnDisk, AFileOpenedAgainKeepsItsPacketsAndGetsANewSectionAfterThem) {
    const std::string path = file("c.pcapng");
    ASSERT_TRUE(writer.open(path, kDevices, {}, kBare)) << writer.lastError();
    ASSERT_EQ(writer.writePacket(0, 10, "first", kStates), PcapngWrite::Written);
    writer.close();
    const std::string cutShort = pcapng::packetBlock(1, 15, "never whole", kStates);
    ASSERT_TRUE(writeBytes(path, readBytes(path) + cutShort.substr(0, cutShort.size() - 4)));
    ASSERT_TRUE(writer.open(path, {"/dev/ttyUSB1", "COM2"}, {}, kBare)) << writer.lastError();
    ASSERT_EQ(writer.writePacket(1, 20, "second", kStates), PcapngWrite::Written);
    writer.close();
    ASSERT_TRUE(writer.open(path, kDevices, {}, kBare)) << writer.lastError();
    ASSERT_EQ(writer.writePacket(0, 30, "third", kStates), PcapngWrite::Written);
    EXPECT_EQ(packets(readBytes(path)), "|first|second|third");
    const PcapngFile f = readPcapng(readBytes(path));
    EXPECT_EQ(f.blocks.size() > 5 ? f.blocks[5].ifName : "", "port 1 (/dev/ttyUSB1)");

    const std::string other = file("notes.pcapng");
    ASSERT_TRUE(writeBytes(other, "notes, not a capture"));
    EXPECT_FALSE(writer.open(other, kDevices, {}, kBare));
    EXPECT_EQ(writer.lastError(),
              other + ": holds something other than a pcapng capture; left as it is");
    EXPECT_FALSE(writer.isOpen());
    EXPECT_EQ(readBytes(other), "notes, not a capture");

    // A new section that cannot be written whole leaves the capture as it was.
    const std::string before = readBytes(path);
    EXPECT_FALSE(withFileSizeLimit(before.size() + 40,
                                   [&] { return writer.open(path, kDevices, {}, kBare); }));
    EXPECT_EQ(readBytes(path), before);
}

TEST_F(PcapngOnDisk, ADeviceLostPartWayThroughABlockStopsTheCapture) {
    int far = ::posix_openpt(O_RDWR | O_NOCTTY | O_CLOEXEC);
    ASSERT_TRUE(far >= 0 && ::grantpt(far) == 0 && ::unlockpt(far) == 0);
    ASSERT_TRUE(writer.open(::ptsname(far), kDevices)) << writer.lastError();
    const auto waitForBytes = [far](int ms) {
        pollfd p{far, POLLIN, 0};
        return ::poll(&p, 1, ms) == 1;
    };
    for (char buf[4096]; waitForBytes(100) && ::read(far, buf, sizeof buf) > 0;) {
    }
    std::thread unplug([&] {
        waitForBytes(10'000);
        ::close(far);
    });
    EXPECT_EQ(writer.writePacket(0, 1, std::string(1 << 20, 'x'), kStates), PcapngWrite::Failed);
    unplug.join();
    EXPECT_FALSE(writer.isOpen());
    EXPECT_NE(writer.lastError().find("part of a block went out, so the capture stops"),
              std::string::npos)
        << writer.lastError();
}

TEST_F(PcapngOnDisk, APipeWithoutAReaderIsWaitedForAsLongAsTheCallerWants) {
    const std::string path = file("unread");
    ASSERT_EQ(::mkfifo(path.c_str(), 0600), 0);
    int asked = 0;
    EXPECT_FALSE(writer.open(path, kDevices, [&] { return ++asked < 3; }));
    EXPECT_EQ(asked, 3);
    EXPECT_EQ(writer.lastError(), path + ": no reader opened the pipe");
}

// A viewer started before the capture (`cat PIPE`, `tshark -i PIPE`) sits in its open of the
// pipe. The capture opens the pipe once and keeps it: the viewer's first read finds the header,
// not an end, and nothing is told about waiting.
TEST_F(PcapngOnDisk, AViewerAlreadyWaitingOnThePipeGetsTheWholeCapture) {
    const std::string path = file("live");
    ASSERT_EQ(::mkfifo(path.c_str(), 0600), 0);
    std::atomic<pid_t> viewerThread{0};
    std::atomic<bool> ended{false};
    std::string got;
    std::thread viewer([&] {
        viewerThread = ::gettid();
        const int fd = ::open(path.c_str(), O_RDONLY | O_CLOEXEC);  // waits for a writer
        char buf[4096];
        for (ssize_t n; fd >= 0 && (n = ::read(fd, buf, sizeof buf)) > 0;)
            got.append(buf, static_cast<std::size_t>(n));
        if (fd >= 0) ::close(fd);
        ended = true;
    });
    // Asleep in its open: before the capture begins, and after its open if that left it there.
    const auto asleep = [&] {
        std::ifstream stat("/proc/self/task/" + std::to_string(viewerThread) + "/stat");
        std::string line;
        std::getline(stat, line);
        const auto state = line.rfind(") ");
        return !ended && state != std::string::npos && line[state + 2] == 'S';
    };
    EXPECT_TRUE(test::waitUntil([&] { return viewerThread != 0 && asleep(); }));
    VirtualLoop loop;
    TestHost host{loop};
    CaptureFile capture{host};
    capture.withoutThread();
    EXPECT_TRUE(capture.open(path, kDevices, CaptureLink::Bare));
    EXPECT_TRUE(test::waitUntil([&] { return ended || asleep(); }));
    // The writer's turn opens the pipe, unless the viewer has gone already.
    if (!ended && capture.writer()) capture.writer()->writeWaiting();
    capture.write(1, loop.now(), "first", {}, {});
    capture.close();
    // A viewer still in its open (the capture never opened the pipe) is let go.
    if (const int fd = ::open(path.c_str(), O_WRONLY | O_NONBLOCK | O_CLOEXEC); fd >= 0)
        ::close(fd);
    viewer.join();
    EXPECT_EQ(packets(got), "|first");
    EXPECT_TRUE(host.messages.empty()) << host.messages.front();
}

TEST_F(PcapngOnDisk, APipeViewerGetsEachBlockAtOnceAndItsLeavingIsToldOnceWithoutASignal) {
    const std::string path = file("live");
    ASSERT_EQ(::mkfifo(path.c_str(), 0600), 0);
    // SIGPIPE at its default action and not held back: were it raised, the test program would end.
    const auto action = std::signal(SIGPIPE, SIG_DFL);
    sigset_t pipe, mask, now;
    sigemptyset(&pipe);
    sigaddset(&pipe, SIGPIPE);
    pthread_sigmask(SIG_UNBLOCK, &pipe, &mask);
    const auto blocked = [&] {
        return pthread_sigmask(SIG_BLOCK, nullptr, &now) == 0 && sigismember(&now, SIGPIPE) == 1;
    };
    int readEnd = ::open(path.c_str(), O_RDONLY | O_NONBLOCK | O_CLOEXEC);
    ASSERT_TRUE(readEnd >= 0 && writer.open(path, kDevices, {}, kBare)) << writer.lastError();
    std::string got;
    const auto arrived = [&] {
        char buf[4096];
        for (ssize_t n; (n = ::read(readEnd, buf, sizeof buf)) > 0;)
            got.append(buf, static_cast<std::size_t>(n));
        return packets(got);
    };
    EXPECT_EQ(arrived(), "|") << "the header before any packet";
    std::string sent;
    for (const std::string packet : {"a", "bcde", "fgh"}) {
        ASSERT_EQ(writer.writePacket(0, 1000, packet, kStates), PcapngWrite::Written);
        EXPECT_EQ(arrived(), "|" + (sent += packet));
    }
    ::close(readEnd);
    EXPECT_EQ(writer.writePacket(0, 2000, "after", kStates), PcapngWrite::ReaderGone);
    EXPECT_EQ(writer.lastError(), path + ": the reader closed the pipe");
    EXPECT_EQ(writer.writePacket(1, 2001, "later", kStates), PcapngWrite::NotOpen);
    EXPECT_FALSE(sigpending(&now) == 0 && sigismember(&now, SIGPIPE) == 1);
    EXPECT_FALSE(blocked()) << "the thread's signal mask is as it was";

    // Held back by the caller, with one pending from elsewhere: that one is left to its owner.
    pthread_sigmask(SIG_BLOCK, &pipe, nullptr);
    readEnd = ::open(path.c_str(), O_RDONLY | O_NONBLOCK | O_CLOEXEC);
    ASSERT_TRUE(readEnd >= 0 && writer.open(path, kDevices, {}, kBare)) << writer.lastError();
    ::close(readEnd);
    ASSERT_EQ(pthread_kill(pthread_self(), SIGPIPE), 0);
    EXPECT_EQ(writer.writePacket(1, 1, "y", kStates), PcapngWrite::ReaderGone);
    EXPECT_TRUE(blocked());
    const timespec zero{0, 0};
    EXPECT_EQ(sigtimedwait(&pipe, nullptr, &zero), SIGPIPE) << "still pending";
    pthread_sigmask(SIG_SETMASK, &mask, nullptr);
    std::signal(SIGPIPE, action);
}

}  // namespace
}  // namespace lt::sim
