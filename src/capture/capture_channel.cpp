#include "capture/capture_channel.h"

#include <algorithm>

#include "serial/tolerate.h"

namespace lt {

namespace {

Nanos gapNanos(int gapMs) {
    return gapMs > 0 ? Nanos{gapMs} * kNanosPerMs : 0;
}

}  // namespace

CaptureChannel::CaptureChannel(int number, SerialPort& port, Host& host)
    : number_(number), port_(port), host_(host), gapTimer_(host.createTimer()) {}

void CaptureChannel::readLines() {
    // Each read on its own: an input that a closed port refuses leaves its line as it was.
    tolerate("read RTS", [&] { lines_.rts = port_.rts(); });
    tolerate("read DTR", [&] { lines_.dtr = port_.dtr(); });
    tolerate("read DCD", [&] { lines_.dcd = port_.dcd(); });
    tolerate("read DSR", [&] { lines_.dsr = port_.dsr(); });
    tolerate("read CTS", [&] { lines_.cts = port_.cts(); });
}

void CaptureChannel::readOutputs() {
    lines_.rts = port_.rts();
    lines_.dtr = port_.dtr();
}

void CaptureChannel::clear() {
    packet_.clear();
    packetStart_ = 0;
    lines_ = {};
}

void CaptureChannel::takeAll() {
    take(SerialPort::kAll, {0, 0});
}

// A read the port refuses gives an empty packet.
void CaptureChannel::take(std::size_t maxBytes, const PauseRule& rule) {
    try {
        packet_ = port_.takeReceived(maxBytes, gapNanos(rule.gapMs), rule.since, &packetStart_);
    } catch (const PortError& e) {
        qCInfo(lcPorts, "read of port %d refused: %s", number_, e.what());
        packet_.clear();
    }
    if (packet_.empty()) packetStart_ = 0;
}

// When the packet waiting in the receive buffer ends, measured on the arrival stamps: a gap after
// its newest byte, or at once when the buffer already holds bytes past a pause of a gap or reaches
// the size limit. So a late receive event or a late tick does not move the end of the packet. A
// gap below 1 ms ends the packet at the next turn of the event loop with what has arrived by then.
Nanos CaptureChannel::packetDue(const PauseRule& rule, Nanos now) const {
    const std::size_t waiting = port_.bytesWaiting();
    if (waiting >= kMaxPacket ||
        port_.receivedLength(kMaxPacket, gapNanos(rule.gapMs), rule.since) < waiting)
        return now;
    return std::min(now, port_.lastArrival()) + gapNanos(rule.gapMs);
}

void CaptureChannel::timeGap(const PauseRule& rule) {
    rule_ = rule;
    Timer& t = *gapTimer_;
    const Nanos now = host_.monotonicNow();
    const Nanos due = packetDue(rule, now);
    // A tick already due stays as it is: set again, it would wait for another turn of the event
    // loop, and a packet whose end came while the loop was held up would wait a whole pause more.
    if (t.enabled() && gapDue_ <= now && due <= now) return;
    t.setEnabled(false);
    t.setInterval(std::max(0, rule.gapMs));
    gapDue_ = due;
    t.startFirstAfter(std::max<Nanos>(0, due - now));
}

void CaptureChannel::begin(const PauseRule& rule) {
    if (!collecting_) readLines();
    collecting_ = true;
    timeGap(rule);
}

void CaptureChannel::received(const PauseRule& rule) {
    // An event whose bytes an earlier read already took has nothing to frame.
    if (port_.bytesWaiting() == 0) return;
    begin(rule);
}

bool CaptureChannel::takeFinishedPacket(bool atOnce) {
    // A tick that came before the receive event of bytes joined to the packet (the event loop
    // was held up): the packet goes on, to a gap after its newest byte.
    const Nanos now = host_.monotonicNow();
    if (!atOnce && port_.isOpen() && packetDue(rule_, now) > now) {
        timeGap(rule_);
        return false;
    }
    gapTimer_->setEnabled(false);
    // The packet: up to the first pause of a gap on the wire.
    take(kMaxPacket, rule_);
    return true;
}

void CaptureChannel::release(const PauseRule& rule, bool framing) {
    collecting_ = false;
    if (framing && port_.bytesWaiting() > 0) begin(rule);
}

}  // namespace lt
