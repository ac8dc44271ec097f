#include "ports/linux/rx_queue.h"

#include <gtest/gtest.h>

namespace lt {
namespace {

constexpr Nanos kMs = 1'000'000;

TEST(RxQueue, KeepsOrderAndReportsTheNewestStampAndTheFirstArrival) {
    RxQueue q;
    EXPECT_EQ(q.lastArrival(), 0);
    EXPECT_TRUE(q.push("ab", 2, 5 * kMs));
    EXPECT_FALSE(q.push("cd", 2, 6 * kMs));
    EXPECT_FALSE(q.push("", 0, 7 * kMs));
    EXPECT_EQ(q.size(), 4u);
    EXPECT_EQ(q.lastArrival(), 6 * kMs);
    EXPECT_EQ(q.take(SIZE_MAX, 0, 0), "abcd");
    EXPECT_EQ(q.size(), 0u);
    EXPECT_EQ(q.lastArrival(), 0);
    EXPECT_TRUE(q.push("e", 1, 8 * kMs));
}

TEST(RxQueue, CutsAtTheFirstPauseOfTheGapAndNotBelowIt) {
    RxQueue q;
    q.push("AA", 2, 0);
    q.push("B", 1, 9 * kMs);   // 9 ms after: same packet
    q.push("C", 1, 19 * kMs);  // 10 ms after: a new packet
    q.push("D", 1, 40 * kMs);  // another one
    EXPECT_EQ(q.take(SIZE_MAX, 10 * kMs, 0), "AAB");
    EXPECT_EQ(q.take(SIZE_MAX, 10 * kMs, 0), "C");
    EXPECT_EQ(q.take(SIZE_MAX, 10 * kMs, 0), "D");
    EXPECT_EQ(q.take(SIZE_MAX, 10 * kMs, 0), "");
}

TEST(RxQueue, PausesBeforeGapsFromAndWithoutAGapLimitDoNotCut) {
    RxQueue q;
    q.push("old", 3, 1 * kMs);
    q.push("new", 3, 50 * kMs);
    q.push("late", 4, 100 * kMs);
    // Bytes waiting from before the start join the first packet after it.
    EXPECT_EQ(q.take(SIZE_MAX, 10 * kMs, 20 * kMs), "oldnew");
    EXPECT_EQ(q.take(SIZE_MAX, 10 * kMs, 20 * kMs), "late");
    q.push("x", 1, 200 * kMs);
    q.push("y", 1, 900 * kMs);
    EXPECT_EQ(q.take(SIZE_MAX, 0, 0), "xy");
}

TEST(RxQueue, SizeLimitSplitsAChunkAndKeepsTheRestWithItsStamp) {
    RxQueue q;
    q.push("0123456789", 10, 1 * kMs);
    q.push("Z", 1, 30 * kMs);
    EXPECT_EQ(q.take(4, 10 * kMs, 0), "0123");
    EXPECT_EQ(q.size(), 7u);
    EXPECT_EQ(q.take(4, 10 * kMs, 0), "4567");
    // The rest of the chunk is still cut from the byte that arrived 29 ms later.
    EXPECT_EQ(q.take(4, 10 * kMs, 0), "89");
    EXPECT_EQ(q.take(4, 10 * kMs, 0), "Z");
}

TEST(RxQueue, StampsNeverRunBackwardsAndClearEmpties) {
    RxQueue q;
    q.push("a", 1, 20 * kMs);
    q.push("b", 1, 5 * kMs);  // an earlier stamp is taken as simultaneous
    EXPECT_EQ(q.lastArrival(), 20 * kMs);
    EXPECT_EQ(q.take(SIZE_MAX, 1, 0), "ab");
    q.push("c", 1, 30 * kMs);
    q.clear();
    EXPECT_EQ(q.size(), 0u);
    EXPECT_EQ(q.take(SIZE_MAX, 0, 0), "");
}

}  // namespace
}  // namespace lt
