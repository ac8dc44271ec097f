// Scenarios of line tracking between packets and of the relay of line states to the other port.
#include <gtest/gtest.h>

#include "sim/rig.h"

namespace lt::sim {
namespace {

class LineRelay : public ::testing::Test {
  protected:
    void SetUp() override {
        core.Set_Check(10, 1);
        core.Set_Check(11, 1);
        rig.runAuto();
        // A first line event so that the snapshot of the screen matches the lines as they are.
        core.Line_Change(core.port1);
        row0 = core.Screen_Row;
    }
    // Port 2's outputs low by hand, then handed to the relay of port 1's inputs.
    void relayOneToTwo() {
        core.Set_Check(3, 0);
        core.Set_Check(4, 0);
        core.Set_Check(7, 1);
    }
    int rowsSince(int from) const { return (core.Screen_Row - from + kRows) % kRows; }
    // Whether the peer of `line` saw RTS at virtual time `t`.
    static bool rtsAt(const SimLine& line, Nanos t) {
        bool rts = false;
        for (const auto& l : line.peerLineLog())
            if (l.at <= t) rts = l.rts;
        return rts;
    }

    Rig rig;
    Core& core = rig.core;
    Form& form = rig.core.form;
    int row0 = 0;
};

TEST_F(LineRelay, CtsOfPortOneRaisesRtsOfPortTwoAtOnceWithARowOfBothPorts) {
    relayOneToTwo();
    ASSERT_FALSE(rig.line2.peerSeesRts());
    EXPECT_EQ(rowsSince(row0), 0) << "ticking the relay sends nothing by itself";

    rig.line1.peerSetRts(true);
    rig.runMs(1);
    EXPECT_TRUE(rig.line2.peerSeesRts());
    EXPECT_FALSE(rig.line2.peerSeesDtr()) << "DTR follows port 1's DSR, which is off";
    EXPECT_EQ(core.port2.RTS, kOn);
    EXPECT_EQ(core.port2.DTR, kOff);

    ASSERT_EQ(rowsSince(row0), 1);
    const int r = row0;
    EXPECT_EQ(form.Shape12[r], color::DarkGreen);  // port 1 CTS
    EXPECT_EQ(form.Shape4[r], color::Red);         // port 1 RTS
    EXPECT_EQ(form.Shape5[r], color::Red);         // port 2 RTS, just relayed
    EXPECT_EQ(form.Shape7[r], color::WindowBackground);
    EXPECT_EQ(form.Shape2[r], color::Red);
    EXPECT_EQ(form.Text1[r], "");

    // DSR follows to DTR the same way, from the other side too.
    core.Set_Check(8, 1);
    rig.line1.peerSetDtr(true);
    rig.runMs(1);
    EXPECT_TRUE(rig.line2.peerSeesDtr());
    rig.line2.peerSetRts(true);
    rig.runMs(1);
    EXPECT_TRUE(rig.line1.peerSeesRts());
    EXPECT_FALSE(rig.line1.peerSeesDtr());
}

TEST_F(LineRelay, DcdGivesARowButIsNeverRelayed) {
    relayOneToTwo();
    rig.line1.peerSetCd(true);
    rig.runMs(1);
    EXPECT_FALSE(rig.line2.peerSeesRts());
    EXPECT_FALSE(rig.line2.peerSeesDtr());
    ASSERT_EQ(rowsSince(row0), 1);
    EXPECT_EQ(form.Shape8[row0], color::DarkGreen);  // port 1 DCD
}

TEST_F(LineRelay, UnchangedLinesGiveNoRowAndNoRecord) {
    core.Recording = 1;
    rig.records.open = true;
    core.Data_Port1 = "kept";
    core.Data_Port2 = "kept";
    // Up and down again before the events are handled: both see CTS as it was.
    rig.line1.peerSetRts(true);
    rig.line1.peerSetRts(false);
    rig.runMs(1);
    EXPECT_EQ(rowsSince(row0), 0);
    EXPECT_EQ(core.Data_Port1, "kept") << "a record was written";
    EXPECT_EQ(rig.records.text, "");

    rig.line1.peerSetRts(true);
    rig.runMs(1);
    EXPECT_EQ(rowsSince(row0), 1);
    EXPECT_EQ(core.Data_Port1, "") << "the signal record carries no data";
    EXPECT_EQ(core.Data_Port2, "");
    const std::string& t = rig.records.text;
    EXPECT_NE(t.find("COM1:"), std::string::npos) << t;
    EXPECT_EQ(t.find("kept"), std::string::npos) << t;
    EXPECT_EQ(t.find("Data= "), std::string::npos) << "no bytes in a line-state record: " << t;
}

TEST_F(LineRelay, NoRelayUnlessBothPortsAreOnAndTheBoxIsTicked) {
    core.Set_Check(3, 0);
    rig.line1.peerSetRts(true);
    rig.runMs(1);
    EXPECT_FALSE(rig.line2.peerSeesRts()) << "relay box clear";
    EXPECT_EQ(rowsSince(row0), 1);

    core.Set_Check(7, 1);
    core.Set_Check(11, 0);
    rig.line1.peerSetRts(false);
    rig.line1.peerSetRts(true);
    rig.runMs(1);
    EXPECT_FALSE(rig.line2.RTSEnable()) << "port 2 switched off";
    EXPECT_FALSE(form.Check[3].Enabled);

    // Port 2 back on: its boxes are usable until the next relay moment overrides them.
    core.Set_Check(11, 1);
    EXPECT_TRUE(form.Check[3].Enabled);
    EXPECT_TRUE(rig.line2.peerSeesRts());
    rig.line1.peerSetRts(false);
    rig.runMs(1);
    EXPECT_FALSE(rig.line2.peerSeesRts());
}

TEST_F(LineRelay, ServiceRelayBoxHandsTheOtherPortsOutputsOverAndBack) {
    core.Set_Check(4, 0);
    core.Set_Check(7, 1);
    for (int n : {3, 4, 14}) EXPECT_FALSE(form.Check[n].Enabled) << "Check" << n;
    EXPECT_EQ(form.Check[3].Value, 1) << "ticks stay";
    for (int n : {1, 2, 13}) EXPECT_TRUE(form.Check[n].Enabled) << "own boxes untouched";

    // Each line event applies the relay: port 2's RTS and DTR follow port 1's CTS and DSR, off.
    rig.line1.peerSetRts(true);
    rig.line1.peerSetRts(false);
    rig.runMs(1);
    ASSERT_FALSE(rig.line2.peerSeesRts());

    core.Set_Check(7, 0);
    for (int n : {3, 4, 14}) EXPECT_TRUE(form.Check[n].Enabled) << "Check" << n;
    EXPECT_TRUE(rig.line2.peerSeesRts()) << "back to the RTS box at once";
    EXPECT_FALSE(rig.line2.peerSeesDtr()) << "back to the DTR box at once";
}

TEST_F(LineRelay, ClearingTheRelayKeepsASwitchedOffPortsPanelDisabled) {
    core.Set_Check(7, 1);
    core.Set_Check(11, 0);
    core.Set_Check(7, 0);
    for (int n : {3, 4, 14}) EXPECT_FALSE(form.Check[n].Enabled) << "Check" << n;
}

class DelayedRelay : public LineRelay {
  protected:
    void SetUp() override {
        LineRelay::SetUp();
        core.Set_Check(5, 1);
        relayOneToTwo();
        core.Service_Delay = 100;
    }
    // The peer of port 1 sends `bytes` at `atMs`, and raises its RTS (our CTS) `ctsAfterMs` later.
    void packetWithCtsRisingInside(double atMs, const std::string& bytes, double ctsAfterMs) {
        rig.loop.post(ms(atMs), [this, bytes] { rig.line1.peerSend(bytes); });
        rig.loop.post(ms(atMs + ctsAfterMs), [this] { rig.line1.peerSetRts(true); });
    }
    // When the bytes that port 2 sent so far had all left it.
    Nanos drained() const { return rig.line2.peerLog().back().at; }
    const double charMs = 11.0 / 1200 * 1000;  // one 8O1 character at 1200 baud
};

TEST_F(DelayedRelay, FollowsTheSourceAServiceDelayAfterTheLastRelayedPacketHasLeft) {
    // Packet 1 is relayed and drains; packet 2 follows before the delay has run out, and the
    // CTS change inside it is not handled as a line change.
    rig.loop.post(0, [this] { rig.line1.peerSend("a"); });
    rig.runMs(35);
    ASSERT_EQ(rig.line2.peerReceived(), "a");
    const Nanos first = drained();
    packetWithCtsRisingInside(40, "b", charMs + 0.5);
    rig.runMs(40 + 3 * charMs + 10 - 35);
    ASSERT_EQ(rig.line2.peerReceived(), "ab");
    const Nanos second = drained();
    ASSERT_LT(second, first + ms(100));

    rig.runMs(300);
    EXPECT_FALSE(rtsAt(rig.line2, first + ms(100)))
        << "the second packet did not restart the delay";
    EXPECT_FALSE(rtsAt(rig.line2, second + ms(100) - 1));
    EXPECT_TRUE(rtsAt(rig.line2, second + ms(100)));
    EXPECT_TRUE(rig.line2.peerSeesRts());
    EXPECT_FALSE(core.Timer8->enabled());
    EXPECT_EQ(core.port1.CTS, kOn) << "the tick tracks both ports' lines";
    EXPECT_EQ(core.port2.RTS, kOn);
}

TEST_F(DelayedRelay, ServiceDelayZeroNeverFires) {
    core.Service_Delay = 0;
    packetWithCtsRisingInside(0, "a", charMs + 0.5);
    rig.runMs(1000);
    ASSERT_EQ(rig.line2.peerReceived(), "a");
    EXPECT_FALSE(rig.line2.peerSeesRts());
}

TEST_F(DelayedRelay, TickAfterAPortWasSwitchedOffDoesNothing) {
    for (int off : {10, 11}) {
        rig.line2.clearPeerLog();
        core.Set_Check(10, 1);
        core.Set_Check(11, 1);
        core.Set_Check(7, 1);
        core.Set_Check(3, 0);
        const Nanos t0 = rig.loop.now();
        packetWithCtsRisingInside(t0 / 1e6, "a", charMs + 0.5);
        rig.runMs(35);
        ASSERT_EQ(rig.line2.peerReceived(), "a");
        ASSERT_TRUE(core.Timer8->enabled());
        core.Set_Check(off, 0);
        const int row = core.Screen_Row;
        const bool rts2 = rig.line2.RTSEnable();
        rig.runMs(200);
        EXPECT_FALSE(core.Timer8->enabled()) << "Check" << off;
        EXPECT_EQ(core.Screen_Row, row) << "Check" << off;
        EXPECT_EQ(rig.line2.RTSEnable(), rts2) << "Check" << off;
        EXPECT_TRUE(rig.host.messages.empty());
        rig.line1.peerSetRts(false);
        rig.runMs(1);
    }
}

TEST_F(DelayedRelay, TickAfterTheRelayWasClearedLeavesTheBoxesInCharge) {
    packetWithCtsRisingInside(0, "a", charMs + 0.5);
    rig.runMs(35);
    ASSERT_TRUE(core.Timer8->enabled());
    core.Set_Check(7, 0);
    EXPECT_FALSE(rig.line2.peerSeesRts());  // the RTS box is clear
    rig.runMs(200);
    EXPECT_FALSE(rig.line2.peerSeesRts());
    EXPECT_FALSE(core.Timer8->enabled());
}

}  // namespace
}  // namespace lt::sim
