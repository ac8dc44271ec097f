#include "serial/linux/line_watcher.h"

#include <gtest/gtest.h>
#include <poll.h>
#include <sys/eventfd.h>
#include <sys/ioctl.h>

#include "pty_support.h"

namespace lt::pty {
namespace {

using Events = std::vector<PortEvent>;

// A driver whose wait blocks in a real poll, as TIOCMIWAIT does; wake() ends it.
class FakeDriver : public ModemLineDriver {
public:
    ~FakeDriver() override { ::close(fd_); }
    int waitChange(int timeoutMs) override {
        ++waits;
        if (longestWait >= 0 && (timeoutMs < 0 || timeoutMs > longestWait)) longestWait = timeoutMs;
        if (waitError != 0 || returnAtOnce) return waitError;
        if (dcdAtNextWait.exchange(false)) {
            bits |= TIOCM_CD;
            ++dcd;
        }
        pollfd p{fd_, POLLIN, 0};
        if (const int r = ::poll(&p, 1, timeoutMs); r <= 0) return r == 0 ? EINTR : errno;
        eventfd_t n;
        return ::eventfd_read(fd_, &n) == 0 ? 0 : errno;
    }
    int levels(int& out) override {
        out = bits;
        return 0;
    }
    int counts(LineCounts& out) override {
        out = {cts, dsr, dcd};
        return hasCounts ? 0 : EINVAL;
    }
    void wake() { ::eventfd_write(fd_, 1); }
    void post(PortEvent e) {
        std::lock_guard lock(m_);
        posted_.push_back(e);
    }
    Events posted() {
        std::lock_guard lock(m_);
        return posted_;
    }

    std::atomic<int> bits = 0, cts = 0, dsr = 0, dcd = 0, waits = 0, waitError = 0;
    std::atomic<int> longestWait = 0;  // -1: a wait without a time limit
    std::atomic<bool> hasCounts = true, returnAtOnce = false, dcdAtNextWait = false;

private:
    int fd_ = ::eventfd(0, EFD_CLOEXEC);
    std::mutex m_;
    Events posted_;
};

struct Watched {
    FakeDriver drv;
    LineWatcher w{drv, [this](PortEvent e) { drv.post(e); }};
};

// A watcher started and blocked in its first wait.
struct LineWatcherTest : ::testing::Test, Watched {
    void SetUp() override {
        w.start();
        ASSERT_TRUE(runUntil([&] { return drv.waits.load() >= 1; }));
    }
};

TEST_F(LineWatcherTest, ReportsEachChangeAPulseSeenOnlyInTheCountersAndOneJustBeforeAWait) {
    // CTS; DSR and DCD in one look; a DSR pulse seen only in the counters.
    const auto step = [&](int levels, int dcts, int ddsr, int ddcd, std::size_t events) {
        drv.bits |= levels;
        drv.cts += dcts;
        drv.dsr += ddsr;
        drv.dcd += ddcd;
        const int waits = drv.waits;
        drv.wake();
        ASSERT_TRUE(runUntil([&] { return drv.posted().size() >= events && drv.waits > waits; }));
    };
    step(TIOCM_CTS, 1, 0, 0, 1);
    step(TIOCM_DSR | TIOCM_CD, 0, 1, 1, 3);
    step(0, 0, 2, 0, 4);
    // A CTS pulse; DCD moves just as the next wait begins, unseen by that wait.
    drv.dcdAtNextWait = true;
    step(0, 1, 0, 0, 6);
    w.stop();
    EXPECT_FALSE(w.running());
    EXPECT_EQ(drv.posted(),
              (Events{PortEvent::CtsChanged, PortEvent::DsrChanged, PortEvent::DcdChanged,
                      PortEvent::DsrChanged, PortEvent::CtsChanged, PortEvent::DcdChanged}));
    // Every wait had a time limit within which a change is reported.
    EXPECT_GE(drv.longestWait.load(), 1);
    EXPECT_LE(drv.longestWait.load(), 100);
}

TEST(LineWatcher, PollsWhereTheDriverRefusesOrFakesTheWaitAndEndsWhenTheDeviceIsGone) {
    for (int refusal : {EINVAL, ENOTTY, 0}) {
        SCOPED_TRACE(refusal);
        Watched t;
        t.drv.waitError = refusal;
        t.drv.returnAtOnce = refusal == 0;  // a wait that comes back at once with nothing changed
        t.drv.hasCounts = false;
        t.w.start();
        ASSERT_TRUE(runUntil([&] { return t.w.mode() == LineWatcher::Mode::Polling; }));
        const int waitsWhenPolling = t.drv.waits.load();
        EXPECT_LE(waitsWhenPolling, LineWatcher::kSpuriousLimit);
        t.drv.bits = TIOCM_CTS;
        ASSERT_TRUE(runUntil([&] { return !t.drv.posted().empty(); }));
        t.w.stop();
        EXPECT_EQ(t.drv.posted(), Events{PortEvent::CtsChanged});
        EXPECT_EQ(t.drv.waits.load(), waitsWhenPolling);  // polling never went back to the wait
    }
    Watched gone;
    gone.drv.waitError = EIO;
    gone.w.start();
    ASSERT_TRUE(runUntil([&] { return gone.w.mode() == LineWatcher::Mode::Ended; }));
    EXPECT_EQ(gone.drv.waits.load(), 1);
    EXPECT_TRUE(gone.drv.posted().empty());
}

TEST(InterruptibleThread, NotifyWakesAWait) {
    InterruptibleThread t;
    std::atomic<int> turns{0};
    t.start([&](const std::atomic<bool>& stopping) {
        for (; !stopping; ++turns) t.waitFor(60'000);
    });
    t.notify();
    EXPECT_TRUE(runUntil([&] { return turns.load() >= 1; }));
}

}  // namespace
}  // namespace lt::pty
