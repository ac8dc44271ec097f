// Scenarios of automatic framing: packets cut by the pause on the wire, relayed, shown, recorded.
#include <gtest/gtest.h>

#include "sim/rig.h"

namespace lt::sim {
namespace {

class Framing : public ::testing::Test {
protected:
    void SetUp() override {
        for (SimLine* l : {&rig.line1, &rig.line2}) l->setLineSettings("9600,n,8,1");
        rig.openDirect(rig.core.port1);
        rig.openDirect(rig.core.port2);
        rig.runAuto();
    }
    Rig rig;
    Core& core = rig.core;
    Form& form = rig.core.form;
    const double charMs = 10.0 / 9600 * 1000;  // one 8N1 character at 9600 baud
};

TEST_F(Framing, PauseJustUnderTheGapJoinsAndJustOverSplits) {
    // Gap 10 ms: the pause between arrivals is the idle time plus one character time.
    rig.sendAt(rig.line1, 0, "AB");
    rig.sendAt(rig.line1, 2 * charMs + 9.5 - charMs, "CD");  // arrivals 9.5 ms apart: one packet
    rig.sendAt(rig.line1, 200, "EF");
    rig.sendAt(rig.line1, 200 + 2 * charMs + 10.5 - charMs, "GH");  // 10.5 ms apart: two packets
    rig.runMs(400);
    EXPECT_EQ(form.Text1[0], "ABCD");
    EXPECT_EQ(form.Label3[0], "4");
    EXPECT_EQ(form.Text1[1], "EF");
    EXPECT_EQ(form.Text1[2], "GH");
    EXPECT_EQ(core.Screen_Row, 3);
    EXPECT_EQ(core.Pending_Port1, 0);
}

TEST_F(Framing, PacketEndsOneGapAfterItsLastByte) {
    rig.sendAt(rig.line1, 0, "xyz");
    const double lastByte = 3 * charMs;
    rig.loop.runUntil(ms(lastByte + 9.9));
    EXPECT_EQ(core.Screen_Row, 0) << "finished before the gap had passed";
    rig.loop.runUntil(ms(lastByte + 10.01));
    EXPECT_EQ(core.Screen_Row, 1);
    EXPECT_EQ(form.Text1[0], "xyz");
}

TEST_F(Framing, TwoPortsGiveRowsInTheOrderTheirPacketsEnd) {
    rig.sendAt(rig.line1, 0, "11111");
    rig.sendAt(rig.line2, 0, "22");
    rig.runMs(100);
    // Port 2's shorter packet ends first and takes row 0; port 1's cells there stay empty.
    EXPECT_EQ(form.Text3[0], "22");
    EXPECT_EQ(form.Label7[0], "2");
    EXPECT_EQ(form.Text1[0], "");
    EXPECT_EQ(form.Label3[0], "");
    EXPECT_EQ(form.Text1[1], "11111");
    EXPECT_EQ(form.Text3[1], "");
    EXPECT_EQ(form.Label7[1], "");
    EXPECT_EQ(form.Shape2[0], color::DarkGreen);
    EXPECT_EQ(form.Shape2[1], color::Red);
}

TEST_F(Framing, SnapshotIsTakenAtTheFirstByteAndLineChangesDuringThePacketAreDropped) {
    rig.line1.peerSetRts(true);  // our CTS on before the packet
    rig.runMs(1);
    // The change itself is a line event between packets; forget the rows it may write.
    const i16 rowsBefore = core.Screen_Row;
    rig.sendAt(rig.line1, 5, "abcdef");
    rig.loop.post(ms(5 + 2.5 * charMs), [&] {
        rig.line1.peerSetRts(false);
        rig.line1.peerSetDtr(true);
    });
    rig.runMs(100);
    const int r = rowsBefore;
    EXPECT_EQ(core.Screen_Row, (rowsBefore + 1) % 10) << "a line change inside a packet made a row";
    EXPECT_EQ(form.Text1[r], "abcdef");
    EXPECT_EQ(form.Shape12[r], color::DarkGreen) << "CTS as it stood at the first byte";
    EXPECT_EQ(form.Shape10[r], color::WindowBackground) << "DSR rose only during the packet";
    EXPECT_EQ(form.Shape4[r], color::Red);  // our RTS
    EXPECT_EQ(form.Shape6[r], color::Red);  // our DTR
}

TEST_F(Framing, RelaySetsServiceLinesBeforeTheDataAndTheDrainStartsTheDelay) {
    form.Check[5].Value = 1;  // data relay 1 -> 2
    form.Check[7].Value = 1;  // service relay 1 -> 2
    rig.line2.setRts(false);
    rig.line2.setDtr(false);
    rig.line1.peerSetRts(true);  // CTS of port 1
    rig.line1.peerSetDtr(true);  // DSR of port 1
    rig.runMs(1);
    const i16 row = core.Screen_Row;
    rig.sendAt(rig.line1, 5, "HELLO");
    rig.runMs(60);  // the packet ends at about 20 ms and has left port 2 at about 26 ms

    EXPECT_EQ(form.Text1[row], "HELLO");
    ASSERT_EQ(rig.line2.peerReceived(), "HELLO");
    const Nanos firstByteStart = rig.line2.peerLog().front().at - rig.line2.characterTime();
    Nanos raised = -1;
    for (const auto& l : rig.line2.peerLineLog())
        if (l.rts && l.dtr) {
            raised = l.at;
            break;
        }
    ASSERT_GE(raised, 0) << "port 2's RTS and DTR never followed port 1's CTS and DSR";
    EXPECT_LE(raised, firstByteStart);

    // Port 2's send event restarts its service timer: due lineDelayMs after the drain.
    auto& timer8 = static_cast<VirtualTimer&>(*core.Timer8);
    EXPECT_EQ(timer8.dueAt(), rig.line2.peerLog().back().at + ms(core.lineDelayMs));
    EXPECT_FALSE(core.Timer7->enabled());
}

TEST_F(Framing, NoRelayWhenTheOtherPortIsOff) {
    form.Check[5].Value = 1;
    core.Open_Port2 = 0;
    rig.sendAt(rig.line1, 0, "abc");
    rig.runMs(100);
    EXPECT_EQ(rig.line2.peerReceived(), "");
    EXPECT_EQ(form.Text1[0], "abc");
    // Port 2's lamps stay off in port 1's row while port 2 is switched off.
    core.port2.DSR = kOn;
    rig.sendAt(rig.line1, 150, "d");
    rig.runMs(200);
    EXPECT_EQ(form.Shape11[1], color::WindowBackground);
}

TEST_F(Framing, PortSwitchedOffWhilePendingStillGetsAnEmptyRow) {
    core.Recording = 1;
    rig.records.open = true;
    form.Check[5].Value = 1;
    rig.sendAt(rig.line1, 0, "abc");
    rig.runMs(3 * charMs + 1);
    ASSERT_EQ(core.Pending_Port1, 1);
    // Switching off as the port panel does it: closed, flags and packet cleared.
    core.Open_Port1 = 0;
    rig.line1.setOpen(false);
    core.Clear_Channel(core.port1);
    rig.runMs(50);
    EXPECT_EQ(core.Screen_Row, 1);
    EXPECT_EQ(form.Text1[0], "");
    EXPECT_EQ(form.Label3[0], "0");
    EXPECT_EQ(form.Shape4[0], color::WindowBackground);
    EXPECT_EQ(rig.line2.peerReceived(), "");
    EXPECT_EQ(rig.records.text, "");
    EXPECT_EQ(core.Pending_Port1, 0);
}

TEST_F(Framing, FailedReadNeverRepeatsTheEarlierPacket) {
    form.Check[5].Value = 1;
    rig.sendAt(rig.line1, 0, "first");
    rig.runMs(100);
    ASSERT_EQ(rig.line2.peerReceived(), "first");
    // A packet pending while its port is closed under it (a picked entry reopens it later).
    rig.sendAt(rig.line1, 100, "x");
    rig.runMs(100 + charMs + 1 - 100);
    rig.line1.setOpen(false);
    rig.runMs(100);
    EXPECT_EQ(rig.line2.peerReceived(), "first");
    EXPECT_EQ(form.Text1[1], "");
}

TEST_F(Framing, StopWhilePort1CollectsKeepsItsBytesForTheNextStart) {
    rig.sendAt(rig.line1, 0, "old");
    rig.runMs(3 * charMs + 1);
    core.Running = 0;  // Stop: port 1's gap timer is cancelled
    core.Timer5->setEnabled(false);
    rig.runMs(100);
    EXPECT_EQ(core.Screen_Row, 0);
    EXPECT_EQ(core.Pending_Port1, 1);
    rig.sendAt(rig.line1, 150, "mid");  // arrives while stopped
    rig.runMs(100);
    rig.runAuto();
    rig.sendAt(rig.line1, 300, "new");
    rig.runMs(200);
    EXPECT_EQ(core.Screen_Row, 1);
    EXPECT_EQ(form.Text1[0], "oldmidnew");
}

TEST_F(Framing, StopWhilePort2CollectsStillFinishesItsPacket) {
    form.Check[6].Value = 1;
    core.Recording = 1;
    rig.records.open = true;
    rig.sendAt(rig.line2, 0, "tail");
    rig.runMs(4 * charMs + 1);
    core.Running = 0;
    core.Timer5->setEnabled(false);
    rig.runMs(50);
    EXPECT_EQ(form.Text3[0], "tail");
    EXPECT_EQ(rig.line1.peerReceived(), "tail");
    EXPECT_EQ(core.Pending_Port2, 0);
}

TEST_F(Framing, NothingIsFramedWhileStoppedOrPolling) {
    core.Running = 0;
    rig.sendAt(rig.line1, 0, "abc");
    rig.runMs(100);
    EXPECT_EQ(core.Screen_Row, 0);
    EXPECT_EQ(core.Pending_Port1, 0);
    core.Running = 1;
    form.Check[9].Value = 0;
    rig.sendAt(rig.line1, 150, "def");
    rig.runMs(100);
    EXPECT_EQ(core.Screen_Row, 0);
    EXPECT_EQ(rig.line1.bytesWaiting(), 6u) << "bytes wait in the port until they are read";
}

TEST_F(Framing, ElevenPacketsWrapTheRing) {
    for (int i = 0; i < 11; ++i) rig.sendAt(rig.line1, 50.0 * i, std::string(1, char('a' + i)));
    rig.runMs(600);
    EXPECT_EQ(form.Text1[0], "k");
    EXPECT_EQ(form.Text1[9], "j");
    EXPECT_EQ(form.Shape2[0], color::Red);
    EXPECT_EQ(form.Shape2[9], color::DarkGreen);
    EXPECT_EQ(form.Shape2[1], color::DarkGreen);
    EXPECT_EQ(core.Screen_Row, 1);
}

TEST_F(Framing, EndlessStreamIsCutAtTheReceiveBufferSizeWithoutLosingAByte) {
    for (SimLine* l : {&rig.line1, &rig.line2}) l->setLineSettings("115200,n,8,1");
    form.Check[5].Value = 1;
    std::string stream;
    for (int i = 0; i < 2500; ++i) stream += static_cast<char>(i * 7 % 256);
    rig.sendAt(rig.line1, 0, stream);
    rig.runMs(1000);
    EXPECT_EQ(rig.line2.peerReceived(), stream);
    EXPECT_EQ(core.Screen_Row, 3);
    EXPECT_EQ(form.Label3[0], "1024");
    EXPECT_EQ(form.Label3[1], "1024");
    EXPECT_EQ(form.Label3[2], "452");
    EXPECT_EQ(form.Text1[0] + form.Text1[1] + form.Text1[2], stream);
}

TEST_F(Framing, GapBelowOneFinishesEachPacketAtTheNextTurn) {
    for (i16 gap : {i16{0}, i16{-5}}) {
        Rig r;
        r.line1.setLineSettings("9600,n,8,1");
        r.openDirect(r.core.port1);
        r.runAuto();
        r.core.gapMs = gap;
        r.loop.post(0, [&] { r.line1.peerSend("abc"); });
        r.runMs(50);
        EXPECT_EQ(r.core.Pending_Port1, 0) << "gap " << gap << ": the packet never ended";
        std::string shown;
        for (int i = 0; i < r.core.Screen_Row; ++i) shown += r.core.form.Text1[i];
        EXPECT_EQ(shown, "abc") << "gap " << gap;
    }
}

TEST_F(Framing, LateReceiveEventsDoNotMoveThePacketBoundaries) {
    // The window is busy: every receive event comes 30 ms after its byte.
    rig.line1.eventLatency = ms(30);
    rig.sendAt(rig.line1, 0, "AB");
    rig.sendAt(rig.line1, 2 * charMs + 15, "CD");  // a 15 ms pause on the wire
    rig.sendAt(rig.line1, 100, "EF");
    rig.sendAt(rig.line1, 100 + 2 * charMs + 5, "GH");  // a 5 ms pause: the same packet
    rig.runMs(300);
    EXPECT_EQ(form.Text1[0], "AB");
    EXPECT_EQ(form.Text1[1], "CD");
    EXPECT_EQ(form.Text1[2], "EFGH");
    EXPECT_EQ(core.Screen_Row, 3);
}

TEST_F(Framing, ATickAheadOfALateReceiveEventDoesNotCutThePacket) {
    // Receive events come 5 ms after their bytes; the gap timer is on time. At the tick the
    // buffer already holds a byte that joined the packet, whose own event is still to come.
    rig.line1.eventLatency = ms(5);
    rig.sendAt(rig.line1, 0, "AB");
    rig.sendAt(rig.line1, 2 * charMs + 9 - charMs, "CD");  // arrivals 9 ms apart: one packet
    rig.runMs(100);
    EXPECT_EQ(form.Text1[0], "ABCD");
    EXPECT_EQ(core.Screen_Row, 1);
}

TEST_F(Framing, APacketWhoseEndCameWhileTheLoopWasHeldUpIsNotHeldBackAPause) {
    // Ticks come 15 ms late. The next packet's first byte, 11 ms after the last one, is seen
    // before the late tick: the tick still ends the first packet, not one gap after the second.
    static_cast<VirtualTimer*>(core.port1.GapTimer)->latency = ms(15);
    form.Check[5].Value = 1;  // data relay 1 -> 2
    rig.sendAt(rig.line1, 0, "AB");
    rig.sendAt(rig.line1, 2 * charMs + 11 - charMs, "CD");
    const double tick = 2 * charMs + 10 + 15;
    rig.loop.runUntil(ms(tick + 0.01));
    EXPECT_EQ(form.Text1[0], "AB");
    rig.loop.runUntil(ms(tick + 2 * charMs + 0.01));  // relayed at once: on the far wire by now
    EXPECT_EQ(rig.line2.peerReceived(), "AB");
    rig.runMs(100);
    EXPECT_EQ(form.Text1[1], "CD");
    EXPECT_EQ(core.Screen_Row, 2);
}

}  // namespace
}  // namespace lt::sim
