// Scenarios of line tracking between packets and of the relay of line states to the other port.
#include <gtest/gtest.h>

#include <algorithm>

#include "sim/rig.h"

namespace lt::sim {
namespace {

constexpr int kRows = DataScreen::kRows;

class LineRelay : public ::testing::Test {
protected:
    void SetUp() override {
        rig.switchBothOn();
        rig.runAuto();
        // A first line event, so that the screen's snapshot matches the lines as they are.
        rig.line1.peerSetCd(true);
        rig.line1.peerSetCd(false);
        rig.runMs(1);
        row0 = rig.nextRow();
    }
    // Port 2's outputs low by hand, then handed to the relay of port 1's inputs.
    void relayOneToTwo() {
        core.setRts(2, false);
        core.setDtr(2, false);
        core.setLineRelay(1, true);
    }
    int enabledOutputs(int port) const {
        const PortPanelView p = rig.panel(port);
        return p.rts.enabled + p.dtr.enabled + p.strobe.enabled;
    }
    int rowsSince(int from) const { return (rig.nextRow() - from + kRows) % kRows; }
    void cts(SimLine& line, bool on) {
        line.peerSetRts(on);
        rig.runMs(1);
    }
    // Port 1's peer sends `bytes` and raises our CTS inside them.
    void packetWithCtsRisingInside(const std::string& bytes) {
        const double now = rig.loop.now() / 1e6;
        rig.sendAt(rig.line1, now, bytes);
        rig.loop.post(ms(now + charMs + 0.5), [this] { rig.line1.peerSetRts(true); });
    }

    Rig rig;
    Core& core = rig.core;
    int row0 = 0;
    const double charMs = 11.0 / 1200 * 1000;  // one 8O1 character at 1200 baud
};

// The lines go out with a finished packet, no later than its first byte.
TEST_F(LineRelay, RelayedPacketWithCtsAloneRaisesTheOtherRtsAndLeavesItsDtrOff) {
    core.setDataRelay(1, true);
    relayOneToTwo();
    packetWithCtsRisingInside("a");  // its snapshot still has CTS off
    rig.runMs(50);
    ASSERT_FALSE(rig.line2.peerSeesRts());
    rig.sendAt(rig.line1, rig.loop.now() / 1e6, "b");
    rig.runMs(50);
    EXPECT_EQ(peerSees(rig.line2), "R-");
    ASSERT_EQ(rig.line2.peerReceived(), "ab");
    const Nanos raised = rig.line2.peerLineLog().back().at;
    EXPECT_GT(raised, rig.line2.peerLog()[0].at) << "rose with the packet that carries CTS";
    EXPECT_LE(raised, rig.line2.peerLog()[1].at - rig.line2.characterTime());
}

TEST_F(LineRelay, UnchangedLinesGiveNoRowAndARecordOfLinesCarriesNoBytes) {
    core.setRecording(true);
    rig.sendAt(rig.line1, rig.loop.now() / 1e6, "kept");
    rig.sendAt(rig.line2, rig.loop.now() / 1e6, "kept");
    rig.runMs(100);
    rig.records.text.clear();
    row0 = rig.nextRow();
    // Up and down again before the events are handled: both see CTS as it was.
    rig.line1.peerSetRts(true);
    cts(rig.line1, false);
    EXPECT_EQ(rowsSince(row0), 0);
    EXPECT_EQ(rig.records.text, "");

    cts(rig.line1, true);
    EXPECT_EQ(rowsSince(row0), 1);
    EXPECT_NE(rig.records.text.find("CTS=1   Data=\r\n"), std::string::npos) << rig.records.text;
    EXPECT_EQ(rig.records.text.find("Data= "), std::string::npos) << "bytes in a record of lines";
    // Each port's lines are held against its own last ones: port 2 coming to port 1's is a change.
    cts(rig.line2, true);
    EXPECT_EQ(rowsSince(row0), 2);
}

TEST_F(LineRelay, RelayBoxAndBothSwitchesDecideWhoDrivesTheOtherPortsOutputsAndDcdIsNeverRelayed) {
    core.setRts(2, false);  // port 2: RTS box clear, DTR box ticked
    cts(rig.line1, true);
    EXPECT_EQ(peerSees(rig.line2), "-D") << "relay box clear";

    // Ticked, the relay takes port 2's outputs at the next line event, against its boxes.
    core.setLineRelay(1, true);
    EXPECT_EQ(std::pair(enabledOutputs(1), enabledOutputs(2)), std::pair(3, 0));
    EXPECT_TRUE(rig.panel(2).dtr.checked) << "ticks stay";
    EXPECT_EQ(peerSees(rig.line2), "-D") << "ticking the relay sends nothing by itself";
    const int r = rig.nextRow();
    rig.line1.peerSetCd(true);
    rig.runMs(1);
    ASSERT_EQ(peerSees(rig.line2), "R-") << "DTR follows port 1's DSR, which is off";
    // The row shows both ports, port 2's outputs as just relayed.
    EXPECT_EQ(rig.row(r).ports[0].lamps, (LineStates{true, true, true, false, true}));
    EXPECT_EQ(rig.row(r).ports[1].lamps, (LineStates{true, false, false, false, false}));
    core.setLineRelay(1, false);
    EXPECT_EQ(enabledOutputs(2), 3);
    EXPECT_EQ(peerSees(rig.line2), "-D");

    core.setLineRelay(1, true);
    core.switchPort(2, false);
    rig.line1.peerSetRts(false);
    cts(rig.line1, true);
    EXPECT_FALSE(rig.line2.rts());
}

class DelayedRelay : public LineRelay {
protected:
    void SetUp() override {
        LineRelay::SetUp();
        core.setDataRelay(1, true);
        relayOneToTwo();
    }
    // When the bytes that port 2 sent so far had all left it.
    Nanos drained() const { return rig.line2.peerLog().back().at; }
};

// Port 2's RTS is set before its DTR when the delay runs out.
TEST_F(DelayedRelay, FollowsTheSourceRtsFirstALineDelayAfterTheLastRelayedPacketHasLeft) {
    rig.sendAt(rig.line1, rig.loop.now() / 1e6, "a");
    rig.runMs(35);
    ASSERT_EQ(rig.line2.peerReceived(), "a");
    const Nanos first = drained();
    // Packet 2 follows before the delay has run out; CTS and DSR rise inside it.
    rig.runMs(5);
    packetWithCtsRisingInside("b");
    rig.loop.post(rig.loop.now() + ms(charMs + 0.5), [this] { rig.line1.peerSetDtr(true); });
    rig.runMs(3 * charMs + 15);
    ASSERT_EQ(rig.line2.peerReceived(), "ab");
    const Nanos second = drained();
    ASSERT_LT(second, first + ms(100));

    rig.runMs(300);
    const auto& log = rig.line2.peerLineLog();
    const auto raised = std::find_if(
        log.begin(), log.end(), [&](const auto& l) { return l.at > second && (l.rts || l.dtr); });
    ASSERT_NE(raised, log.end());
    EXPECT_EQ(raised->at, second + ms(100)) << "not one delay after the last packet had left";
    EXPECT_TRUE(raised->rts && !raised->dtr);
    EXPECT_TRUE(log.back().rts && log.back().dtr);
}

// A port switched off or lost, or either relay cleared, before it runs out; or a delay of 0.
TEST_F(DelayedRelay, OnlyRunsOutWithBothPortsAndBothRelaysStillOnAndADelayAbove0) {
    enum class Off { Nothing, Port2, Port2Lost, DataRelay, LineRelay, Delay };
    for (Off off :
         {Off::Nothing, Off::Port2, Off::Port2Lost, Off::DataRelay, Off::LineRelay, Off::Delay}) {
        SCOPED_TRACE(static_cast<int>(off));
        rig.line2.clearPeerLog();
        rig.switchBothOn();
        core.setLineRelay(1, false);
        relayOneToTwo();
        core.setDataRelay(1, true);
        if (off == Off::Delay) rig.useIntervals(core.settings().gapMs, 0);
        packetWithCtsRisingInside("a");
        rig.runMs(22);  // relayed, and still leaving port 2
        if (off == Off::DataRelay) core.setDataRelay(1, false);
        rig.runMs(13);
        ASSERT_EQ(rig.line2.peerReceived(), "a");
        ASSERT_FALSE(rig.line2.rts());
        if (off == Off::LineRelay) core.setLineRelay(1, false);
        if (off == Off::Port2) core.switchPort(2, false);
        if (off == Off::Port2Lost) rig.line2.peerVanish();
        const int row = rig.nextRow();
        rig.runMs(200);
        // Only then does port 2's RTS follow, with a row for each port's new lines.
        EXPECT_EQ(rig.line2.rts(), off == Off::Nothing);
        EXPECT_EQ(rowsSince(row), off == Off::Nothing ? 2 : 0);
        EXPECT_TRUE(rig.host.messages.empty());
        cts(rig.line1, false);
        if (off == Off::Port2Lost) core.switchPort(2, false);
    }
}

}  // namespace
}  // namespace lt::sim
