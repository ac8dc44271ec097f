// The simulated line and timer where a scenario could pass on a wrong rule of theirs: the timing
// that the framing cases lean on, and a restart that counts from zero.
#include <gtest/gtest.h>

#include "sim/rig.h"

namespace lt::sim {
namespace {

TEST(SimLine, BytesTakeTheirCharacterTime) {
    VirtualLoop loop;
    SimLine line(loop, 1);
    EXPECT_EQ(line.characterTime(), Nanos{11} * 1'000'000'000 / 1200) << "1200,o,8,1: 11 bits";
    line.setLineSettings("9600,n,7,2");
    EXPECT_EQ(line.characterTime(), Nanos{10} * 1'000'000'000 / 9600);
    line.setOpen(true);
    line.peerSend("ab");
    loop.runFor(line.characterTime() * 2 - 1);
    EXPECT_EQ(line.bytesWaiting(), 1u);
    EXPECT_EQ(line.takeReceived(), "a");
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
    t.setEnabled(false);
    loop.runFor(ms(100));
    EXPECT_EQ(ticks, 3);
    t.startFirstAfter(ms(2));
    loop.runFor(ms(2));
    EXPECT_EQ(ticks, 4);
}

}  // namespace
}  // namespace lt::sim
