#pragma once

#include <memory>
#include <string>

#include "base/host.h"
#include "serial/serial_port.h"

namespace lt {

// A serial line on another machine, reached through a device server (ser2net and the like) by
// the name "rfc2217://HOST:PORT" or "tcp://HOST:PORT". To its owner it is one more serial port.
//
// - rfc2217: Telnet Com Port Control. Line settings go to the server and are taken only as the
//   server answers them: other values, or no answer within the answer time, refuse them as a
//   local driver does (the previous settings stay). RTS and DTR go out as SET-CONTROL; CTS, DSR
//   and DCD come in as NOTIFY-MODEMSTATE and raise the same line events as a local port. The
//   server's flow-control suspend holds back what is sent until it resumes; opening purges the
//   server's buffers. The RTS strobe cannot be timed across a network: writing the toggle comm
//   state is refused (EOPNOTSUPP).
// - tcp: the bytes alone. The modem inputs read as off; outputs and line settings are kept and
//   never sent.
// - Opening: a connection refused, or one that does not answer within the connect time, cannot be
//   opened. A connection that drops later is a vanished device: the port closes and raises
//   PortEvent::Lost once, at once; bytes already received stay readable until they are taken.
// - Time stamps: a thread of its own reads the connection, so bytes are stamped as they reach the
//   program, with the network's delays in the pauses between them.
//
// The host's monotonicNow() is called from the reader thread, so it must be thread-safe.
class NetworkSerialPort : public SerialPort {
public:
    struct Timing {
        int connectMs = 3000;  // for the connection to be taken
        int answerMs = 3000;   // for the server to answer a negotiation or settings
    };

    NetworkSerialPort(const Host& host, int defaultPortNumber, Timing timing);
    NetworkSerialPort(const Host& host, int defaultPortNumber)
        : NetworkSerialPort(host, defaultPortNumber, Timing{}) {}
    ~NetworkSerialPort() override;
    NetworkSerialPort(const NetworkSerialPort&) = delete;
    NetworkSerialPort& operator=(const NetworkSerialPort&) = delete;

    void setPortName(const PortName& name) override;
    PortName portName() const override;
    void setLineSettings(const std::string& text) override;
    std::string lineSettings() const override;
    void setOpen(bool open) override;
    bool isOpen() const override;
    std::string takeReceived(std::size_t maxBytes = kAll, Nanos gapLimit = 0, Nanos gapsFrom = 0,
                             Nanos* firstArrival = nullptr) override;
    std::size_t receivedLength(std::size_t maxBytes, Nanos gapLimit, Nanos gapsFrom) const override;
    std::size_t bytesWaiting() const override;
    Nanos lastArrival() const override;
    void limitBacklog(std::size_t maxBytes) override;
    void send(const std::string& bytes) override;
    std::uint64_t sendsDropped() const override;
    // The server tells no line errors that this port passes on.
    std::vector<LineErrorReport> takeLineErrors() override { return {}; }
    void setRts(bool on) override;
    bool rts() const override;
    void setDtr(bool on) override;
    bool dtr() const override;
    bool dcd() const override;
    bool dsr() const override;
    bool cts() const override;
    int readCommState(CommState& state) override;
    int writeCommState(const CommState& state) override;

    // Whether the server has suspended what this side sends (diagnostics and tests).
    bool sendingSuspended() const;

private:
    struct Impl;
    friend struct Impl;
    void deliver(PortEvent event) { raise(event); }
    std::unique_ptr<Impl> d_;
};

}  // namespace lt
