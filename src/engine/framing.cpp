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

// When the packet waiting in the receive buffer ends, measured on the arrival stamps: gapMs
// after its newest byte, or at once when the buffer already holds bytes past a pause of
// gapMs or reaches the size limit. So a late receive event or a late tick does not move the
// end of the packet. A gapMs below 1 ends the packet at the next turn of the event loop with
// what has arrived by then.
Nanos Core::packetDue(const Channel& c, Nanos now) const {
    const SerialPort& p = *c.Comm;
    const std::size_t waiting = p.bytesWaiting();
    if (waiting >= kMaxPacket ||
        p.receivedLength(kMaxPacket, gapNanos(gapMs), Run_Started) < waiting)
        return now;
    return std::min(now, p.lastArrival()) + gapNanos(gapMs);
}

void Core::startGapTimer(Channel& c) {
    Timer& t = *c.GapTimer;
    const Nanos now = host.monotonicNow();
    const Nanos due = packetDue(c, now);
    // A tick already due stays as it is: set again, it would wait for another turn of the event
    // loop, and a packet whose end came while the loop was held up would wait a whole pause more.
    if (t.enabled() && c.GapDue <= now && due <= now) return;
    t.setEnabled(false);
    t.setInterval(std::max<int>(0, gapMs));
    c.GapDue = due;
    t.startFirstAfter(std::max<Nanos>(0, due - now));
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
    const PortEvent event = P.Comm->event();

    if (event == PortEvent::Received) {
        // An event whose bytes an earlier read already took has nothing to frame.
        if (P.Comm->bytesWaiting() == 0) return;
        beginPacket(P);
        return;
    }
    if (P.Pending == 0 && (event == PortEvent::DcdChanged || event == PortEvent::DsrChanged ||
                           event == PortEvent::CtsChanged)) {
        Line_Change(P);
        return;
    }
    if (Open_Port1 == 1 && Open_Port2 == 1 && form.Check[Q.DataRelayBox].Value == 1 &&
        form.Check[Q.ServiceRelayBox].Value == 1 && event == PortEvent::Sent) {
        P.ServiceTimer->restart(std::max<int>(0, lineDelayMs));
    }
}

void Core::Finish_Packet(Channel& P) {
    Channel& Q = other(P);
    // A tick that came before the receive event of bytes joined to the packet (the event loop
    // was held up): the packet goes on, to a gap after its newest byte.
    const Nanos now = host.monotonicNow();
    if (P.Comm->isOpen() && packetDue(P, now) > now) {
        startGapTimer(P);
        return;
    }
    P.GapTimer->setEnabled(false);

    // The packet: up to the first pause of gapMs on the wire.
    P.readPacket(kMaxPacket, gapNanos(gapMs), Run_Started);

    if (Open_Port1 == 1 && Open_Port2 == 1) {
        if (form.Check[P.ServiceRelayBox].Value == 1) {
            tolerant([&] { Q.Comm->setDtr(P.DSR != 0); });
            tolerant([&] { Q.Comm->setRts(P.CTS != 0); });
        }
        if (form.Check[P.DataRelayBox].Value == 1 && !P.Data.empty())
            tolerant([&] { Q.Comm->send(P.Data); });
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
    if (Running == 1 && form.Check[9].Value == 1 && P.Comm->isOpen() && P.Comm->bytesWaiting() > 0)
        beginPacket(P);
}

}  // namespace lt
