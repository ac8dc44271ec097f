#pragma once

#include <array>
#include <functional>
#include <memory>

#include "base/host.h"
#include "base/timer.h"
#include "serial/serial_port.h"

namespace lt {

// The relay of one port's inputs to the other port's outputs: RTS follows CTS, DTR follows DSR.
// DCD is shown but never relayed. Beside the relay map it keeps the two delay timers that, after
// a port has sent what was relayed to it, make its outputs follow the other port's live inputs
// again.
class LineRelay {
public:
    // Which output is set first: DTR wherever the relay follows a line change, a packet or a
    // poll; RTS when the delay after relayed data runs out.
    enum class First { Dtr, Rts };

    explicit LineRelay(Host& host);

    // The target's DTR and RTS from the given DSR and CTS, DTR first.
    static void drive(SerialPort& target, bool dsr, bool cts);
    // The target's DTR and RTS follow the source's inputs as they are now: both are read, then
    // the outputs set in the given order. A source that cannot be read leaves the target's
    // outputs as they were, and the answer is false.
    static bool follow(const SerialPort& source, SerialPort& target, First first = First::Dtr);

    // Restarts the delay after which `target` (1 or 2) follows the other port again.
    void restartDelay(int target, int ms) { delay(target).restart(ms); }
    void stopDelay(int target) { delay(target).setEnabled(false); }
    void onDelayTick(int target, std::function<void()> tick) {
        delay(target).onTick = std::move(tick);
    }

private:
    Timer& delay(int target) { return *delays_[target - 1]; }

    std::array<std::unique_ptr<Timer>, 2> delays_;
};

}  // namespace lt
