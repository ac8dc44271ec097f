#include "serial/linux/held_settings.h"

#include <cstring>

#include "serial/linux/line_termios.h"

namespace lt {

bool HeldSettings::apply(PortDriver& driver, const std::string& device, const LineSettings& wanted,
                         std::string& refusal) {
    const SettingsOutcome o = applyLineSettings(driver, wanted);
    if (o.result == SettingsOutcome::Failed)
        throw PortError(device + ": settings not applied: " + std::strerror(o.err));
    if (o.result == SettingsOutcome::Taken) {
        held_ = wanted;
        lastTaken_ = wanted;
        return true;
    }
    refusal = device + ": settings refused by the driver: " + wanted.text() +
              (o.holds ? " (it made them " + o.holds->text() + ")"
                       : " (" + std::string(std::strerror(o.err)) + ")");
    return false;
}

void HeldSettings::applyAtOpening(PortDriver& driver, const std::string& device,
                                  std::string& refusal) {
    LineTermios had;
    if (const int err = driver.getTermios(had); err != 0)
        throw PortError(device + ": settings not read: " + std::strerror(err));
    if (apply(driver, device, held_, refusal)) return;
    std::string ignored;
    if (lastTaken_ && apply(driver, device, *lastTaken_, ignored)) {
        held_ = *lastTaken_;
        return;
    }
    // The device keeps what it had, with line errors marked as under any settings the port sets:
    // the input is read the same way for as long as the port is open.
    markLineErrors(had);
    if (const int err = driver.setTermios(had); err != 0)
        throw PortError(device + ": settings not applied: " + std::strerror(err));
    held_ = lineSettingsOf(had);
}

}  // namespace lt
