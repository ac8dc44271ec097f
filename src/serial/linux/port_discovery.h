#pragma once

#include <string>
#include <vector>

namespace lt {

// Device paths of the serial ports found on the system (for example /dev/ttyUSB0), sorted, for
// the entries that follow "12" in a port panel's first list.
std::vector<std::string> availableSerialDevices();

}  // namespace lt
