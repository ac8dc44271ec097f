#include "panels/run_control.h"

#include "base/number_conversion.h"

namespace lt {

namespace {

constexpr char kBadInterval[] = "Интервал должен быть целым числом";

}  // namespace

void RunControl::beginStart() {
    view_.autoFraming.enabled = false;
    running_ = true;
    startedAt_ = host_.monotonicNow();
}

void RunControl::stop() {
    view_.autoFraming.enabled = true;
    running_ = false;
    showRunning(false);
}

void RunControl::showRunning(bool running) {
    view_.startLit = running;
}

void RunControl::setAutoFraming(bool on) {
    view_.autoFraming.checked = on;
    view_.pollIntervalEnabled = !on;
}

void RunControl::typePollInterval(const std::string& text) {
    view_.pollInterval = text;
    if (running_) view_.applyVisible = true;
}

std::optional<int> RunControl::pollInterval() const {
    const auto v = convertWholeNumber(view_.pollInterval, locale_, 0, 65535);
    if (!v) {
        host_.showMessage(kBadInterval);
        return std::nullopt;
    }
    return static_cast<int>(*v);
}

}  // namespace lt
