#pragma once

#include <array>
#include <cstdint>
#include <string>
#include <vector>

#include "engine/colors.h"

namespace lt {

// The state of the window's controls, named as the program names them. The core's handlers read
// and write it; the window shows it. Texts of captions and fields are UTF-8; the data-screen cells
// hold packet bytes, one character per byte.

struct CheckBox {
    int Value = 0;  // 0 clear, 1 ticked
    bool Enabled = true;
};

struct ComboBox {
    std::vector<std::string> List;
    std::string Text;
    bool Enabled = false;
};

struct TextBox {
    std::string Text;
    bool Enabled = true;
};

struct Button {
    std::string Caption;
    std::uint32_t BackColor = color::ButtonFace;
    bool Visible = true;
};

constexpr int kRows = 10;

template <class T>
using Rows = std::array<T, kRows>;

struct Form {
    std::string Caption = "Linetap v2.01";

    // Check boxes Check1..Check14, indexed by their number (index 0 is unused).
    std::array<CheckBox, 15> Check{};

    // Port panels: the five choice boxes and the lamps.
    std::array<ComboBox, 5> Combo1;
    std::array<ComboBox, 5> Combo2;
    std::uint32_t Shape1 = color::LightGrey;
    std::uint32_t Shape3 = color::LightGrey;

    // Display-mode options: Option1/2 port 1 "Bit"/"Text", Option3/4 port 2 (index 0 unused).
    std::array<bool, 5> Option{false, false, true, false, true};

    // Run panel.
    TextBox Text2;
    Button Command1{"Пуск", color::ButtonFace};
    Button Command2{"Стоп", color::BrightGreen};
    Button Command7{"ОК", color::ButtonFace, false};

    // Settings panel.
    bool Frame7Visible = false;
    bool PickersVisible = false;  // Drive1 and Dir1
    TextBox Text4, Text8, Text9, Text10;
    std::string Command5Caption = "поиск";

    // Data screen: markers, cells, length labels and lamps of the ten rows.
    Rows<std::uint32_t> Shape2{};
    Rows<std::string> Text1, Text3;
    Rows<std::string> Label3, Label7;
    Rows<std::uint32_t> Shape4{}, Shape6{}, Shape8{}, Shape10{}, Shape12{};  // port 1 lamps
    Rows<std::uint32_t> Shape5{}, Shape7{}, Shape9{}, Shape11{}, Shape13{};  // port 2 lamps

    Form();
};

}  // namespace lt
