#pragma once

#include <QLoggingCategory>

namespace lt {

// Messages of the real serial backend: port errors it tolerates and carries on after.
Q_DECLARE_LOGGING_CATEGORY(lcSerial)

}  // namespace lt
