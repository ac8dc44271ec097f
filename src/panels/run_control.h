#pragma once

#include <QLocale>
#include <optional>
#include <string>

#include "base/host.h"
#include "base/types.h"
#include "panels/toggle.h"

namespace lt {

struct RunPanelView {
    Toggle autoFraming{false, true};  // "Авт.": packets cut by the pause instead of polling
    std::string pollInterval;         // the poll period typed, in milliseconds
    bool pollIntervalEnabled = true;
    bool applyVisible = false;  // "ОК": a changed period for the running poll
    bool startLit = false;      // "Пуск" lit while capture runs, "Стоп" otherwise
};

// Starting and stopping capture: whether it runs, in which mode, and the poll period typed for
// it, with the button that applies a changed period while it runs.
class RunControl {
public:
    RunControl(Host& host, const QLocale& locale) : host_(host), locale_(locale) {}

    const RunPanelView& view() const { return view_; }
    bool running() const { return running_; }
    bool autoFraming() const { return view_.autoFraming.checked; }
    // When capture last started: bytes that waited in the ports from before it join the first
    // packet after it.
    Nanos startedAt() const { return startedAt_; }

    // The mode is fixed from Start to Stop.
    void beginStart();
    void stop();
    void showRunning(bool running);

    void setAutoFraming(bool on);
    // Any change of the period's text: while running, "ОК" appears to apply it.
    void typePollInterval(const std::string& text);
    void hideApply() { view_.applyVisible = false; }

    // The typed period, or nothing (with the message shown) when it is no whole number of
    // milliseconds in 0..65535.
    std::optional<int> pollInterval() const;

private:
    Host& host_;
    const QLocale& locale_;
    RunPanelView view_;
    bool running_ = false;
    Nanos startedAt_ = 0;
};

}  // namespace lt
