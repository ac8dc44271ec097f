#pragma once

#include <array>
#include <cstdint>
#include <functional>
#include <memory>
#include <optional>
#include <string>

#include "app/core.h"
#include "base/timer.h"
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
    static constexpr int kPortLost = 3;  // a port went away and reconnecting is off

    // How often a lost port is looked for.
    static constexpr int kReconnectMs = 500;

    // Called when the run must end by itself, with its exit status (a lost port without
    // reconnecting). The front end ends the session and the program.
    std::function<void(int status)> finished;

    // Makes the choices and starts capture. Returns kRunning, or the exit status when the run
    // cannot go on: kBadInput for refused settings or an unusable record folder, kCannotOpen for
    // a port that cannot be opened (with its reason).
    int begin();
    // Stops for good: the packets being collected are finished, the record file is closed, the
    // ports are closed, and a port that had line errors has its totals told.
    void end();

private:
    void watchLosses();
    void reconnect();
    void setOutputs(int port);
    void watchLineErrors();
    void tellLineErrors();
    std::string portLabel(int port) const;

    Core& core_;
    HeadlessOptions options_;
    Say say_;
    std::array<bool, 2> lost_{};  // told lost, not yet back
    std::unique_ptr<Timer> reconnectTimer_;
    bool reopening_ = false;
    // Per port and kind: how many line errors have been told, and when they were last told.
    struct Told {
        std::uint64_t count = 0;
        std::optional<Nanos> at;
    };
    std::array<std::array<Told, kLineErrorKinds>, 2> errorsTold_{};
};

}  // namespace lt
