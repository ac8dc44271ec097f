#include "headless/session.h"

#include <unistd.h>

#include <cerrno>
#include <cstring>

#include "settings/settings_file.h"

namespace lt {

namespace {

// Line errors told at most once a second per port and kind; a busy noisy line would otherwise
// flood the log.
constexpr Nanos kErrorTellInterval = 1000 * kNanosPerMs;

const char* errorWords(LineError kind, bool one) {
    switch (kind) {
        case LineError::Framing:
            return one ? "framing error" : "framing errors";
        case LineError::Parity:
            return one ? "parity error" : "parity errors";
        case LineError::Overrun:
            return one ? "overrun" : "overruns";
        case LineError::Break:
            break;
    }
    return one ? "break" : "breaks";
}

// Whether records can be written into `folder`; the reason when they cannot.
std::string folderProblem(const std::string& folder) {
    if (!pathExists(folder)) return "no such folder";
    if (::access(folder.c_str(), W_OK | X_OK) != 0) return std::strerror(errno);
    return {};
}

}  // namespace

HeadlessSession::HeadlessSession(Core& core, HeadlessOptions options, Say say)
    : core_(core), options_(std::move(options)), say_(std::move(say)) {}

std::string HeadlessSession::portLabel(int port) const {
    return "port " + std::to_string(port) + " (" + options_.ports[port - 1].device + ")";
}

int HeadlessSession::begin() {
    // The options alone decide: the window's "Также pcapng" neither adds nor moves a capture,
    // and a refusal is told in one line below, not also as the window's "Недопустимо".
    core_.useCaptureBesideRecord(false);
    core_.setRefusalBox(false);
    Settings settings = core_.settings();
    if (options_.gapMs) settings.gapMs = *options_.gapMs;
    if (options_.pollMs) settings.pollMs = *options_.pollMs;
    if (options_.lineDelayMs) settings.lineDelayMs = *options_.lineDelayMs;
    if (!options_.recordFolder.empty()) {
        if (const std::string problem = folderProblem(options_.recordFolder); !problem.empty()) {
            say_("--record " + options_.recordFolder + ": " + problem);
            return kBadInput;
        }
        settings.recordFolder = withSlash(options_.recordFolder);
    }
    core_.useSettings(settings);

    for (int n : {1, 2}) {
        const HeadlessOptions::Port& p = options_.ports[n - 1];
        if (p.device.empty()) continue;
        if (!core_.configurePort(n, p.device, p.settings)) {
            say_(portLabel(n) + ": settings " + p.settings + " refused");
            return kBadInput;
        }
        core_.setStrobe(n, p.strobe);
        core_.switchPort(n, true);
        const PortPanelView& view = core_.panelView(n);
        if (view.lamp == PortLamp::Open && !view.refusal.empty()) {
            say_(portLabel(n) + ": settings " + p.settings + " refused: " + view.refusal);
            return kBadInput;
        }
        if (view.lamp != PortLamp::Open) {
            say_(portLabel(n) + ": " + (view.refusal.empty() ? "cannot be opened" : view.refusal));
            return kCannotOpen;
        }
        setOutputs(n);
    }
    for (int n : {1, 2}) {
        core_.setDataRelay(n, options_.ports[n - 1].relayData);
        core_.setLineRelay(n, options_.ports[n - 1].relayLines);
    }

    if (options_.pcapLink) core_.useCaptureLink(*options_.pcapLink);
    if (!options_.pcapPath.empty() && !core_.openCaptureFile(options_.pcapPath)) return kBadInput;

    core_.setAutoFraming(options_.autoFraming);
    core_.typePollInterval(std::to_string(settings.pollMs));
    if (!options_.recordFolder.empty() || options_.print) {
        core_.setRecording(true);
        if (!core_.recording()) return kBadInput;
    }
    watchLosses();
    watchLineErrors();
    core_.start();
    return kRunning;
}

// Switching on sets RTS and DTR; the options say which stay on. A strobed RTS is the driver's.
void HeadlessSession::setOutputs(int n) {
    const HeadlessOptions::Port& p = options_.ports[n - 1];
    if (!p.strobe) core_.setRts(n, p.rts);
    core_.setDtr(n, p.dtr);
}

// A device that vanishes is told once; the other port goes on. Looked at after every event,
// from the two port panels alone. Nobody is there to switch the port off and
// on, so it is looked for until it comes back (or, without reconnecting, the run ends).
void HeadlessSession::watchLosses() {
    reconnectTimer_ = core_.host().createTimer();
    reconnectTimer_->onTick = [this] { reconnect(); };
    core_.addChangeListener([this] {
        for (int n : {1, 2}) {
            const PortPanelView& p = core_.panelView(n);
            if (p.lamp != PortLamp::Failed || !p.enable.checked || lost_[n - 1]) continue;
            lost_[n - 1] = true;
            say_(portLabel(n) + ": device lost");
            if (!options_.reconnect) {
                if (finished) finished(kPortLost);
                return;
            }
            if (!reconnectTimer_->enabled()) reconnectTimer_->restart(kReconnectMs);
        }
    });
}

// One look for each lost port: opened again as the user would switch it off and on, with its
// settings, strobe and outputs as given; the relays it took part in go on by themselves.
void HeadlessSession::reconnect() {
    // The strobe's yields may run this tick again; one look at a time.
    if (reopening_) return;
    reopening_ = true;
    bool waiting = false;
    for (int n : {1, 2}) {
        if (!lost_[n - 1]) continue;
        core_.switchPort(n, false);
        core_.switchPort(n, true);
        if (core_.panelView(n).lamp != PortLamp::Open) {
            waiting = true;
            continue;
        }
        setOutputs(n);
        lost_[n - 1] = false;
        say_(portLabel(n) + ": device back");
    }
    if (!waiting) reconnectTimer_->setEnabled(false);
    reopening_ = false;
}

// New line errors of a kind are told in one line with their number, at most once a second; those
// held back meanwhile are told with the next line of their kind, or in the totals at the end.
void HeadlessSession::watchLineErrors() {
    core_.addChangeListener([this] { tellLineErrors(); });
}

void HeadlessSession::tellLineErrors() {
    const Nanos now = core_.monotonicNow();
    for (int n : {1, 2}) {
        for (int k = 0; k < kLineErrorKinds; ++k) {
            Told& told = errorsTold_[n - 1][k];
            const std::uint64_t total = core_.lineErrors(n)[k];
            if (total == told.count || (told.at && now - *told.at < kErrorTellInterval)) continue;
            const std::uint64_t fresh = total - told.count;
            say_(portLabel(n) + ": " + std::to_string(fresh) + " " +
                 errorWords(static_cast<LineError>(k), fresh == 1));
            told = {total, now};
        }
    }
}

void HeadlessSession::end() {
    if (reconnectTimer_) reconnectTimer_->setEnabled(false);
    core_.finishCollected();
    core_.shutDown();
    for (int n : {1, 2}) {
        const LineErrorCounts& counts = core_.lineErrors(n);
        if (counts == LineErrorCounts{}) continue;
        std::string line = portLabel(n) + ": line errors in all:";
        for (int k = 0; k < kLineErrorKinds; ++k)
            line += std::string(k ? ", " : " ") + std::to_string(counts[k]) + " " +
                    errorWords(static_cast<LineError>(k), counts[k] == 1);
        say_(line);
    }
}

}  // namespace lt
