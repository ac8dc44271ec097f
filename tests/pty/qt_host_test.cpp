#include "qt/qt_host.h"

#include <pthread.h>

#include <QCoreApplication>
#include <atomic>
#include <thread>

#include "pty_support.h"
#include "qt/signal_watch.h"

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

// Signals that come faster than the event loop takes them (it is held up here) fill the watch's
// socket; the handler must still return, and the stop still comes once the loop runs.
TEST(SignalWatch, ABurstOfSignalsWhileTheLoopIsHeldUpNeverBlocksTheHandler) {
    int stops = 0;
    SignalWatch watch([&](int sig) {
        EXPECT_EQ(sig, SIGUSR2);
        ++stops;
    });
    std::atomic<bool> returned{false};
    std::thread burst([&] {
        // Ten times what the socket holds of one-byte writes.
        for (int i = 0; i < 3000; ++i) ::pthread_kill(::pthread_self(), SIGUSR2);
        returned = true;
    });
    EXPECT_TRUE(test::waitUntil([&] { return returned.load(); })) << "the handler blocked";
    // A handler stuck in its write goes on as the loop empties the socket.
    EXPECT_TRUE(runUntil([&] { return returned && stops > 0; }, 10'000));
    burst.join();
}

}  // namespace
}  // namespace lt::pty

// The serial ports deliver their events through the Qt event loop, so the tests need one.
int main(int argc, char** argv) {
    QCoreApplication app(argc, argv);
    ::testing::InitGoogleTest(&argc, argv);
    return RUN_ALL_TESTS();
}
