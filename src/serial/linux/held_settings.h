#pragma once

#include <optional>
#include <string>

#include "serial/line_settings.h"
#include "serial/linux/port_driver.h"

namespace lt {

// The line settings of one port: those held for the next opening (or those of the open device),
// and the last ones a device took on this port, which an opening falls back on.
class HeldSettings {
public:
    const LineSettings& held() const { return held_; }
    // Held for the next opening; the port is closed.
    void hold(const LineSettings& s) { held_ = s; }

    // Applies `wanted` to the open `device`. Taken: they become the held settings and the last
    // taken. Refused: the device keeps what it had, and false with `refusal` saying why. A device
    // that cannot be reached throws PortError.
    bool apply(PortDriver& driver, const std::string& device, const LineSettings& wanted,
               std::string& refusal);

    // The held settings go to the device just opened. Where the driver does not take them, the
    // device gets the last settings taken on this port, or keeps what it had (with line errors
    // marked, as every setting the port makes has them), and those become the held settings;
    // `refusal` says why.
    void applyAtOpening(PortDriver& driver, const std::string& device, std::string& refusal);

private:
    LineSettings held_;
    std::optional<LineSettings> lastTaken_;
};

}  // namespace lt
