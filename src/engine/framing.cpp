#include <algorithm>

#include "engine/core.h"

namespace lt {

namespace {

// A packet is finished at once when it reaches the size of the receive buffer, so a stream without
// pauses is still shown, relayed and recorded in pieces, with bounded memory and delay.
constexpr std::size_t kMaxPacket = 1024;

Nanos gapNanos(i16 gap) {
    return gap > 0 ? Nanos{gap} * kNanosPerMs : 0;
}

}  // namespace

// The gap timer expires Gap_Interval after the newest byte arrived, measured on the arrival stamps,
// so a late receive event does not move the end of the packet. A Gap_Interval below 1 finishes the
// packet at the next turn of the event loop with what has arrived by then.
void Core::startGapTimer(Channel& c) {
    Timer& t = *c.GapTimer;
    t.setEnabled(false);
    t.setInterval(std::max<int>(0, Gap_Interval));
    Nanos wait = 0;
    if (c.Comm->InBufferCount() < kMaxPacket) {
        const Nanos since = host.monotonicNow() - c.Comm->LastArrival();
        wait = std::max<Nanos>(0, gapNanos(Gap_Interval) - since);
    }
    t.startFirstAfter(wait);
}

// A receive event while started in auto mode: the first byte of a packet takes the snapshot.
void Core::beginPacket(Channel& c) {
    if (c.Pending == 0) Read_Line_States(c);
    c.Pending = 1;
    startGapTimer(c);
}

void Core::On_Port_Event(Channel& P) {
    if (Running != 1 || form.Check[9].Value != 1) return;
    Channel& Q = other(P);
    const i16 event = P.Comm->CommEvent();

    if (event == comEvReceive) {
        // An event whose bytes an earlier read already took has nothing to frame.
        if (P.Comm->InBufferCount() == 0) return;
        beginPacket(P);
        return;
    }
    if (P.Pending == 0 && (event == comEvCD || event == comEvDSR || event == comEvCTS)) {
        Line_Change(P);
        return;
    }
    if (Open_Port1 == 1 && Open_Port2 == 1 && form.Check[Q.DataRelayBox].Value == 1 &&
        form.Check[Q.ServiceRelayBox].Value == 1 && event == comEvSend) {
        P.ServiceTimer->restart(std::max<int>(0, Service_Delay));
    }
}

void Core::Finish_Packet(Channel& P) {
    Channel& Q = other(P);
    P.GapTimer->setEnabled(false);

    // The packet: up to the first pause of Gap_Interval on the wire.
    P.readPacket(kMaxPacket, gapNanos(Gap_Interval), Run_Started);

    if (Open_Port1 == 1 && Open_Port2 == 1) {
        if (form.Check[P.ServiceRelayBox].Value == 1) {
            tolerant([&] { Q.Comm->setDTREnable(P.DSR != 0); });
            tolerant([&] { Q.Comm->setRTSEnable(P.CTS != 0); });
        }
        if (form.Check[P.DataRelayBox].Value == 1 && !P.Data.empty())
            tolerant([&] { Q.Comm->Output(P.Data); });
    }

    Screen_Packet_Row(P);

    if (!P.Data.empty() && Recording == 1) {
        if (P.Number == 1)
            Record_Write(P.Data, "");
        else
            Record_Write("", P.Data);
    }

    P.Pending = 0;

    // Bytes left behind by a pause or the size limit begin the next packet at once.
    if (Running == 1 && form.Check[9].Value == 1 && P.Comm->PortOpen() &&
        P.Comm->InBufferCount() > 0)
        beginPacket(P);
}

}  // namespace lt
