// The pcapng capture: its blocks byte for byte, files written and read back, a write that stops
// part-way.
#include "ui/pcapng_writer.h"

#include <gtest/gtest.h>
#include <sys/resource.h>
#include <unistd.h>

#include <csignal>
#include <filesystem>
#include <fstream>
#include <iterator>
#include <sstream>
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

}  // namespace
}  // namespace lt
