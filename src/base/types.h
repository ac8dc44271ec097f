#pragma once

#include <array>
#include <cstdint>

namespace lt {

// Intervals kept in the settings file are 16-bit signed values.
using i16 = std::int16_t;

// Monotonic time in nanoseconds (virtual in scenario tests, steady clock in the program).
using Nanos = std::int64_t;

constexpr Nanos kNanosPerMs = 1'000'000;

// The five modem lines of a port as they stood at one moment, in the fixed order the screen and
// the record file show them: RTS and DTR are the port's outputs, DCD, DSR and CTS its inputs.
struct LineStates {
    bool rts = false;
    bool dtr = false;
    bool dcd = false;
    bool dsr = false;
    bool cts = false;

    std::array<bool, 5> inOrder() const { return {rts, dtr, dcd, dsr, cts}; }
    bool operator==(const LineStates&) const = default;
};

// The line errors a port's driver reports: a character with a bad stop bit (framing) or a bad
// parity bit, received bytes lost because the hardware or the driver could not keep up (overrun),
// and a break (the line held at space for longer than a character).
enum class LineError { Framing, Parity, Overrun, Break };
constexpr int kLineErrorKinds = 4;

// The two ports; port 1 is index 0 wherever the two are kept side by side.
constexpr int kPorts = 2;

inline int otherPort(int port) {
    return port == 1 ? 2 : 1;
}

}  // namespace lt
