#include "ports/linux/line_watcher.h"

#include <gtest/gtest.h>
#include <sys/ioctl.h>
#include <unistd.h>

#include <cerrno>
#include <mutex>
#include <vector>

#include "pty_support.h"

namespace lt {
namespace {

// A driver whose wait blocks in a real system call (a read on a pipe), so only a signal can end
// it early, as with TIOCMIWAIT. The test changes the inputs and then writes a byte to wake it.
class FakeDriver : public ModemLineDriver {
  public:
    FakeDriver() {
        if (::pipe(pipe_) != 0) pipe_[0] = pipe_[1] = -1;
    }
    ~FakeDriver() override {
        ::close(pipe_[0]);
        ::close(pipe_[1]);
    }

    int waitChange() override {
        {
            std::lock_guard lock(m_);
            ++waits;
            if (waitError != 0) return waitError;
            if (returnAtOnce) return 0;
        }
        char c;
        if (::read(pipe_[0], &c, 1) == 1) return 0;
        return errno;
    }
    int levels(int& out) override {
        std::lock_guard lock(m_);
        out = bits;
        return levelsError;
    }
    int counts(LineCounts& out) override {
        std::lock_guard lock(m_);
        if (!hasCounts) return EINVAL;
        out = c;
        return 0;
    }

    template <class F>
    void change(F&& f) {
        {
            std::lock_guard lock(m_);
            f();
        }
        const char c = 1;
        [[maybe_unused]] auto n = ::write(pipe_[1], &c, 1);
    }
    void set(int bit, bool on) {
        std::lock_guard lock(m_);
        bits = on ? (bits | bit) : (bits & ~bit);
    }
    int waitCount() {
        std::lock_guard lock(m_);
        return waits;
    }

    std::mutex m_;
    int bits = 0;
    LineCounts c;
    bool hasCounts = true;
    int waitError = 0;
    int levelsError = 0;
    bool returnAtOnce = false;
    int waits = 0;

  private:
    int pipe_[2];
};

struct Posted {
    void operator()(i16 e) {
        std::lock_guard lock(m);
        events.push_back(e);
    }
    std::vector<i16> get() {
        std::lock_guard lock(m);
        return events;
    }
    std::mutex m;
    std::vector<i16> events;
};

TEST(LineWatcher, ReportsEachChangedInputAndAPulseSeenOnlyInTheCounters) {
    FakeDriver drv;
    Posted posted;
    LineWatcher w(drv, [&](i16 e) { posted(e); });
    w.start();
    ASSERT_TRUE(pty::runUntil([&] { return drv.waitCount() >= 1; }));
    EXPECT_EQ(w.mode(), LineWatcher::Mode::Waiting);

    drv.change([&] {
        drv.bits |= TIOCM_CTS;
        ++drv.c.cts;
    });
    ASSERT_TRUE(pty::runUntil([&] { return posted.get().size() >= 1; }));
    EXPECT_EQ(posted.get(), (std::vector<i16>{comEvCTS}));

    // DSR and DCD together: two events in one look.
    drv.change([&] {
        drv.bits |= TIOCM_DSR | TIOCM_CD;
        ++drv.c.dsr;
        ++drv.c.dcd;
    });
    ASSERT_TRUE(pty::runUntil([&] { return posted.get().size() >= 3; }));
    EXPECT_EQ(posted.get(), (std::vector<i16>{comEvCTS, comEvDSR, comEvCD}));

    // A DSR pulse that is over before the watcher looks: the level is the same, the count is not.
    drv.change([&] { drv.c.dsr += 2; });
    ASSERT_TRUE(pty::runUntil([&] { return posted.get().size() >= 4; }));
    EXPECT_EQ(posted.get().back(), comEvDSR);
    w.stop();
    EXPECT_FALSE(w.running());
    EXPECT_EQ(posted.get().size(), 4u);
}

TEST(LineWatcher, PollsWhereTheDriverRefusesOrFakesTheWait) {
    for (int refusal : {EINVAL, ENOTTY, 0}) {
        SCOPED_TRACE(refusal);
        FakeDriver drv;
        drv.waitError = refusal;
        drv.returnAtOnce = refusal == 0;  // a wait that comes back at once with nothing changed
        drv.hasCounts = false;
        Posted posted;
        LineWatcher w(drv, [&](i16 e) { posted(e); });
        w.start();
        ASSERT_TRUE(pty::runUntil([&] { return w.mode() == LineWatcher::Mode::Polling; }));
        const int waitsWhenPolling = drv.waitCount();
        EXPECT_LE(waitsWhenPolling, LineWatcher::kSpuriousLimit);
        drv.set(TIOCM_CTS, true);
        ASSERT_TRUE(pty::runUntil([&] { return !posted.get().empty(); }));
        EXPECT_EQ(posted.get(), (std::vector<i16>{comEvCTS}));
        w.stop();
        // Polling never went back to the refused wait.
        EXPECT_EQ(drv.waitCount(), waitsWhenPolling);
    }
}

TEST(LineWatcher, EndsQuietlyWhenTheDeviceIsGone) {
    FakeDriver drv;
    drv.waitError = EIO;
    Posted posted;
    LineWatcher w(drv, [&](i16 e) { posted(e); });
    w.start();
    ASSERT_TRUE(pty::runUntil([&] { return w.mode() == LineWatcher::Mode::Ended; }));
    EXPECT_EQ(drv.waitCount(), 1);
    EXPECT_TRUE(posted.get().empty());
}

TEST(LineWatcher, StartsAndStopsManyTimesWhileBlockedInTheWait) {
    FakeDriver drv;
    Posted posted;
    LineWatcher w(drv, [&](i16 e) { posted(e); });
    for (int i = 0; i < 300; ++i) {
        w.start();
        if (i % 3 == 0) pty::runUntil([&] { return drv.waitCount() > i / 3; }, 1000);
        w.stop();
        ASSERT_FALSE(w.running()) << "round " << i;
    }
    EXPECT_TRUE(posted.get().empty());
}

TEST(InterruptibleThread, StopInterruptsABlockingCallAndNotifyWakesAWait) {
    int p[2];
    ASSERT_EQ(::pipe(p), 0);
    InterruptibleThread t;
    std::atomic<int> interrupted{0};
    for (int i = 0; i < 100; ++i) {
        std::atomic<bool> entered{false};
        t.start([&](const std::atomic<bool>& stopping) {
            char c;
            while (!stopping) {
                entered = true;
                if (::read(p[0], &c, 1) < 0 && errno == EINTR) ++interrupted;
            }
        });
        ASSERT_TRUE(pty::runUntil([&] { return entered.load(); }));
        t.stop();
        ASSERT_FALSE(t.running());
    }
    EXPECT_GE(interrupted.load(), 1);

    std::atomic<int> turns{0};
    t.start([&](const std::atomic<bool>& stopping) {
        while (!stopping) {
            t.waitFor(60'000);
            ++turns;
        }
    });
    t.notify();
    ASSERT_TRUE(pty::runUntil([&] { return turns.load() >= 1; }));
    t.stop();
    ::close(p[0]);
    ::close(p[1]);
}

}  // namespace
}  // namespace lt
