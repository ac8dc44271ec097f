// Scenarios of the port panels: switching, picked entries, refused choices, failed ports.
#include <gtest/gtest.h>

#include "sim/rig.h"

namespace lt::sim {
namespace {

class PortPanels : public ::testing::Test {
protected:
    SimLine& line(int port) { return port == 1 ? rig.line1 : rig.line2; }
    void pick(int port, Choice box, const std::string& text, double thenMs = 0) {
        core.pickChoice(port, box, text);
        rig.runMs(thenMs);
    }
    void expectPanelEnabled(int port, bool on) {
        const PortPanelView p = rig.panel(port);
        for (const ChoiceBox& box : p.choices) EXPECT_EQ(box.enabled, on);
        for (const Toggle& t : {p.rts, p.dtr, p.dataRelay, p.lineRelay, p.strobe})
            EXPECT_EQ(t.enabled, on);
    }
    void expectAtRest(int port) {
        EXPECT_FALSE(line(port).isOpen() || rig.panel(port).enable.checked);
        EXPECT_EQ(rig.panel(port).lamp, PortLamp::Off);
        expectPanelEnabled(port, false);
        EXPECT_EQ(rig.channel(port).packet(), "");
        EXPECT_EQ(rig.channel(port).lines(), LineStates{});
    }

    Rig rig;
    Core& core = rig.core;
};

TEST_F(PortPanels, SwitchingOnWithUntouchedBoxesOpens1200Odd81AndSwitchingOffPutsItToRest) {
    rig.line1.peerSetRts(true);
    rig.line1.peerSetDtr(true);
    rig.switchBothOn();
    for (int n : {1, 2}) {
        SCOPED_TRACE(n);
        EXPECT_EQ(line(n).portName(), PortName::number(n));
        EXPECT_EQ(line(n).lineSettings(), "1200,o,8,1");
        EXPECT_EQ(line(n).rtsControl(), RtsControl::Steady);
        EXPECT_EQ(peerSees(line(n)), "RD");
        EXPECT_EQ(rig.panel(n).lamp, PortLamp::Open);
        expectPanelEnabled(n, true);
        EXPECT_TRUE(rig.panel(n).rts.checked && rig.panel(n).dtr.checked);
    }
    EXPECT_EQ(rig.channel(1).lines(), (LineStates{true, true, true, true, true}));
    EXPECT_EQ(rig.channel(2).lines(), (LineStates{true, true, false, false, false}));

    core.setDataRelay(1, true);
    rig.runAuto();
    rig.sendAt(rig.line1, 0, "left over");
    rig.runMs(150);
    ASSERT_EQ(rig.channel(1).packet(), "left over");
    core.switchPort(1, false);
    expectAtRest(1);
    EXPECT_TRUE(rig.panel(1).rts.checked && rig.panel(1).dataRelay.checked);

    // Switched off again within the opening's strobe yield: it stays at rest.
    rig.loop.post(rig.loop.now(), [&] { core.switchPort(1, false); });
    core.switchPort(1, true);
    expectAtRest(1);
}

TEST_F(PortPanels, BusyMissingOrVanishedPortGivesAFailedLampNoMessageAndEnabledControls) {
    rig.line1.busy = true;
    rig.line2.missing = true;
    rig.switchBothOn();
    for (int n : {1, 2}) {
        SCOPED_TRACE(n);
        EXPECT_EQ(rig.panel(n).lamp, PortLamp::Failed);
        EXPECT_TRUE(rig.panel(n).enable.checked);
        expectPanelEnabled(n, true);
        EXPECT_FALSE(rig.panel(n).rts.checked || rig.panel(n).dtr.checked);
    }
    EXPECT_EQ(rig.host.yields, 0);

    rig.line1.busy = rig.line2.missing = false;
    pick(1, Choice::Baud, "9600");
    pick(2, Choice::Baud, "9600", 100);
    EXPECT_EQ(rig.line1.lineSettings(), "9600,o,8,1");
    EXPECT_EQ(std::pair(rig.panel(1).lamp, rig.panel(2).lamp),
              std::pair(PortLamp::Open, PortLamp::Open));

    // Both devices vanish; port 2 is switched off before its loss is reported.
    rig.line1.peerVanish();
    rig.line2.peerVanish();
    core.switchPort(2, false);
    rig.runMs(10);
    EXPECT_EQ(std::pair(rig.panel(1).lamp, rig.panel(2).lamp),
              std::pair(PortLamp::Failed, PortLamp::Off));
    expectPanelEnabled(1, true);
    EXPECT_TRUE(rig.loop.empty() && rig.host.messages.empty());

    // A loss report that comes after the port was opened again must not turn its lamp red.
    core.switchPort(1, false);
    core.switchPort(1, true);
    ASSERT_TRUE(rig.line1.isOpen());
    rig.line1.peerVanish();
    core.switchPort(1, false);
    core.switchPort(1, true);
    rig.runMs(10);
    EXPECT_TRUE(rig.line1.isOpen());
    EXPECT_EQ(rig.panel(1).lamp, PortLamp::Open);
}

TEST_F(PortPanels, PickedEntryClosesWaits100msFromTheFirstPickAndReopensRestoringAHandClearedDtr) {
    core.switchPort(1, true);
    core.setDtr(1, false);
    ASSERT_FALSE(rig.line1.peerSeesDtr());
    pick(1, Choice::Baud, "9600");
    EXPECT_FALSE(rig.line1.isOpen()) << "the pick closes the port at once";
    rig.runMs(50);
    pick(1, Choice::Parity, "n");
    EXPECT_EQ(rig.panel(1).lamp, PortLamp::Open) << "the lamp keeps its colour until the apply";
    rig.runMs(49.9);
    EXPECT_FALSE(rig.line1.isOpen());
    rig.runMs(0.2);
    EXPECT_TRUE(rig.line1.isOpen()) << "a second pick within the wait does not postpone it";
    EXPECT_EQ(rig.line1.lineSettings(), "9600,n,8,1");
    EXPECT_TRUE(rig.panel(1).dtr.checked);
    EXPECT_EQ(peerSees(rig.line1), "RD");
    rig.runMs(500);
    EXPECT_EQ(rig.line1.opens, 2) << "the apply acts once per pick";

    // A pick due with the apply, after it, runs while the apply's strobe lets events run.
    const double t = rig.loop.now() / 1e6;
    pick(1, Choice::Baud, "4800");
    rig.loop.post(ms(t + 100), [&] { pick(1, Choice::Baud, "2400"); });
    rig.runMs(100);
    ASSERT_FALSE(rig.line1.isOpen()) << "the second pick closed the port again";
    rig.runMs(100);
    EXPECT_TRUE(rig.line1.isOpen());
    EXPECT_EQ(rig.line1.lineSettings(), "2400,n,8,1");
}

TEST_F(PortPanels, ApplyTakesEachPartItCanAndRefusesTheRestWithOneMessageBeforeReopening) {
    core.switchPort(1, true);
    pick(1, Choice::Port, "/dev/ttyUSB0");
    pick(1, Choice::Baud, "9600", 100);
    EXPECT_EQ(rig.line1.portName(), PortName::path("/dev/ttyUSB0"));
    ASSERT_EQ(rig.line1.lineSettings(), "9600,o,8,1");

    // Refused values and texts: the previous value stays, the port reopens after the message.
    bool openAtMessage = true;
    rig.host.whileMessageShown = [&](const std::string&) { openAtMessage = rig.line1.isOpen(); };
    const std::vector<std::pair<Choice, const char*>> refused{
        {Choice::DataBits, "9"},   {Choice::Baud, "fast"}, {Choice::DataBits, "8bit"},
        {Choice::StopBits, "1.5"}, {Choice::Baud, ""},     {Choice::Parity, "x"},
        {Choice::Baud, "-300"},    {Choice::Port, "COM3"}, {Choice::Port, "13"},
        {Choice::Port, "0"},       {Choice::Port, ""}};
    for (const auto& [box, text] : refused) {
        SCOPED_TRACE(text);
        rig.host.messages.clear();
        const std::string before = rig.panel(1).choices[static_cast<int>(box)].text;
        pick(1, box, text, 100);
        EXPECT_EQ(rig.host.messages, std::vector<std::string>{"Недопустимо"});
        EXPECT_FALSE(openAtMessage);
        EXPECT_EQ(rig.line1.lineSettings() + rig.line1.portName().Path, "9600,o,8,1/dev/ttyUSB0");
        EXPECT_EQ(rig.panel(1).lamp, PortLamp::Open);
        core.typeChoice(1, box, before);
    }

    // A refused port still lets valid settings through, and the other way round.
    rig.host.messages.clear();
    core.typeChoice(1, Choice::Port, "3x");
    pick(1, Choice::StopBits, "2", 100);
    EXPECT_EQ(rig.line1.portName(), PortName::path("/dev/ttyUSB0"));
    EXPECT_EQ(rig.line1.lineSettings(), "9600,o,8,2");
    core.typeChoice(1, Choice::Port, "4");
    pick(1, Choice::DataBits, "4", 100);
    EXPECT_EQ(rig.line1.portName(), PortName::number(4));
    EXPECT_EQ(rig.line1.lineSettings(), "9600,o,8,2");
    EXPECT_EQ(rig.host.messages, std::vector<std::string>(2, "Недопустимо"));

    // The user switches the port off while the message is open: the apply ends there.
    rig.host.whileMessageShown = [&](const std::string&) { core.switchPort(1, false); };
    pick(1, Choice::Baud, "fast", 100);
    expectAtRest(1);

    // The program ends while the message is open: the port is never opened again.
    core.switchPort(1, true);
    rig.host.whileMessageShown = [&](const std::string&) { core.shutDown(); };
    pick(1, Choice::Baud, "fast", 100);
    EXPECT_FALSE(rig.line1.isOpen());
}

TEST_F(PortPanels, SwitchedOffDuringTheWaitSkipsTheApplyButOffAndOnAgainStillApplies) {
    core.switchPort(1, true);
    pick(1, Choice::Baud, "9600", 50);
    core.switchPort(1, false);
    rig.runMs(200);
    expectAtRest(1);
    EXPECT_EQ(rig.line1.opens, 1);

    core.switchPort(1, true);
    core.setStrobe(1, true);
    pick(1, Choice::Baud, "4800", 30);
    core.switchPort(1, false);
    core.switchPort(1, true);  // reopened with the old settings
    ASSERT_EQ(rig.line1.lineSettings(), "1200,o,8,1");
    EXPECT_TRUE(rig.panel(1).rts.enabled) << "switching on enables the panel after the strobe";
    rig.runMs(100);
    EXPECT_EQ(rig.line1.lineSettings(), "4800,o,8,1");
    EXPECT_EQ(rig.line1.rtsControl(), RtsControl::Toggle);
    EXPECT_FALSE(rig.panel(1).rts.enabled) << "an apply leaves the box as the strobe sets it";
}

TEST_F(PortPanels, SettingsTheDriverDoesNotTakeAreRefusedAfterOpeningAndThePreviousStayInForce) {
    rig.line1.driverTakes = [](const LineSettings& s) { return s.DataBits != 5; };
    core.switchPort(1, true);
    bool openAtMessage = false;
    rig.host.whileMessageShown = [&](const std::string&) { openAtMessage = rig.line1.isOpen(); };
    pick(1, Choice::DataBits, "5", 100);
    EXPECT_EQ(rig.host.messages, std::vector<std::string>{"Недопустимо"});
    EXPECT_TRUE(openAtMessage);
    EXPECT_EQ(rig.line1.deviceSettings().text(), "1200,o,8,1");
    EXPECT_EQ(rig.panel(1).lamp, PortLamp::Open);
    EXPECT_TRUE(rig.line1.peerSeesDtr()) << "the outputs are set as after any opening";
}

}  // namespace
}  // namespace lt::sim
