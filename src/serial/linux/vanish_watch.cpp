#include "serial/linux/vanish_watch.h"

namespace lt {

void VanishWatch::start() {
    watching_ = true;
    vanished_ = false;
}

void VanishWatch::stop() {
    watching_ = false;
    vanished_ = false;
}

void VanishWatch::errorReported() {
    ++errorReports_;
    if (!watching_ || vanished_) return;
    // QSerialPort would report the same error again at every turn of the event loop: its
    // watching is stopped here, and the port is closed from the loop.
    device_.silence();
    post_.post(post_.turn(), [this] { vanish(); });
}

void VanishWatch::readerFoundGone(unsigned turn) {
    post_.post(turn, [this] { vanish(); });
}

void VanishWatch::vanish() {
    if (!watching_ || vanished_) return;
    vanished_ = true;
    device_.silence();
    lose_();
}

}  // namespace lt
