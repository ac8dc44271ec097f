// The simulated line itself: the scenario tests are only as good as its timing and its rules.
#include <gtest/gtest.h>

#include "sim/rig.h"

namespace lt::sim {
namespace {

TEST(SimLine, BytesTakeTheirCharacterTimeAtTheChosenFraming) {
    VirtualLoop loop;
    SimLine line(loop, 1);
    EXPECT_EQ(line.characterTime(), Nanos{11} * 1'000'000'000 / 1200) << "1200,o,8,1: 11 bits";
    line.setSettings("9600,n,7,2");
    EXPECT_EQ(line.characterTime(), Nanos{10} * 1'000'000'000 / 9600);
    EXPECT_THROW(line.setSettings("9600,x,8,1"), PortError);
    EXPECT_THROW(line.setSettings("abc,n,8,1"), PortError);
    EXPECT_EQ(line.Settings(), "9600,n,7,2") << "a refused text keeps the previous settings";

    line.setPortOpen(true);
    int events = 0;
    line.OnComm = [&] { events += line.CommEvent() == comEvReceive; };
    line.peerSend("ab");
    loop.runFor(line.characterTime() * 2 - 1);
    EXPECT_EQ(line.InBufferCount(), 1u);
    loop.runFor(1);
    EXPECT_EQ(line.Input(), "ab");
    EXPECT_EQ(events, 2);
}

TEST(SimLine, InputSplitsAtPausesAfterTheGivenTime) {
    VirtualLoop loop;
    SimLine line(loop, 1);
    line.setSettings("115200,n,8,1");
    line.setPortOpen(true);
    line.peerSend("ab");
    loop.runFor(ms(20));
    line.peerSend("cd");
    loop.runFor(ms(20));
    EXPECT_EQ(line.Input(SerialPort::kAll, ms(10), ms(30)), "abcd") << "pause before gapsFrom";
    line.peerSend("ef");
    loop.runFor(ms(20));
    line.peerSend("gh");
    loop.runFor(ms(20));
    EXPECT_EQ(line.Input(1, ms(10)), "e");
    EXPECT_EQ(line.Input(SerialPort::kAll, ms(10)), "f");
    EXPECT_EQ(line.Input(SerialPort::kAll, ms(10)), "gh");
}

TEST(SimLine, OutputsInputsAndRefusalsWhileClosed) {
    VirtualLoop loop;
    SimLine line(loop, 2);
    EXPECT_THROW(line.Input(), PortError);
    EXPECT_THROW(line.Output("x"), PortError);
    EXPECT_THROW((void)line.CTSHolding(), PortError);
    line.setRTSEnable(true);  // kept while closed
    EXPECT_TRUE(line.RTSEnable());
    EXPECT_FALSE(line.peerSeesRts());
    line.busy = true;
    EXPECT_THROW(line.setPortOpen(true), PortError);
    line.busy = false;
    line.setPortOpen(true);
    EXPECT_TRUE(line.peerSeesRts());
    EXPECT_THROW(line.setCommPort(PortName::number(3)), PortError);

    std::vector<i16> events;
    line.OnComm = [&] { events.push_back(line.CommEvent()); };
    line.peerSetRts(true);
    line.peerSetDtr(true);
    loop.runFor(ms(1));
    EXPECT_TRUE(line.CTSHolding());
    EXPECT_TRUE(line.DSRHolding());
    EXPECT_TRUE(line.CDHolding());
    EXPECT_EQ(events, (std::vector<i16>{comEvCTS, comEvDSR, comEvCD}));

    // Toggle mode: the peer sees RTS only while bytes are on their way.
    line.SetCommState(CommState{kFlagsToggleRts});
    EXPECT_FALSE(line.peerSeesRts());
    line.Output("xy");
    EXPECT_TRUE(line.peerSeesRts());
    loop.runFor(ms(100));
    EXPECT_FALSE(line.peerSeesRts());
    EXPECT_EQ(line.peerReceived(), "xy");
    EXPECT_EQ(events.back(), comEvSend);
}

TEST(VirtualTimer, RestartIntervalZeroAndPeriodicTicks) {
    VirtualLoop loop;
    VirtualTimer t(loop);
    int ticks = 0;
    t.onTick = [&] { ++ticks; };
    t.restart(0);
    loop.runFor(ms(1000));
    EXPECT_EQ(ticks, 0) << "an interval of 0 never fires";
    t.restart(10);
    loop.runFor(ms(35));
    EXPECT_EQ(ticks, 3);
    t.restart(10);  // restarting counts from zero again
    loop.runFor(ms(9));
    EXPECT_EQ(ticks, 3);
    t.setEnabled(false);
    loop.runFor(ms(100));
    EXPECT_EQ(ticks, 3);
    t.startFirstAfter(ms(2));
    loop.runFor(ms(2));
    EXPECT_EQ(ticks, 4);
}

}  // namespace
}  // namespace lt::sim
