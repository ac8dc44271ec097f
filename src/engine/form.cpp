#include "engine/form.h"

namespace lt {

namespace {

std::array<ComboBox, 5> portBoxes(bool withBaud14400, const char* portNumber) {
    std::vector<std::string> ports;
    for (int n = 1; n <= 12; ++n) ports.push_back(std::to_string(n));
    std::vector<std::string> bauds{"110",   "300",   "600",   "1200",  "2400",  "4800",  "9600",
                                   "14400", "19200", "28800", "38400", "57600", "115200"};
    if (!withBaud14400) std::erase(bauds, "14400");
    return {ComboBox{ports, portNumber}, ComboBox{bauds, "1200"},
            ComboBox{{"n", "e", "o", "s", "m"}, "o"}, ComboBox{{"5", "6", "7", "8"}, "8"},
            ComboBox{{"1", "2"}, "1"}};
}

}  // namespace

Form::Form() : Combo1(portBoxes(true, "1")), Combo2(portBoxes(false, "2")) {
    // Only the port switches and the run panel are usable before a port is switched on.
    for (auto& c : Check) c.Enabled = false;
    Check[9].Enabled = Check[10].Enabled = Check[11].Enabled = Check[12].Enabled = true;
    for (auto* rows : {&Shape2, &Shape4, &Shape5, &Shape6, &Shape7, &Shape8, &Shape9, &Shape10,
                       &Shape11, &Shape12, &Shape13})
        rows->fill(color::WindowBackground);
    Label3.fill("0");
    Label7.fill("0");
}

}  // namespace lt
