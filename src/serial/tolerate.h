#pragma once

#include <QLoggingCategory>
#include <utility>

#include "serial/serial_port.h"

namespace lt {

// Port steps that may meet a closed or refusing port and are skipped then. Shown with
// QT_LOGGING_RULES="linetap.ports.info=true".
Q_DECLARE_LOGGING_CATEGORY(lcPorts)

// Runs one step of a failure-tolerant section: a step that a port refuses is skipped and logged.
template <class F>
void tolerate(const char* what, F&& step) {
    try {
        std::forward<F>(step)();
    } catch (const PortError& e) {
        qCInfo(lcPorts, "%s skipped: %s", what, e.what());
    }
}

}  // namespace lt
