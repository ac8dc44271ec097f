// "Пуск", "Стоп", "ОК" and "Авт.": the run states, their transitions and the poll interval.
#include <gtest/gtest.h>

#include "sim/rig.h"

namespace lt::sim {
namespace {

constexpr char kBadInterval[] = "Интервал должен быть целым числом";

enum class State { Stopped, Polling, Automatic, HalfStarted };

class RunControl : public ::testing::Test {
  protected:
    void SetUp() override {
        for (SimLine* l : {&rig.line1, &rig.line2}) l->setSettings("9600,n,8,1");
    }

    // Checks every column of the run-state table for `s`.
    void expectState(State s) {
        const bool running = s != State::Stopped;
        const bool green = s == State::Polling || s == State::Automatic;
        EXPECT_EQ(core.Running, running ? 1 : 0);
        EXPECT_EQ(form.Check[9].Enabled, !running);
        if (s == State::Automatic) {
            EXPECT_EQ(form.Check[9].Value, 1);
        } else if (s != State::Stopped) {
            EXPECT_EQ(form.Check[9].Value, 0);
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
    VirtualTimer& timer1() { return static_cast<VirtualTimer&>(*core.Timer1); }
    void sendAt(SimLine& line, double atMs, const std::string& bytes) {
        rig.loop.post(ms(atMs), [&line, bytes] { line.peerSend(bytes); });
    }

    Rig rig;
    Core& core = rig.core;
    Form& form = rig.core.form;
    const double charMs = 10.0 / 9600 * 1000;
};

TEST_F(RunControl, ProgramStartsStopped) {
    expectState(State::Stopped);
    EXPECT_EQ(core.Timer1->interval(), 100);
    EXPECT_FALSE(form.Command7.Visible);
    EXPECT_EQ(form.Check[9].Value, 0);
}

TEST_F(RunControl, StartInPolledModeTakesTheIntervalAndRestartsAtTheFirstRow) {
    core.Screen_Row = 6;
    form.Label3.fill("-");
    core.Timer5->restart(10);  // a packet of port 1 left pending in auto mode
    rig.runMs(3);
    start("40");
    expectState(State::Polling);
    EXPECT_EQ(core.Timer1->interval(), 40);
    EXPECT_EQ(timer1().dueAt(), ms(43));
    EXPECT_FALSE(core.Timer5->enabled());
    EXPECT_EQ(core.Screen_Row, 0);
    EXPECT_EQ(core.Run_Started, ms(3));
    EXPECT_TRUE(rig.host.messages.empty());
    // Both ports off: rows are written all the same, from the first row on.
    rig.runMs(85);
    EXPECT_EQ(core.Screen_Row, 2);
    EXPECT_EQ(form.Label3[0], "0");
    EXPECT_EQ(form.Shape2[1], color::Red);
}

TEST_F(RunControl, StartInAutoModeNeitherReadsTheFieldNorTouchesPort1sGapTimer) {
    core.Timer1->restart(50);
    core.Timer5->restart(10);
    core.Screen_Row = 4;
    rig.runMs(2);
    startAuto();
    expectState(State::Automatic);
    EXPECT_TRUE(rig.host.messages.empty());
    form.Text2.Text = "no number";
    core.Start_Capture();  // Automatic, Start: stays Automatic
    expectState(State::Automatic);
    EXPECT_TRUE(rig.host.messages.empty());
    EXPECT_EQ(core.Screen_Row, 0);
    EXPECT_TRUE(core.Timer5->enabled());
    EXPECT_EQ(core.Run_Started, ms(2));
    EXPECT_EQ(core.Timer1->interval(), 50);
}

TEST_F(RunControl, AutoStartFramesPacketsAndAnotherStartReturnsToRowZero) {
    rig.openDirect(core.port1);
    startAuto();
    sendAt(rig.line1, 1, "a");
    sendAt(rig.line1, 50, "b");
    rig.runMs(100);
    EXPECT_EQ(core.Screen_Row, 2);
    core.Start_Capture();
    EXPECT_EQ(core.Screen_Row, 0);
    sendAt(rig.line1, 150, "c");
    rig.runMs(100);
    EXPECT_EQ(form.Text1[0], "c");
}

TEST_F(RunControl, RejectedIntervalsLeaveCaptureHalfStarted) {
    for (const std::string text : {"", "   ", "abc", "-1", "65536", "12ms"}) {
        SCOPED_TRACE("Text2 \"" + text + "\"");
        Rig r;
        Core& c = r.core;
        c.Screen_Row = 3;
        c.Set_Text2(text);
        c.Start_Capture();
        ASSERT_EQ(r.host.messages, std::vector<std::string>{kBadInterval});
        EXPECT_EQ(c.Running, 1);
        EXPECT_FALSE(c.form.Check[9].Enabled);
        EXPECT_FALSE(c.Timer1->enabled());
        EXPECT_EQ(c.Timer1->interval(), 100);
        EXPECT_EQ(c.form.Command2.BackColor, color::BrightGreen);
        EXPECT_EQ(c.form.Command1.BackColor, color::ButtonFace);
        EXPECT_EQ(c.Screen_Row, 0);
        r.runMs(1000);
        EXPECT_EQ(c.Screen_Row, 0) << "polled while half started";
        EXPECT_EQ(c.form.Shape2[0], color::WindowBackground);
    }
}

TEST_F(RunControl, HalfStartedLeavesByStopOrByAnAcceptedStart) {
    start("x");
    expectState(State::HalfStarted);
    core.Stop_Capture();
    expectState(State::Stopped);

    start("x");
    expectState(State::HalfStarted);
    // "ОК" with an accepted value sets the interval but does not start polling.
    core.Set_Text2("25");
    core.Apply_Interval();
    expectState(State::HalfStarted);
    EXPECT_EQ(core.Timer1->interval(), 25);
    rig.runMs(100);
    EXPECT_EQ(core.Screen_Row, 0);

    core.Start_Capture();
    expectState(State::Polling);
    rig.runMs(51);
    EXPECT_EQ(core.Screen_Row, 2);
    EXPECT_EQ(rig.host.messages.size(), 2u);
}

TEST_F(RunControl, IntervalBoundsAndRounding) {
    const struct {
        const char* text;
        int interval;
    } accepted[] = {{"65535", 65535}, {"12.5", 12}, {"13.5", 14},  {" 7 ", 7},
                    {"0.4", 0},       {"1", 1},     {"\t30\t", 30}};
    for (const auto& a : accepted) {
        SCOPED_TRACE(a.text);
        Rig r;
        r.core.Set_Text2(a.text);
        r.core.Start_Capture();
        EXPECT_TRUE(r.host.messages.empty());
        EXPECT_TRUE(r.core.Timer1->enabled());
        EXPECT_EQ(r.core.Timer1->interval(), a.interval);
    }
}

TEST_F(RunControl, IntervalFollowsTheLocalesDecimalSign) {
    core.Locale = QLocale(QLocale::German);
    start("12,5");
    EXPECT_EQ(core.Timer1->interval(), 12);
    core.Set_Text2("13,5");
    core.Apply_Interval();
    EXPECT_EQ(core.Timer1->interval(), 14);
    EXPECT_TRUE(rig.host.messages.empty());
}

TEST_F(RunControl, AnAcceptedZeroRunsWithoutWritingRows) {
    start("0");
    expectState(State::Polling);
    EXPECT_EQ(core.Timer1->interval(), 0);
    rig.runMs(5000);
    EXPECT_EQ(core.Screen_Row, 0);
    EXPECT_EQ(form.Shape2[0], color::WindowBackground);
}

TEST_F(RunControl, SecondStartWhilePollingRestartsAtRowZeroAndKeepsTheTimerOnRejection) {
    start("10");
    rig.runMs(45);
    ASSERT_EQ(core.Screen_Row, 4);
    core.Start_Capture();
    expectState(State::Polling);
    EXPECT_EQ(core.Screen_Row, 0);
    rig.runMs(10);
    EXPECT_EQ(core.Screen_Row, 1);

    // A rejected text at a second Start: the running period stays, rows start again at 0.
    rig.runMs(20);
    core.Set_Text2("oops");
    core.Start_Capture();
    EXPECT_EQ(rig.host.messages, std::vector<std::string>{kBadInterval});
    expectState(State::Polling);
    EXPECT_EQ(core.Screen_Row, 0);
    EXPECT_EQ(core.Timer1->interval(), 10);
    rig.runMs(30);
    EXPECT_EQ(core.Screen_Row, 3);
}

TEST_F(RunControl, StopFromEveryStateReturnsToStopped) {
    const auto stopFrom = [&](const char* name, const std::function<void()>& enter, State s) {
        SCOPED_TRACE(name);
        enter();
        expectState(s);
        core.Timer5->restart(10);
        core.Timer6->restart(10);
        form.Shape2.fill(color::Red);
        core.Stop_Capture();
        expectState(State::Stopped);
        EXPECT_FALSE(core.Timer5->enabled());
        EXPECT_TRUE(core.Timer6->enabled()) << "port 2's packet must still be finished";
        EXPECT_EQ(form.Shape2[9], color::DarkGreen);
        EXPECT_EQ(form.Shape2[8], color::Red);
        EXPECT_EQ(form.Shape2[0], color::Red);
        core.Timer6->setEnabled(false);
    };
    stopFrom(
        "polling", [&] { start("20"); }, State::Polling);
    stopFrom(
        "half started", [&] { start("-5"); }, State::HalfStarted);
    stopFrom(
        "automatic", [&] { startAuto(); }, State::Automatic);
    stopFrom(
        "stopped", [] {}, State::Stopped);
    // Stopped again, "Авт." may change.
    core.Set_Check(9, 0);
    EXPECT_TRUE(form.Text2.Enabled);
}

TEST_F(RunControl, StopEndsPolling) {
    start("10");
    rig.runMs(35);
    core.Stop_Capture();
    rig.runMs(200);
    EXPECT_EQ(core.Screen_Row, 3);
}

TEST_F(RunControl, StopWhilePort2GathersGivesOneMoreRow) {
    rig.openDirect(core.port1);
    rig.openDirect(core.port2);
    core.Recording = 1;
    rig.records.open = true;
    form.Check[6].Value = 1;
    startAuto();
    sendAt(rig.line2, 0, "tail");
    rig.runMs(4 * charMs + 1);
    ASSERT_EQ(core.Pending_Port2, 1);
    core.Stop_Capture();
    EXPECT_EQ(core.Screen_Row, 0);
    rig.runMs(50);
    EXPECT_EQ(core.Screen_Row, 1);
    EXPECT_EQ(form.Text3[0], "tail");
    EXPECT_EQ(rig.line1.peerReceived(), "tail");
    EXPECT_EQ(core.Pending_Port2, 0);
}

TEST_F(RunControl, StopWhilePort1GathersKeepsItsBytesForTheNextStart) {
    rig.openDirect(core.port1);
    startAuto();
    sendAt(rig.line1, 0, "old");
    rig.runMs(3 * charMs + 1);
    core.Stop_Capture();
    rig.runMs(200);
    EXPECT_EQ(core.Screen_Row, 0);
    EXPECT_EQ(core.Pending_Port1, 1);
    EXPECT_EQ(rig.line1.InBufferCount(), 3u);
    // Start again in auto mode long after: the old bytes begin port 1's first packet.
    core.Start_Capture();
    expectState(State::Automatic);
    sendAt(rig.line1, 300, "new");
    rig.runMs(200);
    EXPECT_EQ(core.Screen_Row, 1);
    EXPECT_EQ(form.Text1[0], "oldnew");
}

TEST_F(RunControl, BytesFromAnAutoStopComeOutAtTheFirstPollAfterAPolledStart) {
    rig.openDirect(core.port1);
    startAuto();
    sendAt(rig.line1, 0, "old");
    rig.runMs(3 * charMs + 1);
    core.Stop_Capture();
    core.Set_Check(9, 0);
    start("20");
    rig.runMs(21);
    EXPECT_EQ(form.Text1[0], "old");
}

TEST_F(RunControl, AutoBoxGreysTheIntervalFieldAndIsLockedWhileRunning) {
    core.Set_Check(9, 1);
    EXPECT_FALSE(form.Text2.Enabled);
    core.Set_Check(9, 0);
    EXPECT_TRUE(form.Text2.Enabled);
    start("50");
    EXPECT_FALSE(form.Check[9].Enabled);
    EXPECT_TRUE(form.Text2.Enabled);
    EXPECT_FALSE(form.Command7.Visible);
}

TEST_F(RunControl, OkButtonAppearsOnEveryChangeWhileRunningOnly) {
    core.Set_Text2("70");
    EXPECT_FALSE(form.Command7.Visible) << "stopped: typing shows nothing";
    start("70");
    EXPECT_FALSE(form.Command7.Visible);
    core.Set_Text2("7");
    EXPECT_TRUE(form.Command7.Visible);
    EXPECT_EQ(core.Timer1->interval(), 70) << "typing alone never changes the period";
    core.Apply_Interval();
    EXPECT_FALSE(form.Command7.Visible);
    EXPECT_EQ(core.Timer1->interval(), 7);
    core.Set_Text2("70");
    EXPECT_TRUE(form.Command7.Visible);
    core.Set_Text2("700");
    EXPECT_TRUE(form.Command7.Visible);
    // Also while half started or automatic.
    core.Stop_Capture();
    core.Apply_Interval();
    startAuto();
    core.Set_Text2("1");
    EXPECT_TRUE(form.Command7.Visible);
}

TEST_F(RunControl, AcceptedOkTakesEffectAtOnce) {
    start("100");
    rig.runMs(30);
    core.Set_Text2("20");
    core.Apply_Interval();
    EXPECT_TRUE(core.Timer1->enabled());
    EXPECT_EQ(timer1().dueAt(), ms(50));
    rig.runMs(61);
    EXPECT_EQ(core.Screen_Row, 3);
}

TEST_F(RunControl, RejectedOkWritesTheRunningIntervalBack) {
    start("40");
    for (const std::string bad : {"", "abc", "-1", "65536"}) {
        SCOPED_TRACE(bad);
        rig.host.messages.clear();
        core.Set_Text2(bad);
        core.Apply_Interval();
        EXPECT_EQ(rig.host.messages, std::vector<std::string>{kBadInterval});
        EXPECT_EQ(form.Text2.Text, "40");
        EXPECT_TRUE(form.Command7.Visible) << "the write-back is a change of the field";
        EXPECT_EQ(core.Timer1->interval(), 40);
        EXPECT_TRUE(core.Timer1->enabled());
    }
    // Stopped: the field is put back, "ОК" stays hidden.
    core.Stop_Capture();
    core.Set_Text2("0");
    core.Apply_Interval();  // the disabled timer gets 0
    core.Set_Text2("junk");
    core.Apply_Interval();
    EXPECT_EQ(form.Text2.Text, "0");
    EXPECT_FALSE(form.Command7.Visible);
}

TEST_F(RunControl, OkShownAtStopStaysAndSetsTheStoppedTimer) {
    start("40");
    rig.runMs(85);
    core.Set_Text2("15");
    core.Stop_Capture();
    expectState(State::Stopped);
    EXPECT_TRUE(form.Command7.Visible);
    core.Apply_Interval();
    EXPECT_FALSE(form.Command7.Visible);
    EXPECT_EQ(core.Timer1->interval(), 15);
    EXPECT_FALSE(core.Timer1->enabled());
    rig.runMs(100);
    EXPECT_EQ(core.Screen_Row, 2) << "rows of the two ticks before Stop only";
}

}  // namespace
}  // namespace lt::sim
