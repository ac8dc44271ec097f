// Scenarios of polled capture: every tick reads both ports into one row, relays, and records.
#include <gtest/gtest.h>

#include "sim/rig.h"

namespace lt::sim {
namespace {

class Polling : public ::testing::Test {
protected:
    void SetUp() override {
        for (SimLine* l : {&rig.line1, &rig.line2}) l->setLineSettings("9600,n,8,1");
        rig.switchBothOn();
        core.setRecording(true);
    }
    std::vector<std::string> recordedData() const {
        std::vector<std::string> fields;
        const std::string& t = rig.records.text;
        for (auto at = t.find("Data="); at != std::string::npos; at = t.find("Data=", at + 1))
            fields.push_back(t.substr(at + 5, t.find("\r\n", at) - at - 5));
        return fields;
    }

    Rig rig;
    Core& core = rig.core;
};

using Fields = std::vector<std::string>;

TEST_F(Polling, AChunkLandingAsTheTickReadsIsStampedWithItsArrival) {
    const Nanos tick = rig.loop.now() + ms(40);
    rig.runPolling(40);
    rig.line1.landingOnRead = "late";
    rig.runMs(45);
    EXPECT_EQ(rig.cells(0), "late|4||0");
    EXPECT_EQ(rig.channel(1).packetStart(), tick);
}

TEST_F(Polling, LineRelayFollowsTheSourceAtEveryTickWithoutDataAndDrivesASwitchedOffPort) {
    core.setLineRelay(1, true);
    rig.line1.peerSetCd(true);  // DCD, which is never relayed
    rig.runPolling(50);
    ASSERT_EQ(peerSees(rig.line2), "RD");
    rig.runMs(51);  // port 1's CTS and DSR are off
    EXPECT_EQ(peerSees(rig.line2), "--");
    rig.line1.peerSetRts(true);
    rig.runMs(40);
    EXPECT_EQ(peerSees(rig.line2), "--") << "followed between ticks";
    rig.runMs(10);
    EXPECT_EQ(peerSees(rig.line2), "R-");
    EXPECT_EQ(rig.line2.peerReceived(), "");
    EXPECT_TRUE(rig.line1.peerSeesDtr()) << "port 1's own relay box is clear";

    // Both ways: port 2's DSR on and CTS off reach port 1.
    core.setLineRelay(2, true);
    rig.line2.peerSetDtr(true);
    rig.runMs(50);
    EXPECT_EQ(peerSees(rig.line1), "-D");
    // Switched off, port 2 still takes port 1's lines; its own cannot be read: port 1's stay.
    core.switchPort(2, false);
    rig.line1.peerSetRts(false);
    rig.runMs(50);
    EXPECT_FALSE(rig.line2.rts());
    EXPECT_EQ(peerSees(rig.line1), "-D");
}

TEST_F(Polling, DataRelayNeedsBothPortsOnSwitchedOffPortsGiveDarkRowsAndAFailedReadRepeatsNothing) {
    core.setDataRelay(1, true);
    core.setDataRelay(2, true);
    rig.runPolling(50);
    rig.sendAt(rig.line1, 5, "ping");
    rig.sendAt(rig.line2, 5, "pong");
    rig.runMs(49);
    EXPECT_EQ(rig.line2.peerReceived(), "");
    rig.runMs(60);  // ticks at 50 and 100
    EXPECT_EQ(rig.line1.peerReceived() + "|" + rig.line2.peerReceived(), "pong|ping");
    EXPECT_EQ(rig.cells(0), "ping|4|pong|4");
    EXPECT_EQ(rig.cells(1), "|0||0") << "the relayed bytes are not read back";

    core.switchPort(2, false);
    rig.sendAt(rig.line1, 110, "abc");
    rig.runMs(50);
    EXPECT_EQ(rig.cells(2), "abc|3||0");
    EXPECT_EQ(rig.line2.peerReceived(), "ping");
    // Port 1 switched off too: its packet and lines from before must not show, nor be recorded.
    core.switchPort(1, false);
    rig.runMs(50);
    EXPECT_EQ(rig.cells(3), "|0||0");
    for (const ScreenCell& c : rig.row(3).ports) EXPECT_EQ(c.lamps, LineStates{});

    // Port 1 switched on but its device gone: empty packets, nothing repeated.
    rig.switchBothOn();
    rig.line1.peerVanish();
    rig.runMs(100);
    EXPECT_EQ(rig.nextRow(), 6);
    EXPECT_EQ(rig.cells(4, 5), "|0||0 |0||0");
    EXPECT_EQ(rig.line2.peerReceived(), "ping");
    EXPECT_EQ(recordedData(), (Fields{" 70 69 6E 67", " 70 6F 6E 67", " 61 62 63", ""}));
}

}  // namespace
}  // namespace lt::sim
