#pragma once

#include <cstdint>

namespace lt {

// Counts, indices, intervals and flags of the program are 16-bit signed values.
using i16 = std::int16_t;

// Monotonic time in nanoseconds (virtual in scenario tests, steady clock in the program).
using Nanos = std::int64_t;

constexpr Nanos kNanosPerMs = 1'000'000;

// Line-state flags: -1 on, 0 off.
constexpr i16 kOn = -1;
constexpr i16 kOff = 0;

inline i16 flagOf(bool on) {
    return on ? kOn : kOff;
}

}  // namespace lt
