// Scenarios of polled capture: every tick reads both ports into one row, relays, and records.
#include <gtest/gtest.h>

#include "sim/rig.h"

namespace lt::sim {
namespace {

class Polling : public ::testing::Test {
protected:
    void SetUp() override {
        for (SimLine* l : {&rig.line1, &rig.line2}) l->setLineSettings("9600,n,8,1");
        // Marks in every cell, so that a cell the tick leaves alone shows.
        for (auto* cells : {&form.Text1, &form.Text3, &form.Label3, &form.Label7}) cells->fill("-");
        core.Recording = 1;
        rig.records.open = true;
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
    }
    // A data-screen row as "port 1 cell|length|port 2 cell|length".
    std::string row(int r) const {
        return form.Text1[r] + "|" + form.Label3[r] + "|" + form.Text3[r] + "|" + form.Label7[r];
    }
    // The Data= fields of the records so far, port 1 then port 2 of each record.
    std::vector<std::string> recordedData() const {
        std::vector<std::string> fields;
        const std::string& t = rig.records.text;
        for (auto at = t.find("Data="); at != std::string::npos; at = t.find("Data=", at + 1))
            fields.push_back(t.substr(at + 5, t.find("\r\n", at) - at - 5));
        return fields;
    }

    Rig rig;
    Core& core = rig.core;
    Form& form = rig.core.form;
    const double charMs = 10.0 / 9600 * 1000;  // one 8N1 character at 9600 baud
};

using Fields = std::vector<std::string>;

TEST_F(Polling, BytesEitherSideOfATickFallIntoConsecutiveRowsWithOneRecordPerTickWithData) {
    openBoth();
    core.Option_Click(3);        // port 2 "Bit"
    rig.line1.peerSetDtr(true);  // port 1's DSR and DCD as read at every tick
    startPolling(50);
    // "A" lands 0.05 ms before the tick at 50 ms, "B" right behind it, 1 ms after the tick.
    rig.sendAt(rig.line1, 50 - charMs - 0.05, "AB");
    rig.sendAt(rig.line2, 100 - charMs - 0.05, "CD");
    rig.runMs(210);
    EXPECT_EQ(core.Screen_Row, 4);
    EXPECT_EQ(row(0), "A|1||0");
    EXPECT_EQ(row(1), "B|1| 43|1");
    EXPECT_EQ(row(2), "|0| 44|1");
    EXPECT_EQ(row(3), "|0||0");
    EXPECT_EQ(form.Shape10[2], color::DarkGreen);  // port 1 DSR
    EXPECT_EQ(form.Shape8[2], color::DarkGreen);   // port 1 DCD
    EXPECT_EQ(form.Shape12[2], color::WindowBackground);
    EXPECT_EQ(form.Shape5[2], color::Red);  // port 2's own RTS
    EXPECT_EQ(form.Shape2[3], color::Red);
    EXPECT_EQ(form.Shape2[2], color::DarkGreen);
    // One record for each of the three ticks with data; none for the quiet fourth.
    EXPECT_EQ(recordedData(), (Fields{" 41", "", " 42", " 43", "", " 44"}));
}

TEST_F(Polling, EveryTickWritesARowAlsoWithBothPortsOff) {
    // Stale packets and flags from before the ports were switched off must not show.
    core.Data_Port1 = core.Data_Port2 = "old";
    core.port1.DSR = core.port2.CTS = core.port1.RTS = kOn;
    for (int box : {5, 6, 7, 8}) form.Check[box].Value = 1;
    rig.line2.setDtr(true);  // kept by the closed port 2
    rig.line2.setRts(true);
    startPolling(20);
    rig.runMs(65);
    EXPECT_EQ(core.Screen_Row, 3);
    for (int r = 0; r < 3; ++r) {
        EXPECT_EQ(row(r), "|0||0");
        for (Channel* c : {&core.port1, &core.port2})
            for (auto* lamps : c->Leds) EXPECT_EQ((*lamps)[r], color::WindowBackground);
    }
    EXPECT_EQ(rig.records.text, "");
    // Port 1's lines cannot be read while it is closed: port 2's outputs stay as they were.
    EXPECT_TRUE(rig.line2.dtr());
    EXPECT_TRUE(rig.line2.rts());
}

TEST_F(Polling, ServiceRelayFollowsTheSourceLinesAtEveryTickWithoutDataAndIgnoresTheSwitches) {
    openBoth();
    form.Check[7].Value = 1;
    startPolling(50);
    ASSERT_TRUE(rig.line2.peerSeesRts());
    ASSERT_TRUE(rig.line2.peerSeesDtr());
    rig.runMs(51);  // port 1's CTS and DSR are off
    EXPECT_FALSE(rig.line2.peerSeesRts());
    EXPECT_FALSE(rig.line2.peerSeesDtr());

    rig.line1.peerSetRts(true);
    rig.runMs(40);
    EXPECT_FALSE(rig.line2.peerSeesRts()) << "followed between ticks";
    rig.runMs(10);
    EXPECT_TRUE(rig.line2.peerSeesRts());
    EXPECT_FALSE(rig.line2.peerSeesDtr());
    EXPECT_EQ(rig.line2.peerReceived(), "");
    EXPECT_TRUE(rig.line1.peerSeesDtr()) << "port 1's own relay box is clear";

    // Both ways, reading the ports rather than the switches.
    form.Check[8].Value = 1;
    rig.line2.peerSetDtr(true);  // port 2's DSR on, CTS off
    core.Open_Port2 = 0;
    rig.runMs(50);
    EXPECT_TRUE(rig.line2.rts());
    EXPECT_FALSE(rig.line2.dtr());
    EXPECT_FALSE(rig.line1.rts());
    EXPECT_TRUE(rig.line1.dtr());
}

TEST_F(Polling, DataRelayAfterTheTickNeedsBothPortsOnAndAFailedReadNeverRepeatsAPacket) {
    openBoth();
    form.Check[5].Value = form.Check[6].Value = 1;
    core.Pending_Port1 = 1;  // left by framing: polling leaves it and the gap timers alone
    startPolling(50);
    rig.sendAt(rig.line1, 5, "ping");
    rig.sendAt(rig.line2, 5, "pong");
    rig.runMs(49);
    EXPECT_EQ(rig.line2.peerReceived(), "");
    rig.runMs(60);  // ticks at 50 and 100
    EXPECT_EQ(rig.line2.peerReceived(), "ping");
    EXPECT_EQ(rig.line1.peerReceived(), "pong");
    EXPECT_EQ(row(0), "ping|4|pong|4");
    EXPECT_EQ(row(1), "|0||0") << "the relayed bytes are not read back";

    // Port 2 switched off as far as the capture knows: shown and recorded, not relayed.
    core.Open_Port2 = 0;
    rig.sendAt(rig.line1, 110, "abc");
    rig.runMs(50);
    EXPECT_EQ(row(2), "abc|3||0");
    EXPECT_EQ(rig.line2.peerReceived(), "ping");

    // Port 1 stays switched on but its device is gone: empty packets, nothing repeated.
    core.Open_Port2 = 1;
    rig.line1.setOpen(false);
    rig.runMs(100);
    EXPECT_EQ(core.Screen_Row, 5);
    EXPECT_EQ(row(3), "|0||0");
    EXPECT_EQ(row(4), "|0||0");
    EXPECT_EQ(rig.line2.peerReceived(), "ping");
    EXPECT_EQ(recordedData(), (Fields{" 70 69 6E 67", " 70 6F 6E 67", " 61 62 63", ""}));

    EXPECT_EQ(core.Pending_Port1, 1);
    EXPECT_EQ(core.Pending_Port2, 0);
    for (Timer* t : {core.Timer5.get(), core.Timer6.get(), core.Timer8.get()})
        EXPECT_FALSE(t->enabled());
}

}  // namespace
}  // namespace lt::sim
