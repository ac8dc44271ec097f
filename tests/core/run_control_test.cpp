// "Пуск", "Стоп" and "Авт.": the run states, their transitions and the poll period.
#include <gtest/gtest.h>

#include "panels/run_control.h"
#include "sim/rig.h"

namespace lt::sim {
namespace {

const std::vector<std::string> kBadInterval{"Интервал должен быть целым числом"};

// The period's bounds and number format are the run panel's own; the rounding is the conversion's.
TEST(RunPanel, PeriodIsAWholeNumberOfMillisecondsInTheLocalesFormat) {
    VirtualLoop loop;
    TestHost host{loop};
    QLocale locale = QLocale(QLocale::German);
    lt::RunControl run(host, locale);
    run.typePollInterval("13,5");
    EXPECT_EQ(run.pollInterval(), 14);
    EXPECT_TRUE(host.messages.empty());
}

enum class State { Stopped, Polling, Automatic };

class StartStop : public ::testing::Test {
protected:
    // The run panel and the core in state `s`; whether the poll runs is seen from the rows.
    void expectState(State s) {
        const bool running = s != State::Stopped;
        const RunPanelView run = core.view().run;
        EXPECT_EQ(core.running(), running);
        EXPECT_EQ(run.autoFraming.enabled, !running);
        EXPECT_EQ(running && run.autoFraming.checked, s == State::Automatic);
        EXPECT_EQ(run.startLit, s == State::Polling || s == State::Automatic);
    }
    unsigned rowsIn(double v) {
        const unsigned before = rig.rowsWritten();
        rig.runMs(v);
        return rig.rowsWritten() - before;
    }
    void start(const std::string& period) {
        core.typePollInterval(period);
        core.start();
    }

    Rig rig;
    Core& core = rig.core;
};

TEST_F(StartStop, PolledRunThroughFurtherStartsToStopAndAPeriodOfZero) {
    expectState(State::Stopped);
    rig.runMs(3);
    start("10");
    expectState(State::Polling);
    EXPECT_EQ(rowsIn(9), 0u);
    EXPECT_EQ(rowsIn(1), 1u) << "the first poll a period after Start";
    EXPECT_EQ(rowsIn(30), 3u) << "with both ports switched off too";

    // A refused text at a further Start: the running period stays, rows start again at 0.
    start("oops");
    EXPECT_EQ(rig.host.messages, kBadInterval);
    expectState(State::Polling);
    EXPECT_EQ(rig.nextRow(), 0);
    EXPECT_EQ(rowsIn(100), 10u);

    // Stop turns the newest row's marker, the tenth, to an earlier one, and the poll ends.
    core.stop();
    expectState(State::Stopped);
    for (const ScreenRow& r : core.screen().rows()) EXPECT_EQ(r.marker, RowMarker::Earlier);
    EXPECT_EQ(rowsIn(200), 0u);

    start("0");
    expectState(State::Polling);
    EXPECT_EQ(rowsIn(5000), 0u) << "an accepted 0 runs without writing rows";
    EXPECT_EQ(rig.host.messages.size(), 1u);
}

// "ОК" while polling: the new period counts from it; a refused one puts the running period back
// once its message is closed, and shows "ОК" again.
TEST_F(StartStop, OkAppliesThePeriodFromItselfAndARefusedOneKeepsTheRunningPeriod) {
    start("25");
    EXPECT_EQ(rowsIn(27), 1u);
    core.typePollInterval("20");
    EXPECT_TRUE(core.view().run.applyVisible);
    EXPECT_EQ(rowsIn(21), 0u) << "typing alone never changes the period";
    core.applyPollInterval();
    EXPECT_FALSE(core.view().run.applyVisible);
    EXPECT_EQ(rowsIn(19), 0u) << "the new period counts from the ОК";
    EXPECT_EQ(rowsIn(1), 1u);
    core.typePollInterval("-1");
    core.applyPollInterval();
    EXPECT_EQ(rig.host.messages, kBadInterval);
    EXPECT_EQ(core.view().run.pollInterval, "20");
    EXPECT_TRUE(core.view().run.applyVisible);
    EXPECT_EQ(rowsIn(20), 1u) << "still polling every 20 ms";
}

TEST_F(StartStop, StopWhileBothPortsCollectFinishesPort2sPacketAndKeepsPort1sBytes) {
    rig.switchBothOn();
    rig.runAuto();
    rig.line1.peerSend("old");
    rig.line2.peerSend("tail");
    rig.runMs(20);  // two characters of each at 1200 baud
    ASSERT_TRUE(rig.channel(1).collecting() && rig.channel(2).collecting());
    core.stop();
    expectState(State::Stopped);
    EXPECT_EQ(rig.nextRow(), 0);
    rig.runMs(200);
    EXPECT_EQ(rig.nextRow(), 1) << "port 2's packet only";
    // Port 2's packet ends a pause after its last byte before Stop; the next byte waits.
    EXPECT_EQ(rig.row(0).ports[1].bytes, "tai");
    EXPECT_EQ(std::pair(rig.line1.bytesWaiting(), rig.line2.bytesWaiting()), std::pair(3ul, 1ul));
    // Stopped, "Авт." may change; started again, the old bytes begin port 1's first packet.
    core.setAutoFraming(false);
    EXPECT_TRUE(core.view().run.pollIntervalEnabled);
    rig.runAuto();
    rig.sendAt(rig.line1, 300, "new");
    rig.runMs(200);
    EXPECT_EQ(rig.nextRow(), 1);
    EXPECT_EQ(rig.row(0).ports[0].bytes, "oldnew");
}

}  // namespace
}  // namespace lt::sim
