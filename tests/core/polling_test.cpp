// Scenarios of polled capture: every tick reads both ports into one row, relays, and records.
#include <gtest/gtest.h>

#include "sim/rig.h"

namespace lt::sim {
namespace {

int count(const std::string& text, const std::string& what) {
    int n = 0;
    for (auto at = text.find(what); at != std::string::npos; at = text.find(what, at + 1)) ++n;
    return n;
}

// Whether the record file writer is in place in this build: the record checks need its output.
bool recordsAreWritten() {
    Rig r;
    r.core.Recording = 1;
    r.records.open = true;
    r.core.Record_Write("A", "");
    return !r.records.text.empty();
}

class Polling : public ::testing::Test {
  protected:
    void SetUp() override {
        for (SimLine* l : {&rig.line1, &rig.line2}) l->setSettings("9600,n,8,1");
        // Marks in every cell, so that a cell the tick leaves alone shows.
        for (auto* cells : {&form.Text1, &form.Text3, &form.Label3, &form.Label7}) cells->fill("-");
    }
    void openBoth() {
        rig.openDirect(core.port1);
        rig.openDirect(core.port2);
    }
    // "Пуск" with "Авт." clear and the given poll period.
    void startPolling(int periodMs) {
        core.Set_Text2(std::to_string(periodMs));
        core.Start_Capture();
        ASSERT_TRUE(core.Timer1->enabled());
        ASSERT_EQ(core.Timer1->interval(), periodMs);
    }
    void recordAll() {
        core.Recording = 1;
        rig.records.open = true;
    }
    void sendAt(SimLine& line, double atMs, const std::string& bytes) {
        rig.loop.post(ms(atMs), [&line, bytes] { line.peerSend(bytes); });
    }
    void expectLampsOff(int row) {
        for (auto* lamps :
             {&form.Shape4, &form.Shape5, &form.Shape6, &form.Shape7, &form.Shape8, &form.Shape9,
              &form.Shape10, &form.Shape11, &form.Shape12, &form.Shape13})
            EXPECT_EQ((*lamps)[row], color::WindowBackground) << "row " << row;
    }

    Rig rig;
    Core& core = rig.core;
    Form& form = rig.core.form;
    const double charMs = 10.0 / 9600 * 1000;  // one 8N1 character at 9600 baud
};

TEST_F(Polling, BytesOnEitherSideOfATickFallIntoConsecutiveRows) {
    openBoth();
    startPolling(50);
    // "A" lands 0.05 ms before the tick at 50 ms, "B" right behind it, 1 ms after the tick.
    sendAt(rig.line1, 50 - charMs - 0.05, "AB");
    sendAt(rig.line2, 100 - charMs - 0.05, "CD");
    rig.runMs(160);
    EXPECT_EQ(form.Text1[0], "A");
    EXPECT_EQ(form.Text1[1], "B");
    EXPECT_EQ(form.Label3[1], "1");
    EXPECT_EQ(form.Text3[1], "C");
    EXPECT_EQ(form.Text3[2], "D");
    EXPECT_EQ(form.Label7[2], "1");
    EXPECT_EQ(form.Text1[2], "");
    EXPECT_EQ(form.Label3[2], "0");
    EXPECT_EQ(core.Screen_Row, 3);
    EXPECT_EQ(form.Shape2[2], color::Red);
    EXPECT_EQ(form.Shape2[1], color::DarkGreen);
}

TEST_F(Polling, EveryTickWritesARowAlsoWithBothPortsOff) {
    // Stale packets and flags from before the ports were switched off must not show.
    core.Data_Port1 = "old";
    core.Data_Port2 = "old";
    core.port1.DSR = core.port2.CTS = core.port1.RTS = kOn;
    for (int box : {5, 6, 7, 8}) form.Check[box].Value = 1;
    recordAll();
    rig.line2.setDTREnable(true);  // kept by the closed port 2
    rig.line2.setRTSEnable(true);
    startPolling(20);
    rig.runMs(65);
    EXPECT_EQ(core.Screen_Row, 3);
    for (int row = 0; row < 3; ++row) {
        EXPECT_EQ(form.Text1[row], "");
        EXPECT_EQ(form.Text3[row], "");
        EXPECT_EQ(form.Label3[row], "0");
        EXPECT_EQ(form.Label7[row], "0");
        expectLampsOff(row);
    }
    EXPECT_EQ(core.Data_Port1, "");
    EXPECT_EQ(core.Data_Port2, "");
    EXPECT_EQ(rig.records.text, "");
    // Port 1's lines cannot be read while it is closed: port 2's outputs stay as they were.
    EXPECT_TRUE(rig.line2.DTREnable());
    EXPECT_TRUE(rig.line2.RTSEnable());
}

TEST_F(Polling, TickWithOnlyPort2ReceivingGivesOneRecordWithPort1Empty) {
    openBoth();
    recordAll();
    rig.line1.peerSetDtr(true);  // port 1's DSR and DCD as read at the tick
    startPolling(50);
    sendAt(rig.line2, 10, "xy");
    rig.runMs(120);
    EXPECT_EQ(form.Text1[0], "");
    EXPECT_EQ(form.Label3[0], "0");
    EXPECT_EQ(form.Text3[0], "xy");
    EXPECT_EQ(form.Label7[0], "2");
    EXPECT_EQ(form.Shape10[0], color::DarkGreen);
    EXPECT_EQ(form.Shape8[0], color::DarkGreen);
    EXPECT_EQ(form.Shape12[0], color::WindowBackground);
    EXPECT_EQ(form.Shape5[0], color::Red);  // port 2's own RTS
    EXPECT_EQ(form.Label7[1], "0");
    EXPECT_EQ(core.Screen_Row, 2);

    if (!recordsAreWritten()) GTEST_SKIP() << "the record writer is not in this build yet";
    EXPECT_EQ(count(rig.records.text, "COM1:"), 1) << "one record for the tick, none when quiet";
    EXPECT_NE(rig.records.text.find("Data=\r\n"), std::string::npos) << rig.records.text;
    EXPECT_NE(rig.records.text.find("Data= 78 79\r\n"), std::string::npos) << rig.records.text;
}

TEST_F(Polling, OneRecordHoldsBothPortsPackets) {
    openBoth();
    recordAll();
    startPolling(50);
    sendAt(rig.line1, 5, "\x01\x02");
    sendAt(rig.line2, 5, "A");
    sendAt(rig.line1, 60, "B");
    rig.runMs(160);
    EXPECT_EQ(core.Screen_Row, 3);
    if (!recordsAreWritten()) GTEST_SKIP() << "the record writer is not in this build yet";
    const std::string& t = rig.records.text;
    EXPECT_EQ(count(t, "COM1:"), 2) << t;
    EXPECT_EQ(count(t, "COM2:"), 2) << t;
    const auto first = t.find("Data= 01 02\r\n");
    const auto second = t.find("Data= 41\r\n");
    const auto third = t.find("Data= 42\r\n");
    ASSERT_NE(first, std::string::npos) << t;
    ASSERT_NE(second, std::string::npos) << t;
    ASSERT_NE(third, std::string::npos) << t;
    EXPECT_LT(first, second);
    EXPECT_LT(second, third);
}

TEST_F(Polling, ServiceRelayFollowsTheSourceLinesAtEveryTickWithoutData) {
    openBoth();
    form.Check[7].Value = 1;
    startPolling(50);
    ASSERT_TRUE(rig.line2.peerSeesRts());
    ASSERT_TRUE(rig.line2.peerSeesDtr());
    rig.runMs(51);  // port 1's CTS and DSR are off
    EXPECT_FALSE(rig.line2.peerSeesRts());
    EXPECT_FALSE(rig.line2.peerSeesDtr());

    rig.line1.peerSetDtr(true);
    rig.runMs(40);
    EXPECT_FALSE(rig.line2.peerSeesDtr()) << "followed between ticks";
    rig.runMs(10);
    EXPECT_TRUE(rig.line2.peerSeesDtr());
    EXPECT_FALSE(rig.line2.peerSeesRts());

    rig.line1.peerSetRts(true);
    rig.line1.peerSetDtr(false);
    rig.runMs(50);
    EXPECT_TRUE(rig.line2.peerSeesRts());
    EXPECT_FALSE(rig.line2.peerSeesDtr());
    EXPECT_EQ(rig.line2.peerReceived(), "");
    // Port 1's outputs are left alone: its own relay box is clear.
    EXPECT_TRUE(rig.line1.peerSeesRts());
    EXPECT_TRUE(rig.line1.peerSeesDtr());
}

TEST_F(Polling, ServiceRelayRunsBothWaysAndIgnoresTheSwitchFlags) {
    openBoth();
    form.Check[7].Value = 1;
    form.Check[8].Value = 1;
    rig.line1.peerSetRts(true);  // port 1's CTS on, DSR off
    rig.line2.peerSetDtr(true);  // port 2's DSR on, CTS off
    core.Open_Port2 = 0;         // the relay of line states reads the ports, not the switches
    startPolling(50);
    rig.runMs(51);
    EXPECT_TRUE(rig.line2.RTSEnable());
    EXPECT_FALSE(rig.line2.DTREnable());
    EXPECT_FALSE(rig.line1.RTSEnable());
    EXPECT_TRUE(rig.line1.DTREnable());
}

TEST_F(Polling, DataIsRelayedBothWaysAfterTheTick) {
    openBoth();
    form.Check[5].Value = 1;
    form.Check[6].Value = 1;
    startPolling(50);
    sendAt(rig.line1, 5, "ping");
    sendAt(rig.line2, 5, "pong");
    rig.runMs(49);
    EXPECT_EQ(rig.line2.peerReceived(), "");
    rig.runMs(60);
    EXPECT_EQ(rig.line2.peerReceived(), "ping");
    EXPECT_EQ(rig.line1.peerReceived(), "pong");
    EXPECT_EQ(form.Text1[0], "ping");
    EXPECT_EQ(form.Text3[0], "pong");
    EXPECT_EQ(form.Text1[1], "") << "the relayed bytes are not read back";
}

TEST_F(Polling, DataRelayWaitsForBothPortsSwitchedOn) {
    openBoth();
    recordAll();
    form.Check[5].Value = 1;
    core.Open_Port2 = 0;  // switched off as far as the capture knows
    startPolling(50);
    sendAt(rig.line1, 5, "abc");
    rig.runMs(60);
    EXPECT_EQ(rig.line2.peerReceived(), "");
    EXPECT_EQ(form.Text1[0], "abc");
    EXPECT_EQ(form.Label7[0], "0");
    if (!recordsAreWritten()) GTEST_SKIP() << "the record writer is not in this build yet";
    EXPECT_NE(rig.records.text.find("Data= 61 62 63\r\n"), std::string::npos) << rig.records.text;
}

TEST_F(Polling, AFailedReadNeverRepeatsTheEarlierPacket) {
    openBoth();
    recordAll();
    form.Check[5].Value = 1;
    startPolling(50);
    sendAt(rig.line1, 5, "first");
    rig.runMs(60);
    ASSERT_EQ(form.Text1[0], "first");
    rig.runMs(10);
    ASSERT_EQ(rig.line2.peerReceived(), "first");
    const std::string recorded = rig.records.text;
    // Port 1 stays switched on but its device is gone, as after a failed opening.
    rig.line1.setPortOpen(false);
    rig.runMs(100);
    EXPECT_EQ(core.Screen_Row, 3);
    EXPECT_EQ(form.Text1[1], "");
    EXPECT_EQ(form.Label3[1], "0");
    EXPECT_EQ(form.Text1[2], "");
    EXPECT_EQ(core.Data_Port1, "");
    EXPECT_EQ(rig.line2.peerReceived(), "first");
    EXPECT_EQ(rig.records.text, recorded);
}

TEST_F(Polling, BytesWaitingSinceBeforeStartComeOutAtTheFirstTick) {
    openBoth();
    sendAt(rig.line1, 0, "early");
    rig.runMs(100);
    ASSERT_EQ(core.Screen_Row, 0);
    startPolling(30);
    rig.runMs(31);
    EXPECT_EQ(form.Text1[0], "early");
    EXPECT_EQ(core.Screen_Row, 1);
}

TEST_F(Polling, PollingLeavesThePendingFlagsAndGapTimersAlone) {
    openBoth();
    core.Pending_Port1 = 1;
    core.Pending_Port2 = 0;
    startPolling(20);
    sendAt(rig.line1, 5, "abc");
    sendAt(rig.line2, 5, "de");
    rig.runMs(100);
    EXPECT_EQ(core.Pending_Port1, 1);
    EXPECT_EQ(core.Pending_Port2, 0);
    EXPECT_FALSE(core.Timer5->enabled());
    EXPECT_FALSE(core.Timer6->enabled());
    EXPECT_FALSE(core.Timer8->enabled());
    EXPECT_EQ(form.Text1[0], "abc");
}

TEST_F(Polling, BitModeShowsThePacketRenderedWithItsLength) {
    openBoth();
    core.Option_Click(1);  // port 1 "Bit"
    startPolling(50);
    sendAt(rig.line1, 5, "\x0A\xC0");
    rig.runMs(60);
    EXPECT_EQ(form.Text1[0], " 0A C0");
    EXPECT_EQ(form.Label3[0], "2");
    EXPECT_EQ(form.Text3[0], "");
}

}  // namespace
}  // namespace lt::sim
