#pragma once

// Reads a little-endian pcapng file back into its blocks for the tests, strictly: the lengths at
// both ends of a block agree, everything is 32-bit aligned with zero padding, options end inside
// their block, the file opens with a section header and a packet names an interface already
// described. On the RTAC serial link type (250) a packet's data opens with the whole 12-byte
// header: its time is the block's, its event one of the eleven, its control lines within the six
// bits and its footer zero. Anything else, a cut-off file included, is an error.

#include <cstdint>
#include <optional>
#include <string>
#include <vector>

namespace lt::test {

struct PcapngOption {
    std::uint16_t code = 0;
    std::string value;
};

// The RTAC serial header of a packet and the bytes after it.
struct RtacHeader {
    std::uint32_t seconds = 0, micros = 0;
    std::uint8_t event = 0, lines = 0;
    std::string payload;
};

struct PcapngBlock {
    std::uint32_t type = 0, totalLength = 0;
    std::vector<PcapngOption> options;  // in file order, the end-of-options marker left out
    bool endOfOptions = false;          // whether the options closed with the marker
    std::uint32_t magic = 0;
    std::uint16_t major = 0, minor = 0;
    std::int64_t sectionLength = 0;
    std::uint16_t linkType = 0;
    std::uint32_t snapLength = 0;
    std::optional<std::string> ifName;
    std::optional<std::uint8_t> tsResolution;
    std::uint32_t interfaceId = 0, capturedLength = 0, originalLength = 0;
    std::uint64_t timestamp = 0;
    std::string data;
    std::optional<std::uint32_t> flags;
    std::optional<std::string> comment;
    std::optional<std::uint64_t> dropCount;
    std::uint16_t packetLinkType = 0;  // a packet's: the link type of its interface
    std::optional<RtacHeader> rtac;    // a packet on an RTAC serial interface
};

struct PcapngFile {
    std::vector<PcapngBlock> blocks;
    std::string error;  // empty when the whole file was read
    bool ok() const { return error.empty(); }
    std::vector<PcapngBlock> ofType(std::uint32_t type) const {
        std::vector<PcapngBlock> out;
        for (const PcapngBlock& b : blocks)
            if (b.type == type) out.push_back(b);
        return out;
    }
};

inline PcapngFile readPcapng(const std::string& bytes) {
    PcapngFile file;
    std::size_t at = 0;
    std::vector<std::uint16_t> interfaces;  // the link types of this section's interfaces
    const auto fail = [&](const std::string& why) {
        file.error = "at byte " + std::to_string(at) + ": " + why;
        return file;
    };
    // The little-endian number of `size` bytes at `from` of `s`.
    const auto le = [](const std::string& s, std::size_t from, int size) {
        std::uint64_t v = 0;
        for (int i = size - 1; i >= 0; --i) v = v << 8 | static_cast<unsigned char>(s[from + i]);
        return v;
    };
    const auto padded = [](std::size_t n) { return (n + 3) / 4 * 4; };
    const auto zeros = [](const std::string& s, std::size_t from, std::size_t to) {
        return s.find_first_not_of('\0', from) >= to;
    };
    if (bytes.empty()) return fail("empty file");
    while (at < bytes.size()) {
        if (bytes.size() - at < 12) return fail("block header cut off");
        PcapngBlock b;
        b.type = le(bytes, at, 4);
        b.totalLength = le(bytes, at + 4, 4);
        if (file.blocks.empty() && b.type != 0x0A0D0D0A) return fail("no section header first");
        if (b.totalLength < 12 || b.totalLength % 4 != 0) return fail("bad block length");
        if (b.totalLength > bytes.size() - at) return fail("block cut off");
        if (le(bytes, at + b.totalLength - 4, 4) != b.totalLength)
            return fail("trailing block length differs");
        const std::string body = bytes.substr(at + 8, b.totalLength - 12);
        std::size_t in = 0;  // where the options begin, in the body
        const bool section = b.type == 0x0A0D0D0A, interface = b.type == 1, packet = b.type == 6;
        if (section) {
            if (body.size() < 16) return fail("section header too short");
            if ((b.magic = le(body, 0, 4)) != 0x1A2B3C4D) return fail("byte-order magic");
            b.major = le(body, 4, 2);
            b.minor = le(body, 6, 2);
            b.sectionLength = static_cast<std::int64_t>(le(body, 8, 8));
            in = 16;
            interfaces.clear();  // a new section describes its own
        } else if (interface) {
            if (body.size() < 8) return fail("interface description too short");
            b.linkType = le(body, 0, 2);
            if (le(body, 2, 2) != 0) return fail("interface reserved field not zero");
            b.snapLength = le(body, 4, 4);
            in = 8;
            interfaces.push_back(b.linkType);
        } else if (packet) {
            if (body.size() < 20) return fail("enhanced packet too short");
            if ((b.interfaceId = le(body, 0, 4)) >= interfaces.size())
                return fail("packet on no interface");
            b.packetLinkType = interfaces[b.interfaceId];
            b.timestamp = le(body, 4, 4) << 32 | le(body, 8, 4);
            b.capturedLength = le(body, 12, 4);
            b.originalLength = le(body, 16, 4);
            in = 20 + padded(b.capturedLength);
            if (in > body.size()) return fail("packet data runs past its block");
            if (!zeros(body, 20 + b.capturedLength, in)) return fail("packet padding not zero");
            b.data = body.substr(20, b.capturedLength);
            if (b.packetLinkType == 250) {
                if (b.data.size() < 12) return fail("RTAC serial header cut off");
                const auto be = [&b](std::size_t from) {
                    std::uint32_t v = 0;
                    for (std::size_t i = 0; i < 4; ++i)
                        v = v << 8 | static_cast<unsigned char>(b.data[from + i]);
                    return v;
                };
                RtacHeader h{be(0), be(4), static_cast<std::uint8_t>(b.data[8]),
                             static_cast<std::uint8_t>(b.data[9]), b.data.substr(12)};
                if (h.micros >= 1'000'000) return fail("RTAC microseconds past a second");
                if (std::uint64_t{h.seconds} * 1'000'000 + h.micros != b.timestamp)
                    return fail("RTAC time differs from the block's");
                if (h.event > 10) return fail("RTAC event unknown");
                if (h.lines & 0xC0) return fail("RTAC control lines past RING");
                if (b.data[10] != 0 || b.data[11] != 0) return fail("RTAC footer not zero");
                b.rtac = h;
            }
        } else {
            in = body.size();  // a block this reader does not look into
        }
        while (in < body.size()) {
            if (b.endOfOptions) return fail("bytes after the end-of-options marker");
            if (body.size() - in < 4) return fail("option header cut off");
            const std::uint16_t code = le(body, in, 2), length = le(body, in + 2, 2);
            in += 4;
            if (code == 0 && length != 0) return fail("end-of-options marker with a length");
            if (padded(length) > body.size() - in) return fail("option runs past its block");
            if (!zeros(body, in + length, in + padded(length))) return fail("option padding");
            if (code == 0) b.endOfOptions = true;
            if (code != 0) b.options.push_back({code, body.substr(in, length)});
            in += padded(length);
        }
        for (const PcapngOption& o : b.options) {
            if (interface && o.code == 2) b.ifName = o.value;
            if (interface && o.code == 9 && o.value.size() != 1) return fail("if_tsresol size");
            if (interface && o.code == 9) b.tsResolution = static_cast<std::uint8_t>(o.value[0]);
            if (packet && o.code == 2 && o.value.size() != 4) return fail("epb_flags size");
            if (packet && o.code == 2) b.flags = le(o.value, 0, 4);
            if (packet && o.code == 1) b.comment = o.value;
            if (packet && o.code == 4 && o.value.size() != 8) return fail("epb_dropcount size");
            if (packet && o.code == 4) b.dropCount = le(o.value, 0, 8);
        }
        at += b.totalLength;
        file.blocks.push_back(std::move(b));
    }
    return file;
}

}  // namespace lt::test
