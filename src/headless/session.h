#pragma once

#include <array>
#include <cstdint>
#include <functional>
#include <optional>
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

    // `stopRequested` tells whether the run was asked to stop while it is still starting (a named
    // pipe for the capture waits for its reader until then).
    HeadlessSession(Core& core, HeadlessOptions options, Say say,
                    std::function<bool()> stopRequested = {});

    // Exit statuses.
    static constexpr int kRunning = -1;
    static constexpr int kCannotOpen = 1;
    static constexpr int kBadInput = 2;

    // Makes the choices and starts capture. Returns kRunning, or the exit status when the run
    // cannot go on: kBadInput for refused settings or an unusable record folder, kCannotOpen for
    // a port that cannot be opened (with its reason).
    int begin();
    // Stops for good: the packets being collected are finished, the record file is closed, the
    // ports are closed, and a port that had line errors has its totals told.
    void end();

private:
    void watchLosses();
    void watchLineErrors();
    void tellLineErrors();
    std::string portLabel(int port) const;

    Core& core_;
    HeadlessOptions options_;
    Say say_;
    std::function<bool()> stopRequested_;
    std::array<bool, 2> lossTold_{};
    // Per port and kind: how many line errors have been told, and when they were last told.
    struct Told {
        std::uint64_t count = 0;
        std::optional<Nanos> at;
    };
    std::array<std::array<Told, kLineErrorKinds>, 2> errorsTold_{};
};

}  // namespace lt
