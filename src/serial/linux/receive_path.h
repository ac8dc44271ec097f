#pragma once

#include <atomic>
#include <functional>
#include <string>

#include "base/types.h"
#include "serial/linux/owner_post.h"
#include "serial/linux/rx_queue.h"
#include "serial/linux/serial_device.h"
#include "serial/linux/stamping_reader.h"

namespace lt {

// How received bytes reach the port's buffer: the reader thread takes them from the open device
// and QSerialPort's own reading on the owner's thread is switched off, so the two never split the
// stream between them; where that reading cannot be switched off, it is the one that reads. One
// receive event is posted for the bytes that arrive until the owner comes to it.
class ReceivePath {
public:
    // `clock` stamps the bytes (called on the reader thread); `received` raises the receive event
    // on the owner's thread.
    ReceivePath(OwnerPost& post, std::function<Nanos()> clock, std::function<void()> received);
    ReceivePath(const ReceivePath&) = delete;
    ReceivePath& operator=(const ReceivePath&) = delete;

    // Starts reading the device just opened; `gone` is called on the reader thread once the
    // device has vanished.
    void start(SerialDevice& device, std::function<void()> gone);
    // Stops reading; what was not taken stays in the queue.
    void stop();
    // QSerialPort has bytes to read (its readyRead).
    void readyRead(QSerialPort& serial);

    RxQueue& queue() { return queue_; }
    const RxQueue& queue() const { return queue_; }
    int readerWakeups() const { return reader_.wakeups(); }

private:
    // Callable from the reader thread, with the turn it was started in.
    void postReceived(unsigned turn);

    OwnerPost& post_;
    std::function<Nanos()> clock_;
    std::function<void()> received_;
    RxQueue queue_;
    StampingReader reader_;
    bool reading_ = false;       // started, and not stopped since
    bool readerThread_ = false;  // the reader thread reads, not QSerialPort
    std::atomic<bool> posted_{false};
};

}  // namespace lt
