#pragma once

#include <QMetaObject>
#include <QObject>
#include <functional>

namespace lt {

// Hands work to the thread that owns the port, through its event loop. Every opening and closing
// begins a new turn; work posted for an earlier turn is dropped when it comes, so a delivery from
// a device already closed never reaches the owner.
class OwnerPost {
public:
    // The present turn; read on the owner's thread, to be handed to the threads of an opening.
    unsigned turn() const { return turn_; }
    // Begins a new turn (at an opening or a closing), on the owner's thread.
    void nextTurn() { ++turn_; }

    // Runs `fn` on the owner's thread, unless turn `t` is over by then. Callable from any thread.
    void post(unsigned t, std::function<void()> fn) {
        QMetaObject::invokeMethod(
            &receiver_,
            [this, t, fn = std::move(fn)] {
                if (t == turn_) fn();
            },
            Qt::QueuedConnection);
    }

    // The object in the owner's thread that deliveries, and the device's signals, go through.
    QObject* context() { return &receiver_; }

private:
    QObject receiver_;
    unsigned turn_ = 0;
};

}  // namespace lt
