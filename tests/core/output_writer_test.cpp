// An output's own writer, played turn by turn.
#include "record/output_writer.h"

#include <gtest/gtest.h>

#include <vector>

namespace lt {
namespace {

// What the reader has taken; `refuse` fails every write (a full disk).
struct Reader : OutputDestination {
    Delivery write(const std::string& piece) override {
        if (refuse) return Delivery::Failed;
        got.push_back(piece);
        return Delivery::Written;
    }
    std::string problem() const override { return "No space left on device"; }
    std::vector<std::string> got;
    bool refuse = false;
};

std::string mark(std::uint64_t lost, std::int64_t since) {
    return "[" + std::to_string(lost) + " lost from " + std::to_string(since) + "]";
}

// A writer without a thread: the test plays the writer's turns with writeWaiting().
struct Output {
    explicit Output(std::size_t bound = 10 * (8 + OutputWriter::kPieceOverhead)) {
        auto dest = std::make_unique<Reader>();
        reader = dest.get();
        writer = std::make_unique<OutputWriter>(
            std::move(dest),
            OutputWriter::Options{
                .name = "out", .bound = bound, .lostMark = mark, .goneNotice = "out: reader gone"},
            [this](const std::string& text) { told.push_back(text); });
    }
    static std::string piece(int i) {
        std::string s = "piece" + std::to_string(i);
        s.resize(8, '.');
        return s;
    }
    Reader* reader;
    std::vector<std::string> told;
    std::unique_ptr<OutputWriter> writer;
};

// Three pieces come for every one taken; only the first drop and the total are told.
TEST(OutputWriter, ASlowReaderLosesWholePiecesBeyondTheBoundAndEveryHoleIsMarkedWhereItIs) {
    Output out(4 * (8 + OutputWriter::kPieceOverhead));
    std::vector<std::string> expected;
    std::uint64_t lost = 0;
    std::int64_t since = 0;
    for (int i = 0; i < 60; ++i) {
        if (out.writer->offer(Output::piece(i), i)) {
            if (lost > 0) expected.push_back(mark(lost, since));
            expected.push_back(Output::piece(i));
            lost = 0;
        } else if (lost++ == 0) {
            since = i;
        }
        if (i % 3 == 2) out.writer->writeWaiting(1);
    }
    out.writer->finish();
    if (lost > 0) expected.push_back(mark(lost, since));  // the drops after the last piece too
    EXPECT_EQ(out.reader->got, expected);
    // Of the first six pieces one is dropped, then two of each three: 1 + 2 * 18.
    EXPECT_EQ(out.told, (std::vector<std::string>{
                            "out: its reader falls behind; whole records are dropped while its "
                            "backlog is full (counted)",
                            "out: 37 records dropped in all (its reader fell behind)"}));
}

TEST(OutputWriter, ADestinationThatFailsIsToldWhenItStartsAndWhenItWorksAgainWithTheCount) {
    Output out;
    out.writer->offer(Output::piece(1), 1);
    out.writer->writeWaiting();
    out.reader->refuse = true;  // the disk fills up
    for (int i = 2; i < 6; ++i) out.writer->offer(Output::piece(i), i);
    out.writer->writeWaiting();
    out.reader->refuse = false;  // room again
    out.writer->offer(Output::piece(6), 6);
    out.writer->offer(Output::piece(7), 7);
    out.writer->writeWaiting();
    out.writer->finish();
    EXPECT_EQ(out.reader->got,
              (std::vector<std::string>{Output::piece(1), Output::piece(6), Output::piece(7)}));
    EXPECT_EQ(out.told, (std::vector<std::string>{
                            "out: cannot be written (No space left on device); records are lost "
                            "until it can",
                            "out: written again; 4 records lost",
                            "out: 4 records could not be written in all"}));
}

}  // namespace
}  // namespace lt
