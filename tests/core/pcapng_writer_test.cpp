// The pcapng capture: its blocks byte for byte, files written and read back, a write that stops
// part-way, a live viewer on a named pipe that goes away, and tshark reading a capture.
#include "ui/pcapng_writer.h"

#include <fcntl.h>
#include <gtest/gtest.h>
#include <poll.h>
#include <pthread.h>
#include <sys/resource.h>
#include <sys/stat.h>
#include <unistd.h>

#include <chrono>
#include <condition_variable>
#include <csignal>
#include <cstdio>
#include <filesystem>
#include <fstream>
#include <iterator>
#include <mutex>
#include <sstream>
#include <thread>
#include <vector>

#include "support/pcapng_reader.h"

namespace lt {
namespace {

using namespace std::string_literals;

using test::PcapngBlock;
using test::PcapngFile;
using test::readPcapng;

const std::string kStates = "RTS=1 DTR=1 DCD=0 DSR=0 CTS=0 | RTS=0 DTR=0 DCD=0 DSR=0 CTS=0";

// Bytes from hex digit pairs; spaces are for reading only: "0A 0D" "0D 0A".
std::string hex(const std::string& text) {
    std::string digits;
    for (char c : text)
        if (c != ' ') digits += c;
    std::string out;
    for (std::size_t i = 0; i + 1 < digits.size(); i += 2)
        out += static_cast<char>(std::stoi(digits.substr(i, 2), nullptr, 16));
    return out;
}

std::string readBytes(const std::string& path) {
    std::ifstream in(path, std::ios::binary);
    return {std::istreambuf_iterator<char>(in), std::istreambuf_iterator<char>()};
}

// A fresh folder under the system's temporary one, removed with everything in it.
class TempDir {
public:
    TempDir() {
        std::string pattern = (std::filesystem::temp_directory_path() / "pcapng-XXXXXX").string();
        if (::mkdtemp(pattern.data()) != nullptr) path_ = pattern;
    }
    ~TempDir() {
        if (!path_.empty()) std::filesystem::remove_all(path_);
    }
    bool valid() const { return !path_.empty(); }
    std::string file(const std::string& name) const { return path_ + "/" + name; }

private:
    std::string path_;
};

bool sigpipePending() {
    sigset_t pending;
    sigemptyset(&pending);
    sigpending(&pending);
    return sigismember(&pending, SIGPIPE) == 1;
}

bool sigpipeBlocked() {
    sigset_t mask;
    pthread_sigmask(SIG_BLOCK, nullptr, &mask);
    return sigismember(&mask, SIGPIPE) == 1;
}

// Sets SIGPIPE's action and this thread's mask for one test and puts both back afterwards.
class SigpipeSetting {
public:
    explicit SigpipeSetting(bool blocked) {
        struct sigaction dfl {};
        dfl.sa_handler = SIG_DFL;
        sigemptyset(&dfl.sa_mask);
        sigaction(SIGPIPE, &dfl, &action_);
        sigset_t pipe;
        sigemptyset(&pipe);
        sigaddset(&pipe, SIGPIPE);
        pthread_sigmask(blocked ? SIG_BLOCK : SIG_UNBLOCK, &pipe, &mask_);
    }
    ~SigpipeSetting() {
        pthread_sigmask(SIG_SETMASK, &mask_, nullptr);
        sigaction(SIGPIPE, &action_, nullptr);
    }

private:
    struct sigaction action_ {};
    sigset_t mask_{};
};

TEST(PcapngBlocks, SectionInterfaceAndPacketBlocksByteForByte) {
    const std::string section =
        hex("0A 0D 0D 0A"              // block type: section header
            "1C 00 00 00"              // total length 28
            "4D 3C 2B 1A"              // byte-order magic
            "01 00 00 00"              // version 1.0
            "FF FF FF FF FF FF FF FF"  // section length -1: not given
            "1C 00 00 00");            // total length again
    EXPECT_EQ(pcapng::sectionHeaderBlock(), section);

    EXPECT_EQ(pcapng::portInterfaceName(0, "COM1"), "port 1 (COM1)");
    EXPECT_EQ(pcapng::portInterfaceName(1, "/dev/ttyUSB0"), "port 2 (/dev/ttyUSB0)");
    const std::string interface = hex("01 00 00 00"     // block type: interface description
                                      "34 00 00 00"     // total length 52
                                      "93 00 00 00"     // link type 147, reserved
                                      "00 00 00 00"     // snap length: none
                                      "02 00 0D 00") +  // if_name, 13 bytes
                                  "port 1 (COM1)" +     //
                                  hex("00 00 00"        // padding to 16
                                      "09 00 01 00"     // if_tsresol, 1 byte
                                      "06 00 00 00"     // 10^-6 s, padding
                                      "00 00 00 00"     // end of options
                                      "34 00 00 00");   // total length again
    EXPECT_EQ(pcapng::interfaceBlock("port 1 (COM1)"), interface);

    // 1700000000123456 us = 0x00060A24'18202240.
    const std::string packet = hex("06 00 00 00"     // block type: enhanced packet
                                   "40 00 00 00"     // total length 64
                                   "01 00 00 00"     // interface 1
                                   "24 0A 06 00"     // timestamp, high 32 bits
                                   "40 22 20 18"     // timestamp, low 32 bits
                                   "03 00 00 00"     // captured length
                                   "03 00 00 00"     // original length
                                   "01 02 41 00"     // data, padding to 4
                                   "02 00 04 00"     // epb_flags, 4 bytes
                                   "01 00 00 00"     // inbound
                                   "01 00 0B 00") +  // comment, 11 bytes
                               "RTS=1 DTR=0" +       //
                               hex("00"              // padding to 12
                                   "00 00 00 00"     // end of options
                                   "40 00 00 00");   // total length again
    EXPECT_EQ(
        pcapng::packetBlock(1, 1700000000123456, std::string("\x01\x02\x41", 3), "RTS=1 DTR=0"),
        packet);

    // An empty packet with no comment: no data, no padding, no comment option.
    const std::string bare =
        hex("06 00 00 00"    // block type: enhanced packet
            "2C 00 00 00"    // total length 44
            "00 00 00 00"    // interface 0
            "00 00 00 00"    // timestamp, high
            "07 00 00 00"    // timestamp, low
            "00 00 00 00"    // captured length
            "00 00 00 00"    // original length
            "02 00 04 00"    // epb_flags, 4 bytes
            "01 00 00 00"    // inbound
            "00 00 00 00"    // end of options
            "2C 00 00 00");  // total length again
    EXPECT_EQ(pcapng::packetBlock(0, 7, "", ""), bare);
}

TEST(PcapngBlocks, OverlongTextIsCutAtACharacterBoundary) {
    // Two-byte characters: 65535 bytes would end inside one, so 65534 are kept.
    std::string name;
    while (name.size() < 70000) name += "\xC3\xA9";
    const PcapngFile file = readPcapng(pcapng::sectionHeaderBlock() + pcapng::interfaceBlock(name) +
                                       pcapng::packetBlock(0, 1, "x", name));
    ASSERT_TRUE(file.ok()) << file.error;
    ASSERT_EQ(file.blocks.size(), 3u);
    const std::string kept = name.substr(0, 65534);
    ASSERT_TRUE(file.blocks[1].ifName.has_value());
    EXPECT_EQ(file.blocks[1].ifName->size(), kept.size());
    EXPECT_TRUE(*file.blocks[1].ifName == kept);
    ASSERT_TRUE(file.blocks[2].comment.has_value());
    EXPECT_EQ(file.blocks[2].comment->size(), kept.size());
    EXPECT_TRUE(*file.blocks[2].comment == kept);
    // Plain ASCII is cut at the most an option holds.
    const PcapngFile ascii = readPcapng(pcapng::sectionHeaderBlock() + pcapng::interfaceBlock("p") +
                                        pcapng::packetBlock(0, 1, "", std::string(70000, 'c')));
    ASSERT_TRUE(ascii.ok()) << ascii.error;
    ASSERT_EQ(ascii.blocks.size(), 3u);
    EXPECT_EQ(ascii.blocks[2].comment.value_or("").size(), 65535u);
}

TEST(PcapngReader, RefusesEveryCutOffOrDamagedFile) {
    const std::string header = pcapng::sectionHeaderBlock() + pcapng::interfaceBlock("p");
    const std::string packet = pcapng::packetBlock(0, 5, "abcde", "c");
    const std::string whole = header + packet;
    ASSERT_TRUE(readPcapng(whole).ok()) << readPcapng(whole).error;

    // Every cut inside a block is refused; a cut between blocks is a shorter, valid file.
    for (std::size_t n = 0; n < whole.size(); ++n) {
        const bool between = n == pcapng::sectionHeaderBlock().size() || n == header.size();
        EXPECT_EQ(readPcapng(whole.substr(0, n)).ok(), between) << "cut at " << n;
    }

    auto changed = [&](std::size_t at, char to) {
        std::string s = whole;
        s[at] = to;
        return readPcapng(s);
    };
    const std::size_t p = header.size();
    EXPECT_FALSE(changed(whole.size() - 4, 0x7F).ok()) << "trailing length differs";
    EXPECT_FALSE(changed(p + 4, static_cast<char>(packet.size() + 4)).ok()) << "length too long";
    EXPECT_FALSE(changed(p + 4, static_cast<char>(packet.size() - 2)).ok()) << "unaligned length";
    EXPECT_FALSE(changed(p + 8, 1).ok()) << "no interface 1 described";
    EXPECT_FALSE(changed(p + 8 + 20 + 5, 'x').ok()) << "packet padding not zero";
    EXPECT_FALSE(changed(0, 0x0B).ok()) << "no section header first";
    EXPECT_FALSE(changed(8, 0x4C).ok()) << "byte-order magic";
    EXPECT_FALSE(readPcapng(whole + "\0\0\0\0"s).ok()) << "bytes after the last block";
}

TEST(PcapngFile, TwoPortsAndTheirPacketsReadBack) {
    TempDir dir;
    ASSERT_TRUE(dir.valid());
    const std::string path = dir.file("capture.pcapng");
    ASSERT_TRUE(std::ofstream(path) << "old contents, longer than nothing");

    struct Sent {
        int port;
        std::int64_t micros;
        std::string bytes;
        std::string comment;
    };
    const std::vector<Sent> sent = {
        {0, 1700000000000000, "", kStates},
        {1, 1700000000000250, "\x7F",
         "RTS=0 DTR=0 DCD=1 DSR=1 CTS=1 | RTS=1 DTR=1 DCD=0 DSR=0 CTS=0"},
        {0, 1700000000001000, std::string("\x00\xFF\x10", 3), kStates},
        {1, 1700000005000000, "ABCD", "é ü"},
        {0, 1700000005000001, "hello", kStates},
    };
    PcapngWriter writer;
    EXPECT_FALSE(writer.isOpen());
    ASSERT_TRUE(writer.open(path, {"/dev/ttyUSB0", "COM1"})) << writer.lastError();
    EXPECT_TRUE(writer.isOpen());
    for (const Sent& s : sent)
        EXPECT_EQ(writer.writePacket(s.port, s.micros, s.bytes, s.comment), PcapngWrite::Written);
    // Each block is in the file as soon as it is written, before the writer closes.
    const PcapngFile live = readPcapng(readBytes(path));
    EXPECT_TRUE(live.ok()) << live.error;
    EXPECT_EQ(live.blocks.size(), 3 + sent.size());
    writer.close();
    EXPECT_FALSE(writer.isOpen());
    EXPECT_EQ(writer.writePacket(0, 1, "late", ""), PcapngWrite::NotOpen);
    EXPECT_TRUE(writer.lastError().empty()) << writer.lastError();

    const PcapngFile file = readPcapng(readBytes(path));
    ASSERT_TRUE(file.ok()) << file.error;
    ASSERT_EQ(file.blocks.size(), 3 + sent.size());

    const PcapngBlock& shb = file.blocks[0];
    EXPECT_EQ(shb.type, pcapng::kSectionHeaderType);
    EXPECT_EQ(shb.major, 1);
    EXPECT_EQ(shb.minor, 0);
    EXPECT_EQ(shb.sectionLength, -1);

    const auto interfaces = file.ofType(pcapng::kInterfaceType);
    ASSERT_EQ(interfaces.size(), 2u);
    EXPECT_EQ(interfaces[0].ifName, "port 1 (/dev/ttyUSB0)");
    EXPECT_EQ(interfaces[1].ifName, "port 2 (COM1)");
    for (const PcapngBlock& idb : interfaces) {
        EXPECT_EQ(idb.linkType, 147);
        EXPECT_EQ(idb.snapLength, 0u);
        EXPECT_EQ(idb.tsResolution, 6);
        EXPECT_TRUE(idb.endOfOptions);
    }

    const auto packets = file.ofType(pcapng::kEnhancedPacketType);
    ASSERT_EQ(packets.size(), sent.size());
    for (std::size_t i = 0; i < sent.size(); ++i) {
        SCOPED_TRACE("packet " + std::to_string(i));
        const PcapngBlock& epb = packets[i];
        EXPECT_EQ(epb.interfaceId, static_cast<std::uint32_t>(sent[i].port));
        EXPECT_EQ(epb.timestamp, static_cast<std::uint64_t>(sent[i].micros));
        EXPECT_EQ(epb.capturedLength, sent[i].bytes.size());
        EXPECT_EQ(epb.originalLength, sent[i].bytes.size());
        EXPECT_EQ(epb.data, sent[i].bytes);
        EXPECT_EQ(epb.flags, 0x1u);
        EXPECT_EQ(epb.comment, sent[i].comment);
        EXPECT_TRUE(epb.endOfOptions);
        if (i > 0) {
            EXPECT_GT(epb.timestamp, packets[i - 1].timestamp);
        }
    }
}

TEST(PcapngFile, PartWrittenBlockIsCutOffAndTheNextPacketIsWrittenWhole) {
    TempDir dir;
    ASSERT_TRUE(dir.valid());
    const std::string path = dir.file("c.pcapng");
    PcapngWriter writer;
    ASSERT_TRUE(writer.open(path, {"COM1", "COM2"})) << writer.lastError();
    ASSERT_EQ(writer.writePacket(0, 10, "first", kStates), PcapngWrite::Written);
    const std::string before = readBytes(path);

    // A size limit halfway into the next block: write gives a short count, then refuses.
    const std::string second(100, 's');
    const std::size_t limit =
        before.size() + pcapng::packetBlock(1, 20, second, kStates).size() / 2;
    rlimit old{};
    ASSERT_EQ(getrlimit(RLIMIT_FSIZE, &old), 0);
    auto previous = std::signal(SIGXFSZ, SIG_IGN);
    rlimit small = old;
    small.rlim_cur = limit;
    ASSERT_EQ(setrlimit(RLIMIT_FSIZE, &small), 0);
    const PcapngWrite refused = writer.writePacket(1, 20, second, kStates);
    setrlimit(RLIMIT_FSIZE, &old);
    std::signal(SIGXFSZ, previous);

    EXPECT_EQ(refused, PcapngWrite::Failed);
    EXPECT_EQ(writer.lastError(), path + ": File too large");
    EXPECT_TRUE(writer.isOpen());
    EXPECT_FALSE(writer.readerGone());
    EXPECT_EQ(readBytes(path), before) << "the part that got through is cut off";

    // The next packet follows the last whole block directly, with no gap where the cut part was.
    EXPECT_EQ(writer.writePacket(1, 30, "third", kStates), PcapngWrite::Written);
    const PcapngFile file = readPcapng(readBytes(path));
    ASSERT_TRUE(file.ok()) << file.error;
    const auto packets = file.ofType(pcapng::kEnhancedPacketType);
    ASSERT_EQ(packets.size(), 2u);
    EXPECT_EQ(packets[0].data, "first");
    EXPECT_EQ(packets[1].data, "third");
    EXPECT_EQ(packets[1].interfaceId, 1u);
    EXPECT_EQ(writer.writePacket(2, 40, "x", ""), PcapngWrite::Failed) << "there is no port 3";
    EXPECT_EQ(writer.lastError(), path + ": no port 2");
}

TEST(PcapngFile, OpenFailuresAreReportedWithThePath) {
    TempDir dir;
    ASSERT_TRUE(dir.valid());
    PcapngWriter writer;
    // A full disk refuses the header: no capture is open.
    EXPECT_FALSE(writer.open("/dev/full", {"COM1", "COM2"}));
    EXPECT_FALSE(writer.isOpen());
    EXPECT_EQ(writer.lastError(), "/dev/full: No space left on device");
    EXPECT_EQ(writer.writePacket(0, 1, "x", ""), PcapngWrite::NotOpen);

    const std::string missing = dir.file("no/such/c.pcapng");
    EXPECT_FALSE(writer.open(missing, {"COM1", "COM2"}));
    EXPECT_EQ(writer.lastError(), missing + ": No such file or directory");
    EXPECT_FALSE(writer.open("", {"COM1", "COM2"}));
    EXPECT_FALSE(writer.lastError().empty());

    // A header the size limit cuts off leaves the file empty.
    const std::string path = dir.file("c.pcapng");
    rlimit old{};
    ASSERT_EQ(getrlimit(RLIMIT_FSIZE, &old), 0);
    auto previous = std::signal(SIGXFSZ, SIG_IGN);
    rlimit small = old;
    small.rlim_cur = 40;
    ASSERT_EQ(setrlimit(RLIMIT_FSIZE, &small), 0);
    const bool opened = writer.open(path, {"COM1", "COM2"});
    setrlimit(RLIMIT_FSIZE, &old);
    std::signal(SIGXFSZ, previous);
    EXPECT_FALSE(opened);
    EXPECT_EQ(writer.lastError(), path + ": File too large");
    EXPECT_EQ(readBytes(path), "");

    ASSERT_TRUE(writer.open(path, {"COM1", "COM2"}));
    EXPECT_TRUE(writer.lastError().empty()) << "a new capture starts with no failure";
}

// A viewer on the read end of a named pipe: a thread collecting what arrives until it holds
// `wanted` blocks, then closing its end as a viewer that is shut does.
class PipeViewer {
public:
    PipeViewer(int fd, std::size_t wanted) : fd_(fd), wanted_(wanted) {
        thread_ = std::thread([this] { run(); });
    }
    ~PipeViewer() {
        if (thread_.joinable()) thread_.join();
    }

    // Waits until the viewer has `count` whole blocks and returns what it has then.
    PcapngFile waitForBlocks(std::size_t count) {
        std::unique_lock lock(mutex_);
        changed_.wait_for(lock, std::chrono::seconds(5),
                          [&] { return readPcapng(got_).blocks.size() >= count || done_; });
        return readPcapng(got_);
    }
    void waitClosed() { thread_.join(); }

private:
    void run() {
        char buf[4096];
        for (;;) {
            pollfd p{fd_, POLLIN, 0};
            if (::poll(&p, 1, 5000) <= 0) break;
            const ssize_t n = ::read(fd_, buf, sizeof buf);
            if (n <= 0) break;
            std::lock_guard lock(mutex_);
            got_.append(buf, static_cast<std::size_t>(n));
            const bool enough = readPcapng(got_).blocks.size() >= wanted_;
            changed_.notify_all();
            if (enough) break;
        }
        ::close(fd_);
        std::lock_guard lock(mutex_);
        done_ = true;
        changed_.notify_all();
    }

    int fd_;
    std::size_t wanted_;
    std::mutex mutex_;
    std::condition_variable changed_;
    std::string got_;
    bool done_ = false;
    std::thread thread_;
};

// Opens the read end of the named pipe at `path` without waiting for a writer, so the writer's
// open that follows finds its reader there.
int openReadEnd(const std::string& path) {
    const int fd = ::open(path.c_str(), O_RDONLY | O_NONBLOCK | O_CLOEXEC);
    if (fd >= 0) ::fcntl(fd, F_SETFL, ::fcntl(fd, F_GETFL) & ~O_NONBLOCK);
    return fd;
}

TEST(PcapngPipe, ViewerSeesEachBlockBeforeTheNextAndItsLeavingIsReportedOnce) {
    TempDir dir;
    ASSERT_TRUE(dir.valid());
    const std::string path = dir.file("live");
    ASSERT_EQ(::mkfifo(path.c_str(), 0600), 0);
    // SIGPIPE at its default action and not blocked: were it raised, the test program would end.
    SigpipeSetting setting(false);

    const int readEnd = openReadEnd(path);
    ASSERT_GE(readEnd, 0);
    PcapngWriter writer;
    ASSERT_TRUE(writer.open(path, {"/dev/ttyS0", "/dev/ttyS1"})) << writer.lastError();
    const std::vector<std::string> packets = {"a", "bcde", std::string(300, 'z')};
    PipeViewer viewer(readEnd, 3 + packets.size());

    // The header arrives whole before any packet is written.
    PcapngFile seen = viewer.waitForBlocks(3);
    ASSERT_TRUE(seen.ok()) << seen.error;
    ASSERT_EQ(seen.blocks.size(), 3u);
    EXPECT_EQ(seen.blocks[2].ifName, "port 2 (/dev/ttyS1)");

    for (std::size_t i = 0; i < packets.size(); ++i) {
        const int port = static_cast<int>(i % 2);
        ASSERT_EQ(
            writer.writePacket(port, 1000 + static_cast<std::int64_t>(i), packets[i], kStates),
            PcapngWrite::Written);
        seen = viewer.waitForBlocks(4 + i);
        ASSERT_TRUE(seen.ok()) << seen.error;
        ASSERT_EQ(seen.blocks.size(), 4 + i) << "packet " << i << " reached the viewer at once";
        EXPECT_EQ(seen.blocks.back().data, packets[i]);
        EXPECT_EQ(seen.blocks.back().interfaceId, static_cast<std::uint32_t>(port));
    }

    viewer.waitClosed();
    EXPECT_EQ(writer.writePacket(0, 2000, "after", kStates), PcapngWrite::ReaderGone);
    EXPECT_TRUE(writer.readerGone());
    EXPECT_FALSE(writer.isOpen());
    EXPECT_EQ(writer.lastError(), path + ": the reader closed the pipe");
    EXPECT_EQ(writer.writePacket(1, 2001, "later", kStates), PcapngWrite::NotOpen)
        << "the reader's leaving is reported once";
    EXPECT_TRUE(writer.readerGone());
    EXPECT_FALSE(sigpipePending());
    EXPECT_FALSE(sigpipeBlocked()) << "the thread's signal mask is as it was";
}

TEST(PcapngPipe, OnlyTheWritersOwnSigpipeIsTakenOff) {
    TempDir dir;
    ASSERT_TRUE(dir.valid());
    const std::string path = dir.file("live");
    ASSERT_EQ(::mkfifo(path.c_str(), 0600), 0);
    // The caller holds SIGPIPE back itself; the writer leaves it held back.
    SigpipeSetting setting(true);

    auto openThenLoseReader = [&](PcapngWriter& writer) {
        const int readEnd = openReadEnd(path);
        if (readEnd < 0) return false;
        const bool opened = writer.open(path, {"COM1", "COM2"});
        ::close(readEnd);
        return opened;
    };

    // Nothing pending before: the signal the failed write raised does not stay behind.
    PcapngWriter first;
    ASSERT_TRUE(openThenLoseReader(first)) << first.lastError();
    EXPECT_EQ(first.writePacket(0, 1, "x", kStates), PcapngWrite::ReaderGone);
    EXPECT_FALSE(sigpipePending());
    EXPECT_TRUE(sigpipeBlocked());

    // A SIGPIPE pending from elsewhere is still pending for its owner after the write.
    PcapngWriter second;
    ASSERT_TRUE(openThenLoseReader(second)) << second.lastError();
    ASSERT_EQ(pthread_kill(pthread_self(), SIGPIPE), 0);
    EXPECT_EQ(second.writePacket(1, 1, "y", kStates), PcapngWrite::ReaderGone);
    EXPECT_TRUE(sigpipePending());
    EXPECT_TRUE(sigpipeBlocked());
    sigset_t pipe;
    sigemptyset(&pipe);
    sigaddset(&pipe, SIGPIPE);
    const timespec now{0, 0};
    EXPECT_EQ(sigtimedwait(&pipe, nullptr, &now), SIGPIPE);
}

TEST(PcapngTshark, ReadsEveryPacketOnItsInterface) {
    if (::access("/usr/bin/tshark", X_OK) != 0) GTEST_SKIP() << "tshark is not installed";
    TempDir dir;
    ASSERT_TRUE(dir.valid());
    const std::string path = dir.file("c.pcapng");
    PcapngWriter writer;
    ASSERT_TRUE(writer.open(path, {"/dev/ttyUSB0", "COM2"})) << writer.lastError();
    const std::vector<std::pair<int, std::string>> sent = {
        {0, "A"}, {1, ""}, {1, "xyz"}, {0, "1234"}, {1, "12345"}, {0, std::string(70, 'q')}};
    std::int64_t micros = 1700000000000000;
    for (const auto& [port, bytes] : sent) {
        ASSERT_EQ(writer.writePacket(port, micros, bytes, kStates), PcapngWrite::Written);
        micros += 1500;
    }
    writer.close();

    const std::string command = "/usr/bin/tshark -r '" + path +
                                "' -T fields -e frame.interface_id -e frame.len"
                                " -e frame.interface_name -e frame.time_epoch"
                                " -e frame.packet_flags_direction -e frame.comment 2>/dev/null";
    FILE* out = ::popen(command.c_str(), "r");
    ASSERT_NE(out, nullptr);
    std::string text;
    char buf[4096];
    while (const std::size_t n = std::fread(buf, 1, sizeof buf, out)) text.append(buf, n);
    ASSERT_EQ(::pclose(out), 0) << text;

    std::string expected;
    micros = 1700000000000000;
    for (const auto& [port, bytes] : sent) {
        const std::string name = port == 0 ? "port 1 (/dev/ttyUSB0)" : "port 2 (COM2)";
        char stamp[32];
        std::snprintf(stamp, sizeof stamp, "%lld.%06lld000",
                      static_cast<long long>(micros / 1000000),
                      static_cast<long long>(micros % 1000000));
        expected += std::to_string(port) + "\t" + std::to_string(bytes.size()) + "\t" + name +
                    "\t" + stamp + "\t0x00000001\t" + kStates + "\n";
        micros += 1500;
    }
    EXPECT_EQ(text, expected);
}

}  // namespace
}  // namespace lt
