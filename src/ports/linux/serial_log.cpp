#include "ports/linux/serial_log.h"

namespace lt {

Q_LOGGING_CATEGORY(lcSerial, "linetap.serial")

}  // namespace lt
