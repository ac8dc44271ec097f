#pragma once

#include <cstdint>
#include <string>
#include <vector>

#include "base/types.h"
#include "serial/linux/port_driver.h"
#include "serial/serial_port.h"

namespace lt {

// Received bytes as the terminal layer hands them over with error marking on (PARMRK, INPCK,
// IGNPAR and ISTRIP off): a character received with a parity or framing error comes as 0xFF 0x00
// and the character, a break as 0xFF 0x00 0x00, and a data byte 0xFF doubled. This takes the
// marks out, so the data bytes are exactly those on the wire, and gives each error with the
// moment its byte was read. A mark cut off at the end of one read is finished by the next.
//
// A mark does not tell a framing error from a parity error; the counters do, where the driver
// keeps them: each marked character takes the kind whose counter has risen past the marks
// already seen, framing first. Without counters it is a parity error on a line with parity and a
// framing error on one without. Overruns are never marked: they come from the counters alone.
class MarkedInput {
public:
    // `bytes` read at `at`: their data appended to `data`, their errors to `errors`. `counts` are
    // the driver's counters read after the bytes (null where it keeps none); `parity` whether the
    // line has a parity bit.
    void take(const char* bytes, std::size_t size, Nanos at, const ErrorCounts* counts, bool parity,
              std::string& data, std::vector<LineErrorReport>& errors);
    // Forgets a mark cut off and the counters seen (a new opening); errors are counted from
    // `counts` on, where given, else from the first counters read.
    void reset(const ErrorCounts* counts = nullptr);

private:
    enum class State { Plain, Escape, Error };
    void marked(LineError fallback, Nanos at, bool parity, std::vector<LineErrorReport>& errors);

    State state_ = State::Plain;
    bool haveCounts_ = false;
    ErrorCounts seen_;
    // Counter rises not yet matched by a mark.
    std::uint64_t frameAhead_ = 0, parityAhead_ = 0, breakAhead_ = 0;
};

}  // namespace lt
