#include "qt/qt_host.h"

#include <QCoreApplication>

#include "pty_support.h"

namespace lt::pty {
namespace {

TEST(QtHost, TimersTickPeriodicallyNeverWithIntervalZeroAndTheFirstExpiryComesOnce) {
    QtHost host;
    auto periodic = host.createTimer();
    auto oneShot = host.createTimer();
    std::vector<char> order;
    periodic->onTick = [&] { order.push_back('p'); };
    oneShot->onTick = [&] {
        order.push_back('o');
        oneShot->setEnabled(false);  // a gap timer disables itself in its tick
    };
    periodic->restart(2);
    ASSERT_TRUE(runUntil([&] { return order.size() >= 3; }));
    periodic->restart(0);  // enabled, but an interval of 0 never fires
    order.clear();
    runFor(30);
    EXPECT_TRUE(order.empty());

    // A first expiry comes once, then the interval's ticks or nothing.
    oneShot->startFirstAfter(500'000);  // half a millisecond
    ASSERT_TRUE(runUntil([&] { return order.size() == 1; }));
    runFor(20);
    periodic->setInterval(3);
    periodic->startFirstAfter(0);
    ASSERT_TRUE(runUntil([&] { return order.size() >= 4; }));
    periodic->setEnabled(false);
    EXPECT_EQ(order, (std::vector<char>{'o', 'p', 'p', 'p'}));

    // A first expiry replaced or cancelled before it is due does not come.
    order.clear();
    oneShot->startFirstAfter(5'000'000'000);
    oneShot->startFirstAfter(1'000'000);
    ASSERT_TRUE(runUntil([&] { return order.size() == 1; }));
    oneShot->startFirstAfter(2'000'000);
    oneShot->setEnabled(false);
    runFor(30);
    EXPECT_EQ(order, std::vector<char>{'o'});
}

}  // namespace
}  // namespace lt::pty

// The serial ports deliver their events through the Qt event loop, so the tests need one.
int main(int argc, char** argv) {
    QCoreApplication app(argc, argv);
    ::testing::InitGoogleTest(&argc, argv);
    return RUN_ALL_TESTS();
}
