#pragma once

#include <array>
#include <cstdint>
#include <functional>
#include <string>

#include "base/types.h"

namespace lt {

// The blocks of a pcapng capture of the two lines, each built whole as bytes, little-endian.
// Every port is one interface with microsecond timestamps; every framed packet is one Enhanced
// Packet Block marked inbound, with the line states as its comment. On the RTAC serial link type
// each packet's data opens with a 12-byte header (time, event, modem lines) that Wireshark
// dissects as "RTAC Serial"; on USER0 the data is the bare bytes.
namespace pcapng {

constexpr std::uint32_t kSectionHeaderType = 0x0A0D0D0A;
constexpr std::uint32_t kInterfaceType = 0x00000001;
constexpr std::uint32_t kEnhancedPacketType = 0x00000006;
constexpr std::uint32_t kByteOrderMagic = 0x1A2B3C4D;
constexpr std::uint16_t kLinkTypeUser0 = 147;
constexpr std::uint16_t kLinkTypeRtacSerial = 250;

// What a block on the RTAC serial link type stands for: the header's event byte.
enum class RtacEvent : std::uint8_t {
    StatusChange = 0,
    DataTxStart = 1,
    DataRxStart = 2,
    DataTxEnd = 3,
    DataRxEnd = 4,
    CaptureDataLost = 5,
    CaptureComplete = 6,
    FramingError = 7,
    ParityError = 8,
    SerialBreak = 9,
    SerialOverflow = 10,
};

// The header's control-line bits.
constexpr std::uint8_t kRtacCts = 0x01, kRtacDcd = 0x02, kRtacDsr = 0x04, kRtacRts = 0x08,
                       kRtacDtr = 0x10, kRtacRing = 0x20;
constexpr std::size_t kRtacHeaderBytes = 12;

// A port's lines as the header's control-line byte (the ports have no RING).
std::uint8_t rtacLines(const LineStates& lines);

// The 12-byte header: seconds and microseconds of `micros` after the Unix epoch (big-endian),
// the event, the control lines, a zero footer.
std::string rtacHeader(std::int64_t micros, RtacEvent event, std::uint8_t lines);

// The longest packet data a block can carry: its length and the block's must fit 32 bits.
constexpr std::size_t kMaxPacketBytes = 0xFFFF0000u;

// The section header that opens the file: version 1.0, section length not given (-1).
std::string sectionHeaderBlock();

// One interface description: `linkType`, no snap length, `name` as if_name, if_tsresol 6.
// A name longer than an option holds is cut at a character boundary.
std::string interfaceBlock(const std::string& name, std::uint16_t linkType);

// One received packet on interface `interfaceId`, stamped `micros` after the Unix epoch, with
// `bytes` as its data, the inbound flag and `comment` (UTF-8) as its comment; an empty comment
// is left out. A `dropCount` above 0 says how many packets were lost before this one
// (epb_dropcount). `bytes` must be at most kMaxPacketBytes long.
std::string packetBlock(std::uint32_t interfaceId, std::int64_t micros, const std::string& bytes,
                        const std::string& comment, std::uint64_t dropCount = 0);

// The interface name of port `index` (0 or 1) on `device`: "port 1 (/dev/ttyUSB0)".
std::string portInterfaceName(int index, const std::string& device);

}  // namespace pcapng

// What became of one packet handed to the writer.
enum class PcapngWrite {
    Written,     // the whole block went to the operating system
    Failed,      // not written, and nothing of it left behind in a regular file; see lastError()
    ReaderGone,  // the program reading the pipe closed it; the writer has closed (said once)
    NotOpen,     // no capture file is open (never opened, closed, or closed after ReaderGone)
};

// A pcapng capture file, or a named pipe that a live viewer reads (`wireshark -k -i PIPE`).
// Each block goes to the operating system in one write as soon as it is made, so a viewer sees
// every packet at once and a crash loses nothing already written.
//
// A regular file never ends in half a block: when a write stops part-way (a full disk, a size
// limit) the file is cut back to the end of the last whole block and the next packet is tried
// again. On a pipe the writer cannot take bytes back; once the reader has gone it stops.
//
// Writing to a pipe whose reader has gone raises no SIGPIPE: the signal is held back for the
// writing thread during the write and the one the write caused is taken off again, so the
// program needs no process-wide signal setting. A SIGPIPE that was already pending is left alone.
class PcapngWriter {
public:
    PcapngWriter() = default;
    ~PcapngWriter();
    PcapngWriter(const PcapngWriter&) = delete;
    PcapngWriter& operator=(const PcapngWriter&) = delete;

    // Creates the file at `path` (or opens the named pipe there; "-" is standard output, as for
    // tcpdump and tshark) and writes the section header and one interface of `linkType` per port,
    // named after `devices`. A file that already holds a pcapng capture keeps it and gets a new
    // section after it; one that holds anything else is refused and left as it is. Opening a named
    // pipe waits until a reader has opened it, so call it for a pipe only where waiting is
    // acceptable. On failure returns false with lastError() set, and a regular file is left as it
    // was found. `keepWaiting` is asked while a named pipe has no reader; false gives up.
    bool open(const std::string& path, const std::array<std::string, 2>& devices,
              const std::function<bool()>& keepWaiting = {},
              std::uint16_t linkType = pcapng::kLinkTypeRtacSerial);

    // Writes one packet block on `port`'s interface (0 or 1); `micros` is its wall-clock time in
    // microseconds since the Unix epoch, `data` its data as the link type has it, `comment` the
    // line states, `dropCount` the packets lost just before it.
    PcapngWrite writePacket(int port, std::int64_t micros, const std::string& data,
                            const std::string& comment, std::uint64_t dropCount = 0);
    // Writes blocks built beforehand (pcapng::packetBlock), whole, as writePacket does.
    PcapngWrite writeBlocks(const std::string& blocks);

    void close();
    bool isOpen() const { return fd_ >= 0; }

    // The path and the reason of the last failure, for a message; empty when none has happened.
    const std::string& lastError() const { return lastError_; }

private:
    enum class Outcome { Written, Failed, ReaderGone };
    Outcome writeBlock(const std::string& block);
    bool keepWhatItHolds(std::int64_t size);

    int fd_ = -1;
    bool regular_ = false;  // a regular file, which can be cut back after a part-written block
    std::int64_t end_ = 0;  // where the last whole block ends in a regular file
    std::string path_;
    std::string lastError_;
};

}  // namespace lt
