#pragma once

#include <cstdint>
#include <functional>
#include <string>

#include "serial/linux/drain_worker.h"
#include "serial/linux/owner_post.h"
#include "serial/linux/serial_device.h"
#include "serial/send_backlog.h"

namespace lt {

// The way out of the port: bytes go to the driver at once where nothing waits before them, the
// rest queue in QSerialPort, and once all have left it the drain worker waits for the device's
// output to drain off the owner's thread. RTS in toggle mode goes up before each output and falls
// on the drain worker the moment the output has drained; the send event follows on the owner's
// thread.
class SendPath {
public:
    // `sent` raises the send event, on the owner's thread.
    SendPath(OwnerPost& post, SerialDevice& device, std::function<void()> sent)
        : post_(post), device_(device), sent_(std::move(sent)) {}
    SendPath(const SendPath&) = delete;
    SendPath& operator=(const SendPath&) = delete;

    // On the device just opened, and before it closes.
    void start();
    void stop();

    // The longest a closing port waits for what was sent to leave.
    static constexpr int kLetOutMs = 250;

    // Sends `bytes` (not empty); what QSerialPort refuses throws PortError. Bytes that would make
    // the waiting ones pass the backlog's bound are dropped whole and counted.
    void send(const std::string& bytes);
    std::uint64_t dropped() const { return backlog_.dropped(); }
    // Before closing: lets what waits leave at `baud` (bits per character `bits`), for the time
    // that takes, at most kLetOutMs, never flushing it first; what is left then is cleared.
    void letOut(int baud, int bits);
    // QSerialPort wrote bytes (its bytesWritten).
    void written();

    // The newest output handed on, and whether bytes are still on their way through QSerialPort.
    std::uint64_t newest() const { return newest_; }
    bool sending() { return device_.qt().bytesToWrite() > 0; }

private:
    std::size_t writeNow(const std::string& bytes) const;
    void drained(std::uint64_t served);

    OwnerPost& post_;
    SerialDevice& device_;
    std::function<void()> sent_;
    DrainWorker drainer_;
    bool started_ = false;
    std::uint64_t newest_ = 0;  // numbers the outputs, for the drain worker and the toggle
    SendBacklog backlog_;
};

}  // namespace lt
