#include "serial/linux/marked_input.h"

#include <algorithm>

namespace lt {

namespace {

constexpr char kMark = '\xFF';

// How far a counter has risen since `before`; a counter that wrapped round still rises.
std::uint64_t rise(std::uint32_t now, std::uint32_t before) {
    return static_cast<std::uint32_t>(now - before);
}

// Takes one from `ahead` when it has one.
bool claim(std::uint64_t& ahead) {
    if (ahead == 0) return false;
    --ahead;
    return true;
}

}  // namespace

void MarkedInput::reset(const ErrorCounts* counts) {
    state_ = State::Plain;
    haveCounts_ = counts != nullptr;
    if (counts) seen_ = *counts;
    frameAhead_ = parityAhead_ = breakAhead_ = 0;
}

void MarkedInput::take(const char* bytes, std::size_t size, Nanos at, const ErrorCounts* counts,
                       bool parity, std::string& data, std::vector<LineErrorReport>& errors) {
    // Rises seen before these bytes whose marks have not come: the driver counted errors the
    // terminal layer did not mark. They are told as counted, once the bytes read after them
    // brought no mark for them.
    const std::uint64_t frameBefore = frameAhead_, parityBefore = parityAhead_,
                        breakBefore = breakAhead_;
    std::uint64_t overruns = 0;
    if (counts) {
        if (haveCounts_) {
            frameAhead_ += rise(counts->frame, seen_.frame);
            parityAhead_ += rise(counts->parity, seen_.parity);
            breakAhead_ += rise(counts->brk, seen_.brk);
            overruns =
                rise(counts->overrun, seen_.overrun) + rise(counts->bufOverrun, seen_.bufOverrun);
        }
        seen_ = *counts;
        haveCounts_ = true;
    }
    const std::uint64_t frameAll = frameAhead_, parityAll = parityAhead_, breakAll = breakAhead_;

    for (std::size_t i = 0; i < size; ++i) {
        const char c = bytes[i];
        switch (state_) {
            case State::Plain:
                if (c == kMark)
                    state_ = State::Escape;
                else
                    data += c;
                break;
            case State::Escape:
                state_ = State::Plain;
                if (c == '\0') {
                    state_ = State::Error;
                } else {
                    // 0xFF 0xFF is a data byte 0xFF; anything else after 0xFF is no mark, and
                    // both bytes are data.
                    data += kMark;
                    if (c != kMark) data += c;
                }
                break;
            case State::Error:
                state_ = State::Plain;
                // 0xFF 0x00 0x00 is a break, unless the counters say it was a character 0x00
                // received with an error.
                if (c == '\0' && (claim(breakAhead_) || (frameAhead_ == 0 && parityAhead_ == 0))) {
                    errors.push_back({LineError::Break, at, 1});
                    break;
                }
                data += c;
                if (claim(frameAhead_))
                    errors.push_back({LineError::Framing, at, 1});
                else if (claim(parityAhead_))
                    errors.push_back({LineError::Parity, at, 1});
                else
                    errors.push_back({parity ? LineError::Parity : LineError::Framing, at, 1});
                break;
        }
    }

    // What was counted before these bytes and is still unmatched is told now, as counted.
    const auto unmarked = [&](LineError kind, std::uint64_t before, std::uint64_t all,
                              std::uint64_t& ahead) {
        const std::uint64_t used = all - ahead;
        const std::uint64_t left = before > used ? before - used : 0;
        if (left == 0) return;
        ahead -= left;
        errors.push_back(
            {kind, at, static_cast<std::uint32_t>(std::min<std::uint64_t>(left, UINT32_MAX))});
    };
    unmarked(LineError::Framing, frameBefore, frameAll, frameAhead_);
    unmarked(LineError::Parity, parityBefore, parityAll, parityAhead_);
    unmarked(LineError::Break, breakBefore, breakAll, breakAhead_);
    if (overruns > 0)
        errors.push_back(
            {LineError::Overrun, at,
             static_cast<std::uint32_t>(std::min<std::uint64_t>(overruns, UINT32_MAX))});
}

}  // namespace lt
