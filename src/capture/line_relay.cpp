#include "capture/line_relay.h"

#include "serial/tolerate.h"

namespace lt {

LineRelay::LineRelay(Host& host) : delays_{host.createTimer(), host.createTimer()} {}

void LineRelay::drive(SerialPort& target, bool dsr, bool cts) {
    tolerate("relay DTR", [&] { target.setDtr(dsr); });
    tolerate("relay RTS", [&] { target.setRts(cts); });
}

void LineRelay::follow(const SerialPort& source, SerialPort& target) {
    tolerate("relay DTR", [&] { target.setDtr(source.dsr()); });
    tolerate("relay RTS", [&] { target.setRts(source.cts()); });
}

}  // namespace lt
