#pragma once

// Reads a little-endian pcapng file back strictly: lengths, alignment, options, interfaces and
// the RTAC serial header (250) checked; anything else, a cut-off file included, is an error.

#include <cstdint>
#include <optional>
#include <string>
#include <vector>

namespace lt::test {

// The RTAC serial header of a packet (its time is the block's) and the bytes after it.
struct RtacHeader {
    std::uint8_t event = 0, lines = 0;
    std::string payload;
};

struct PcapngBlock {
    std::uint32_t type = 0, totalLength = 0;
    std::uint16_t linkType = 0;  // an interface's, with its options
    std::optional<std::string> ifName;
    std::uint32_t interfaceId = 0;  // a packet's, with its options
    std::uint64_t timestamp = 0;
    std::string data;
    std::optional<std::string> comment;
    std::optional<RtacHeader> rtac;  // a packet on an RTAC serial interface
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
    // The number of `size` bytes at `from` of `s`, little-endian unless `big`.
    const auto num = [](const std::string& s, std::size_t from, int size, bool big = false) {
        std::uint64_t v = 0;
        for (int i = 0; i < size; ++i)
            v = v << 8 | static_cast<unsigned char>(s[from + (big ? i : size - 1 - i)]);
        return v;
    };
    const auto padded = [](std::size_t n) { return (n + 3) / 4 * 4; };
    const auto zeros = [](const std::string& s, std::size_t from, std::size_t to) {
        return s.find_first_not_of('\0', from) >= to;
    };
    if (bytes.empty()) return fail("empty file");
    for (; at < bytes.size(); at += file.blocks.back().totalLength) {
        if (bytes.size() - at < 12) return fail("block header cut off");
        PcapngBlock b;
        b.type = num(bytes, at, 4);
        b.totalLength = num(bytes, at + 4, 4);
        if (file.blocks.empty() && b.type != 0x0A0D0D0A) return fail("no section header first");
        if (b.totalLength < 12 || b.totalLength % 4 != 0) return fail("bad block length");
        if (b.totalLength > bytes.size() - at) return fail("block cut off");
        if (num(bytes, at + b.totalLength - 4, 4) != b.totalLength)
            return fail("trailing block length differs");
        const std::string body = bytes.substr(at + 8, b.totalLength - 12);
        const bool section = b.type == 0x0A0D0D0A, interface = b.type == 1, packet = b.type == 6;
        std::size_t in = body.size();  // where the options begin; none in a block not looked into
        if (section) {
            if (body.size() < 16) return fail("section header too short");
            if (num(body, 0, 4) != 0x1A2B3C4D) return fail("byte-order magic");
            if (num(body, 4, 4) != 1) return fail("version not 1.0");
            in = 16;
            interfaces.clear();  // a new section describes its own
        } else if (interface) {
            if (body.size() < 8) return fail("interface description too short");
            if (num(body, 2, 2) != 0) return fail("interface reserved field not zero");
            interfaces.push_back(b.linkType = num(body, 0, 2));
            in = 8;
        } else if (packet) {
            if (body.size() < 20) return fail("enhanced packet too short");
            if ((b.interfaceId = num(body, 0, 4)) >= interfaces.size())
                return fail("packet on no interface");
            b.timestamp = num(body, 4, 4) << 32 | num(body, 8, 4);
            const std::size_t captured = num(body, 12, 4);
            if (num(body, 16, 4) != captured) return fail("original length differs");
            in = 20 + padded(captured);
            if (in > body.size()) return fail("packet data runs past its block");
            if (!zeros(body, 20 + captured, in)) return fail("packet padding not zero");
            const std::string d = b.data = body.substr(20, captured);
            if (interfaces[b.interfaceId] == 250) {
                if (d.size() < 12) return fail("RTAC serial header cut off");
                const std::uint64_t seconds = num(d, 0, 4, true), micros = num(d, 4, 4, true);
                const std::uint8_t event = num(d, 8, 1), lines = num(d, 9, 1);
                if (micros >= 1'000'000) return fail("RTAC microseconds past a second");
                if (seconds * 1'000'000 + micros != b.timestamp)
                    return fail("RTAC time differs from the block's");
                if (event > 10) return fail("RTAC event unknown");
                if (lines & 0xC0) return fail("RTAC control lines past RING");
                if (d[10] != 0 || d[11] != 0) return fail("RTAC footer not zero");
                b.rtac = {event, lines, d.substr(12)};
            }
        }
        for (bool ended = false; in < body.size();) {
            if (ended) return fail("bytes after the end-of-options marker");
            if (body.size() - in < 4) return fail("option header cut off");
            const std::uint16_t code = num(body, in, 2), length = num(body, in + 2, 2);
            in += 4;
            if (code == 0 && length != 0) return fail("end-of-options marker with a length");
            if (padded(length) > body.size() - in) return fail("option runs past its block");
            if (!zeros(body, in + length, in + padded(length))) return fail("option padding");
            const std::string v = body.substr(in, length);
            in += padded(length);
            ended = code == 0;
            // if_tsresol takes 1 byte, epb_flags 4, epb_dropcount 8.
            const std::size_t size = interface && code == 9 ? 1
                                     : packet && code == 2  ? 4
                                     : packet && code == 4  ? 8
                                                            : length;
            if (length != size) return fail("option " + std::to_string(code) + " of a bad size");
            if (interface && code == 2) b.ifName = v;
            if (packet && code == 1) b.comment = v;
        }
        file.blocks.push_back(std::move(b));
    }
    return file;
}

}  // namespace lt::test
