#include "serial/tolerate.h"

namespace lt {

Q_LOGGING_CATEGORY(lcPorts, "linetap.ports", QtWarningMsg)

}  // namespace lt
