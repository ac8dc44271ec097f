// An output's own writer: the backlog bound, whole pieces dropped and counted, the hole marked,
// each notice given once, a reader gone, a destination that fails and recovers, a pipe that has
// no reader yet, and a stop while a write is blocked.
#include "record/output_writer.h"

#include <gtest/gtest.h>
#include <signal.h>
#include <unistd.h>

#include <condition_variable>
#include <mutex>
#include <vector>

#include "record/queued_records.h"

namespace lt {
namespace {

// What the reader has taken; `refuse` fails every write (a full disk), `leave` makes the next
// write meet a reader gone.
struct Reader : OutputDestination {
    Delivery write(const std::string& piece) override {
        if (left) return Delivery::Gone;
        if (leave) return left = true, Delivery::Gone;
        if (refuse) return Delivery::Failed;
        got.push_back(piece);
        return Delivery::Written;
    }
    std::string problem() const override { return "No space left on device"; }
    std::vector<std::string> got;
    bool refuse = false, leave = false, left = false;
};

std::string mark(std::uint64_t lost, std::int64_t since) {
    return "[" + std::to_string(lost) + " lost from " + std::to_string(since) + "]";
}

// A writer without a thread: the test plays the writer's turns with writeWaiting().
struct Output {
    explicit Output(std::size_t bound = 10 * (8 + OutputWriter::kPieceOverhead), bool opened = true,
                    bool beginsWhenOpen = false) {
        auto dest = std::make_unique<Reader>();
        reader = dest.get();
        OutputWriter::Options options;
        options.name = "out";
        options.bound = bound;
        options.lostMark = mark;
        options.goneNotice = "out: reader gone";
        options.beginsWhenOpen = beginsWhenOpen;
        writer = std::make_unique<OutputWriter>(
            std::move(dest), std::move(options),
            [this](const std::string& text) { told.push_back(text); }, opened);
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

TEST(OutputWriter, AReaderThatKeepsUpLosesNothingAndHearsNothing) {
    Output out;
    std::vector<std::string> sent;
    for (int i = 0; i < 1000; ++i) {
        ASSERT_TRUE(out.writer->offer(Output::piece(i), i));
        sent.push_back(Output::piece(i));
        if (i % 5 == 4) out.writer->writeWaiting();  // a burst of five, then the reader takes it
    }
    out.writer->finish();
    EXPECT_EQ(out.reader->got, sent);
    EXPECT_EQ(out.writer->dropped(), 0u);
    EXPECT_TRUE(out.told.empty());
}

TEST(OutputWriter, AStalledReaderCostsWholePiecesBeyondTheBoundCountedToldOnceAndMarked) {
    Output out;
    for (int i = 0; i < 25; ++i) out.writer->offer(Output::piece(i), 100 + i);
    // Ten pieces fit the bound; the rest are dropped whole, not queued, and said once.
    EXPECT_EQ(out.writer->backlogBytes(), 10 * (8 + OutputWriter::kPieceOverhead));
    EXPECT_EQ(out.writer->dropped(), 15u);
    ASSERT_EQ(out.told.size(), 1u);
    EXPECT_EQ(out.told[0],
              "out: its reader falls behind; whole records are dropped while its backlog is full "
              "(counted)");

    // The reader comes back: what waited, then the hole's marker before the next piece.
    out.writer->writeWaiting();
    ASSERT_TRUE(out.writer->offer(Output::piece(99), 200));
    out.writer->finish();
    std::vector<std::string> expected;
    for (int i = 0; i < 10; ++i) expected.push_back(Output::piece(i));
    expected.push_back(mark(15, 110));
    expected.push_back(Output::piece(99));
    EXPECT_EQ(out.reader->got, expected);
    ASSERT_EQ(out.told.size(), 2u);
    EXPECT_EQ(out.told[1], "out: 15 records dropped in all (its reader fell behind)");
}

TEST(OutputWriter, ASlowReaderLosesOnlyWhatOverflowsAndEveryHoleIsMarkedWhereItIs) {
    Output out(4 * (8 + OutputWriter::kPieceOverhead));
    std::vector<std::string> expected;
    std::uint64_t lost = 0;
    std::int64_t since = 0;
    // Three pieces come for every one the reader takes.
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
    EXPECT_GT(out.writer->dropped(), 0u);
    EXPECT_EQ(out.told.size(), 2u) << "the first drop and the total, nothing per piece";
}

TEST(OutputWriter, AReaderThatLeavesIsToldOnceAndNothingMoreIsWrittenOrKept) {
    Output out;
    out.writer->offer(Output::piece(1), 1);
    out.writer->writeWaiting();
    out.reader->leave = true;
    out.writer->offer(Output::piece(2), 2);
    out.writer->offer(Output::piece(3), 3);
    out.writer->writeWaiting();
    EXPECT_TRUE(out.writer->gone());
    EXPECT_EQ(out.writer->backlogBytes(), 0u);
    EXPECT_FALSE(out.writer->offer(Output::piece(4), 4));
    out.writer->finish();
    EXPECT_EQ(out.reader->got, std::vector<std::string>{Output::piece(1)});
    EXPECT_EQ(out.told, std::vector<std::string>{"out: reader gone"});
}

TEST(OutputWriter, ADestinationThatFailsIsToldWhenItStartsAndWhenItWorksAgainWithTheCount) {
    Output out;
    out.writer->offer(Output::piece(1), 1);
    out.writer->writeWaiting();
    out.reader->refuse = true;  // the disk fills up
    for (int i = 2; i < 6; ++i) out.writer->offer(Output::piece(i), i);
    out.writer->writeWaiting();
    ASSERT_EQ(out.told.size(), 1u);
    EXPECT_EQ(out.told[0],
              "out: cannot be written (No space left on device); records are lost until it can");
    out.reader->refuse = false;  // room again
    out.writer->offer(Output::piece(6), 6);
    out.writer->offer(Output::piece(7), 7);
    out.writer->writeWaiting();
    out.writer->finish();
    EXPECT_EQ(out.reader->got,
              (std::vector<std::string>{Output::piece(1), Output::piece(6), Output::piece(7)}));
    EXPECT_EQ(out.told, (std::vector<std::string>{out.told[0], "out: written again; 4 records lost",
                                                  "out: 4 records could not be written in all"}));
}

TEST(OutputWriter, APipeWithoutAReaderKeepsNothingUntilItOpens) {
    Output out(OutputWriter::kBacklogBytes, false, true);
    EXPECT_FALSE(out.writer->offer(Output::piece(1), 1));
    out.writer->writeWaiting();  // the writer's turn opens the destination
    EXPECT_TRUE(out.writer->offer(Output::piece(2), 2));
    out.writer->finish();
    EXPECT_EQ(out.reader->got, std::vector<std::string>{Output::piece(2)});
    EXPECT_EQ(out.writer->dropped(), 0u) << "before the capture begins nothing counts as lost";
}

// A reader that takes nothing until the test lets it: the write blocks.
struct BlockedReader : OutputDestination {
    Delivery write(const std::string&) override {
        std::unique_lock lock(mutex);
        entered = true;
        changed.notify_all();
        changed.wait(lock, [&] { return released; });
        return Delivery::Written;
    }
    std::mutex mutex;
    std::condition_variable changed;
    bool entered = false, released = false;
};

TEST(OutputWriter, FinishingReturnsByItsDeadlineWhileAWriteIsBlocked) {
    auto blocked = std::make_shared<BlockedReader>();
    struct Shared : OutputDestination {
        explicit Shared(std::shared_ptr<BlockedReader> r) : reader(std::move(r)) {}
        Delivery write(const std::string& p) override { return reader->write(p); }
        std::shared_ptr<BlockedReader> reader;
    };
    std::vector<std::string> told;
    std::mutex toldMutex;
    {
        OutputWriter::Options options;
        options.name = "stalled";
        OutputWriter writer(std::make_unique<Shared>(blocked), options, [&](const std::string& t) {
            std::lock_guard lock(toldMutex);
            told.push_back(t);
        });
        writer.start();
        writer.offer("first", 0);
        {
            std::unique_lock lock(blocked->mutex);
            blocked->changed.wait(lock, [&] { return blocked->entered; });
        }
        writer.offer("second", 0);
        // Without a deadline this would wait for the reader for ever.
        writer.finish(OutputWriter::Clock::now() + std::chrono::milliseconds(20));
    }
    {
        std::lock_guard lock(blocked->mutex);
        blocked->released = true;
    }
    blocked->changed.notify_all();
    std::lock_guard lock(toldMutex);
    EXPECT_EQ(told, std::vector<std::string>{"stalled: 1 records not written at the stop (its "
                                             "reader did not take them in time)"});
}

// The records of a run: the file and standard output each have their own writer, so one that
// cannot take records costs that one alone.
TEST(QueuedRecords, AStreamWhoseReaderLeftCostsOnlyThePrintingAndIsToldOnce) {
    ::signal(SIGPIPE, SIG_IGN);  // as the program has it
    int fds[2];
    ASSERT_EQ(::pipe(fds), 0);
    ::close(fds[0]);  // the reader has gone before the first record
    char folder[] = "/tmp/linetap-queued-XXXXXX";
    ASSERT_NE(::mkdtemp(folder), nullptr);
    const std::string path = std::string(folder) + "/r.txt";
    std::vector<std::string> told;
    {
        QueuedRecords records(true, fds[1], [&](const std::string& t) { told.push_back(t); });
        records.withoutThreads();
        ASSERT_TRUE(records.open(path));
        for (int i = 0; i < 3; ++i) {
            records.append("record " + std::to_string(i) + "\r\n");
            records.fileWriter()->writeWaiting();
            records.streamWriter()->writeWaiting();
        }
        records.close();
    }
    ::close(fds[1]);
    std::FILE* f = std::fopen(path.c_str(), "rb");
    ASSERT_NE(f, nullptr);
    char buf[256] = {};
    const std::size_t n = std::fread(buf, 1, sizeof buf, f);
    std::fclose(f);
    std::remove(path.c_str());
    ::rmdir(folder);
    EXPECT_EQ(std::string(buf, n), "record 0\r\nrecord 1\r\nrecord 2\r\n");
    EXPECT_EQ(told,
              std::vector<std::string>{"standard output: its reader has gone; printing stops"});
}

}  // namespace
}  // namespace lt
