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

    Rig rig;
    Core& core = rig.core;
    Form& form = rig.core.form;
};

TEST_F(ModemLines, OutputBoxesDriveTheLinesAndAreHandedToAClosedPortToo) {
    core.Set_Check(3, 0);
    EXPECT_FALSE(rig.line2.peerSeesRts());
    EXPECT_TRUE(rig.line2.peerSeesDtr());
    core.Set_Check(4, 0);
    EXPECT_FALSE(rig.line2.peerSeesDtr());
    core.Set_Check(3, 1);
    EXPECT_TRUE(rig.line2.peerSeesRts());

    core.Set_Check(11, 0);
    core.Set_Check(3, 0);
    EXPECT_FALSE(rig.line2.rts());
    core.Set_Check(4, 1);
    EXPECT_TRUE(rig.line2.dtr());
}

TEST_F(ModemLines, StrobeRaisesRtsOnlyWhileSendingAndClearedGivesSteadyRtsWithBothBoxesTicked) {
    core.Set_Check(1, 0);
    core.Set_Check(2, 0);
    core.Set_Check(13, 1);
    EXPECT_EQ(rig.host.yields, 3);
    EXPECT_EQ(rig.line1.flags(), kFlagsToggleRts);
    EXPECT_FALSE(form.Check[1].Enabled);
    EXPECT_EQ(form.Check[1].Value, 0) << "the RTS tick stays as it was";
    EXPECT_EQ(form.Check[2].Value, 1);
    EXPECT_TRUE(rig.line1.peerSeesDtr());
    EXPECT_FALSE(rig.line1.peerSeesRts()) << "RTS is down while nothing is sent";

    rig.line1.send("ABC");
    EXPECT_TRUE(rig.line1.peerSeesRts()) << "raised while sending";
    rig.runMs(200);
    ASSERT_EQ(rig.line1.peerReceived(), "ABC");
    EXPECT_FALSE(rig.line1.peerSeesRts()) << "dropped once sent";

    core.Set_Check(2, 0);
    core.Set_Check(13, 0);
    EXPECT_EQ(rig.line1.flags(), kFlagsManualRts);
    EXPECT_TRUE(form.Check[1].Enabled);
    EXPECT_EQ(form.Check[1].Value, 1);
    EXPECT_EQ(form.Check[2].Value, 1);
    EXPECT_TRUE(rig.line1.peerSeesRts());
    EXPECT_TRUE(rig.line1.peerSeesDtr());
}

TEST_F(ModemLines, StrobeOnAndOffOnAPortThatFailedToOpenChangesNothing) {
    core.Set_Check(10, 0);
    rig.line1.busy = true;
    core.Set_Check(10, 1);
    core.Set_Check(1, 0);
    core.Set_Check(2, 0);
    rig.host.yields = 0;
    for (int tick : {1, 0}) {
        core.Set_Check(13, tick);
        EXPECT_TRUE(form.Check[1].Enabled);
        EXPECT_EQ(form.Check[1].Value, 0);
        EXPECT_EQ(form.Check[2].Value, 0);
    }
    EXPECT_EQ(rig.host.yields, 0);
    EXPECT_TRUE(rig.host.messages.empty());
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
    core.Set_Check(13, 1);
    EXPECT_EQ(rig.host.messages, (std::vector<std::string>(2, "DCB Read Error:5")));
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
    EXPECT_TRUE(rig.line2.peerSeesRts());
    EXPECT_FALSE(rig.line1.peerSeesRts());
    EXPECT_TRUE(rig.host.messages.empty());
}

TEST_F(ModemLines, NestedApplyOfTheOtherPortDuringTheStrobe) {
    // Port 1's strobe click and port 2's apply come due at the same moment; the apply runs
    // inside the strobe's first yield and reopens port 2 with its own strobe procedure.
    rig.loop.post(rig.loop.now() + ms(100), [&] { core.Set_Check(13, 1); });
    form.Combo2[1].Text = "9600";
    core.Combo_Click(core.port2, 1);
    rig.runMs(100);
    EXPECT_EQ(rig.line1.flags(), kFlagsToggleRts);
    EXPECT_EQ(rig.line1.lineSettings(), "1200,o,8,1");
    EXPECT_TRUE(rig.line2.isOpen());
    EXPECT_EQ(rig.line2.lineSettings(), "9600,o,8,1");
    EXPECT_EQ(rig.line2.flags(), kFlagsManualRts);
    EXPECT_TRUE(form.Check[3].Enabled);
    EXPECT_FALSE(form.Check[1].Enabled);
}

TEST_F(ModemLines, StrobeClickedAgainOrPortClosedDuringItsYields) {
    // Cleared by a second click while the first procedure is in a yield: the last tick counts.
    rig.loop.post(rig.loop.now(), [&] { core.Set_Check(13, 0); });
    core.Set_Check(13, 1);
    EXPECT_EQ(rig.line1.flags(), kFlagsManualRts);
    EXPECT_TRUE(form.Check[1].Enabled);

    // A pick closes the port during a yield: no comm-state call, the reopening sets the mode.
    rig.loop.post(rig.loop.now(), [&] {
        form.Combo1[1].Text = "9600";
        core.Combo_Click(core.port1, 1);
    });
    core.Set_Check(13, 1);
    EXPECT_TRUE(rig.host.messages.empty());
    EXPECT_TRUE(form.Check[1].Enabled);
    rig.runMs(100);
    EXPECT_EQ(rig.line1.flags(), kFlagsToggleRts);
    EXPECT_FALSE(form.Check[1].Enabled);
}

}  // namespace
}  // namespace lt::sim
