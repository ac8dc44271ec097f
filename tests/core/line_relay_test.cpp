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
    // Our CTS as the peer of `line` sets it, handled at once.
    void cts(SimLine& line, bool on) {
        line.peerSetRts(on);
        rig.runMs(1);
    }

    Rig rig;
    Core& core = rig.core;
    Form& form = rig.core.form;
    int row0 = 0;
};

TEST_F(LineRelay, CtsRaisesTheOtherRtsAtOnceWithARowOfBothPortsAndDcdIsNeverRelayed) {
    relayOneToTwo();
    EXPECT_EQ(rowsSince(row0), 0) << "ticking the relay sends nothing by itself";

    rig.line1.peerSetCd(true);
    rig.runMs(1);
    ASSERT_EQ(rowsSince(row0), 1);
    EXPECT_EQ(form.Shape8[row0], color::DarkGreen);  // port 1 DCD
    EXPECT_FALSE(rig.line2.peerSeesRts());
    EXPECT_FALSE(rig.line2.peerSeesDtr());

    cts(rig.line1, true);
    EXPECT_TRUE(rig.line2.peerSeesRts());
    EXPECT_FALSE(rig.line2.peerSeesDtr()) << "DTR follows port 1's DSR, which is off";
    ASSERT_EQ(rowsSince(row0), 2);
    const int r = (row0 + 1) % kRows;
    EXPECT_EQ(form.Shape12[r], color::DarkGreen);  // port 1 CTS
    EXPECT_EQ(form.Shape4[r], color::Red);         // port 1 RTS
    EXPECT_EQ(form.Shape5[r], color::Red);         // port 2 RTS, just relayed
    EXPECT_EQ(form.Shape7[r], color::WindowBackground);

    // DSR follows to DTR the same way, and from the other side too.
    core.Set_Check(8, 1);
    rig.line1.peerSetDtr(true);
    rig.runMs(1);
    EXPECT_TRUE(rig.line2.peerSeesDtr());
    cts(rig.line2, true);
    EXPECT_TRUE(rig.line1.peerSeesRts());
    EXPECT_FALSE(rig.line1.peerSeesDtr());
}

TEST_F(LineRelay, UnchangedLinesGiveNoRowAndNoRecord) {
    core.Recording = 1;
    rig.records.open = true;
    core.Data_Port1 = core.Data_Port2 = "kept";
    // Up and down again before the events are handled: both see CTS as it was.
    rig.line1.peerSetRts(true);
    cts(rig.line1, false);
    EXPECT_EQ(rowsSince(row0), 0);
    EXPECT_EQ(rig.records.text, "");

    cts(rig.line1, true);
    EXPECT_EQ(rowsSince(row0), 1);
    const std::string& t = rig.records.text;
    EXPECT_NE(t.find("COM1:"), std::string::npos) << t;
    EXPECT_EQ(t.find("Data= "), std::string::npos) << "no bytes in a line-state record: " << t;
}

TEST_F(LineRelay, RelayBoxAndBothSwitchesDecideWhoDrivesTheOtherPortsOutputs) {
    core.Set_Check(3, 0);  // port 2: RTS box clear, DTR box ticked
    cts(rig.line1, true);
    EXPECT_FALSE(rig.line2.peerSeesRts()) << "relay box clear";
    EXPECT_EQ(rowsSince(row0), 1);

    // Ticked, the relay takes port 2's outputs at the next line event, against its boxes.
    core.Set_Check(7, 1);
    for (int n : {3, 4, 14}) EXPECT_FALSE(form.Check[n].Enabled) << "Check" << n;
    for (int n : {1, 2, 13}) EXPECT_TRUE(form.Check[n].Enabled) << "Check" << n;
    EXPECT_EQ(form.Check[4].Value, 1) << "ticks stay";
    rig.line1.peerSetCd(true);
    rig.runMs(1);
    ASSERT_TRUE(rig.line2.peerSeesRts());
    ASSERT_FALSE(rig.line2.peerSeesDtr());
    // Cleared, the outputs go back to the boxes at once.
    core.Set_Check(7, 0);
    for (int n : {3, 4, 14}) EXPECT_TRUE(form.Check[n].Enabled) << "Check" << n;
    EXPECT_FALSE(rig.line2.peerSeesRts());
    EXPECT_TRUE(rig.line2.peerSeesDtr());

    // No relay while port 2 is switched off.
    core.Set_Check(7, 1);
    core.Set_Check(11, 0);
    rig.line1.peerSetRts(false);
    cts(rig.line1, true);
    EXPECT_FALSE(rig.line2.rts());
    // Back on, its boxes are usable until the next relay moment overrides them.
    core.Set_Check(11, 1);
    EXPECT_TRUE(form.Check[3].Enabled);
    EXPECT_TRUE(rig.line2.peerSeesRts());
    cts(rig.line1, false);
    EXPECT_FALSE(rig.line2.peerSeesRts());
    // The relay cleared while port 2 is switched off leaves its panel disabled.
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
        core.lineDelayMs = 100;
    }
    // The peer of port 1 sends `bytes` at `atMs`, and raises its RTS (our CTS) inside them, where
    // it is no line change of its own.
    void packetWithCtsRisingInside(double atMs, const std::string& bytes) {
        rig.loop.post(ms(atMs), [this, bytes] { rig.line1.peerSend(bytes); });
        rig.loop.post(ms(atMs + charMs + 0.5), [this] { rig.line1.peerSetRts(true); });
    }
    // When the bytes that port 2 sent so far had all left it.
    Nanos drained() const { return rig.line2.peerLog().back().at; }
    bool rts2At(Nanos t) const {
        bool rts = false;
        for (const auto& l : rig.line2.peerLineLog())
            if (l.at <= t) rts = l.rts;
        return rts;
    }
    const double charMs = 11.0 / 1200 * 1000;  // one 8O1 character at 1200 baud
};

TEST_F(DelayedRelay, FollowsTheSourceAServiceDelayAfterTheLastRelayedPacketHasLeft) {
    rig.loop.post(0, [this] { rig.line1.peerSend("a"); });
    rig.runMs(35);
    ASSERT_EQ(rig.line2.peerReceived(), "a");
    const Nanos first = drained();
    // Packet 2 follows before the delay has run out.
    packetWithCtsRisingInside(40, "b");
    rig.runMs(3 * charMs + 15);
    ASSERT_EQ(rig.line2.peerReceived(), "ab");
    const Nanos second = drained();
    ASSERT_LT(second, first + ms(100));

    rig.runMs(300);
    EXPECT_FALSE(rts2At(first + ms(100))) << "the second packet did not restart the delay";
    EXPECT_FALSE(rts2At(second + ms(100) - 1));
    EXPECT_TRUE(rts2At(second + ms(100)));
    EXPECT_TRUE(rig.line2.peerSeesRts());
    EXPECT_FALSE(core.Timer8->enabled());
    EXPECT_EQ(core.port1.CTS, kOn) << "the tick tracks both ports' lines";
    EXPECT_EQ(core.port2.RTS, kOn);
}

TEST_F(DelayedRelay, ServiceDelayZeroNeverFires) {
    core.lineDelayMs = 0;
    packetWithCtsRisingInside(0, "a");
    rig.runMs(1000);
    ASSERT_EQ(rig.line2.peerReceived(), "a");
    EXPECT_FALSE(rig.line2.peerSeesRts());
}

TEST_F(DelayedRelay, TickAfterAPortOrTheRelayWasSwitchedOffDoesNothing) {
    for (int off : {10, 11, 7}) {
        SCOPED_TRACE(off);
        rig.line2.clearPeerLog();
        for (int box : {10, 11, 7}) core.Set_Check(box, 1);
        core.Set_Check(3, 0);
        packetWithCtsRisingInside(rig.loop.now() / 1e6, "a");
        rig.runMs(35);
        ASSERT_EQ(rig.line2.peerReceived(), "a");
        ASSERT_TRUE(core.Timer8->enabled());
        core.Set_Check(off, 0);
        const int row = core.Screen_Row;
        const bool rts2 = rig.line2.rts();
        rig.runMs(200);
        EXPECT_FALSE(core.Timer8->enabled());
        EXPECT_EQ(core.Screen_Row, row);
        EXPECT_EQ(rig.line2.rts(), rts2);
        EXPECT_TRUE(rig.host.messages.empty());
        cts(rig.line1, false);
    }
}

}  // namespace
}  // namespace lt::sim
