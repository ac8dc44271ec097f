// The data screen: packets in "Bit" and "Text" form, the ring of rows and its markers.
#include <gtest/gtest.h>

#include "panels/data_screen.h"

namespace lt {
namespace {

const LineStates kNone{};

// A cell as "bytes|length".
std::string cell(const ScreenCell& c) {
    return c.bytes + "|" + c.length;
}

// The markers of the ten rows: '.' never written, 'e' written earlier, 'N' the newest.
std::string markers(const DataScreen& screen) {
    std::string s;
    for (const ScreenRow& r : screen.rows()) s += ".eN"[static_cast<int>(r.marker)];
    return s;
}

TEST(DataScreen, HexAndTextFormsPerPortWithTheFullLengthAndMarkersAroundTheRing) {
    DataScreen screen;
    screen.markStopped();
    EXPECT_EQ(markers(screen), ".........e") << "Stop marks the tenth row";
    screen.setMode(1, DisplayMode::Hex);
    const std::string raw("A\x00\r\n\xC0", 5);
    for (auto [port, packet] : {std::pair{1, std::string("AB")},
                                {2, raw},
                                {1, std::string()},
                                {1, std::string(70000, '\x7E')}})
        screen.packetRow(port, packet, kNone, std::nullopt);
    screen.setMode(1, DisplayMode::Text);  // the next rows only
    screen.packetRow(1, "AB", kNone, std::nullopt);

    const auto& rows = screen.rows();
    EXPECT_EQ(cell(rows[0].ports[0]), " 41 42|2") << "an earlier row keeps its form";
    EXPECT_EQ(cell(rows[1].ports[1]), raw + "|5") << "port 2's mode is its own";
    EXPECT_EQ(cell(rows[2].ports[0]), "|0");
    EXPECT_EQ(rows[3].ports[0].length, "70000") << "lengths past 16 bits in full";
    EXPECT_EQ(rows[3].ports[0].bytes.size(), 210000u);
    EXPECT_EQ(cell(rows[4].ports[0]), "AB|2");
    EXPECT_EQ(markers(screen), "eeeeN....e");
    for (int i = 5; i <= 10; ++i) screen.packetRow(1, std::to_string(i), kNone, std::nullopt);
    EXPECT_EQ(markers(screen), "Neeeeeeeee");
    EXPECT_EQ(cell(rows[0].ports[0]), "10|2");
}

}  // namespace
}  // namespace lt
