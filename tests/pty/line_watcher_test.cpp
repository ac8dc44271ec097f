#include "ports/linux/line_watcher.h"

#include <gtest/gtest.h>
#include <poll.h>
#include <sys/ioctl.h>
#include <unistd.h>

#include <atomic>
#include <cerrno>
#include <functional>
#include <mutex>
#include <utility>
#include <vector>

#include "pty_support.h"

namespace lt {
namespace {

using pty::runUntil;

// A driver whose wait blocks in a real system call (a poll on a pipe), so only a signal or its
// time can end it early, as with TIOCMIWAIT. The test changes the inputs, then wake() ends the
// wait; or it changes them with atNextWait() just as the next wait begins, unseen by that wait.
class FakeDriver : public ModemLineDriver {
public:
    FakeDriver() {
        if (::pipe(pipe_) != 0) pipe_[0] = pipe_[1] = -1;
    }
    ~FakeDriver() override {
        ::close(pipe_[0]);
        ::close(pipe_[1]);
    }
    int waitChange(int timeoutMs) override {
        ++waits;
        if (longestWait >= 0 && (timeoutMs < 0 || timeoutMs > longestWait)) longestWait = timeoutMs;
        if (waitError != 0 || returnAtOnce) return waitError;
        {
            std::lock_guard lock(m_);
            if (atNextWait_) std::exchange(atNextWait_, nullptr)();
        }
        pollfd p{pipe_[0], POLLIN, 0};
        const int r = ::poll(&p, 1, timeoutMs);
        if (r == 0) return EINTR;  // the time ran out
        if (r < 0) return errno;
        char c;
        return ::read(pipe_[0], &c, 1) == 1 ? 0 : errno;
    }
    void atNextWait(std::function<void()> change) {
        std::lock_guard lock(m_);
        atNextWait_ = std::move(change);
    }
    int levels(int& out) override {
        out = bits;
        return 0;
    }
    int counts(LineCounts& out) override {
        out = {cts, dsr, dcd};
        return hasCounts ? 0 : EINVAL;
    }
    void wake() { [[maybe_unused]] auto n = ::write(pipe_[1], "w", 1); }
    // The watcher's events, posted from its helper thread.
    void post(PortEvent e) {
        std::lock_guard lock(m_);
        posted_.push_back(e);
    }
    std::vector<PortEvent> posted() {
        std::lock_guard lock(m_);
        return posted_;
    }

    std::atomic<int> bits = 0, cts = 0, dsr = 0, dcd = 0, waits = 0, waitError = 0;
    std::atomic<int> longestWait = 0;  // -1: a wait without a time limit
    std::atomic<bool> hasCounts = true, returnAtOnce = false;

private:
    int pipe_[2];
    std::mutex m_;
    std::vector<PortEvent> posted_;
    std::function<void()> atNextWait_;
};

TEST(LineWatcher, ReportsEachChangedInputAndAPulseSeenOnlyInTheCounters) {
    FakeDriver drv;
    LineWatcher w(drv, [&](PortEvent e) { drv.post(e); });
    w.start();
    ASSERT_TRUE(runUntil([&] { return drv.waits.load() >= 1; }));
    EXPECT_EQ(w.mode(), LineWatcher::Mode::Waiting);

    drv.bits |= TIOCM_CTS;
    ++drv.cts;
    drv.wake();
    ASSERT_TRUE(runUntil([&] { return drv.posted().size() >= 1; }));
    // DSR and DCD together: two events in one look.
    ++drv.dsr;
    ++drv.dcd;
    drv.bits |= TIOCM_DSR | TIOCM_CD;
    drv.wake();
    ASSERT_TRUE(runUntil([&] { return drv.posted().size() >= 3; }));
    // A DSR pulse that is over before the watcher looks: the level is the same, the count is not.
    drv.dsr += 2;
    drv.wake();
    ASSERT_TRUE(runUntil([&] { return drv.posted().size() >= 4; }));
    w.stop();
    EXPECT_FALSE(w.running());
    EXPECT_EQ(drv.posted(), (std::vector<PortEvent>{PortEvent::CtsChanged, PortEvent::DsrChanged,
                                                    PortEvent::DcdChanged, PortEvent::DsrChanged}));
}

TEST(LineWatcher, AChangeJustBeforeAWaitBeginsIsReportedWithoutWaitingForAnother) {
    FakeDriver drv;
    LineWatcher w(drv, [&](PortEvent e) { drv.post(e); });
    w.start();
    ASSERT_TRUE(runUntil([&] { return drv.waits.load() >= 1; }));
    // CTS changes and wakes the wait; DCD changes after the watcher has looked, as the next wait
    // begins, so that wait never sees it and nothing else changes after it.
    drv.atNextWait([&] {
        drv.bits |= TIOCM_CD;
        ++drv.dcd;
    });
    drv.bits |= TIOCM_CTS;
    ++drv.cts;
    drv.wake();
    ASSERT_TRUE(runUntil([&] { return drv.posted().size() >= 2; }));
    w.stop();
    EXPECT_EQ(drv.posted(), (std::vector<PortEvent>{PortEvent::CtsChanged, PortEvent::DcdChanged}));
    // Every wait had a time limit within which a change is reported.
    EXPECT_GE(drv.longestWait.load(), 1);
    EXPECT_LE(drv.longestWait.load(), 100);
}

TEST(LineWatcher, PollsWhereTheDriverRefusesOrFakesTheWaitAndEndsWhenTheDeviceIsGone) {
    for (int refusal : {EINVAL, ENOTTY, 0}) {
        SCOPED_TRACE(refusal);
        FakeDriver drv;
        drv.waitError = refusal;
        drv.returnAtOnce = refusal == 0;  // a wait that comes back at once with nothing changed
        drv.hasCounts = false;
        LineWatcher w(drv, [&](PortEvent e) { drv.post(e); });
        w.start();
        ASSERT_TRUE(runUntil([&] { return w.mode() == LineWatcher::Mode::Polling; }));
        const int waitsWhenPolling = drv.waits.load();
        EXPECT_LE(waitsWhenPolling, LineWatcher::kSpuriousLimit);
        drv.bits = TIOCM_CTS;
        ASSERT_TRUE(runUntil([&] { return !drv.posted().empty(); }));
        w.stop();
        EXPECT_EQ(drv.posted(), (std::vector<PortEvent>{PortEvent::CtsChanged}));
        EXPECT_EQ(drv.waits.load(), waitsWhenPolling);  // polling never went back to the wait
    }

    FakeDriver gone;
    gone.waitError = EIO;
    LineWatcher w(gone, [&](PortEvent e) { gone.post(e); });
    w.start();
    ASSERT_TRUE(runUntil([&] { return w.mode() == LineWatcher::Mode::Ended; }));
    EXPECT_EQ(gone.waits.load(), 1);
    EXPECT_TRUE(gone.posted().empty());
}

TEST(LineWatcher, StartsAndStopsManyTimesWhileBlockedInTheWait) {
    FakeDriver drv;
    LineWatcher w(drv, [&](PortEvent e) { drv.post(e); });
    for (int i = 0; i < 300; ++i) {
        w.start();
        if (i % 3 == 0) runUntil([&] { return drv.waits.load() > i / 3; }, 1000);
        w.stop();
        ASSERT_FALSE(w.running()) << "round " << i;
    }
    EXPECT_TRUE(drv.posted().empty());
}

// Stopping a body blocked in a system call is covered by the watcher above; a polling body
// sleeps in waitFor() and is woken by notify() without a signal.
TEST(InterruptibleThread, NotifyWakesAWait) {
    InterruptibleThread t;
    std::atomic<int> turns{0};
    t.start([&](const std::atomic<bool>& stopping) {
        for (; !stopping; ++turns) t.waitFor(60'000);
    });
    t.notify();
    ASSERT_TRUE(runUntil([&] { return turns.load() >= 1; }));
    t.stop();
    EXPECT_FALSE(t.running());
}

}  // namespace
}  // namespace lt
