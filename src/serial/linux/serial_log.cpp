#include "serial/linux/serial_log.h"

namespace lt {

// Debug messages (what a device does not offer) are off unless asked for.
Q_LOGGING_CATEGORY(lcSerial, "linetap.serial", QtInfoMsg)

}  // namespace lt
