#pragma once

#include <cstddef>
#include <cstdint>
#include <functional>
#include <limits>
#include <stdexcept>
#include <string>
#include <vector>

#include "base/types.h"
#include "serial/port_name.h"

namespace lt {

// Event codes of a serial port, read through event().
enum class PortEvent : i16 {
    None = 0,
    Sent = 1,        // the send buffer has drained after an output
    Received = 2,    // bytes have arrived in the receive buffer
    CtsChanged = 3,  // CTS input changed
    DsrChanged = 4,  // DSR input changed
    DcdChanged = 5,  // DCD input changed
    LineErrors = 6,  // the driver reported line errors; takeLineErrors() has them
    // The device vanished (hang-up, adapter pulled out): the backend has closed the port, raised
    // as soon as the loss is seen. The bytes read from the device before it went stay in the
    // receive buffer until they are taken, or until the port is closed again or reopened.
    Lost = 1012,
};

// A refused operation: opening a missing or busy port, an unusable settings text, reading the
// inputs of a closed port, reading or writing a closed port.
class PortError : public std::runtime_error {
public:
    using std::runtime_error::runtime_error;
};

// Line settings the driver did not take exactly (read back after applying them). The port stays
// open, with the settings it had before (see setLineSettings and setOpen).
class SettingsRefused : public PortError {
public:
    using PortError::PortError;
};

// How an open port drives RTS: steadily (asserted, then as the program sets it) or in toggle
// mode (asserted exactly while bytes are being sent).
enum class RtsControl : std::uint8_t { Steady, Toggle };

// The comm state of an open port, as the RTS strobe reads and writes it. Writing it keeps the
// line settings, switches off flow control, parity checking and character translation, asserts
// DTR, and drives RTS as `rts` says.
struct CommState {
    RtsControl rts = RtsControl::Steady;
};

// The rule by which takeReceived cuts a packet: a byte that arrived `at`, `gapLimit` or more after
// the byte before it (which arrived `before`, at or after `gapsFrom`), begins the next packet.
inline bool pauseCuts(Nanos before, Nanos at, Nanos gapLimit, Nanos gapsFrom) {
    return gapLimit > 0 && before >= gapsFrom && at - before >= gapLimit;
}

// A line error the driver reported: its kind, its place in time (monotonic: the arrival of the
// byte it marked, or when the driver's counter was seen to rise) and how many it stands for (a
// counter can rise by more than one between two looks; a marked byte is one).
struct LineErrorReport {
    LineError kind = LineError::Framing;
    Nanos at = 0;
    std::uint32_t count = 1;
    bool operator==(const LineErrorReport&) const = default;
};

// One serial-port control. Every call is made on the program's one thread; events are delivered
// later by the event loop through onEvent, never from inside a call.
class SerialPort {
public:
    virtual ~SerialPort() = default;

    static constexpr std::size_t kAll = std::numeric_limits<std::size_t>::max();

    // Port number 1..12 or a device path; set only while closed (throws PortError when open).
    virtual void setPortName(const PortName& name) = 0;
    virtual PortName portName() const = 0;

    // "baud,parity,data,stop"; an unusable text throws PortError and keeps the previous settings.
    // On an open port the settings go to the device at once; where the driver does not take them
    // exactly, the previous ones are put back and SettingsRefused is thrown. On a closed port
    // they are held for the next opening.
    virtual void setLineSettings(const std::string& text) = 0;
    virtual std::string lineSettings() const = 0;

    // Opening a missing or busy port throws PortError and leaves it closed. Opening applies the
    // held settings; where the driver does not take them, the port opens with the last settings
    // taken on it (or, if none ever were, what the device had), the held settings become those,
    // and SettingsRefused is thrown with the port open.
    virtual void setOpen(bool open) = 0;
    virtual bool isOpen() const = 0;

    // Takes bytes from the receive buffer, one character per byte, oldest first (throws when
    // closed, unless a vanished device left bytes in it). Reading stops after `maxBytes`, and
    // before the first byte that arrived `gapLimit` nanoseconds or more after the byte before it,
    // where that byte before it arrived at or after `gapsFrom` (no such stop for a gapLimit of 0 or
    // less). So a packet is cut where the wire paused, however late the program comes to read it.
    // `firstArrival`, when given, gets the monotonic arrival time of the first byte taken (0 when
    // none), read together with the bytes, so that bytes landing meanwhile cannot part the two.
    virtual std::string takeReceived(std::size_t maxBytes = kAll, Nanos gapLimit = 0,
                                     Nanos gapsFrom = 0, Nanos* firstArrival = nullptr) = 0;
    // How many bytes takeReceived would take now with the same arguments (0 when closed).
    virtual std::size_t receivedLength(std::size_t maxBytes, Nanos gapLimit,
                                       Nanos gapsFrom) const = 0;
    virtual std::size_t bytesWaiting() const = 0;
    // Monotonic arrival time of the newest byte in the receive buffer (0 when it is empty).
    virtual Nanos lastArrival() const = 0;
    // While a limit is set, the receive buffer keeps at most `maxBytes` bytes, the first that
    // arrived (as a driver's buffer does), and drops later ones, counting them; kAll lifts the
    // limit (the default). Lifting or changing a limit logs how many bytes it dropped.
    virtual void limitBacklog(std::size_t maxBytes) = 0;

    // Queues bytes for sending (throws when closed). Where the bytes already waiting to leave
    // reach the port's bound (a device that takes nothing for long), the bytes are dropped whole
    // and counted instead.
    virtual void send(const std::string& bytes) = 0;
    // Sends dropped whole that way, since the port was made.
    virtual std::uint64_t sendsDropped() const = 0;

    // The outputs: set drives the line while open and is kept while closed; get returns the
    // last value set.
    virtual void setRts(bool on) = 0;
    virtual bool rts() const = 0;
    virtual void setDtr(bool on) = 0;
    virtual bool dtr() const = 0;

    // The inputs, present state; throw PortError while closed.
    virtual bool dcd() const = 0;
    virtual bool dsr() const = 0;
    virtual bool cts() const = 0;

    // The line errors reported since the last call, oldest first; a backend that cannot tell
    // reports none.
    virtual std::vector<LineErrorReport> takeLineErrors() = 0;

    // Comm state of the open port; return 0 or the system's error code.
    virtual int readCommState(CommState& state) = 0;
    virtual int writeCommState(const CommState& state) = 0;

    // The kind of the event being delivered.
    PortEvent event() const { return event_; }

    // Set by the owner; called by the event loop with event() already set.
    std::function<void()> onEvent;

protected:
    // For backends: deliver one event (call from the event loop only).
    void raise(PortEvent event) {
        event_ = event;
        if (onEvent) onEvent();
    }

private:
    PortEvent event_ = PortEvent::None;
};

}  // namespace lt
