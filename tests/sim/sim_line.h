#pragma once

#include <deque>
#include <functional>
#include <string>
#include <utility>
#include <vector>

#include "serial/line_settings.h"
#include "serial/send_backlog.h"
#include "serial/serial_port.h"
#include "sim/virtual_loop.h"

namespace lt::sim {

// A simulated null-modem line: our serial port at one end, a scripted peer device at the other.
// Bytes take their real time per character at the port's baud rate and framing. The peer's RTS
// drives our CTS, its DTR our DSR and DCD; our RTS and DTR are visible to the peer.
class SimLine : public SerialPort {
public:
    SimLine(VirtualLoop& loop, int portNumber);

    void setPortName(const PortName& name) override;
    PortName portName() const override { return name_; }
    void setLineSettings(const std::string& text) override;
    std::string lineSettings() const override { return settings_.text(); }
    void setOpen(bool open) override;
    bool isOpen() const override { return open_; }
    std::string takeReceived(std::size_t maxBytes = kAll, Nanos gapLimit = 0, Nanos gapsFrom = 0,
                             Nanos* firstArrival = nullptr) override;
    std::size_t receivedLength(std::size_t maxBytes, Nanos gapLimit, Nanos gapsFrom) const override;
    std::size_t bytesWaiting() const override { return rx_.size(); }
    Nanos lastArrival() const override { return rx_.empty() ? 0 : rx_.back().at; }
    void limitBacklog(std::size_t maxBytes) override;
    void send(const std::string& bytes) override;
    std::uint64_t sendsDropped() const override { return backlog_.dropped(); }
    // A smaller bound on the bytes waiting to leave, so that scenarios reach it quickly.
    void boundSends(std::size_t bytes) { backlog_ = SendBacklog(bytes); }
    void setRts(bool on) override;
    bool rts() const override { return rts_; }
    void setDtr(bool on) override;
    bool dtr() const override { return dtr_; }
    bool dcd() const override { return input(peerDtr_ || peerCd_); }
    bool dsr() const override { return input(peerDtr_); }
    bool cts() const override { return input(peerRts_); }
    int readCommState(CommState& state) override;
    int writeCommState(const CommState& state) override;
    std::vector<LineErrorReport> takeLineErrors() override { return std::exchange(errors_, {}); }

    // The peer device.
    struct Byte {
        Nanos at;  // when the last bit arrived
        unsigned char value;
    };
    struct Lines {
        Nanos at;
        bool rts;  // our RTS as the peer sees it
        bool dtr;  // our DTR as the peer sees it
    };

    // The peer transmits bytes, one character time each, after what it is already sending.
    void peerSend(const std::string& bytes);
    void peerSetRts(bool on);  // our CTS
    void peerSetDtr(bool on) { peerSetInput(peerDtr_, on, true); }
    void peerSetCd(bool on) { peerSetInput(peerCd_, on, false); }
    void peerLineError(LineError kind, std::uint32_t count = 1);  // the driver reports errors
    // Hang-up: the port closes and reports PortEvent::Lost; bytes received before stay to be taken.
    void peerVanish();

    std::string peerReceived() const;
    const std::vector<Byte>& peerLog() const { return received_; }
    bool peerSeesRts() const {
        return open_ && (state_.rts == RtsControl::Toggle ? transmitting_ : rts_);
    }
    bool peerSeesDtr() const { return open_ && dtr_; }
    const std::vector<Lines>& peerLineLog() const { return lineLog_; }
    void clearPeerLog() { received_.clear(); }

    // The settings the driver takes (unset: all); others are refused as a real port refuses them.
    std::function<bool(const LineSettings&)> driverTakes;
    // The last settings taken on the device, 9600,n,8,1 before any.
    const LineSettings& deviceSettings() const { return device_; }
    bool missing = false;    // opening fails: no such device
    bool busy = false;       // opening fails: held by another program
    int getStateError = 0;   // readCommState fails with this code
    int setStateError = 0;   // writeCommState fails with this code
    int opens = 0;           // successful openings so far
    int stateWrites = 0;     // writeCommState calls so far
    Nanos eventLatency = 0;  // receive events reach the program this late (a busy window)
    RtsControl rtsControl() const { return state_.rts; }
    // Bytes that land as the next read of the buffer begins; their receive event comes later.
    std::string landingOnRead;
    Nanos characterTime() const {
        return Nanos{settings_.bitsPerCharacter()} * 1'000'000'000 / settings_.Baud;
    }

private:
    void raiseLater(PortEvent event, Nanos delay = 0);
    void peerSetInput(bool& level, bool on, bool isDtr);
    void transmitNext();
    void logLines();
    void requireOpen() const {
        if (!open_) throw PortError("port is closed");
    }
    // A modem input, which can be read only while the port is open.
    bool input(bool level) const { return open_ ? level : throw PortError("port is closed"); }

    VirtualLoop& loop_;
    PortName name_;
    LineSettings settings_;
    LineSettings device_{9600, 'n', 8, 1};
    bool open_ = false;
    bool rts_ = false, dtr_ = false;
    bool peerRts_ = false, peerDtr_ = false, peerCd_ = false;
    CommState state_;
    std::deque<Byte> rx_;
    std::size_t backlogLimit_ = kAll;
    std::string tx_;
    SendBacklog backlog_;  // a peer that takes bytes slower than they come keeps at most this
    bool transmitting_ = false;
    Nanos peerFreeAt_ = 0;
    std::vector<Byte> received_;
    std::vector<Lines> lineLog_;
    std::vector<LineErrorReport> errors_;
    unsigned generation_ = 0;  // bumps at every close, so stale deliveries are dropped
};

}  // namespace lt::sim
