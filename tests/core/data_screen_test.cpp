// The data screen: rendering in "Bit" and "Text" form, the ring of rows, lamps and the snapshot.
#include <gtest/gtest.h>

#include "sim/rig.h"

namespace lt::sim {
namespace {

class DataScreen : public ::testing::Test {
protected:
    Rig rig;
    Core& core = rig.core;
    Form& form = rig.core.form;

    void packetRow(Channel& c, const std::string& data) {
        c.Data = data;
        core.Screen_Packet_Row(c);
    }
};

TEST_F(DataScreen, BitFormIsASpaceAndTwoCapitalDigitsPerByte) {
    core.Option_Click(1);  // port 1 "Bit"
    packetRow(core.port1, std::string("\x02\x31\xFF\x0A", 4));
    EXPECT_EQ(form.Text1[0], " 02 31 FF 0A");
    EXPECT_EQ(form.Label3[0], "4");
    EXPECT_EQ(core.View_Port1, " 02 31 FF 0A");

    packetRow(core.port1, std::string("\x00\x0F\x10\xC0", 4));
    EXPECT_EQ(form.Text1[1], " 00 0F 10 C0");

    packetRow(core.port1, "");
    EXPECT_EQ(form.Text1[2], "");
    EXPECT_EQ(form.Label3[2], "0");
    EXPECT_EQ(core.View_Port1, "");

    // Lengths past 16 bits are counted and rendered in full.
    packetRow(core.port1, std::string(40000, '\x7E'));
    EXPECT_EQ(form.Label3[3], "40000");
    EXPECT_EQ(form.Text1[3].size(), 120000u);
}

TEST_F(DataScreen, TextFormShowsTheBytesUnchanged) {
    const std::string raw("A\x00\r\n\xC0", 5);
    packetRow(core.port2, raw);
    EXPECT_EQ(form.Text3[0], raw);
    EXPECT_EQ(form.Label7[0], "5");
    EXPECT_EQ(core.View_Port2, "") << "nothing is rendered in Text form";
}

TEST_F(DataScreen, ModesAreIndependentAndOnlyLaterRowsChange) {
    packetRow(core.port1, "AB");
    core.Option_Click(1);
    EXPECT_EQ(form.Option[1], true);
    EXPECT_EQ(form.Option[2], false);
    EXPECT_EQ(form.Option[4], true) << "port 2's group is its own";
    EXPECT_EQ(core.Mode_Port2, 1);
    packetRow(core.port1, "AB");
    packetRow(core.port2, "AB");
    EXPECT_EQ(form.Text1[0], "AB") << "an earlier row changed with the mode";
    EXPECT_EQ(form.Text1[1], " 41 42");
    EXPECT_EQ(form.Text3[2], "AB");
    // Rendering port 1 never touches port 2's rendered text or length label.
    core.Option_Click(3);
    core.View_Port2 = "keep";
    form.Label7[3] = "7";
    packetRow(core.port1, "x");
    EXPECT_EQ(core.View_Port2, "keep");
    EXPECT_EQ(form.Label7[3], "");  // wiped with the row, never rendered into
    EXPECT_EQ(form.Label3[3], "1");
    core.Option_Click(4);
    EXPECT_EQ(core.Mode_Port2, 1);
    core.Option_Click(2);
    EXPECT_EQ(core.Mode_Port1, 1);
    EXPECT_EQ(form.Option[1], false);
}

TEST_F(DataScreen, LampsShowExactlyMinusOneAsOn) {
    Channel& p1 = core.port1;
    p1.RTS = kOn;
    p1.DTR = 1;  // any other value is off
    p1.DCD = kOn;
    p1.DSR = 0;
    p1.CTS = kOn;
    core.Open_Port2 = 1;
    core.port2.DTR = kOn;
    core.port2.DSR = kOn;
    packetRow(p1, "z");
    EXPECT_EQ(form.Shape4[0], color::Red);
    EXPECT_EQ(form.Shape6[0], color::WindowBackground);
    EXPECT_EQ(form.Shape8[0], color::DarkGreen);
    EXPECT_EQ(form.Shape10[0], color::WindowBackground);
    EXPECT_EQ(form.Shape12[0], color::DarkGreen);
    EXPECT_EQ(form.Shape7[0], color::Red);
    EXPECT_EQ(form.Shape11[0], color::DarkGreen);

    core.Open_Port2 = 0;  // the other port's lamps stay off while it is switched off
    packetRow(p1, "z");
    EXPECT_EQ(form.Shape7[1], color::WindowBackground);
    EXPECT_EQ(form.Shape11[1], color::WindowBackground);
}

TEST_F(DataScreen, PollRowWritesEveryCellAndSignalRowWipesThem) {
    packetRow(core.port1, "old1");
    core.Screen_Row = 0;
    core.port1.Data = "";
    core.port2.Data = "p2";
    core.Screen_Poll_Row();
    EXPECT_EQ(form.Text1[0], "");
    EXPECT_EQ(form.Label3[0], "0");
    EXPECT_EQ(form.Text3[0], "p2");
    EXPECT_EQ(form.Label7[0], "2");

    core.Screen_Row = 0;
    core.Open_Port2 = 1;
    core.port2.CTS = kOn;
    core.Screen_Signal_Row(core.port1);
    EXPECT_EQ(form.Text3[0], "");
    EXPECT_EQ(form.Label3[0], "");
    EXPECT_EQ(form.Label7[0], "");
    EXPECT_EQ(form.Shape13[0], color::DarkGreen);
    EXPECT_EQ(form.Shape2[0], color::Red);
    EXPECT_EQ(core.Screen_Row, 1);
}

TEST_F(DataScreen, MarkersFollowTheNewestRowAroundTheRing) {
    for (int i = 0; i < 10; ++i) packetRow(core.port1, std::to_string(i));
    EXPECT_EQ(form.Shape2[9], color::Red);
    EXPECT_EQ(form.Shape2[8], color::DarkGreen);
    EXPECT_EQ(form.Shape2[0], color::DarkGreen);
    packetRow(core.port1, "10");
    EXPECT_EQ(form.Shape2[0], color::Red);
    EXPECT_EQ(form.Shape2[9], color::DarkGreen);
    EXPECT_EQ(form.Text1[0], "10");
    int red = 0;
    for (auto c : form.Shape2) red += c == color::Red;
    EXPECT_EQ(red, 1);
}

TEST_F(DataScreen, SnapshotComparesAllTenFlagsInOrder) {
    core.Signals_Srav();
    EXPECT_EQ(core.Signals_Same, 1) << "all zero at start-up";
    core.port2.CTS = kOn;  // the last of the ten
    core.Signals_Srav();
    EXPECT_EQ(core.Signals_Same, 0);
    core.Signals_Arh();
    EXPECT_EQ(core.Signals_Snapshot[9], kOn);
    core.Signals_Srav();
    EXPECT_EQ(core.Signals_Same, 1);
    core.port1.RTS = kOn;
    core.Signals_Srav();
    EXPECT_EQ(core.Signals_Same, 0);
}

}  // namespace
}  // namespace lt::sim
