#pragma once

#include <linux/serial.h>

#include <string>

#include "serial/linux/port_driver.h"

namespace lt {

// The driver's low-latency flag on one open device: set for as long as the port is open, so that
// received bytes reach the reader at once rather than at the driver's next tick, and put back as
// it was found when the port closes (the destructor).
class LowLatency {
public:
    LowLatency(PortDriver& driver, std::string device);
    ~LowLatency();
    LowLatency(const LowLatency&) = delete;
    LowLatency& operator=(const LowLatency&) = delete;

private:
    PortDriver& driver_;
    std::string device_;
    serial_struct found_{};
    bool set_ = false;  // set here, so there is something to put back
};

}  // namespace lt
