// The RTS and DTR outputs set by hand, the RTS strobe, and the comm-state calls behind it.
#include <string>

#include "engine/core.h"

namespace lt {

void Core::Rts_Click(Channel& c) {
    const bool on = form.Check[c.RtsBox].Value == 1;
    tolerant([&] { c.Comm->setRts(on); });
}

void Core::Dtr_Click(Channel& c) {
    const bool on = form.Check[c.DtrBox].Value == 1;
    tolerant([&] { c.Comm->setDtr(on); });
}

// Sets the port's output mode from its "RTS Strob" box: RTS in toggle mode (raised only while
// sending) or steadily on, DTR on in both. The event loop runs three times in between, so other
// handlers, the other port's strobe or apply among them, may run here; the port and its comm state
// are this call's own, so a nested call never redirects this one.
void Core::RTS_Storb(Channel& c) {
    SerialPort& port = *c.Comm;
    if (!port.isOpen()) return;
    CommState state;
    const auto strobe = [&] { return form.Check[c.StrobeBox].Value == 1; };

    host.processEvents();
    // Closed meanwhile (switched off, or a picked entry): the next opening sets the mode.
    if (!port.isOpen()) return;
    DCB_Read(port, state);
    host.processEvents();
    if (!port.isOpen()) return;
    // The tick as it stands now: a click during the yields has run its own procedure already,
    // and this one must not undo it.
    DCB_Write(port, state, strobe() ? kFlagsToggleRts : kFlagsManualRts);
    host.processEvents();
    if (!port.isOpen()) return;

    if (strobe()) {
        form.Check[c.RtsBox].Enabled = false;
    } else {
        form.Check[c.RtsBox].Enabled = true;
        Set_Check(c.RtsBox, 1);
    }
    Set_Check(c.DtrBox, 1);
}

void Core::DCB_Read(SerialPort& port, CommState& state) {
    if (const int code = port.readCommState(state); code != 0)
        host.showMessage("DCB Read Error:" + std::to_string(code));
}

void Core::DCB_Write(SerialPort& port, CommState& state, std::uint32_t flags) {
    state.Flags = flags;
    if (const int code = port.writeCommState(state); code != 0)
        host.showMessage("DCB Write Error:" + std::to_string(code));
}

}  // namespace lt
