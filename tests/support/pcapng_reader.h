#pragma once

// Reads a little-endian pcapng file back into its blocks for the tests, strictly: the lengths at
// both ends of a block agree, everything is 32-bit aligned, options end inside their block, the
// file opens with a section header and a packet names an interface already described. Anything
// else, a cut-off file included, is an error.

#include <cstdint>
#include <optional>
#include <string>
#include <vector>

namespace lt::test {

struct PcapngOption {
    std::uint16_t code = 0;
    std::string value;
};

struct PcapngBlock {
    std::uint32_t type = 0;
    std::uint32_t totalLength = 0;
    std::vector<PcapngOption> options;  // in file order, the end-of-options marker left out
    bool endOfOptions = false;          // whether the options closed with the marker

    // Section header
    std::uint32_t magic = 0;
    std::uint16_t major = 0, minor = 0;
    std::int64_t sectionLength = 0;

    // Interface description
    std::uint16_t linkType = 0;
    std::uint32_t snapLength = 0;
    std::optional<std::string> ifName;
    std::optional<std::uint8_t> tsResolution;

    // Enhanced packet
    std::uint32_t interfaceId = 0;
    std::uint64_t timestamp = 0;
    std::uint32_t capturedLength = 0, originalLength = 0;
    std::string data;
    std::optional<std::uint32_t> flags;
    std::optional<std::string> comment;
};

struct PcapngFile {
    std::vector<PcapngBlock> blocks;
    std::string error;  // empty when the whole file was read
    bool ok() const { return error.empty(); }

    // The blocks of one type, in file order.
    std::vector<PcapngBlock> ofType(std::uint32_t type) const {
        std::vector<PcapngBlock> out;
        for (const PcapngBlock& b : blocks)
            if (b.type == type) out.push_back(b);
        return out;
    }
};

namespace pcapng_detail {

inline std::uint16_t get16(const std::string& s, std::size_t at) {
    return static_cast<std::uint16_t>(static_cast<unsigned char>(s[at]) |
                                      static_cast<unsigned char>(s[at + 1]) << 8);
}

inline std::uint32_t get32(const std::string& s, std::size_t at) {
    return static_cast<std::uint32_t>(get16(s, at)) | static_cast<std::uint32_t>(get16(s, at + 2))
                                                          << 16;
}

inline std::size_t padded(std::size_t n) {
    return (n + 3) / 4 * 4;
}

// Reads the options in body[at, end); returns an error or "".
inline std::string readOptions(const std::string& body, std::size_t at, PcapngBlock& block) {
    while (at < body.size()) {
        if (body.size() - at < 4) return "option header cut off";
        const std::uint16_t code = get16(body, at);
        const std::uint16_t length = get16(body, at + 2);
        at += 4;
        if (code == 0) {
            if (length != 0) return "end-of-options marker with a length";
            if (at != body.size()) return "bytes after the end-of-options marker";
            block.endOfOptions = true;
            return "";
        }
        if (padded(length) > body.size() - at) return "option runs past its block";
        block.options.push_back({code, body.substr(at, length)});
        for (std::size_t i = at + length; i < at + padded(length); ++i)
            if (body[i] != '\0') return "option padding is not zero";
        at += padded(length);
    }
    return "";
}

inline std::string readBody(const std::string& body, PcapngBlock& b, std::size_t interfaces) {
    using namespace std::string_literals;
    std::size_t options = 0;
    switch (b.type) {
        case 0x0A0D0D0A: {
            if (body.size() < 16) return "section header too short";
            b.magic = get32(body, 0);
            if (b.magic != 0x1A2B3C4D) return "byte-order magic is not little-endian";
            b.major = get16(body, 4);
            b.minor = get16(body, 6);
            b.sectionLength =
                static_cast<std::int64_t>(static_cast<std::uint64_t>(get32(body, 8)) |
                                          static_cast<std::uint64_t>(get32(body, 12)) << 32);
            options = 16;
            break;
        }
        case 0x00000001: {
            if (body.size() < 8) return "interface description too short";
            b.linkType = get16(body, 0);
            if (get16(body, 2) != 0) return "interface reserved field not zero";
            b.snapLength = get32(body, 4);
            options = 8;
            break;
        }
        case 0x00000006: {
            if (body.size() < 20) return "enhanced packet too short";
            b.interfaceId = get32(body, 0);
            if (b.interfaceId >= interfaces) return "packet on an interface not described";
            b.timestamp = static_cast<std::uint64_t>(get32(body, 4)) << 32 | get32(body, 8);
            b.capturedLength = get32(body, 12);
            b.originalLength = get32(body, 16);
            if (padded(b.capturedLength) > body.size() - 20) return "packet data runs past block";
            b.data = body.substr(20, b.capturedLength);
            for (std::size_t i = 20 + b.capturedLength; i < 20 + padded(b.capturedLength); ++i)
                if (body[i] != '\0') return "packet padding is not zero";
            options = 20 + padded(b.capturedLength);
            break;
        }
        default:
            return "";  // a block this reader does not look into
    }
    if (std::string e = readOptions(body, options, b); !e.empty()) return e;
    for (const PcapngOption& o : b.options) {
        if (b.type == 0x00000001 && o.code == 2) b.ifName = o.value;
        if (b.type == 0x00000001 && o.code == 9) {
            if (o.value.size() != 1) return "if_tsresol is not one byte"s;
            b.tsResolution = static_cast<std::uint8_t>(o.value[0]);
        }
        if (b.type == 0x00000006 && o.code == 2) {
            if (o.value.size() != 4) return "epb_flags is not four bytes"s;
            b.flags = get32(o.value, 0);
        }
        if (b.type == 0x00000006 && o.code == 1) b.comment = o.value;
    }
    return "";
}

}  // namespace pcapng_detail

inline PcapngFile readPcapng(const std::string& bytes) {
    using namespace pcapng_detail;
    PcapngFile file;
    std::size_t at = 0;
    std::size_t interfaces = 0;
    auto fail = [&](const std::string& why) {
        file.error = "at byte " + std::to_string(at) + ": " + why;
        return file;
    };
    if (bytes.empty()) return fail("empty file");
    while (at < bytes.size()) {
        if (bytes.size() - at < 12) return fail("block header cut off");
        PcapngBlock b;
        b.type = get32(bytes, at);
        b.totalLength = get32(bytes, at + 4);
        if (file.blocks.empty() && b.type != 0x0A0D0D0A) return fail("no section header first");
        if (b.totalLength < 12 || b.totalLength % 4 != 0) return fail("bad block length");
        if (b.totalLength > bytes.size() - at) return fail("block cut off");
        if (get32(bytes, at + b.totalLength - 4) != b.totalLength)
            return fail("trailing block length differs");
        const std::string body = bytes.substr(at + 8, b.totalLength - 12);
        if (std::string e = readBody(body, b, interfaces); !e.empty()) return fail(e);
        if (b.type == 0x0A0D0D0A) interfaces = 0;  // a new section describes its own
        if (b.type == 0x00000001) ++interfaces;
        file.blocks.push_back(std::move(b));
        at += file.blocks.back().totalLength;
    }
    return file;
}

}  // namespace lt::test
