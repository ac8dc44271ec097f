#pragma once

#include <cstddef>
#include <cstdint>
#include <functional>
#include <limits>
#include <stdexcept>
#include <string>

#include "engine/types.h"
#include "ports/port_name.h"

namespace lt {

// Event codes of a serial port, read through CommEvent().
enum CommEventCode : i16 {
    comEvSend = 1,     // the send buffer has drained after an output
    comEvReceive = 2,  // bytes have arrived in the receive buffer
    comEvCTS = 3,      // CTS input changed
    comEvDSR = 4,      // DSR input changed
    comEvCD = 5,       // DCD input changed
    // The device vanished (hang-up, adapter pulled out): the backend has closed the port.
    comEvLost = 1012,
};

// A refused operation: opening a missing or busy port, an unusable settings text, reading the
// inputs of a closed port, reading or writing a closed port.
class PortError : public std::runtime_error {
public:
    using std::runtime_error::runtime_error;
};

// The comm state of an open port: the flags word the program writes (0x1011 manual RTS,
// 0x3011 RTS toggle). Bits: fBinary 0, fDtrControl 4-5, fRtsControl 12-13.
struct CommState {
    std::uint32_t Flags = 0;
};

constexpr std::uint32_t kFlagsManualRts = 0x1011;
constexpr std::uint32_t kFlagsToggleRts = 0x3011;

inline bool rtsToggleOf(std::uint32_t flags) {
    return ((flags >> 12) & 3u) == 3u;
}

// The rule by which Input cuts a packet: a byte that arrived `at`, `gapLimit` or more after the
// byte before it (which arrived `before`, at or after `gapsFrom`), begins the next packet.
inline bool pauseCuts(Nanos before, Nanos at, Nanos gapLimit, Nanos gapsFrom) {
    return gapLimit > 0 && before >= gapsFrom && at - before >= gapLimit;
}

// One serial-port control. Every call is made on the program's one thread; events are delivered
// later by the event loop through OnComm, never from inside a call.
class SerialPort {
public:
    virtual ~SerialPort() = default;

    static constexpr std::size_t kAll = std::numeric_limits<std::size_t>::max();

    // Port number 1..12 or a device path; set only while closed (throws PortError when open).
    virtual void setCommPort(const PortName& name) = 0;
    virtual PortName CommPort() const = 0;

    // "baud,parity,data,stop"; an unusable text throws PortError and keeps the previous settings.
    virtual void setSettings(const std::string& text) = 0;
    virtual std::string Settings() const = 0;

    // Opening a missing or busy port throws PortError and leaves it closed.
    virtual void setPortOpen(bool open) = 0;
    virtual bool PortOpen() const = 0;

    // Takes bytes from the receive buffer, one character per byte, oldest first (throws when
    // closed). Reading stops after `maxBytes`, and before the first byte that arrived `gapLimit`
    // nanoseconds or more after the byte before it, where that byte before it arrived at or after
    // `gapsFrom` (no such stop for a gapLimit of 0 or less). So a packet is cut where the wire
    // paused, however late the program comes to read it.
    virtual std::string Input(std::size_t maxBytes = kAll, Nanos gapLimit = 0,
                              Nanos gapsFrom = 0) = 0;
    // How many bytes Input would take now with the same arguments (0 when closed).
    virtual std::size_t InputLength(std::size_t maxBytes, Nanos gapLimit, Nanos gapsFrom) const = 0;
    virtual std::size_t InBufferCount() const = 0;
    // Monotonic arrival time of the newest byte in the receive buffer (0 when it is empty).
    virtual Nanos LastArrival() const = 0;

    // Queues bytes for sending (throws when closed).
    virtual void Output(const std::string& bytes) = 0;

    // The outputs: set drives the line while open and is kept while closed; get returns the
    // last value set.
    virtual void setRTSEnable(bool on) = 0;
    virtual bool RTSEnable() const = 0;
    virtual void setDTREnable(bool on) = 0;
    virtual bool DTREnable() const = 0;

    // The inputs, present state; throw PortError while closed.
    virtual bool CDHolding() const = 0;
    virtual bool DSRHolding() const = 0;
    virtual bool CTSHolding() const = 0;

    // Comm state of the open port; return 0 or the system's error code.
    virtual int GetCommState(CommState& state) = 0;
    virtual int SetCommState(const CommState& state) = 0;

    // The kind of the event being delivered.
    i16 CommEvent() const { return commEvent_; }

    // Set by the owner; called by the event loop with CommEvent() already set.
    std::function<void()> OnComm;

protected:
    // For backends: deliver one event (call from the event loop only).
    void raise(i16 event) {
        commEvent_ = event;
        if (OnComm) OnComm();
    }

private:
    i16 commEvent_ = 0;
};

}  // namespace lt
