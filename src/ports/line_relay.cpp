// Tracking of the modem lines between packets and the relay of one port's inputs to the other
// port's outputs: RTS follows CTS, DTR follows DSR. DCD is shown but never relayed.
#include "engine/core.h"

namespace lt {

namespace {

bool bothSwitchedOn(const Core& core) {
    return core.Open_Port1 == 1 && core.Open_Port2 == 1;
}

}  // namespace

void Core::Line_Change(Channel& c) {
    Channel& q = other(c);
    Read_Line_States(c);

    if (bothSwitchedOn(*this) && form.Check[c.ServiceRelayBox].Value == 1) {
        tolerant([&] { q.Comm->setDtr(c.DSR != 0); });
        tolerant([&] { q.Comm->setRts(c.CTS != 0); });
        q.DTR = flagOf(q.Comm->dtr());
        q.RTS = flagOf(q.Comm->rts());
    }

    Signals_Srav();
    if (Signals_Same == 0) {
        Screen_Signal_Row(c);
        if (Recording == 1) {
            // A record of the line states alone.
            Data_Port1.clear();
            Data_Port2.clear();
            Record_Write("", "");
        }
    }
    Signals_Arh();
}

void Core::Service_Relay_Click(Channel& source) {
    Channel& target = other(source);
    Form& f = form;
    if (f.Check[source.ServiceRelayBox].Value == 1) {
        // The target's outputs now belong to the relay; it takes effect at the next relay moment.
        for (int n : {target.RtsBox, target.DtrBox, target.StrobeBox}) f.Check[n].Enabled = false;
        return;
    }
    // Back to the boxes. A switched-off port keeps its panel disabled; switching it on enables it.
    if (target.Open == 1)
        for (int n : {target.RtsBox, target.DtrBox, target.StrobeBox}) f.Check[n].Enabled = true;
    const bool rts = f.Check[target.RtsBox].Value == 1;
    const bool dtr = f.Check[target.DtrBox].Value == 1;
    tolerant([&] { target.Comm->setRts(rts); });
    tolerant([&] { target.Comm->setDtr(dtr); });
}

// The delayed relay: `lineDelayMs` after the target has sent what was relayed to it, its
// outputs follow the source's inputs as they are now.
void Core::Service_Timer_Tick(Channel& target) {
    Channel& source = other(target);
    SerialPort& from = *source.Comm;
    SerialPort& to = *target.Comm;

    // Skipped when a port was switched off or closed during the delay (its inputs cannot be
    // read), or when the relay it belongs to has been switched off meanwhile, since the target's
    // outputs have gone back to its boxes.
    const bool due = bothSwitchedOn(*this) && from.isOpen() && to.isOpen() &&
                     form.Check[source.ServiceRelayBox].Value == 1;
    bool cts = false, dsr = false;
    bool read = false;
    if (due) {
        try {
            cts = from.cts();
            dsr = from.dsr();
            read = true;
        } catch (const PortError&) {
        }
    }
    if (read) {
        tolerant([&] { to.setRts(cts); });
        tolerant([&] { to.setDtr(dsr); });
    }
    target.ServiceTimer->setEnabled(false);
    if (!read) return;

    Line_Change(target);
    Line_Change(source);
}

}  // namespace lt
