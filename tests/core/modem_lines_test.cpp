// Scenarios of the output boxes and the RTS strobe, checked at the far end of the line.
#include <gtest/gtest.h>

#include "sim/rig.h"

namespace lt::sim {
namespace {

class ModemLines : public ::testing::Test {
  protected:
    void SetUp() override {
        core.Set_Check(10, 1);
        core.Set_Check(11, 1);
        rig.host.yields = 0;
    }
    // Whether the peer saw RTS at virtual time `t`, from the log of what it saw.
    static bool rtsAt(const SimLine& line, Nanos t) {
        bool rts = false;
        for (const auto& l : line.peerLineLog())
            if (l.at <= t) rts = l.rts;
        return rts;
    }

    Rig rig;
    Core& core = rig.core;
    Form& form = rig.core.form;
};

TEST_F(ModemLines, OutputBoxesDriveTheLinesOpenOrClosed) {
    core.Set_Check(3, 0);
    EXPECT_FALSE(rig.line2.peerSeesRts());
    EXPECT_TRUE(rig.line2.peerSeesDtr());
    core.Set_Check(4, 0);
    EXPECT_FALSE(rig.line2.peerSeesDtr());
    core.Set_Check(3, 1);
    EXPECT_TRUE(rig.line2.peerSeesRts());

    // Closed, the value is still handed to the port and holds at the next opening.
    core.Set_Check(11, 0);
    form.Check[3].Value = 0;
    core.Rts_Click(core.port2);
    EXPECT_FALSE(rig.line2.RTSEnable());
    form.Check[4].Value = 1;
    core.Dtr_Click(core.port2);
    EXPECT_TRUE(rig.line2.DTREnable());
}

TEST_F(ModemLines, StrobeOnAnOpenPortRaisesRtsOnlyWhileSending) {
    core.Set_Check(13, 1);
    EXPECT_EQ(rig.line1.flags(), kFlagsToggleRts);
    EXPECT_FALSE(form.Check[1].Enabled);
    EXPECT_EQ(form.Check[1].Value, 1) << "the RTS tick stays as it was";
    EXPECT_EQ(form.Check[2].Value, 1);
    EXPECT_EQ(rig.host.yields, 3);
    EXPECT_FALSE(rig.line1.peerSeesRts()) << "RTS is down while nothing is sent";
    EXPECT_TRUE(rig.line1.peerSeesDtr());

    rig.runMs(5);
    const Nanos sent = rig.loop.now();
    rig.line1.Output("ABC");
    rig.runMs(200);
    ASSERT_EQ(rig.line1.peerReceived(), "ABC");
    const Nanos drained = rig.line1.peerLog().back().at;
    EXPECT_FALSE(rtsAt(rig.line1, sent - 1));
    EXPECT_TRUE(rtsAt(rig.line1, sent));
    EXPECT_TRUE(rtsAt(rig.line1, drained - 1));
    EXPECT_FALSE(rtsAt(rig.line1, drained));
    EXPECT_FALSE(rig.line1.peerSeesRts());
}

TEST_F(ModemLines, StrobeClearedReturnsToSteadyRtsAndTicksBothBoxes) {
    core.Set_Check(13, 1);
    core.Set_Check(2, 0);
    core.Set_Check(13, 0);
    EXPECT_EQ(rig.line1.flags(), kFlagsManualRts);
    EXPECT_TRUE(form.Check[1].Enabled);
    EXPECT_EQ(form.Check[1].Value, 1);
    EXPECT_EQ(form.Check[2].Value, 1);
    EXPECT_TRUE(rig.line1.peerSeesRts());
    EXPECT_TRUE(rig.line1.peerSeesDtr());
}

TEST_F(ModemLines, StrobeClearedTicksAnRtsBoxThatWasClearAndRaisesRts) {
    core.Set_Check(1, 0);
    form.Check[13].Value = 1;  // ticked with its click pending
    core.Set_Check(13, 0);
    EXPECT_EQ(form.Check[1].Value, 1);
    EXPECT_TRUE(rig.line1.RTSEnable());
    EXPECT_TRUE(rig.line1.peerSeesRts());
}

TEST_F(ModemLines, StrobeOnAPortThatFailedToOpenChangesNothing) {
    core.Set_Check(10, 0);
    rig.line1.busy = true;
    core.Set_Check(10, 1);
    core.Set_Check(2, 0);
    const Form before = form;
    rig.host.yields = 0;

    core.Set_Check(13, 1);
    EXPECT_EQ(rig.host.yields, 0);
    EXPECT_TRUE(rig.host.messages.empty());
    EXPECT_EQ(form.Check[1].Enabled, before.Check[1].Enabled);
    EXPECT_EQ(form.Check[1].Value, before.Check[1].Value);
    EXPECT_EQ(form.Check[2].Value, 0);
    EXPECT_EQ(rig.line1.flags(), kFlagsManualRts);
}

TEST_F(ModemLines, CommStateFailuresAreReportedReadFirstAndTheBoxesStillFollow) {
    rig.line1.getStateError = 5;
    rig.line1.setStateError = 13;
    core.Set_Check(13, 1);
    EXPECT_EQ(rig.host.messages,
              (std::vector<std::string>{"DCB Read Error:5", "DCB Write Error:13"}));
    EXPECT_FALSE(form.Check[1].Enabled);
    EXPECT_EQ(form.Check[2].Value, 1);
    EXPECT_EQ(rig.line1.flags(), kFlagsManualRts) << "the refused write changed nothing";

    // A read failure alone does not stop the write.
    rig.host.messages.clear();
    rig.line1.setStateError = 0;
    core.Set_Check(13, 0);
    EXPECT_EQ(rig.host.messages, std::vector<std::string>{"DCB Read Error:5"});
    EXPECT_EQ(rig.line1.flags(), kFlagsManualRts);
    core.Set_Check(13, 1);
    EXPECT_EQ(rig.line1.flags(), kFlagsToggleRts);
}

TEST_F(ModemLines, NestedStrobeOfTheOtherPortDoesNotRedirectTheOuterOne) {
    core.Set_Check(14, 1);
    ASSERT_EQ(rig.line2.flags(), kFlagsToggleRts);
    // Port 2's strobe is cleared while port 1's procedure lets events run.
    rig.loop.post(rig.loop.now(), [&] { core.Set_Check(14, 0); });
    core.Set_Check(13, 1);

    EXPECT_EQ(rig.line1.flags(), kFlagsToggleRts);
    EXPECT_EQ(rig.line2.flags(), kFlagsManualRts);
    EXPECT_FALSE(form.Check[1].Enabled);
    EXPECT_TRUE(form.Check[3].Enabled);
    EXPECT_EQ(form.Check[3].Value, 1);
    EXPECT_TRUE(rig.line2.peerSeesRts());
    EXPECT_FALSE(rig.line1.peerSeesRts());
    EXPECT_TRUE(rig.host.messages.empty());
}

TEST_F(ModemLines, NestedApplyOfTheOtherPortDuringTheStrobe) {
    // Port 1's strobe click and port 2's apply come due at the same moment; the apply runs
    // inside the strobe's first yield and reopens port 2 with its own strobe procedure.
    const Nanos due = rig.loop.now() + ms(100);
    rig.loop.post(due, [&] { core.Set_Check(13, 1); });
    core.form.Combo2[1].Text = "9600";
    core.Combo_Click(core.port2, 1);
    rig.runMs(100);

    EXPECT_EQ(rig.line1.flags(), kFlagsToggleRts);
    EXPECT_TRUE(rig.line2.PortOpen());
    EXPECT_EQ(rig.line2.Settings(), "9600,o,8,1");
    EXPECT_EQ(rig.line2.flags(), kFlagsManualRts);
    EXPECT_EQ(rig.line1.Settings(), "1200,o,8,1");
    EXPECT_TRUE(form.Check[3].Enabled);
    EXPECT_FALSE(form.Check[1].Enabled);
}

TEST_F(ModemLines, StrobeClickedAgainDuringItsYieldsEndsAsTheLastTick) {
    // Ticked, then cleared by a second click while the first procedure is in a yield.
    rig.loop.post(rig.loop.now(), [&] { core.Set_Check(13, 0); });
    core.Set_Check(13, 1);
    EXPECT_EQ(form.Check[13].Value, 0);
    EXPECT_EQ(rig.line1.flags(), kFlagsManualRts);
    EXPECT_TRUE(form.Check[1].Enabled);
    EXPECT_TRUE(rig.line1.peerSeesRts());
}

TEST_F(ModemLines, PortClosedDuringTheStrobeIsLeftAlone) {
    // A pick closes the port while the strobe procedure lets events run.
    rig.loop.post(rig.loop.now(), [&] {
        core.form.Combo1[1].Text = "9600";
        core.Combo_Click(core.port1, 1);
    });
    core.Set_Check(13, 1);
    EXPECT_TRUE(rig.host.messages.empty()) << "no comm-state call on the closed port";
    EXPECT_TRUE(form.Check[1].Enabled);
    rig.runMs(100);
    EXPECT_EQ(rig.line1.flags(), kFlagsToggleRts) << "the reopening sets the mode";
    EXPECT_FALSE(form.Check[1].Enabled);
}

}  // namespace
}  // namespace lt::sim
