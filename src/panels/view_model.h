#pragma once

#include <array>
#include <string>

#include "base/version.h"
#include "panels/data_screen.h"
#include "panels/port_panel.h"
#include "panels/run_control.h"
#include "panels/settings_panel.h"

namespace lt {

// One port panel as the window shows it: the panel's controls and the display mode of its
// packets on the data screen.
struct PortView {
    PortPanelView panel;
    DisplayMode mode = DisplayMode::Text;
};

// Everything the window shows, as one plain value: it reads this and nothing else of the core.
struct ViewModel {
    std::string title = productCaption();
    std::array<PortView, kPorts> ports;  // port 1, port 2
    RunPanelView run;
    bool recording = false;            // "Запись"
    bool captureBesideRecord = false;  // "Также pcapng (Wireshark)"
    SettingsPanelView settings;
    DataScreen::Rows rows;
};

}  // namespace lt
