#include "engine/core.h"

namespace lt {

namespace {

// Takes what the port received since the previous tick, with its line states as they stand now.
// A port that is switched on but refuses the read (it failed to open, or was closed under it) gives
// an empty packet, so an earlier packet is never shown, relayed or recorded a second time.
void readForTick(Core& core, Channel& c) {
    if (c.Open != 1) {
        core.Clear_Channel(c);
        return;
    }
    c.readPacket();
    core.Read_Line_States(c);
}

// The target's DTR and RTS follow the source's DSR and CTS as they are now. A source port that
// cannot be read leaves the target's outputs as they were.
void relayService(SerialPort& source, SerialPort& target) {
    tolerant([&] { target.setDtr(source.dsr()); });
    tolerant([&] { target.setRts(source.cts()); });
}

}  // namespace

// One tick of the poll timer: one row with both ports, then the relays, then one record.
void Core::Poll_Tick() {
    readForTick(*this, port1);
    readForTick(*this, port2);

    Screen_Poll_Row();

    if (form.Check[port1.ServiceRelayBox].Value == 1) relayService(MSComm1, MSComm2);
    if (form.Check[port2.ServiceRelayBox].Value == 1) relayService(MSComm2, MSComm1);

    if (Open_Port1 == 1 && Open_Port2 == 1) {
        if (form.Check[port1.DataRelayBox].Value == 1 && !Data_Port1.empty())
            tolerant([&] { MSComm2.send(Data_Port1); });
        if (form.Check[port2.DataRelayBox].Value == 1 && !Data_Port2.empty())
            tolerant([&] { MSComm1.send(Data_Port2); });
    }

    if (Data_Port1.empty() && Data_Port2.empty()) return;
    if (Recording == 1) Record_Write(Data_Port1, Data_Port2);
}

}  // namespace lt
