#pragma once

#include <array>
#include <functional>
#include <string>

#include "app/core.h"
#include "headless/options.h"

namespace lt {

// A run without a window: the options become the choices a user would make in the window, made
// through the same intents, and capture starts at once. Problems are told through `say`, one line
// each.
class HeadlessSession {
public:
    using Say = std::function<void(const std::string& line)>;

    HeadlessSession(Core& core, HeadlessOptions options, Say say);

    // Exit statuses.
    static constexpr int kRunning = -1;
    static constexpr int kCannotOpen = 1;
    static constexpr int kBadInput = 2;

    // Makes the choices and starts capture. Returns kRunning, or the exit status when the run
    // cannot go on: kBadInput for refused settings or an unusable record folder, kCannotOpen for
    // a port that cannot be opened (with its reason).
    int begin();
    // Stops for good: the packets being collected are finished, the record file is closed, the
    // ports are closed.
    void end();

private:
    void watchLosses();
    std::string portLabel(int port) const;

    Core& core_;
    HeadlessOptions options_;
    Say say_;
    std::array<bool, 2> lossTold_{};
};

}  // namespace lt
