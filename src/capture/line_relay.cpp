#include "capture/line_relay.h"

#include "serial/tolerate.h"

namespace lt {

LineRelay::LineRelay(Host& host) : delays_{host.createTimer(), host.createTimer()} {}

void LineRelay::drive(SerialPort& target, bool dsr, bool cts) {
    tolerate("relay DTR", [&] { target.setDtr(dsr); });
    tolerate("relay RTS", [&] { target.setRts(cts); });
}

bool LineRelay::follow(const SerialPort& source, SerialPort& target, First first) {
    bool dsr = false, cts = false;
    try {
        dsr = source.dsr();
        cts = source.cts();
    } catch (const PortError& e) {
        qCInfo(lcPorts, "line relay skipped: %s", e.what());
        return false;
    }
    if (first == First::Dtr) {
        drive(target, dsr, cts);
    } else {
        tolerate("relay RTS", [&] { target.setRts(cts); });
        tolerate("relay DTR", [&] { target.setDtr(dsr); });
    }
    return true;
}

}  // namespace lt
