// "Пуск", "Стоп", "ОК" and "Авт.": the run states, their transitions and the poll interval.
#include <gtest/gtest.h>

#include <cstring>

#include "sim/rig.h"

namespace lt::sim {
namespace {

const std::vector<std::string> kBadInterval{"Интервал должен быть целым числом"};

enum class State { Stopped, Polling, Automatic, HalfStarted };

class RunControl : public ::testing::Test {
protected:
    void SetUp() override {
        for (SimLine* l : {&rig.line1, &rig.line2}) l->setLineSettings("9600,n,8,1");
    }
    // Checks every column of the run-state table for `s`.
    void expectState(State s) {
        const bool running = s != State::Stopped;
        const bool green = s == State::Polling || s == State::Automatic;
        EXPECT_EQ(core.Running, running ? 1 : 0);
        EXPECT_EQ(form.Check[9].Enabled, !running);
        if (running) {
            EXPECT_EQ(form.Check[9].Value, s == State::Automatic ? 1 : 0);
        }
        EXPECT_EQ(core.Timer1->enabled(), s == State::Polling);
        EXPECT_EQ(form.Command1.BackColor, green ? color::BrightGreen : color::ButtonFace);
        EXPECT_EQ(form.Command2.BackColor, green ? color::ButtonFace : color::BrightGreen);
    }
    void start(const std::string& interval) {
        core.Set_Text2(interval);
        core.Start_Capture();
    }
    void startAuto() {
        core.Set_Check(9, 1);
        core.Start_Capture();
    }

    Rig rig;
    Core& core = rig.core;
    Form& form = rig.core.form;
    const double charMs = 10.0 / 9600 * 1000;
};

TEST_F(RunControl, PolledRunFromStartThroughASecondStartToStop) {
    expectState(State::Stopped);
    EXPECT_EQ(core.Timer1->interval(), 100);
    EXPECT_FALSE(form.Command7.Visible);
    core.Screen_Row = 6;
    core.Timer5->restart(10);  // a packet of port 1 left pending in auto mode
    rig.runMs(3);
    start("10");
    expectState(State::Polling);
    EXPECT_EQ(static_cast<VirtualTimer&>(*core.Timer1).dueAt(), ms(13));
    EXPECT_FALSE(core.Timer5->enabled());
    EXPECT_EQ(core.Run_Started, ms(3));
    rig.runMs(42);  // rows from the first one on, with both ports off too
    ASSERT_EQ(core.Screen_Row, 4);

    core.Start_Capture();
    expectState(State::Polling);
    EXPECT_EQ(core.Screen_Row, 0);
    rig.runMs(10);
    // A rejected text at a second Start: the running period stays, rows start again at 0.
    core.Set_Text2("oops");
    core.Start_Capture();
    EXPECT_EQ(rig.host.messages, kBadInterval);
    expectState(State::Polling);
    EXPECT_EQ(core.Screen_Row, 0);
    EXPECT_EQ(core.Timer1->interval(), 10);
    rig.runMs(30);
    EXPECT_EQ(core.Screen_Row, 3);

    form.Shape2.fill(color::Red);
    core.Stop_Capture();
    expectState(State::Stopped);
    EXPECT_EQ(form.Shape2[9], color::DarkGreen);
    EXPECT_EQ(form.Shape2[8], color::Red);
    rig.runMs(200);
    EXPECT_EQ(core.Screen_Row, 3);
}

TEST_F(RunControl, AutoStartNeitherReadsTheFieldNorTouchesPort1sGapTimerAndRestartsAtRowZero) {
    core.Timer1->restart(50);
    core.Timer5->restart(10);
    core.Screen_Row = 4;
    rig.runMs(2);
    startAuto();  // with the field empty
    expectState(State::Automatic);
    EXPECT_FALSE(form.Text2.Enabled) << "greyed by the ticked box";
    EXPECT_EQ(core.Screen_Row, 0);
    EXPECT_TRUE(core.Timer5->enabled());
    EXPECT_EQ(core.Run_Started, ms(2));
    EXPECT_EQ(core.Timer1->interval(), 50);

    core.Screen_Row = 5;
    core.Set_Text2("no number");
    EXPECT_TRUE(form.Command7.Visible);
    core.Start_Capture();
    expectState(State::Automatic);
    EXPECT_EQ(core.Screen_Row, 0);
    EXPECT_TRUE(rig.host.messages.empty());
}

TEST_F(RunControl, IntervalTextsAtStartRejectedLeaveItHalfStartedAcceptedRoundHalvesToEven) {
    for (const char* text : {"", "   ", "abc", "-1", "65536", "12ms"}) {
        SCOPED_TRACE(text);
        rig.host.messages.clear();
        core.Screen_Row = 3;
        start(text);
        EXPECT_EQ(rig.host.messages, kBadInterval);
        expectState(State::HalfStarted);
        EXPECT_EQ(core.Timer1->interval(), 100);
        EXPECT_EQ(core.Screen_Row, 0);
    }
    core.Stop_Capture();
    expectState(State::Stopped);

    rig.host.messages.clear();
    using Case = std::pair<const char*, int>;
    for (auto [text, interval] : {Case{"65535", 65535}, Case{"12.5", 12}, Case{"13.5", 14},
                                  Case{"12,5", 12}, Case{"13,5", 14}, Case{"0", 0}}) {
        SCOPED_TRACE(text);
        core.Locale = QLocale(std::strchr(text, ',') ? QLocale::German : QLocale::C);
        start(text);
        expectState(State::Polling);
        EXPECT_EQ(core.Timer1->interval(), interval);
    }
    EXPECT_TRUE(rig.host.messages.empty());
    // An accepted 0 runs without writing rows.
    rig.runMs(5000);
    EXPECT_EQ(core.Screen_Row, 0);
    EXPECT_EQ(form.Shape2[0], color::WindowBackground);
}

TEST_F(RunControl, StopWhileBothPortsCollectFinishesPort2sPacketAndKeepsPort1sBytes) {
    rig.openDirect(core.port1);
    rig.openDirect(core.port2);
    form.Check[6].Value = 1;
    startAuto();
    rig.sendAt(rig.line1, 0, "old");
    rig.sendAt(rig.line2, 0, "tail");
    rig.runMs(4 * charMs + 1);
    ASSERT_EQ(core.Pending_Port1, 1);
    ASSERT_EQ(core.Pending_Port2, 1);
    core.Stop_Capture();
    expectState(State::Stopped);
    EXPECT_EQ(core.Screen_Row, 0);
    rig.runMs(200);
    EXPECT_EQ(core.Screen_Row, 1) << "port 2's packet only";
    EXPECT_EQ(form.Text3[0], "tail");
    EXPECT_EQ(rig.line1.peerReceived(), "tail");
    EXPECT_EQ(rig.line1.bytesWaiting(), 3u);
    // Stopped, "Авт." may change; started again in auto mode long after, the old bytes begin
    // port 1's first packet.
    core.Set_Check(9, 0);
    EXPECT_TRUE(form.Text2.Enabled);
    core.Set_Check(9, 1);
    core.Start_Capture();
    rig.sendAt(rig.line1, 300, "new");
    rig.runMs(200);
    EXPECT_EQ(core.Screen_Row, 1);
    EXPECT_EQ(form.Text1[0], "oldnew");
}

TEST_F(RunControl, OkAppearsOnEveryChangeWhileRunningAndStaysAfterStop) {
    core.Set_Text2("70");
    EXPECT_FALSE(form.Command7.Visible) << "stopped: typing shows nothing";
    // Half started, an accepted "ОК" sets the interval but does not start polling.
    start("x");
    core.Set_Text2("25");
    EXPECT_TRUE(form.Command7.Visible);
    core.Apply_Interval();
    EXPECT_FALSE(form.Command7.Visible);
    expectState(State::HalfStarted);
    EXPECT_EQ(core.Timer1->interval(), 25);
    core.Start_Capture();
    expectState(State::Polling);
    EXPECT_FALSE(form.Command7.Visible);
    rig.runMs(30);
    EXPECT_EQ(core.Screen_Row, 1);
    core.Set_Text2("20");
    EXPECT_TRUE(form.Command7.Visible);
    EXPECT_EQ(core.Timer1->interval(), 25) << "typing alone never changes the period";
    core.Apply_Interval();
    EXPECT_FALSE(form.Command7.Visible);
    EXPECT_EQ(static_cast<VirtualTimer&>(*core.Timer1).dueAt(), ms(50)) << "at once";

    // A rejected "ОК" writes the running interval back: a change of the field that shows it again.
    for (const std::string bad : {"", "abc", "-1", "65536"}) {
        SCOPED_TRACE(bad);
        rig.host.messages.clear();
        core.Set_Text2(bad);
        core.Apply_Interval();
        EXPECT_EQ(rig.host.messages, kBadInterval);
        EXPECT_EQ(form.Text2.Text, "20");
        EXPECT_TRUE(form.Command7.Visible);
        EXPECT_EQ(core.Timer1->interval(), 20);
        EXPECT_TRUE(core.Timer1->enabled());
    }

    // Shown at Stop, it stays, and sets the disabled timer.
    core.Set_Text2("15");
    core.Stop_Capture();
    EXPECT_TRUE(form.Command7.Visible);
    core.Apply_Interval();
    EXPECT_FALSE(form.Command7.Visible);
    EXPECT_EQ(core.Timer1->interval(), 15);
    expectState(State::Stopped);
    core.Set_Text2("junk");
    core.Apply_Interval();
    EXPECT_EQ(form.Text2.Text, "15");
    EXPECT_FALSE(form.Command7.Visible);
}

}  // namespace
}  // namespace lt::sim
