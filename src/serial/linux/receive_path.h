#pragma once

#include <atomic>
#include <functional>
#include <mutex>
#include <string>
#include <vector>

#include "base/types.h"
#include "serial/linux/marked_input.h"
#include "serial/linux/owner_post.h"
#include "serial/linux/serial_device.h"
#include "serial/linux/stamping_reader.h"
#include "serial/rx_queue.h"

namespace lt {

// How received bytes reach the port's buffer: the reader thread takes them from the open device
// and QSerialPort's own reading on the owner's thread is switched off, so the two never split the
// stream between them; where that reading cannot be switched off, it is the one that reads. One
// receive event is posted for the bytes that arrive until the owner comes to it.
//
// Where the terminal layer marks line errors in the bytes (PARMRK), the marks are taken out here,
// before the buffer, so the data is exactly as on the wire; the errors, with the moment of their
// read, wait for the owner behind an event of their own, as do the errors the driver's counters
// give.
class ReceivePath {
public:
    // `clock` stamps the bytes (called on the reader thread); `received` raises the receive event
    // and `errorsFound` the line-error event on the owner's thread.
    ReceivePath(OwnerPost& post, std::function<Nanos()> clock, std::function<void()> received,
                std::function<void()> errorsFound);
    ReceivePath(const ReceivePath&) = delete;
    ReceivePath& operator=(const ReceivePath&) = delete;

    // Starts reading the device just opened, whose input is marked (`marked`) or not, on a line
    // with a parity bit or without; `gone` is called on the reader thread once the device has
    // vanished.
    void start(SerialDevice& device, bool marked, bool parity, std::function<void()> gone);
    // The line has a parity bit from now on, or not (new settings).
    void setParity(bool parity) { parity_ = parity; }
    // Stops reading; what was not taken stays in the queue, line errors not taken are dropped.
    void stop();
    // The line errors found since the last call, oldest first.
    std::vector<LineErrorReport> takeErrors();
    // QSerialPort has bytes to read (its readyRead).
    void readyRead(QSerialPort& serial);

    RxQueue& queue() { return queue_; }
    const RxQueue& queue() const { return queue_; }
    int readerWakeups() const { return reader_.wakeups(); }

private:
    // Callable from either reader; the event is for the opening being read.
    void postReceived();
    // One chunk read at `at`: its data to the queue, its errors kept; true when data was kept.
    bool accept(const char* bytes, std::size_t size, Nanos at);

    OwnerPost& post_;
    std::function<Nanos()> clock_;
    std::function<void()> received_;
    RxQueue queue_;
    StampingReader reader_;
    bool reading_ = false;       // started, and not stopped since
    bool readerThread_ = false;  // the reader thread reads, not QSerialPort
    std::atomic<bool> posted_{false};

    // Set at start, before the reader runs; turn_ is the opening's, which every post is for.
    PortDriver* driver_ = nullptr;
    bool marked_ = false;
    bool counted_ = false;  // the driver keeps error counters
    unsigned turn_ = 0;
    std::atomic<bool> parity_{false};
    MarkedInput marks_;  // used by whichever reads
    std::mutex errorsMutex_;
    std::vector<LineErrorReport> errors_;
    std::atomic<bool> errorsPosted_{false};
    std::function<void()> errorsFound_;
};

}  // namespace lt
