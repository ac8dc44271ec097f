// Scenarios of the port panels: switching on and off, picked entries applied after a pause,
// refused choices, ports that cannot be opened or vanish.
#include <gtest/gtest.h>

#include "sim/rig.h"

namespace lt::sim {
namespace {

class PortPanel : public ::testing::Test {
protected:
    // Picks `text` in box `index` of the port's panel, as the view does it, and lets `thenMs` pass.
    void pick(Channel& c, int index, const std::string& text, double thenMs = 0) {
        (*c.Combo)[index].Text = text;
        core.Combo_Click(c, index);
        rig.runMs(thenMs);
    }
    void expectPanelEnabled(const Channel& c, bool on) {
        for (const ComboBox& box : *c.Combo) EXPECT_EQ(box.Enabled, on);
        for (int n : {c.RtsBox, c.DtrBox, c.DataRelayBox, c.ServiceRelayBox, c.StrobeBox})
            EXPECT_EQ(form.Check[n].Enabled, on) << "Check" << n;
    }
    // Switched off: closed, grey lamp, panel disabled, packet and line flags cleared.
    void expectAtRest(const Channel& c) {
        EXPECT_FALSE(c.Comm->isOpen());
        EXPECT_EQ(c.Open, 0);
        EXPECT_EQ(*c.Lamp, color::ScrollBar);
        expectPanelEnabled(c, false);
        EXPECT_EQ(c.Data, "");
        for (i16 f : c.flags()) EXPECT_EQ(f, kOff);
    }

    Rig rig;
    Core& core = rig.core;
    Form& form = rig.core.form;
};

TEST_F(PortPanel, SwitchingOnWithUntouchedBoxesOpens1200Odd81AndSwitchingOffPutsItToRest) {
    rig.line1.peerSetRts(true);
    rig.line1.peerSetDtr(true);
    rig.runMs(1);
    core.Set_Check(10, 1);
    core.Set_Check(11, 1);

    for (Channel* c : {&core.port1, &core.port2}) {
        auto& line = static_cast<SimLine&>(*c->Comm);
        EXPECT_TRUE(line.isOpen());
        EXPECT_EQ(line.portName(), PortName::number(c->Number));
        EXPECT_EQ(line.lineSettings(), "1200,o,8,1");
        // What the device at the far end sees: manual RTS and DTR, both on.
        EXPECT_EQ(line.flags(), kFlagsManualRts);
        EXPECT_TRUE(line.peerSeesRts());
        EXPECT_TRUE(line.peerSeesDtr());
        EXPECT_EQ(c->Open, 1);
        EXPECT_EQ(*c->Lamp, color::DarkGreen);
        expectPanelEnabled(*c, true);
        EXPECT_EQ(form.Check[c->RtsBox].Value, 1);
        EXPECT_EQ(form.Check[c->DtrBox].Value, 1);
    }
    // Lines read after the strobe procedure raised the outputs; the inputs as they stand.
    EXPECT_EQ(core.port1.flags(), (std::array<i16, 5>{kOn, kOn, kOn, kOn, kOn}));
    EXPECT_EQ(core.port2.flags(), (std::array<i16, 5>{kOn, kOn, kOff, kOff, kOff}));
    EXPECT_TRUE(rig.host.messages.empty());

    // Switching off closes, clears and disables, but keeps the ticks.
    core.Set_Check(5, 1);
    core.Set_Check(7, 1);
    core.Data_Port1 = "left over";
    core.Set_Check(10, 0);
    expectAtRest(core.port1);
    for (int n : {1, 2, 5, 7}) EXPECT_EQ(form.Check[n].Value, 1) << "Check" << n;

    // Cleared again while the strobe procedure of the opening lets events run: it stays at rest.
    rig.loop.post(rig.loop.now(), [&] { core.Set_Check(10, 0); });
    core.Set_Check(10, 1);
    expectAtRest(core.port1);
}

TEST_F(PortPanel, BusyMissingOrVanishedPortGivesARedLampNoMessageAndEnabledControls) {
    rig.line1.busy = true;
    rig.line2.missing = true;
    core.Set_Check(10, 1);
    core.Set_Check(11, 1);
    for (Channel* c : {&core.port1, &core.port2}) {
        EXPECT_FALSE(c->Comm->isOpen());
        EXPECT_EQ(*c->Lamp, color::Red);
        EXPECT_EQ(c->Open, 1);
        expectPanelEnabled(*c, true);
        // No strobe procedure on the closed port: the output boxes stay clear.
        EXPECT_EQ(form.Check[c->RtsBox].Value, 0);
        EXPECT_EQ(form.Check[c->DtrBox].Value, 0);
    }
    EXPECT_EQ(rig.host.yields, 0);

    // Freed by the other program, the next picked entry opens the port.
    rig.line1.busy = rig.line2.missing = false;
    pick(core.port1, 1, "9600");
    pick(core.port2, 1, "9600", 100);
    EXPECT_EQ(rig.line1.lineSettings(), "9600,o,8,1");
    EXPECT_EQ(form.Shape1, color::DarkGreen);
    EXPECT_EQ(form.Shape3, color::DarkGreen);

    // Both devices vanish; port 2 is switched off before its loss is reported.
    rig.line1.peerVanish();
    rig.line2.peerVanish();
    core.Set_Check(11, 0);
    rig.runMs(10);
    EXPECT_EQ(form.Shape1, color::Red);
    EXPECT_EQ(form.Shape3, color::ScrollBar);
    EXPECT_EQ(core.Open_Port1, 1);
    expectPanelEnabled(core.port1, true);
    EXPECT_TRUE(rig.loop.empty()) << "something keeps running after the loss";
    EXPECT_TRUE(rig.host.messages.empty());
    pick(core.port1, 1, "1200", 100);
    EXPECT_EQ(form.Shape1, color::DarkGreen);
}

TEST_F(PortPanel, PickedEntryClosesWaits100msAndReopensRestoringAHandClearedDtr) {
    core.Set_Check(10, 1);
    core.Set_Check(2, 0);
    ASSERT_FALSE(rig.line1.peerSeesDtr());
    pick(core.port1, 1, "9600");
    EXPECT_FALSE(rig.line1.isOpen()) << "the pick closes the port at once";
    rig.runMs(50);
    pick(core.port1, 2, "n");
    EXPECT_EQ(form.Shape1, color::DarkGreen) << "the lamp keeps its colour until the apply";
    rig.runMs(99.9);
    EXPECT_FALSE(rig.line1.isOpen()) << "each pick restarts the 100 ms wait";
    rig.runMs(0.2);
    EXPECT_TRUE(rig.line1.isOpen());
    EXPECT_EQ(rig.line1.lineSettings(), "9600,n,8,1");
    EXPECT_EQ(form.Check[2].Value, 1);
    EXPECT_TRUE(rig.line1.peerSeesDtr());
    EXPECT_TRUE(rig.line1.peerSeesRts());
    rig.runMs(500);
    EXPECT_EQ(rig.line1.opens, 2) << "the apply acts once per pick";
}

TEST_F(PortPanel, ApplyTakesEachPartItCanAndSaysNedopustimoForTheRest) {
    core.Set_Check(10, 1);
    // Box 0 takes a device path as well as a port number (below).
    pick(core.port1, 0, "/dev/ttyUSB0");
    pick(core.port1, 1, "9600", 100);
    EXPECT_EQ(rig.line1.portName(), PortName::path("/dev/ttyUSB0"));
    ASSERT_EQ(rig.line1.lineSettings(), "9600,o,8,1");
    ASSERT_TRUE(rig.host.messages.empty());

    // Values the port refuses, and texts that are no numbers or ports where those are expected:
    // the previous value stays and the port is opened again.
    struct Case {
        int box;
        const char* text;
    };
    for (Case k :
         {Case{3, "9"}, Case{1, "fast"}, Case{3, "8bit"}, Case{4, "1.5"}, Case{1, ""}, Case{2, "x"},
          Case{1, "-300"}, Case{0, "COM3"}, Case{0, "13"}, Case{0, "0"}, Case{0, ""}}) {
        SCOPED_TRACE(k.text);
        rig.host.messages.clear();
        const std::string before = (*core.port1.Combo)[k.box].Text;
        pick(core.port1, k.box, k.text, 100);
        EXPECT_EQ(rig.host.messages, std::vector<std::string>{"Недопустимо"});
        EXPECT_EQ(rig.line1.lineSettings(), "9600,o,8,1");
        EXPECT_EQ(rig.line1.portName(), PortName::path("/dev/ttyUSB0"));
        EXPECT_EQ(form.Shape1, color::DarkGreen);
        (*core.port1.Combo)[k.box].Text = before;
    }

    // A refused port still lets valid settings through, and the other way round.
    rig.host.messages.clear();
    (*core.port1.Combo)[0].Text = "3x";
    pick(core.port1, 4, "2", 100);
    EXPECT_EQ(rig.line1.portName(), PortName::path("/dev/ttyUSB0"));
    EXPECT_EQ(rig.line1.lineSettings(), "9600,o,8,2");
    (*core.port1.Combo)[0].Text = "4";
    pick(core.port1, 3, "4", 100);  // 4 data bits
    EXPECT_EQ(rig.line1.portName(), PortName::number(4));
    EXPECT_EQ(rig.line1.lineSettings(), "9600,o,8,2");
    EXPECT_EQ(rig.host.messages, std::vector<std::string>(2, "Недопустимо"));
}

TEST_F(PortPanel, SwitchedOffDuringTheWaitSkipsTheApplyButOffAndOnAgainStillApplies) {
    core.Set_Check(10, 1);
    pick(core.port1, 1, "9600", 50);
    core.Set_Check(10, 0);
    rig.runMs(200);
    expectAtRest(core.port1);
    EXPECT_EQ(rig.line1.opens, 1);
    EXPECT_FALSE(core.Timer2->enabled());

    core.Set_Check(10, 1);
    core.Set_Check(13, 1);
    pick(core.port1, 1, "4800", 30);
    core.Set_Check(10, 0);
    core.Set_Check(10, 1);  // reopened with the old settings
    ASSERT_EQ(rig.line1.lineSettings(), "1200,o,8,1");
    EXPECT_TRUE(form.Check[1].Enabled) << "switching on enables the panel after the strobe";
    rig.runMs(100);
    EXPECT_TRUE(rig.line1.isOpen());
    EXPECT_EQ(rig.line1.lineSettings(), "4800,o,8,1");
    EXPECT_EQ(rig.line1.flags(), kFlagsToggleRts);
    EXPECT_FALSE(form.Check[1].Enabled) << "an apply leaves the box as the strobe sets it";
    EXPECT_TRUE(rig.host.messages.empty());
}

TEST_F(PortPanel, PickDuringTheReopeningsStrobeIsAppliedToo) {
    core.Set_Check(10, 1);
    pick(core.port1, 1, "9600");
    // Due with the apply, after it: runs while the apply's strobe procedure lets events run.
    rig.loop.post(ms(100), [&] { pick(core.port1, 1, "4800"); });
    rig.runMs(100);
    ASSERT_FALSE(rig.line1.isOpen()) << "the second pick closed the port again";
    rig.runMs(100);
    EXPECT_TRUE(rig.line1.isOpen());
    EXPECT_EQ(rig.line1.lineSettings(), "4800,o,8,1");
}

}  // namespace
}  // namespace lt::sim
