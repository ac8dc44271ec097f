#pragma once

#include <cstddef>
#include <functional>

#include "serial/linux/owner_post.h"
#include "serial/linux/serial_device.h"

namespace lt {

// A device that vanishes (hang-up, adapter pulled out) while the port is open: the loss is
// handed on once, from the owner's thread, as soon as it is seen.
class VanishWatch {
public:
    // `lose`: closes the port, keeping the bytes read before, and raises the loss.
    VanishWatch(OwnerPost& post, SerialDevice& device, std::function<void()> lose)
        : post_(post), device_(device), lose_(std::move(lose)) {}

    // On the device just opened, and before it closes.
    void start();
    void stop();
    // True only while the loss is handed on (inside `lose`, until stop): every delivery of the
    // opening is dropped with the turn the closing ends, so nothing else needs to ask.
    bool vanished() const { return vanished_; }

    // QSerialPort reported an error: the device is taken as gone.
    void errorReported();
    // The reader found the device gone; callable from any thread, with the turn it started in.
    void readerFoundGone(unsigned turn);
    // Errors QSerialPort reported since construction.
    int errorReports() const { return errorReports_; }

private:
    void vanish();

    OwnerPost& post_;
    SerialDevice& device_;
    std::function<void()> lose_;
    bool watching_ = false;
    bool vanished_ = false;
    int errorReports_ = 0;
};

}  // namespace lt
