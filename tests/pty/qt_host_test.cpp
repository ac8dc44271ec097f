#include "app/qt/qt_host.h"

#include <gtest/gtest.h>

#include <vector>

#include "pty_support.h"

namespace lt {
namespace {

using pty::runFor;
using pty::runUntil;

TEST(QtHost, TimerTicksPeriodicallyStopsWhenDisabledAndNeverWithIntervalZero) {
    QtHost host;
    auto t = host.createTimer();
    int ticks = 0;
    t->onTick = [&] { ++ticks; };
    t->setInterval(2);
    EXPECT_FALSE(t->enabled());
    t->setEnabled(true);
    EXPECT_TRUE(t->enabled());
    ASSERT_TRUE(runUntil([&] { return ticks >= 3; }));
    t->setEnabled(false);
    const int stopped = ticks;
    runFor(30);
    EXPECT_EQ(ticks, stopped);

    // An interval of 0 never fires, enabled or restarted.
    t->restart(0);
    EXPECT_TRUE(t->enabled());
    EXPECT_EQ(t->interval(), 0);
    runFor(30);
    EXPECT_EQ(ticks, stopped);
}

TEST(QtHost, FirstExpiryComesOnceThenTheIntervalOrNothing) {
    QtHost host;
    auto oneShot = host.createTimer();
    auto periodic = host.createTimer();
    std::vector<char> order;
    oneShot->onTick = [&] {
        order.push_back('o');
        oneShot->setEnabled(false);  // a gap timer disables itself in its tick
    };
    periodic->onTick = [&] { order.push_back('p'); };

    oneShot->setInterval(0);
    oneShot->startFirstAfter(500'000);  // half a millisecond
    EXPECT_TRUE(oneShot->enabled());
    ASSERT_TRUE(runUntil([&] { return order.size() == 1; }));
    runFor(20);
    EXPECT_EQ(order, std::vector<char>{'o'});

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

TEST(QtHost, ClockEnvironmentMessagesAndQuitGoWhereTheyShould) {
    QtHost host;
    const Nanos a = host.monotonicNow();
    const Nanos b = host.monotonicNow();
    EXPECT_GT(a, 0);
    EXPECT_GE(b, a);
    EXPECT_TRUE(host.currentDateTime().isValid());

    ::setenv("LINETAP_TEST_VARIABLE", "/dev/ttyUSB7", 1);
    EXPECT_EQ(host.environment("LINETAP_TEST_VARIABLE"),
              std::optional<std::string>("/dev/ttyUSB7"));
    ::unsetenv("LINETAP_TEST_VARIABLE");
    EXPECT_EQ(host.environment("LINETAP_TEST_VARIABLE"), std::nullopt);

    std::vector<std::string> shown;
    int quits = 0;
    host.onMessage = [&](const std::string& s) { shown.push_back(s); };
    host.onQuit = [&] { ++quits; };
    host.showMessage("DCB Write Error:22");
    host.quit();
    EXPECT_EQ(shown, std::vector<std::string>{"DCB Write Error:22"});
    EXPECT_EQ(quits, 1);
}

}  // namespace
}  // namespace lt
