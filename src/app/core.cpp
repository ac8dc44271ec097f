#include "app/core.h"

#include <algorithm>

#include "panels/title_line.h"
#include "serial/tolerate.h"

namespace lt {

Core::Core(Host& host, SerialPort& port1, SerialPort& port2, RecordSink& records, QLocale locale)
    : host_(host),
      locale_(std::move(locale)),
      channel1_(1, port1, host),
      channel2_(2, port2, host),
      poller_(host),
      panel1_(1, port1, host),
      panel2_(2, port2, host),
      relay_(host),
      recorder_(host, records, locale_),
      captureFile_(host),
      run_(host, locale_),
      store_(host),
      settingsPanel_(host, locale_) {
    for (int n : {1, 2}) {
        capture(n).onGapTick(dispatched([this, n] { finishPacket(n, false); }));
        panel(n).onApplyTick(dispatched([this, n] { panel(n).apply(); }));
        relay_.onDelayTick(n, dispatched([this, n] { delayedRelay(n); }));
        capture(n).port().onEvent = dispatched([this, n] { portEvent(n); });
    }
    poller_.onTick(dispatched([this] { pollTick(); }));
    holdBacklog(true);
}

// While capture is stopped a port keeps only what its receive buffer would hold, so a night of
// stale traffic is never relayed at the next Start; while it runs nothing is dropped.
void Core::holdBacklog(bool stopped) {
    for (int n : {1, 2})
        capture(n).port().limitBacklog(stopped ? CaptureChannel::kMaxPacket : SerialPort::kAll);
}

std::function<void()> Core::dispatched(std::function<void()> handler) {
    return [this, handler = std::move(handler)] {
        handler();
        for (const auto& listener : listeners_) listener();
    };
}

ViewModel Core::view() const {
    ViewModel v;
    v.title = title_;
    for (int n : {1, 2}) v.ports[n - 1] = {panel(n).view(), screen_.mode(n), lineErrors_[n - 1]};
    v.run = run_.view();
    v.recording = recorder_.recording();
    v.captureBesideRecord = store_.captureBesideRecord();
    v.settings = settingsPanel_.view();
    v.rows = screen_.rows();
    return v;
}

std::optional<LineStates> Core::shownLines(int port) const {
    if (!panel(port).switchedOn()) return std::nullopt;
    return channel(port).lines();
}

// --- Capture ---------------------------------------------------------------------------------

void Core::portEvent(int p) {
    const PortEvent event = capture(p).port().event();
    if (event == PortEvent::Lost) {
        panel(p).portLost();
        // What the device sent before it went may have raised no receive event yet, and now
        // never will.
        if (framing() && panel(p).switchedOn()) capture(p).received(pauseRule());
        return;
    }
    if (event == PortEvent::LineErrors) {
        takeLineErrors(p);
        return;
    }
    if (!framing()) return;
    const int q = otherPort(p);
    switch (event) {
        case PortEvent::Received:
            capture(p).received(pauseRule());
            break;
        case PortEvent::CtsChanged:
        case PortEvent::DsrChanged:
        case PortEvent::DcdChanged:
            // Line changes during a packet are seen only through its snapshot.
            if (!capture(p).collecting()) lineChange(p);
            break;
        case PortEvent::Sent:
            // P has sent what was relayed to it from Q: a moment later its outputs follow Q's
            // live inputs again.
            if (bothSwitchedOn() && panel(q).relaysData() && panel(q).relaysLines())
                relay_.restartDelay(p, std::max<int>(0, store_.values().lineDelayMs));
            break;
        default:
            break;
    }
}

// A finished packet: the relayed lines are set before the relayed data is handed over, then the
// row, then the record.
void Core::finishPacket(int p, bool now) {
    CaptureChannel& c = capture(p);
    // While stopped (port 2's last packet before Stop) the packet ends on its tick with what has
    // arrived by then; later bytes wait for the next Start.
    if (!c.takeFinishedPacket(now || !framing())) return;
    const int q = otherPort(p);

    if (bothSwitchedOn()) {
        if (panel(p).relaysLines())
            LineRelay::drive(capture(q).port(), c.lines().dsr, c.lines().cts);
        if (panel(p).relaysData()) relayData(p, c.packet());
    }
    screen_.packetRow(p, c.packet(), c.lines(), shownLines(q));
    if (!c.packet().empty() && recorder_.recording())
        record(p == 1 ? c.packet() : "", p == 2 ? c.packet() : "");
    capturePacket(p);
    c.release(pauseRule(), framing());
}

// One poll: both ports read, one row with both, the line relays, the data relays, one record.
void Core::pollTick() {
    for (int n : {1, 2}) {
        if (panel(n).switchedOn()) {
            capture(n).takeAll();
            capture(n).readLines();
        } else {
            capture(n).clear();
        }
    }
    const std::string& packet1 = channel1_.packet();
    const std::string& packet2 = channel2_.packet();
    screen_.pollRow(packet1, channel1_.lines(), packet2, channel2_.lines());

    if (panel1_.relaysLines()) LineRelay::follow(channel1_.port(), channel2_.port());
    if (panel2_.relaysLines()) LineRelay::follow(channel2_.port(), channel1_.port());

    if (bothSwitchedOn()) {
        if (panel1_.relaysData()) relayData(1, packet1);
        if (panel2_.relaysData()) relayData(2, packet2);
    }
    if ((!packet1.empty() || !packet2.empty()) && recorder_.recording()) record(packet1, packet2);
    capturePacket(1);
    capturePacket(2);
}

// A packet with bytes goes to the capture file, when one is open, with both ports' lines, and
// after it the line errors held while it was collected.
void Core::capturePacket(int port) {
    const CaptureChannel& c = channel(port);
    if (!c.packet().empty() && captureFile_.isOpen())
        captureFile_.write(port, c.packetStart(), c.packet(), channel1_.lines(), channel2_.lines());
    captureLineErrors(port);
}

// Line errors are counted whether or not capture runs. In the capture an error inside a packet
// being framed waits for that packet's block, so blocks stay in the order of their times; with no
// capture file nothing is held, and while stopped nothing waits for a packet.
void Core::takeLineErrors(int p) {
    for (const LineErrorReport& e : capture(p).port().takeLineErrors()) {
        lineErrors_[p - 1][static_cast<std::size_t>(e.kind)] += e.count;
        if (captureFile_.isOpen()) heldErrors_[p - 1].push_back(e);
    }
    if (!framing() || !capture(p).collecting()) captureLineErrors(p);
}

void Core::captureLineErrors(int p) {
    for (const LineErrorReport& e : heldErrors_[p - 1])
        captureFile_.lineError(p, e.at, e.kind, channel(p).lines(), e.count);
    heldErrors_[p - 1].clear();
}

// The devices the ports open, as the capture file names its interfaces.
std::array<std::string, 2> Core::deviceNames() const {
    std::array<std::string, 2> names;
    for (int n : {1, 2})
        names[n - 1] = channel(n).port().portName().device(
            [this](const std::string& v) { return host_.environment(v); });
    return names;
}

void Core::relayData(int from, const std::string& bytes) {
    if (bytes.empty()) return;
    const int to = otherPort(from);
    SerialPort& port = capture(to).port();
    tolerate("relay data", [&] { port.send(bytes); });
    // A device that takes nothing costs whole relayed packets beyond the port's bound: told once.
    if (port.sendsDropped() > 0 && !relayDropTold_[to - 1]) {
        relayDropTold_[to - 1] = true;
        host_.notify(port.portName().recordLabel() +
                     ": its device does not take bytes; relayed packets beyond the bytes waiting "
                     "for it are dropped (counted)");
    }
}

void Core::record(const std::string& data1, const std::string& data2) {
    const auto part = [](const CaptureChannel& c, const std::string& data) {
        return RecordPort{c.port().portName().recordLabel(), c.lines(), data};
    };
    recorder_.write(part(channel1_, data1), part(channel2_, data2));
}

// A change of P's modem lines between packets: relayed at once, and a row and a record when the
// ten lines differ from the last ones kept.
void Core::lineChange(int p) {
    CaptureChannel& c = capture(p);
    const int q = otherPort(p);
    c.readLines();
    if (bothSwitchedOn() && panel(p).relaysLines()) {
        LineRelay::drive(capture(q).port(), c.lines().dsr, c.lines().cts);
        capture(q).readOutputs();
    }
    if (screen_.linesChanged(channel1_.lines(), channel2_.lines())) {
        screen_.signalRow(p, c.lines(), shownLines(q));
        captureFile_.lineChange(p, host_.monotonicNow(), channel1_.lines(), channel2_.lines());
        if (recorder_.recording()) {
            // A record of the line states alone.
            channel1_.forgetPacket();
            channel2_.forgetPacket();
            record("", "");
        }
    }
    screen_.keepLines(channel1_.lines(), channel2_.lines());
}

// The delayed relay into `target`: its outputs follow the source's inputs as they are now.
void Core::delayedRelay(int target) {
    const int source = otherPort(target);
    const SerialPort& from = capture(source).port();
    SerialPort& to = capture(target).port();

    // Skipped when a port was switched off or closed during the delay (its inputs cannot be
    // read), or when the relay it belongs to has been switched off meanwhile, since the target's
    // outputs have gone back to its boxes.
    const bool due =
        bothSwitchedOn() && from.isOpen() && to.isOpen() && panel(source).relaysLines();
    const bool followed = due && LineRelay::follow(from, to, LineRelay::First::Rts);
    relay_.stopDelay(target);
    if (!followed) return;
    lineChange(target);
    lineChange(source);
}

// --- Port panels -----------------------------------------------------------------------------

void Core::switchPort(int port, bool on) {
    PortPanel& p = panel(port);
    if (p.switchedOn() == on) return;
    if (on) {
        if (p.switchOn()) capture(port).readLines();
    } else {
        p.switchOff();
        capture(port).clear();
    }
}

bool Core::configurePort(int port, const std::string& name, const std::string& settings) {
    return panel(port).choose(name, settings);
}

void Core::pickChoice(int port, Choice box, const std::string& text) {
    panel(port).pick(box, text);
}

void Core::typeChoice(int port, Choice box, const std::string& text) {
    panel(port).type(box, text);
}

// The outputs set by hand are what the port's RTS and DTR show from now on, in rows, records and
// capture comments alike.
void Core::setRts(int port, bool on) {
    panel(port).setRts(on);
    if (panel(port).switchedOn()) capture(port).readOutputs();
}

void Core::setDtr(int port, bool on) {
    panel(port).setDtr(on);
    if (panel(port).switchedOn()) capture(port).readOutputs();
}

void Core::setStrobe(int port, bool on) {
    panel(port).setStrobe(on);
}

// Read by the capture when it has a packet to relay.
void Core::setDataRelay(int port, bool on) {
    panel(port).setDataRelay(on);
}

// The other port's outputs are handed to the relay, which takes effect at the next relay moment,
// or given back to its boxes at once.
void Core::setLineRelay(int port, bool on) {
    PortPanel& source = panel(port);
    if (source.relaysLines() == on) return;
    source.setLineRelay(on);
    if (on)
        panel(otherPort(port)).handOutputsToRelay();
    else
        panel(otherPort(port)).takeOutputsBack();
}

void Core::setDisplayMode(int port, DisplayMode mode) {
    screen_.setMode(port, mode);
}

void Core::setRefusalBox(bool on) {
    for (int n : {1, 2}) panel(n).setRefusalBox(on);
}

// --- Run panel -------------------------------------------------------------------------------

void Core::setAutoFraming(bool on) {
    run_.setAutoFraming(on);
}

// A record file that cannot be created clears the box again.
void Core::setRecording(bool on) {
    if (recorder_.recording() == on) return;
    if (!on) {
        recorder_.stop();
        if (captureWithRecord_) {
            for (int n : {1, 2}) captureLineErrors(n);
            captureFile_.close();
        }
        captureWithRecord_ = false;
        return;
    }
    if (!recorder_.start(store_.values().recordFolder) || captureForRun_ ||
        !store_.captureBesideRecord())
        return;
    // A capture file that cannot be created is told and its tick cleared; the text record goes on.
    captureWithRecord_ =
        captureFile_.open(captureFileBeside(recorder_.path()), deviceNames(), captureLink());
    if (!captureWithRecord_) store_.setCaptureBesideRecord(false);
}

void Core::setCaptureBesideRecord(bool on) {
    store_.setCaptureBesideRecord(on);
}

bool Core::openCaptureFile(const std::string& path) {
    captureWithRecord_ = false;
    captureForRun_ = captureFile_.open(path, deviceNames(), captureLink());
    return captureForRun_;
}

CaptureLink Core::captureLink() const {
    if (captureLink_) return *captureLink_;
    return store_.captureBare() ? CaptureLink::Bare : CaptureLink::RtacSerial;
}

void Core::typePollInterval(const std::string& text) {
    run_.typePollInterval(text);
}

void Core::start() {
    run_.beginStart();
    holdBacklog(false);
    screen_.restart();
    if (run_.autoFraming()) {
        poller_.stop();
        run_.showRunning(true);
        // Bytes that waited join the first packet after Start, with its first receive event; a
        // device that vanished meanwhile raises none, so what it left is framed now.
        for (int n : {1, 2})
            if (panel(n).switchedOn() && !capture(n).port().isOpen())
                capture(n).received(pauseRule());
        return;
    }
    // A refused period leaves capture half started: running, but nothing is polled.
    const auto interval = run_.pollInterval();
    if (!interval) return;
    poller_.start(*interval);
    channel1_.cancelGapTimer();
    run_.showRunning(true);
}

// Port 2's gap timer keeps running, so a packet it is gathering still gets its row and record.
// Port 1's unfinished packet stays in its receive buffer for the first packet after a new Start.
void Core::stop() {
    run_.stop();
    holdBacklog(true);
    poller_.stop();
    channel1_.cancelGapTimer();
    screen_.markStopped();
}

void Core::finishCollected() {
    // Bytes past a pause in the packet begin the next one, which is finished in turn; only the
    // bytes there are now, so a stream that goes on is not followed.
    for (int n : {1, 2}) {
        CaptureChannel& c = capture(n);
        std::size_t left = c.port().isOpen() ? c.port().bytesWaiting() : 0;
        while (c.collecting()) {
            finishPacket(n, true);
            const std::size_t taken = c.packet().size();
            if (taken == 0 || taken >= left) break;
            left -= taken;
        }
    }
}

void Core::applyPollInterval() {
    run_.hideApply();
    const int kept = std::max(0, poller_.interval());
    if (const auto interval = run_.pollInterval()) {
        poller_.setInterval(*interval);
        return;
    }
    run_.typePollInterval(std::to_string(kept));
}

// --- Settings panel --------------------------------------------------------------------------

void Core::toggleSettings() {
    settingsPanel_.toggle(store_.values());
}

void Core::toggleFolderPicker() {
    settingsPanel_.togglePicker();
}

void Core::typeSetting(SettingField field, const std::string& text) {
    settingsPanel_.type(field, text);
}

void Core::chooseFolder(const std::string& path) {
    settingsPanel_.chooseFolder(path);
}

void Core::saveSettings() {
    settingsPanel_.save(store_);
}

void Core::closeSettings() {
    settingsPanel_.close();
}

// --- Start-up and shutdown -------------------------------------------------------------------

void Core::load() {
    for (int n : {1, 2}) screen_.setMode(n, DisplayMode::Text);
    title_ = titleLine(locale_, host_.currentDateTime().date());
    store_.load();
    settingsPanel_.fill(store_.values());
    run_.typePollInterval(std::to_string(store_.values().pollMs));
}

void Core::addPortEntries(const std::vector<std::string>& devices) {
    panel1_.addPortEntries(devices);
    panel2_.addPortEntries(devices);
}

// The ports close, port 1 first, and the record file. Timers stop too, so nothing that was
// already queued writes a row, a record or a relay after.
void Core::shutDown() {
    for (int n : {1, 2})
        if (const std::uint64_t dropped = capture(n).port().sendsDropped(); relayDropTold_[n - 1]) {
            relayDropTold_[n - 1] = false;
            host_.notify(capture(n).port().portName().recordLabel() + ": " +
                         std::to_string(dropped) +
                         " relayed packets dropped in all (its device did not take them)");
        }
    // Switched off, not only closed: an apply or a strobe still running under a message box or a
    // yield then finds the port off and never opens it again after the end.
    panel1_.switchOff();
    panel2_.switchOff();
    poller_.stop();
    for (int n : {1, 2}) {
        capture(n).cancelGapTimer();
        panel(n).cancelApply();
        relay_.stopDelay(n);
    }
    run_.stop();
    recorder_.stop();
    for (int n : {1, 2}) captureLineErrors(n);
    captureFile_.close();
}

void Core::exit() {
    shutDown();
    host_.quit();
}

}  // namespace lt
