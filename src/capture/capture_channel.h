#pragma once

#include <cstddef>
#include <memory>
#include <string>

#include "base/host.h"
#include "base/timer.h"
#include "base/types.h"
#include "serial/serial_port.h"

namespace lt {

// How packets are cut by the pause: the minimum pause that ends a packet, and the moment capture
// was started (bytes that waited from before it join the first packet after it, whatever pause
// lies between).
struct PauseRule {
    int gapMs = 10;
    Nanos since = 0;
};

// One port's capture: the packet last taken from the port, the snapshot of its five lines, and
// the framing of its traffic into packets by the pause, with the gap timer that ends a packet.
class CaptureChannel {
public:
    // A packet is finished at once when it reaches the size of the receive buffer, so a stream
    // without pauses is still shown, relayed and recorded in pieces, with bounded memory and delay.
    static constexpr std::size_t kMaxPacket = 1024;

    CaptureChannel(int number, SerialPort& port, Host& host);

    SerialPort& port() { return port_; }
    const SerialPort& port() const { return port_; }

    const std::string& packet() const { return packet_; }
    const LineStates& lines() const { return lines_; }
    // Monotonic arrival time of the first byte of packet() (0 for an empty packet).
    Nanos packetStart() const { return packetStart_; }

    // Reads the five lines into the snapshot; a line the port refuses to read keeps its value.
    void readLines();
    // Reads RTS and DTR again, after a relay has driven them.
    void readOutputs();
    // A switched-off port: no packet, every line off.
    void clear();
    // Forgets the packet (a record of line states alone carries no data).
    void forgetPacket() { packet_.clear(); }
    // Takes everything the port holds (a poll). A refused read gives an empty packet, so an
    // earlier packet is never shown, relayed or recorded a second time.
    void takeAll();

    // --- Framing by the pause ----------------------------------------------------------------
    // True from the first receive event of a packet until that packet has been finished.
    bool collecting() const { return collecting_; }
    // A receive event: the first byte of a packet takes the snapshot, and the end of the packet
    // is timed from the arrival stamps. An event whose bytes were taken already changes nothing.
    void received(const PauseRule& rule);
    // The gap tick: takes the packet into packet() when it has ended and returns true; a tick
    // that came before the packet's end (the event loop was held up) re-arms and returns false.
    // The pause is the one given at the packet's latest receive event. With `atOnce` (capture
    // stopped, or stopping for good) the packet ends now with what has arrived.
    bool takeFinishedPacket(bool atOnce = false);
    // The packet has been shown, relayed and recorded: the next byte begins a new one, and bytes
    // left behind by a pause or the size limit begin it at once.
    void release(const PauseRule& rule, bool framing);
    // Stop cancels a packet being collected; its bytes stay in the port for the next Start.
    void cancelGapTimer() { gapTimer_->setEnabled(false); }
    // Called when the gap timer fires.
    void onGapTick(std::function<void()> tick) { gapTimer_->onTick = std::move(tick); }

private:
    Nanos packetDue(const PauseRule& rule, Nanos now) const;
    void timeGap(const PauseRule& rule);
    void begin(const PauseRule& rule);

    int number_;
    SerialPort& port_;
    Host& host_;
    void take(std::size_t maxBytes, const PauseRule& rule);

    std::string packet_;
    Nanos packetStart_ = 0;
    LineStates lines_;
    bool collecting_ = false;
    std::unique_ptr<Timer> gapTimer_;
    Nanos gapDue_ = 0;  // when the gap timer was last set to expire
    PauseRule rule_;    // the pause given at the latest receive event
};

}  // namespace lt
