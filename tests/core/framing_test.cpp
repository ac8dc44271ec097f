// Scenarios of automatic framing: packets cut by the pause on the wire, relayed, shown, recorded.
#include <gtest/gtest.h>

#include <algorithm>

#include "sim/rig.h"

namespace lt::sim {
namespace {

class Framing : public ::testing::Test {
protected:
    void SetUp() override {
        for (SimLine* l : {&rig.line1, &rig.line2}) l->setLineSettings("9600,n,8,1");
        rig.switchBothOn();
        rig.runAuto();
    }

    Rig rig;
    Core& core = rig.core;
    const double charMs = 10.0 / 9600 * 1000;  // one 8N1 character at 9600 baud
};

TEST_F(Framing, APacketEndsOneGapAfterItsLastByteAndAPauseSplitsItOnlyFromTheGapOn) {
    rig.sendAt(rig.line1, 0, "xyz");
    rig.loop.runUntil(ms(3 * charMs + 9.9));
    EXPECT_EQ(rig.nextRow(), 0) << "finished before the gap had passed";
    rig.loop.runUntil(ms(3 * charMs + 10.01));
    EXPECT_EQ(rig.cells(0), "xyz|3||");

    // Gap 10 ms: the pause between arrivals is the idle time plus one character time.
    rig.sendAt(rig.line1, 100, "AB");
    rig.sendAt(rig.line1, 100 + charMs + 9.5, "CD");  // arrivals 9.5 ms apart
    rig.sendAt(rig.line1, 200, "EF");
    rig.sendAt(rig.line1, 200 + charMs + 10.5, "GH");  // 10.5 ms apart
    rig.runMs(400);
    EXPECT_EQ(rig.cells(1), "ABCD|4||");
    EXPECT_EQ(rig.cells(2), "EF|2||");
    EXPECT_EQ(rig.cells(3), "GH|2||");

    // Rows come in the order packets end; the other port's cells stay empty.
    rig.sendAt(rig.line1, 500, "11111");
    rig.sendAt(rig.line2, 500, "22");
    rig.runMs(200);
    EXPECT_EQ(rig.cells(4), "||22|2");
    EXPECT_EQ(rig.cells(5), "11111|5||");
}

// A size check that waits for one byte more, or for a pause, fails here: exactly the buffer size
// back to back, then silence.
TEST_F(Framing, APacketOfExactlyTheBufferSizeEndsWithItsLastByte) {
    rig.line1.setLineSettings("115200,n,8,1");
    rig.sendAt(rig.line1, 0, std::string(CaptureChannel::kMaxPacket, 'q'));
    rig.loop.runUntil(Nanos{CaptureChannel::kMaxPacket} * rig.line1.characterTime());
    ASSERT_EQ(rig.nextRow(), 1) << "the full packet waited for a pause";
    EXPECT_EQ(rig.row(0).ports[0].length, "1024");
    rig.runMs(50);
    EXPECT_EQ(rig.nextRow(), 1);
}

TEST_F(Framing, SnapshotIsTakenAtTheFirstByteAndLineChangesDuringThePacketAreDropped) {
    rig.line1.peerSetRts(true);  // our CTS on before the packet: a line event and its row
    rig.runMs(1);
    const int r = rig.nextRow();
    rig.sendAt(rig.line1, 5, "abcdef");
    rig.loop.post(ms(5 + 2.5 * charMs), [&] {
        rig.line1.peerSetRts(false);
        rig.line1.peerSetDtr(true);
    });
    rig.runMs(100);
    EXPECT_EQ(rig.nextRow(), r + 1) << "a line change inside a packet made a row";
    EXPECT_EQ(rig.row(r).ports[0].bytes, "abcdef");
    // CTS as it stood at the first byte; DSR rose only during the packet.
    EXPECT_EQ(rig.row(r).ports[0].lamps, (LineStates{true, true, false, false, true}));
}

TEST_F(Framing,
       NoRelayNorLampsWhileTheOtherPortIsOffAndAPortSwitchedOffWhileCollectingGetsAnEmptyRow) {
    core.setRecording(true);
    core.setDataRelay(1, true);
    core.switchPort(2, false);
    rig.sendAt(rig.line1, 0, "abc");
    rig.runMs(100);
    EXPECT_EQ(rig.cells(0), "abc|3||");
    EXPECT_EQ(rig.row(0).ports[1].lamps, LineStates{}) << "port 2 is off";
    core.switchPort(2, true);
    rig.sendAt(rig.line1, 100, "def");
    rig.runMs(3 * charMs + 1);
    core.switchPort(1, false);
    rig.runMs(50);
    EXPECT_EQ(rig.nextRow(), 2);
    EXPECT_EQ(rig.cells(1), "|0||");
    EXPECT_EQ(rig.row(1).ports[0].lamps, LineStates{});
    EXPECT_EQ(rig.row(1).ports[1].lamps, (LineStates{.rts = true, .dtr = true}));
    EXPECT_EQ(rig.line2.peerReceived(), "") << "neither packet is relayed";
    EXPECT_EQ(rig.records.text.find("64 65 66"), std::string::npos) << rig.records.text;
}

// A device that takes bytes slower than they are relayed to it keeps at most the send bound:
// later packets are dropped whole, told once, and totalled at the end.
TEST_F(Framing, PacketsRelayedPastWhatTheOtherDeviceTakesAreDroppedToldOnceAndTotalledAtTheEnd) {
    rig.line2.setLineSettings("300,n,8,1");
    rig.line2.boundSends(64);
    core.setDataRelay(1, true);
    for (int i = 0; i < 4; ++i) rig.sendAt(rig.line1, i * 100, std::string(30, 'p'));
    rig.runMs(500);
    const std::uint64_t dropped = rig.line2.sendsDropped();
    EXPECT_GT(dropped, 0u);
    const auto told = [&](const std::string& text) {
        return std::count_if(rig.host.messages.begin(), rig.host.messages.end(),
                             [&](const std::string& m) { return m.find(text) != m.npos; });
    };
    EXPECT_EQ(told("does not take bytes"), 1);
    core.shutDown();
    EXPECT_EQ(told(rig.line2.portName().recordLabel() + ": " + std::to_string(dropped) +
                   " relayed packets dropped in all"),
              1);
}

TEST_F(Framing, ARefusedReadNeverRepeatsTheEarlierPacket) {
    core.setDataRelay(1, true);
    rig.sendAt(rig.line1, 0, "first");
    // A picked entry closes the port while a packet is collected; it reopens 100 ms later.
    rig.sendAt(rig.line1, 100, "x");
    rig.runMs(100 + charMs + 1);
    core.pickChoice(1, Choice::Baud, "9600");
    rig.runMs(200);
    EXPECT_EQ(rig.line2.peerReceived(), "first");
    EXPECT_EQ(rig.cells(0), "first|5||");
    EXPECT_EQ(rig.cells(1), "|0||");
}

TEST_F(Framing, LateReceiveEventsMoveNoPacketBoundary) {
    // The window is busy: every receive event comes 30 ms after its byte.
    rig.line1.eventLatency = ms(30);
    rig.sendAt(rig.line1, 0, "AB");
    rig.sendAt(rig.line1, 2 * charMs + 15, "CD");  // a 15 ms pause on the wire
    rig.sendAt(rig.line1, 100, "EF");
    rig.sendAt(rig.line1, 100 + 2 * charMs + 5, "GH");  // a 5 ms pause: the same packet
    rig.runMs(300);
    EXPECT_EQ(rig.cells(0), "AB|2||");
    EXPECT_EQ(rig.cells(1), "CD|2||");
    EXPECT_EQ(rig.cells(2), "EFGH|4||");

    // Events 5 ms late, the gap timer on time: at its tick the buffer already holds a byte that
    // joined the packet, whose own event is still to come.
    rig.line1.eventLatency = ms(5);
    rig.sendAt(rig.line1, 300, "IJ");
    rig.sendAt(rig.line1, 300 + charMs + 9, "KL");  // arrivals 9 ms apart: one packet
    rig.runMs(100);
    EXPECT_EQ(rig.cells(3), "IJKL|4||");
    EXPECT_EQ(rig.nextRow(), 4);
}

// The pause that ends a packet is the one given at its latest receive event: a gap saved after
// that applies from the next receive event on.
TEST_F(Framing, AGapSavedDuringAPacketAppliesFromTheNextReceiveEventAndAGapOf0EndsAtTheNextTurn) {
    rig.sendAt(rig.line1, 0, "ab");
    rig.loop.post(ms(2 * charMs + 2), [&] { rig.useIntervals(50, 100); });
    rig.loop.runUntil(ms(2 * charMs + 10.01));
    EXPECT_EQ(rig.cells(0), "ab|2||") << "ended 10 ms after its last byte, as set at its events";

    rig.sendAt(rig.line1, 100, "c");
    rig.sendAt(rig.line1, 100 + charMs + 30, "d");  // 30 ms apart: one packet at a 50 ms gap
    rig.runMs(300);
    EXPECT_EQ(rig.cells(1), "cd|2||");
    EXPECT_EQ(rig.nextRow(), 2);

    rig.useIntervals(0, 100);
    rig.sendAt(rig.line1, rig.loop.now() / 1e6, "abc");
    rig.runMs(50);
    EXPECT_FALSE(rig.channel(1).collecting()) << "the packet never ended";
    std::string shown;
    for (int i = 2; i < rig.nextRow(); ++i) shown += rig.row(i).ports[0].bytes;
    EXPECT_EQ(shown, "abc");
}

// While stopped a port keeps only the first 1024 bytes, as a driver's buffer would; after Start
// nothing is dropped.
TEST_F(Framing, WhileStoppedAPortKeepsOnlyWhatItsReceiveBufferHolds) {
    core.stop();
    core.setDataRelay(1, true);
    for (SimLine* l : {&rig.line1, &rig.line2}) l->setLineSettings("115200,n,8,1");
    std::string night;
    for (int i = 0; i < 3000; ++i) night += static_cast<char>('A' + i % 26);
    rig.sendAt(rig.line1, 0, night);
    rig.runMs(400);
    ASSERT_EQ(rig.line1.bytesWaiting(), 1024u);
    // The bytes kept come out with the first packet after Start; then every byte goes through.
    rig.runAuto();
    rig.sendAt(rig.line1, 500, night);
    rig.runMs(600);
    const std::string relayed = rig.line2.peerReceived();
    EXPECT_EQ(relayed.size(), 1024u + night.size());
    EXPECT_TRUE(relayed == night.substr(0, 1024) + night) << "no stale night is relayed";
}

// What a device sent before it vanished is framed, shown, relayed and recorded, though no receive
// event will come for it: at the next Start when capture was stopped (its lamp red meanwhile), at
// once when the loss comes before the receive events did.
TEST_F(Framing, WhatAVanishedDeviceSentIsStillFramedAtTheNextStartOrAtTheLoss) {
    core.setDataRelay(1, true);
    core.setRecording(true);
    core.stop();
    rig.sendAt(rig.line1, 0, "one");
    rig.sendAt(rig.line1, 30, "two");
    rig.runMs(50);
    rig.line1.peerVanish();
    rig.runMs(10);
    EXPECT_EQ(rig.panel(1).lamp, PortLamp::Failed) << "the loss is shown while stopped";
    EXPECT_EQ(rig.nextRow(), 0);
    rig.runAuto();
    rig.runMs(50);
    // Bytes that waited from before Start make one packet, whatever pause lies between them.
    EXPECT_EQ(rig.cells(0), "onetwo|6||");
    EXPECT_EQ(rig.line2.peerReceived(), "onetwo");
    EXPECT_NE(rig.records.text.find("Data= 6F 6E 65 74 77 6F\r\n"), std::string::npos);

    // Running, with receive events late: both packets waiting at the loss, each its own.
    core.switchPort(1, false);
    core.switchPort(1, true);
    rig.line1.eventLatency = ms(100);
    const double at = rig.loop.now() / 1e6;
    rig.sendAt(rig.line1, at, "three");
    rig.sendAt(rig.line1, at + 30, "four");
    rig.runMs(50);
    rig.line1.peerVanish();
    rig.runMs(50);
    EXPECT_EQ(rig.panel(1).lamp, PortLamp::Failed);
    EXPECT_EQ(rig.cells(1), "three|5||");
    EXPECT_EQ(rig.cells(2), "four|4||");
    EXPECT_EQ(rig.line2.peerReceived(), "onetwothreefour");
    rig.runMs(200);
    EXPECT_EQ(rig.nextRow(), 3) << "nothing framed twice";
}

TEST_F(Framing, APacketWhoseEndCameWhileTheLoopWasHeldUpIsNotHeldBackAPause) {
    for (VirtualTimer* t : rig.host.timers) t->latency = ms(15);  // every tick 15 ms late
    core.setDataRelay(1, true);
    // The next packet's first byte, 11 ms after the last one, is seen before the late tick: the
    // tick still ends the first packet, not one gap after the second.
    rig.sendAt(rig.line1, 0, "AB");
    rig.sendAt(rig.line1, charMs + 11, "CD");
    const double tick = 2 * charMs + 10 + 15;
    rig.loop.runUntil(ms(tick + 0.01));
    EXPECT_EQ(rig.row(0).ports[0].bytes, "AB");
    rig.loop.runUntil(ms(tick + 2 * charMs + 0.01));  // relayed at once: on the far wire by now
    EXPECT_EQ(rig.line2.peerReceived(), "AB");
    rig.runMs(100);
    EXPECT_EQ(rig.row(1).ports[0].bytes, "CD");
    EXPECT_EQ(rig.nextRow(), 2);
}

}  // namespace
}  // namespace lt::sim
