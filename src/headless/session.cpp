#include "headless/session.h"

#include <unistd.h>

#include <cerrno>
#include <cstring>

#include "settings/settings_file.h"

namespace lt {

namespace {

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
        // Switching on sets RTS and DTR; the options say which stay on. A strobed RTS is the
        // driver's.
        if (!p.strobe) core_.setRts(n, p.rts);
        core_.setDtr(n, p.dtr);
    }
    for (int n : {1, 2}) {
        core_.setDataRelay(n, options_.ports[n - 1].relayData);
        core_.setLineRelay(n, options_.ports[n - 1].relayLines);
    }

    if (!options_.pcapPath.empty() && !core_.openCaptureFile(options_.pcapPath)) return kBadInput;

    core_.setAutoFraming(options_.autoFraming);
    core_.typePollInterval(std::to_string(settings.pollMs));
    if (!options_.recordFolder.empty() || options_.print) {
        core_.setRecording(true);
        if (!core_.recording()) return kBadInput;
    }
    watchLosses();
    core_.start();
    return kRunning;
}

// A device that vanishes is told once; the other port goes on. Looked at after every event,
// from the two port panels alone.
void HeadlessSession::watchLosses() {
    core_.addChangeListener([this] {
        for (int n : {1, 2}) {
            const PortPanelView& p = core_.panelView(n);
            if (p.lamp == PortLamp::Failed && p.enable.checked && !lossTold_[n - 1]) {
                lossTold_[n - 1] = true;
                say_(portLabel(n) + ": device lost");
            }
        }
    });
}

void HeadlessSession::end() {
    core_.finishCollected();
    core_.shutDown();
}

}  // namespace lt
