// Scenarios of the port panels: switching on and off, picked entries applied after a pause,
// refused choices, ports that cannot be opened or vanish.
#include <gtest/gtest.h>

#include "sim/rig.h"

namespace lt::sim {
namespace {

class PortPanel : public ::testing::Test {
  protected:
    // Picks `text` in box `index` of the port's panel, as the view does it.
    void pick(Channel& c, int index, const std::string& text) {
        (*c.Combo)[index].Text = text;
        core.Combo_Click(c, index);
    }
    void expectPanelEnabled(const Channel& c, bool on) {
        for (const ComboBox& box : *c.Combo) EXPECT_EQ(box.Enabled, on);
        for (int n : {c.RtsBox, c.DtrBox, c.DataRelayBox, c.ServiceRelayBox, c.StrobeBox})
            EXPECT_EQ(form.Check[n].Enabled, on) << "Check" << n;
    }

    Rig rig;
    Core& core = rig.core;
    Form& form = rig.core.form;
};

TEST_F(PortPanel, SwitchingOnWithUntouchedBoxesOpensBothPortsAt1200Odd81) {
    core.Set_Check(10, 1);
    core.Set_Check(11, 1);

    EXPECT_TRUE(rig.line1.PortOpen());
    EXPECT_EQ(rig.line1.CommPort(), PortName::number(1));
    EXPECT_EQ(rig.line1.Settings(), "1200,o,8,1");
    EXPECT_TRUE(rig.line2.PortOpen());
    EXPECT_EQ(rig.line2.CommPort(), PortName::number(2));
    EXPECT_EQ(rig.line2.Settings(), "1200,o,8,1");

    for (Channel* c : {&core.port1, &core.port2}) {
        EXPECT_EQ(c->Open, 1);
        EXPECT_EQ(*c->Lamp, color::DarkGreen);
        expectPanelEnabled(*c, true);
        EXPECT_EQ(form.Check[c->RtsBox].Value, 1);
        EXPECT_EQ(form.Check[c->DtrBox].Value, 1);
        // The flags were read after the strobe procedure had raised both outputs.
        EXPECT_EQ(c->RTS, kOn);
        EXPECT_EQ(c->DTR, kOn);
    }
    // What the devices at the far ends see: manual RTS and DTR, both on.
    EXPECT_EQ(rig.line1.flags(), kFlagsManualRts);
    EXPECT_TRUE(rig.line1.peerSeesRts());
    EXPECT_TRUE(rig.line1.peerSeesDtr());
    EXPECT_TRUE(rig.line2.peerSeesRts());
    EXPECT_TRUE(rig.line2.peerSeesDtr());
    EXPECT_TRUE(rig.host.messages.empty());
}

TEST_F(PortPanel, SwitchingOnReadsTheInputsAsTheyStand) {
    rig.line1.peerSetRts(true);
    rig.line1.peerSetDtr(true);
    rig.runMs(1);
    core.Set_Check(10, 1);
    EXPECT_EQ(core.port1.CTS, kOn);
    EXPECT_EQ(core.port1.DSR, kOn);
    EXPECT_EQ(core.port1.DCD, kOn);
}

TEST_F(PortPanel, BusyOrMissingPortGivesARedLampAndStaysSwitchedOn) {
    for (bool busy : {true, false}) {
        Rig r;
        (busy ? r.line1.busy : r.line1.missing) = true;
        r.core.Set_Check(10, 1);
        Channel& c = r.core.port1;
        EXPECT_FALSE(r.line1.PortOpen());
        EXPECT_EQ(*c.Lamp, color::Red);
        EXPECT_EQ(r.core.Open_Port1, 1);
        EXPECT_EQ(r.core.form.Check[10].Value, 1);
        EXPECT_TRUE(r.host.messages.empty()) << "busy " << busy;
        for (const ComboBox& box : *c.Combo) EXPECT_TRUE(box.Enabled);
        for (int n : {1, 2, 5, 7, 13}) EXPECT_TRUE(r.core.form.Check[n].Enabled) << "Check" << n;
        // The strobe procedure did not run on the closed port: the output boxes stay clear.
        EXPECT_EQ(r.core.form.Check[1].Value, 0);
        EXPECT_EQ(r.core.form.Check[2].Value, 0);
        EXPECT_EQ(r.host.yields, 0);

        // Freed by the other program, the next picked entry opens it.
        r.line1.busy = r.line1.missing = false;
        r.core.form.Combo1[1].Text = "9600";
        r.core.Combo_Click(c, 1);
        r.runMs(100);
        EXPECT_TRUE(r.line1.PortOpen());
        EXPECT_EQ(*c.Lamp, color::DarkGreen);
        EXPECT_EQ(r.line1.Settings(), "9600,o,8,1");
    }
}

TEST_F(PortPanel, SwitchingOffClosesClearsAndDisablesButKeepsTheTicks) {
    rig.line1.peerSetDtr(true);
    core.Set_Check(10, 1);
    core.Set_Check(5, 1);
    core.Set_Check(7, 1);
    core.Data_Port1 = "left over";
    core.Set_Check(10, 0);

    EXPECT_FALSE(rig.line1.PortOpen());
    EXPECT_FALSE(rig.line1.peerSeesRts());
    EXPECT_FALSE(rig.line1.peerSeesDtr());
    EXPECT_EQ(core.Open_Port1, 0);
    EXPECT_EQ(form.Shape1, color::ScrollBar);
    expectPanelEnabled(core.port1, false);
    for (int n : {1, 2, 5, 7}) EXPECT_EQ(form.Check[n].Value, 1) << "Check" << n;
    EXPECT_EQ(core.Data_Port1, "");
    for (i16 f : core.port1.flags()) EXPECT_EQ(f, kOff);

    // Switching off a port whose opening failed is quiet too.
    rig.line2.busy = true;
    core.Set_Check(11, 1);
    core.Set_Check(11, 0);
    EXPECT_EQ(form.Shape3, color::ScrollBar);
    EXPECT_TRUE(rig.host.messages.empty());
}

TEST_F(PortPanel, PickedEntryClosesWaitsAndReopensWithTheNewChoice) {
    core.Set_Check(10, 1);
    pick(core.port1, 1, "9600");
    EXPECT_FALSE(rig.line1.PortOpen()) << "the pick closes the port at once";
    rig.runMs(50);
    pick(core.port1, 2, "n");
    EXPECT_EQ(form.Shape1, color::DarkGreen) << "the lamp keeps its colour until the apply";
    EXPECT_EQ(core.Open_Port1, 1);

    rig.runMs(99.9);
    EXPECT_FALSE(rig.line1.PortOpen()) << "each pick restarts the 100 ms wait";
    rig.runMs(0.2);
    EXPECT_TRUE(rig.line1.PortOpen());
    EXPECT_EQ(rig.line1.Settings(), "9600,n,8,1");
    EXPECT_EQ(rig.line1.opens, 2);
    EXPECT_FALSE(core.Timer2->enabled()) << "the apply acts once per pick";
    rig.runMs(500);
    EXPECT_EQ(rig.line1.opens, 2);
}

TEST_F(PortPanel, ApplyRestoresDtrAfterItWasClearedByHand) {
    core.Set_Check(10, 1);
    core.Set_Check(2, 0);
    ASSERT_FALSE(rig.line1.peerSeesDtr());
    pick(core.port1, 1, "2400");
    rig.runMs(100);
    EXPECT_EQ(form.Check[2].Value, 1);
    EXPECT_TRUE(rig.line1.peerSeesDtr());
    EXPECT_TRUE(rig.line1.peerSeesRts());
}

TEST_F(PortPanel, ApplyTakesAPortNumberOrADevicePathFromBoxZero) {
    core.Set_Check(11, 1);
    pick(core.port2, 0, "7");
    rig.runMs(100);
    EXPECT_EQ(rig.line2.CommPort(), PortName::number(7));
    pick(core.port2, 0, "/dev/ttyUSB0");
    rig.runMs(100);
    EXPECT_EQ(rig.line2.CommPort(), PortName::path("/dev/ttyUSB0"));
    EXPECT_TRUE(rig.line2.PortOpen());
    EXPECT_TRUE(rig.host.messages.empty());
}

TEST_F(PortPanel, RefusedChoiceSaysSoKeepsThePreviousValueAndStillOpens) {
    core.Set_Check(10, 1);
    pick(core.port1, 1, "9600");
    rig.runMs(100);
    ASSERT_EQ(rig.line1.Settings(), "9600,o,8,1");

    struct Case {
        int box;
        const char* text;
    };
    // A value the port refuses, and texts that are no numbers where numbers are expected.
    for (Case k : {Case{3, "9"}, Case{1, "fast"}, Case{3, "8bit"}, Case{4, "1.5"}, Case{1, ""},
                   Case{2, "x"}, Case{1, "-300"}}) {
        rig.host.messages.clear();
        const std::string before = (*core.port1.Combo)[k.box].Text;
        pick(core.port1, k.box, k.text);
        rig.runMs(100);
        ASSERT_EQ(rig.host.messages, std::vector<std::string>{"Недопустимо"}) << k.text;
        EXPECT_EQ(rig.line1.Settings(), "9600,o,8,1") << k.text;
        EXPECT_TRUE(rig.line1.PortOpen()) << k.text;
        EXPECT_EQ(form.Shape1, color::DarkGreen);
        EXPECT_EQ((*core.port1.Combo)[k.box].Text, k.text) << "the box shows the refused choice";
        (*core.port1.Combo)[k.box].Text = before;
    }

    // Box 0 without a port in it: the previous port stays, the valid settings are taken.
    rig.host.messages.clear();
    for (const char* text : {"COM3", "13", "0", "", "3x"}) {
        pick(core.port1, 0, text);
        pick(core.port1, 4, "2");
        rig.runMs(100);
        EXPECT_EQ(rig.line1.CommPort(), PortName::number(1)) << text;
        EXPECT_EQ(rig.line1.Settings(), "9600,o,8,2") << text;
        EXPECT_TRUE(rig.line1.PortOpen());
    }
    EXPECT_EQ(rig.host.messages.size(), 5u);
}

TEST_F(PortPanel, RefusedSettingsStillTakeAValidPortNumber) {
    core.Set_Check(10, 1);
    (*core.port1.Combo)[0].Text = "4";
    pick(core.port1, 3, "4");  // 4 data bits
    rig.runMs(100);
    EXPECT_EQ(rig.host.messages, std::vector<std::string>{"Недопустимо"});
    EXPECT_EQ(rig.line1.CommPort(), PortName::number(4));
    EXPECT_EQ(rig.line1.Settings(), "1200,o,8,1");
}

TEST_F(PortPanel, ApplyIsSkippedWhenTheSwitchIsClearedDuringTheWait) {
    core.Set_Check(10, 1);
    pick(core.port1, 1, "9600");
    rig.runMs(50);
    core.Set_Check(10, 0);
    rig.runMs(200);
    EXPECT_FALSE(rig.line1.PortOpen());
    EXPECT_EQ(rig.line1.opens, 1);
    EXPECT_EQ(rig.line1.Settings(), "1200,o,8,1");
    EXPECT_EQ(form.Shape1, color::ScrollBar);
    EXPECT_FALSE(core.Timer2->enabled());
    expectPanelEnabled(core.port1, false);
}

TEST_F(PortPanel, SwitchedOffAndOnDuringTheWaitStillAppliesTheChoice) {
    core.Set_Check(10, 1);
    pick(core.port1, 1, "4800");
    rig.runMs(30);
    core.Set_Check(10, 0);
    core.Set_Check(10, 1);  // reopened with the old settings
    ASSERT_TRUE(rig.line1.PortOpen());
    rig.runMs(100);
    EXPECT_TRUE(rig.line1.PortOpen());
    EXPECT_EQ(rig.line1.Settings(), "4800,o,8,1");
    EXPECT_TRUE(rig.host.messages.empty());
}

TEST_F(PortPanel, PickDuringTheReopeningsStrobeIsAppliedToo) {
    core.Set_Check(10, 1);
    pick(core.port1, 1, "9600");
    // Due with the apply, after it: runs while the apply's strobe procedure lets events run.
    rig.loop.post(ms(100), [&] { pick(core.port1, 1, "4800"); });
    rig.runMs(100);
    ASSERT_FALSE(rig.line1.PortOpen()) << "the second pick closed the port again";
    rig.runMs(100);
    EXPECT_TRUE(rig.line1.PortOpen());
    EXPECT_EQ(rig.line1.Settings(), "4800,o,8,1");
    EXPECT_EQ(form.Shape1, color::DarkGreen);
}

TEST_F(PortPanel, StrobeTickedBeforeSwitchingOnLeavesTheRtsBoxEnabled) {
    core.Set_Check(10, 1);
    core.Set_Check(13, 1);
    ASSERT_FALSE(form.Check[1].Enabled);
    core.Set_Check(10, 0);
    core.Set_Check(10, 1);
    EXPECT_EQ(rig.line1.flags(), kFlagsToggleRts);
    EXPECT_TRUE(form.Check[1].Enabled) << "switching on enables the panel after the strobe";

    // An apply enables nothing: the box stays as the strobe procedure leaves it.
    pick(core.port1, 1, "9600");
    rig.runMs(100);
    EXPECT_EQ(rig.line1.flags(), kFlagsToggleRts);
    EXPECT_FALSE(form.Check[1].Enabled);
}

TEST_F(PortPanel, SwitchClearedWhileTheStrobeYieldsLeavesThePanelAtRest) {
    // The user clears the switch while the strobe procedure of the opening lets events run.
    rig.loop.post(rig.loop.now(), [&] { core.Set_Check(10, 0); });
    core.Set_Check(10, 1);
    EXPECT_FALSE(rig.line1.PortOpen());
    EXPECT_EQ(core.Open_Port1, 0);
    EXPECT_EQ(form.Shape1, color::ScrollBar);
    expectPanelEnabled(core.port1, false);
    for (i16 f : core.port1.flags()) EXPECT_EQ(f, kOff);
    EXPECT_TRUE(rig.host.messages.empty());
}

TEST_F(PortPanel, VanishedDeviceTurnsTheLampRedWithoutSpinning) {
    core.Set_Check(10, 1);
    rig.runMs(10);
    rig.line1.peerVanish();
    rig.runMs(10);
    EXPECT_EQ(form.Shape1, color::Red);
    EXPECT_EQ(core.Open_Port1, 1);
    EXPECT_EQ(form.Check[10].Value, 1);
    expectPanelEnabled(core.port1, true);
    EXPECT_TRUE(rig.loop.empty()) << "something keeps running after the loss";
    EXPECT_TRUE(rig.host.messages.empty());

    // The next pick tries again.
    pick(core.port1, 1, "1200");
    rig.runMs(100);
    EXPECT_TRUE(rig.line1.PortOpen());
    EXPECT_EQ(form.Shape1, color::DarkGreen);
}

TEST_F(PortPanel, LossReportedAfterSwitchingOffChangesNothing) {
    core.Set_Check(10, 1);
    rig.line1.peerVanish();  // the report is still queued
    core.Set_Check(10, 0);
    rig.runMs(10);
    EXPECT_EQ(form.Shape1, color::ScrollBar);
}

}  // namespace
}  // namespace lt::sim
