#include "engine/core.h"

namespace lt {

void Core::Read_Line_States(Channel& c) {
    // Each read on its own: an input that a closed port refuses leaves its flag unchanged.
    SerialPort& p = *c.Comm;
    tolerant([&] { c.RTS = flagOf(p.rts()); });
    tolerant([&] { c.DTR = flagOf(p.dtr()); });
    tolerant([&] { c.DCD = flagOf(p.dcd()); });
    tolerant([&] { c.DSR = flagOf(p.dsr()); });
    tolerant([&] { c.CTS = flagOf(p.cts()); });
}

void Core::Clear_Channel(Channel& c) {
    c.Data.clear();
    c.RTS = c.DTR = c.DCD = c.DSR = c.CTS = kOff;
}

void Core::Option_Click(int number) {
    Channel& c = number <= 2 ? port1 : port2;
    const bool bit = number == c.BitOption;
    form.Option[c.BitOption] = bit;
    form.Option[c.TextOption] = !bit;
    c.Mode = bit ? 0 : 1;
}

}  // namespace lt
