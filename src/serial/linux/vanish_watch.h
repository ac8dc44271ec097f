#pragma once

#include <cstddef>
#include <functional>

#include "serial/linux/owner_post.h"
#include "serial/linux/serial_device.h"

namespace lt {

// A device that vanishes (hang-up, adapter pulled out) while the port is open. Bytes read before
// it vanished stay until they are taken, so that the packet being framed is still shown, relayed
// and recorded however late that comes; then the port closes and reports the loss once. Closing
// the port first (to open it again) drops them.
class VanishWatch {
public:
    // `unread`: bytes not yet taken; `lose`: closes the port and raises the loss.
    VanishWatch(OwnerPost& post, SerialDevice& device, std::function<std::size_t()> unread,
                std::function<void()> lose)
        : post_(post), device_(device), unread_(std::move(unread)), lose_(std::move(lose)) {}

    // On the device just opened, and before it closes.
    void start();
    void stop();
    bool vanished() const { return vanished_; }

    // QSerialPort reported an error: the device is taken as gone.
    void errorReported();
    // The reader found the device gone; callable from any thread, with the turn it started in.
    void readerFoundGone(unsigned turn);
    // Bytes were taken: the last ones of a vanished device close the port.
    void taken();
    // Errors QSerialPort reported since construction.
    int errorReports() const { return errorReports_; }

private:
    void vanish();
    void finish();

    OwnerPost& post_;
    SerialDevice& device_;
    std::function<std::size_t()> unread_;
    std::function<void()> lose_;
    bool watching_ = false;
    bool vanished_ = false;
    int errorReports_ = 0;
};

}  // namespace lt
