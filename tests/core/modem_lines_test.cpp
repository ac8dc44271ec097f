// Scenarios of the output boxes and the RTS strobe, checked at the far end of the line.
#include <gtest/gtest.h>

#include "sim/rig.h"

namespace lt::sim {
namespace {

class ModemLines : public ::testing::Test {
protected:
    void SetUp() override { rig.switchBothOn(); }

    Rig rig;
    Core& core = rig.core;
};

TEST_F(ModemLines, CommStateFailuresAreReportedReadFirstTheWriteStillTriedAndTheBoxesFollow) {
    rig.line1.getStateError = 5;
    rig.line1.setStateError = 13;
    // Each box is closed before the procedure goes on.
    std::vector<std::size_t> shownAtOnce;
    std::vector<int> writesTried;
    const int writesBefore = rig.line1.stateWrites;
    rig.host.whileMessageShown = [&](const std::string&) {
        shownAtOnce.push_back(rig.host.messages.size());
        writesTried.push_back(rig.line1.stateWrites - writesBefore);
    };
    core.setStrobe(1, true);
    EXPECT_EQ(rig.host.messages,
              (std::vector<std::string>{"DCB Read Error:5", "DCB Write Error:13"}));
    EXPECT_EQ(shownAtOnce, (std::vector<std::size_t>{1, 2}));
    EXPECT_EQ(writesTried, (std::vector<int>{0, 1}));
    rig.host.whileMessageShown = nullptr;
    EXPECT_FALSE(rig.panel(1).rts.enabled);
    EXPECT_TRUE(rig.panel(1).dtr.checked);
    EXPECT_EQ(rig.line1.rtsControl(), RtsControl::Steady) << "the refused write changed nothing";
}

TEST_F(ModemLines, ClicksAndPicksDuringTheStrobesYields) {
    // Cleared by a second click while the first procedure is in a yield: the last tick counts.
    rig.loop.post(rig.loop.now(), [&] { core.setStrobe(1, false); });
    core.setStrobe(1, true);
    EXPECT_EQ(rig.line1.rtsControl(), RtsControl::Steady);
    EXPECT_TRUE(rig.panel(1).rts.enabled);

    // A pick closing the port in a yield before the comm state is read or written.
    for (int yield : {1, 2}) {
        core.setStrobe(1, false);
        rig.host.yields = 0;
        rig.host.onYield = [&] {
            if (rig.host.yields == yield) core.pickChoice(1, Choice::Baud, "9600");
        };
        core.setStrobe(1, true);
        rig.host.onYield = nullptr;
        EXPECT_TRUE(rig.host.messages.empty()) << yield;
        EXPECT_TRUE(rig.panel(1).rts.enabled);
        rig.runMs(100);
        EXPECT_EQ(rig.line1.rtsControl(), RtsControl::Toggle);
        EXPECT_FALSE(rig.panel(1).rts.enabled);
    }
}

TEST_F(ModemLines, PortSwitchedOffInTheStrobesLastYieldKeepsItsRtsBoxAsTheSwitchingOffLeftIt) {
    core.setRts(1, false);
    core.setStrobe(1, true);
    EXPECT_EQ(rig.line1.rtsControl(), RtsControl::Toggle);
    EXPECT_FALSE(rig.panel(1).rts.enabled || rig.panel(1).rts.checked);
    EXPECT_EQ(peerSees(rig.line1), "-D") << "RTS is down while nothing is sent";
    rig.host.yields = 0;
    rig.host.onYield = [&] {
        if (rig.host.yields == 3) core.switchPort(1, false);
    };
    core.setStrobe(1, false);
    rig.host.onYield = nullptr;
    ASSERT_EQ(rig.host.yields, 3);
    EXPECT_EQ(rig.line1.rtsControl(), RtsControl::Steady) << "written before the last yield";
    EXPECT_EQ(rig.panel(1).lamp, PortLamp::Off);
    EXPECT_FALSE(rig.panel(1).rts.checked || rig.panel(1).rts.enabled);
}

}  // namespace
}  // namespace lt::sim
