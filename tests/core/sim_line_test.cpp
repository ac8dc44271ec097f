// The simulated line itself: the scenario tests are only as good as its timing and its rules.
#include <gtest/gtest.h>

#include <QLoggingCategory>
#include <string>
#include <vector>

#include "sim/rig.h"

namespace lt::sim {
namespace {

TEST(SimLine, BytesTakeTheirCharacterTimeAtTheChosenFraming) {
    VirtualLoop loop;
    SimLine line(loop, 1);
    EXPECT_EQ(line.characterTime(), Nanos{11} * 1'000'000'000 / 1200) << "1200,o,8,1: 11 bits";
    line.setLineSettings("9600,n,7,2");
    EXPECT_EQ(line.characterTime(), Nanos{10} * 1'000'000'000 / 9600);
    EXPECT_THROW(line.setLineSettings("9600,x,8,1"), PortError);
    EXPECT_THROW(line.setLineSettings("abc,n,8,1"), PortError);
    EXPECT_EQ(line.lineSettings(), "9600,n,7,2") << "a refused text keeps the previous settings";

    line.setOpen(true);
    int events = 0;
    line.onEvent = [&] { events += line.event() == PortEvent::Received; };
    line.peerSend("ab");
    loop.runFor(line.characterTime() * 2 - 1);
    EXPECT_EQ(line.bytesWaiting(), 1u);
    loop.runFor(1);
    EXPECT_EQ(line.takeReceived(), "ab");
    EXPECT_EQ(events, 2);
}

TEST(SimLine, SettingsTheDriverRefusesAreRefusedAsByARealPort) {
    VirtualLoop loop;
    SimLine line(loop, 1);
    line.driverTakes = [](const LineSettings& s) { return s.DataBits != 5; };
    line.setLineSettings("2400,e,5,1");  // held while closed, as given
    EXPECT_EQ(line.lineSettings(), "2400,e,5,1");
    // Nothing was ever taken: the port opens with what the device had.
    EXPECT_THROW(line.setOpen(true), SettingsRefused);
    EXPECT_TRUE(line.isOpen());
    EXPECT_EQ(line.lineSettings(), "9600,n,8,1");
    EXPECT_EQ(line.characterTime(), Nanos{10} * 1'000'000'000 / 9600);

    line.setLineSettings("2400,e,7,1");
    EXPECT_EQ(line.deviceSettings().text(), "2400,e,7,1");
    EXPECT_THROW(line.setLineSettings("2400,e,5,1"), SettingsRefused);
    EXPECT_EQ(line.lineSettings(), "2400,e,7,1");
    EXPECT_EQ(line.deviceSettings().text(), "2400,e,7,1");

    // Reopened with held settings the driver refuses: back to the last taken.
    line.setOpen(false);
    line.setLineSettings("4800,n,5,2");
    EXPECT_THROW(line.setOpen(true), SettingsRefused);
    EXPECT_TRUE(line.isOpen());
    EXPECT_EQ(line.lineSettings(), "2400,e,7,1");
    line.peerSend("a");  // and bytes still come, at the settings kept
    loop.runFor(line.characterTime());
    EXPECT_EQ(line.takeReceived(), "a");
    line.setOpen(false);
    line.setLineSettings("4800,n,8,2");
    EXPECT_NO_THROW(line.setOpen(true));
    EXPECT_EQ(line.deviceSettings().text(), "4800,n,8,2");
}

// The lines the simulated line logs while a test runs.
std::vector<std::string> simLog;
void keepSimLog(QtMsgType, const QMessageLogContext& context, const QString& text) {
    if (context.category && std::string(context.category) == "linetap.sim")
        simLog.push_back(text.toStdString());
}

TEST(SimLine, ABacklogLimitKeepsTheFirstBytesRaisesNothingForTheRestAndLogsWhatItDropped) {
    VirtualLoop loop;
    SimLine line(loop, 2);
    line.setLineSettings("115200,n,8,1");
    int receives = 0;
    line.onEvent = [&] { receives += line.event() == PortEvent::Received; };
    simLog.clear();
    const QtMessageHandler previous = qInstallMessageHandler(keepSimLog);

    line.limitBacklog(3);  // set while closed: it holds for the opening
    line.setOpen(true);
    line.peerSend("abcdef");
    loop.runFor(ms(10));
    EXPECT_EQ(line.bytesWaiting(), 3u);
    EXPECT_EQ(receives, 3) << "one for each byte kept, none for those dropped";
    EXPECT_EQ(line.takeReceived(1), "a");  // taking makes room again
    line.peerSend("gh");
    loop.runFor(ms(10));
    line.limitBacklog(3);  // the same limit again changes nothing
    EXPECT_TRUE(simLog.empty());
    line.limitBacklog(2);  // drops "g" at once
    line.limitBacklog(SerialPort::kAll);
    qInstallMessageHandler(previous);
    EXPECT_EQ(simLog, (std::vector<std::string>{
                          "COM2: bytes dropped while the backlog was limited to 3: 4",
                          "COM2: bytes dropped while the backlog was limited to 2: 1"}));
    EXPECT_EQ(line.takeReceived(), "bc");
    line.peerSend(std::string(2000, 'x'));
    loop.runFor(ms(500));
    EXPECT_EQ(line.bytesWaiting(), 2000u);
}

TEST(SimLine, InputSplitsAtPausesAfterTheGivenTime) {
    VirtualLoop loop;
    SimLine line(loop, 1);
    line.setLineSettings("115200,n,8,1");
    line.setOpen(true);
    line.peerSend("ab");
    loop.runFor(ms(20));
    line.peerSend("cd");
    loop.runFor(ms(20));
    EXPECT_EQ(line.takeReceived(SerialPort::kAll, ms(10), ms(30)), "abcd")
        << "pause before gapsFrom";
    line.peerSend("ef");
    loop.runFor(ms(20));
    line.peerSend("gh");
    loop.runFor(ms(20));
    EXPECT_EQ(line.takeReceived(1, ms(10)), "e");
    EXPECT_EQ(line.takeReceived(SerialPort::kAll, ms(10)), "f");
    EXPECT_EQ(line.takeReceived(SerialPort::kAll, ms(10)), "gh");
}

TEST(SimLine, OutputsInputsAndRefusalsWhileClosed) {
    VirtualLoop loop;
    SimLine line(loop, 2);
    EXPECT_THROW(line.takeReceived(), PortError);
    EXPECT_THROW(line.send("x"), PortError);
    EXPECT_THROW((void)line.cts(), PortError);
    line.setRts(true);  // kept while closed
    EXPECT_TRUE(line.rts());
    EXPECT_FALSE(line.peerSeesRts());
    line.busy = true;
    EXPECT_THROW(line.setOpen(true), PortError);
    line.busy = false;
    line.setOpen(true);
    EXPECT_TRUE(line.peerSeesRts());
    EXPECT_THROW(line.setPortName(PortName::number(3)), PortError);

    std::vector<PortEvent> events;
    line.onEvent = [&] { events.push_back(line.event()); };
    line.peerSetRts(true);
    line.peerSetDtr(true);
    loop.runFor(ms(1));
    EXPECT_TRUE(line.cts());
    EXPECT_TRUE(line.dsr());
    EXPECT_TRUE(line.dcd());
    EXPECT_EQ(events, (std::vector<PortEvent>{PortEvent::CtsChanged, PortEvent::DsrChanged,
                                              PortEvent::DcdChanged}));

    // Toggle mode: the peer sees RTS only while bytes are on their way.
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
