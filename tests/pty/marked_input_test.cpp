// Error marking as the terminal layer hands it over.
#include "serial/linux/marked_input.h"

#include <gtest/gtest.h>

namespace lt {
namespace {

using namespace std::string_literals;
using Errors = std::vector<LineErrorReport>;

// One decoder fed read by read; what it gave so far.
struct Reads {
    MarkedInput input;
    std::string data;
    Errors errors;
    void read(const std::string& bytes, Nanos at, const ErrorCounts* counts = nullptr,
              bool parity = false) {
        input.take(bytes.data(), bytes.size(), at, counts, parity, data, errors);
    }
    Errors errorsOf(const std::string& bytes, Nanos at, const ErrorCounts* counts) {
        errors.clear();
        read(bytes, at, counts);
        return errors;
    }
};

TEST(MarkedInput, DataBytesComeOutAsOnTheWireWithEveryMarkTakenOut) {
    Reads r;
    // A doubled 0xFF (the last byte here) is one data byte 0xFF; every other byte passes as it is.
    std::string all;
    for (int b = 0; b < 256; ++b) all += static_cast<char>(b);
    r.read(all + '\xFF', 1);
    EXPECT_EQ(r.data, all);
    EXPECT_TRUE(r.errors.empty());

    // A framing error without parity keeps its character; a break between bytes adds none.
    r.data.clear();
    r.read("AB\xFF\0CDE"s, 2);
    r.read("\x01\xFF\0\0\x02"s, 3);
    EXPECT_EQ(r.data, std::string("ABCDE\x01\x02", 7));
    EXPECT_EQ(r.errors, (Errors{{LineError::Framing, 2, 1}, {LineError::Break, 3, 1}}));
}

TEST(MarkedInput, AMarkCutOffByTheEndOfAReadIsFinishedByTheNext) {
    for (const std::string& wire : {std::string("A\xFF\x00Z", 4), std::string("A\xFF\xFFZ", 4),
                                    std::string("A\xFF\x00\x00Z", 5)}) {
        // Every way of cutting the bytes into reads gives the same data and errors.
        Reads whole;
        whole.read(wire, 9);
        for (std::size_t cut = 1; cut < wire.size(); ++cut) {
            Reads parts;
            parts.read(wire.substr(0, cut), 9);
            parts.read(wire.substr(cut), 9);
            EXPECT_EQ(parts.data, whole.data) << cut;
            EXPECT_EQ(parts.errors, whole.errors) << cut;
        }
    }
    Reads r;
    r.read(std::string("A\xFF", 2), 1);
    r.read(std::string("\x00", 1), 2);
    r.read("Z", 3);
    EXPECT_EQ(r.data, "AZ");
    EXPECT_EQ(r.errors, (Errors{{LineError::Framing, 3, 1}})) << "at the read that finished it";
    r.input.reset();
    r.read(std::string("\x00", 1), 4);
    EXPECT_EQ(r.data, std::string("AZ\x00", 3)) << "after a reset a lone byte is data";
}

TEST(MarkedInput, CountersTellTheKindsAndGiveTheErrorsNeverMarked) {
    Reads r;
    ErrorCounts c{10, 20, 30, 40, 50};  // the first look only sets where counting begins
    r.read("", 1, &c);
    EXPECT_TRUE(r.errors.empty());
    // One framing and one parity error marked, on a line with parity: framing first.
    c.frame += 1;
    c.parity += 1;
    r.read("\xFF\0a\xFF\0b"s, 2, &c, true);
    EXPECT_EQ(r.data, "ab");
    EXPECT_EQ(r.errors, (Errors{{LineError::Framing, 2, 1}, {LineError::Parity, 2, 1}}));
    // 0xFF 0x00 0x00 with a framing error counted and no break: a character 0x00 in error.
    c.frame += 1;
    EXPECT_EQ(r.errorsOf(std::string("\xFF\x00\x00", 3), 3, &c),
              (Errors{{LineError::Framing, 3, 1}}));
    EXPECT_EQ(r.data, std::string("ab\x00", 3));
    // Overruns are never marked: lost in the UART and for want of buffer room, told as counted.
    c.overrun += 2;
    c.bufOverrun += 1;
    EXPECT_EQ(r.errorsOf("x", 4, &c), (Errors{{LineError::Overrun, 4, 3}}));
    // A break counted with its mark is one break, not two.
    c.brk += 1;
    EXPECT_EQ(r.errorsOf(std::string("\xFF\x00\x00", 3), 5, &c),
              (Errors{{LineError::Break, 5, 1}}));
    EXPECT_EQ(r.errorsOf("y", 6, &c), Errors{});
    // Errors counted but never marked are told once the next read brings no mark for them.
    c.parity += 2;
    EXPECT_EQ(r.errorsOf("z", 7, &c), Errors{}) << "their marks may still come";
    EXPECT_EQ(r.errorsOf("w", 8, &c), (Errors{{LineError::Parity, 8, 2}}));
    // A counter that wraps round still counts up.
    c.overrun = 0xFFFFFFFF;
    r.read("", 9, &c);
    c.overrun = 1;
    EXPECT_EQ(r.errorsOf("", 10, &c), (Errors{{LineError::Overrun, 10, 2}}));
}

}  // namespace
}  // namespace lt
