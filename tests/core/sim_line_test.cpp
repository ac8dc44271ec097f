// The simulated line itself: the scenario tests are only as good as its timing and its rules.
#include <gtest/gtest.h>

#include <string>
#include <vector>

#include "sim/rig.h"

namespace lt::sim {
namespace {

TEST(SimLine, BytesTakeTheirCharacterTimeAndInputIsCutAtPausesFromTheGivenTime) {
    VirtualLoop loop;
    SimLine line(loop, 1);
    EXPECT_EQ(line.characterTime(), Nanos{11} * 1'000'000'000 / 1200) << "1200,o,8,1: 11 bits";
    line.setLineSettings("9600,n,7,2");
    EXPECT_EQ(line.characterTime(), Nanos{10} * 1'000'000'000 / 9600);
    line.setOpen(true);
    int events = 0;
    line.onEvent = [&] { events += line.event() == PortEvent::Received; };
    line.peerSend("ab");
    loop.runFor(line.characterTime() * 2 - 1);
    EXPECT_EQ(line.bytesWaiting(), 1u);
    for (const char* bytes : {"cd", "ef", "gh"}) {
        loop.runFor(ms(20));
        line.peerSend(bytes);
    }
    loop.runFor(ms(20));
    EXPECT_EQ(events, 8);
    // "b" arrived 2.08 ms in: the pause after it starts before 3 ms and cuts nothing.
    EXPECT_EQ(line.takeReceived(SerialPort::kAll, ms(10), ms(3)), "abcd");
    EXPECT_EQ(line.takeReceived(1, ms(10)), "e");
    EXPECT_EQ(line.takeReceived(SerialPort::kAll, ms(10)), "f");
    EXPECT_EQ(line.takeReceived(), "gh");
}

TEST(SimLine, SettingsTheDriverRefusesLeaveThePortOpenWithTheLastTaken) {
    VirtualLoop loop;
    SimLine line(loop, 1);
    line.driverTakes = [](const LineSettings& s) { return s.DataBits != 5; };
    line.setLineSettings("2400,e,5,1");  // held while closed, as given
    // Nothing was ever taken: the port opens with what the device had.
    EXPECT_THROW(line.setOpen(true), SettingsRefused);
    EXPECT_TRUE(line.isOpen());
    EXPECT_EQ(line.lineSettings(), "9600,n,8,1");
    line.setLineSettings("2400,e,7,1");
    EXPECT_THROW(line.setLineSettings("2400,e,5,1"), SettingsRefused);
    EXPECT_EQ(line.lineSettings(), "2400,e,7,1");
    // Reopened with held settings the driver refuses: back to the last taken, at its timing.
    line.setOpen(false);
    line.setLineSettings("4800,n,5,2");
    EXPECT_THROW(line.setOpen(true), SettingsRefused);
    EXPECT_EQ(line.lineSettings(), "2400,e,7,1");
    EXPECT_EQ(line.characterTime(), Nanos{10} * 1'000'000'000 / 2400);
}

TEST(SimLine, PeerLinesRaiseEventsAndInToggleModeRtsShowsOnlyWhileSending) {
    VirtualLoop loop;
    SimLine line(loop, 2);
    line.setRts(true);  // kept while closed
    EXPECT_FALSE(line.peerSeesRts());
    line.setOpen(true);
    EXPECT_TRUE(line.peerSeesRts());

    std::vector<PortEvent> events;
    line.onEvent = [&] { events.push_back(line.event()); };
    line.peerSetRts(true);
    line.peerSetDtr(true);
    loop.runFor(ms(1));
    EXPECT_TRUE(line.cts() && line.dsr() && line.dcd());
    EXPECT_EQ(events, (std::vector<PortEvent>{PortEvent::CtsChanged, PortEvent::DsrChanged,
                                              PortEvent::DcdChanged}));

    line.writeCommState(CommState{kFlagsToggleRts});
    EXPECT_FALSE(line.peerSeesRts());
    line.send("xy");
    EXPECT_TRUE(line.peerSeesRts());
    loop.runFor(ms(100));
    EXPECT_FALSE(line.peerSeesRts());
    EXPECT_EQ(line.peerReceived(), "xy");
    EXPECT_EQ(events.back(), PortEvent::Sent);
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
