#pragma once

#include <QLocale>
#include <functional>
#include <optional>
#include <string>
#include <vector>

#include "base/host.h"
#include "base/version.h"
#include "capture/capture_channel.h"
#include "capture/line_relay.h"
#include "capture/poller.h"
#include "panels/data_screen.h"
#include "panels/port_panel.h"
#include "panels/run_control.h"
#include "panels/settings_panel.h"
#include "panels/view_model.h"
#include "record/capture_file.h"
#include "record/record_sink.h"
#include "record/recorder.h"
#include "serial/serial_port.h"
#include "settings/settings_store.h"

namespace lt {

// The whole program without its window. It takes what the user did as plain calls (intents) and
// publishes what to show as a view model; timers and serial ports reach it through the Host. The
// parts keep their own state; this class only spells out the orders that cross them: a finished
// packet (line relay, data relay, row, record), a poll tick, a change of the modem lines, Start
// and Stop. Everything runs on one thread, one event at a time.
class Core {
public:
    Core(Host& host, SerialPort& port1, SerialPort& port2, RecordSink& records,
         QLocale locale = QLocale::system());
    Core(const Core&) = delete;
    Core& operator=(const Core&) = delete;

    // What to show now.
    ViewModel view() const;
    // Called after every handler that the event loop ran (timer ticks, port events), so a front
    // end can show what changed; after an intent the front end looks itself. An intent that lets
    // the event loop run (switching a port on runs the RTS strobe's yields, a message box waits
    // for its click) may see such handlers, and their listeners, run before it returns. A
    // listener stays for the life of the core.
    void addChangeListener(std::function<void()> changed) {
        listeners_.push_back(std::move(changed));
    }

    // --- Start-up and shutdown ---------------------------------------------------------------
    // Runs once before the window is first shown: the title line, the settings, the fields.
    void load();
    // Serial devices found on the system, offered after "1".."12" in box 0 of both panels.
    void addPortEntries(const std::vector<std::string>& devices);
    // Closes the ports and the record file and stops every timer (the window closed).
    void shutDown();
    // "Выход": the same, then the program ends at once.
    void exit();

    // --- Port panels (port 1 or 2) -----------------------------------------------------------
    void switchPort(int port, bool on);
    // Port name and settings text for a port that is switched off (a front end's options);
    // false when the port refused a part of them.
    bool configurePort(int port, const std::string& name, const std::string& settings);
    void pickChoice(int port, Choice box, const std::string& text);
    void typeChoice(int port, Choice box, const std::string& text);
    void setRts(int port, bool on);
    void setDtr(int port, bool on);
    void setStrobe(int port, bool on);
    void setDataRelay(int port, bool on);
    void setLineRelay(int port, bool on);
    void setDisplayMode(int port, DisplayMode mode);
    // Whether settings a port refuses open the "Недопустимо" box; a front end that tells each
    // panel's refusal in its own words turns it off.
    void setRefusalBox(bool on);

    // --- Run panel ---------------------------------------------------------------------------
    void setAutoFraming(bool on);
    void setRecording(bool on);
    // "Также pcapng (Wireshark)": while ticked, "Запись" also writes a pcapng capture beside the
    // text record, opened and closed with it. Kept between runs.
    void setCaptureBesideRecord(bool on);
    // The same choice for this run only (a front end's options): the one kept between runs is
    // neither used nor written.
    void useCaptureBesideRecord(bool on) { store_.useCaptureBesideRecord(on); }
    // A pcapng capture to `path` (a file or a named pipe) for the whole run, whatever "Запись"
    // does (a front end's option). A named pipe never waits: its capture begins when its reader
    // opens it.
    bool openCaptureFile(const std::string& path);
    // The link type of the captures opened from now on, for this run only (a front end's option);
    // otherwise the one `linetap.ini` names.
    void useCaptureLink(CaptureLink link) { captureLink_ = link; }
    void typePollInterval(const std::string& text);
    void start();
    void stop();
    void applyPollInterval();
    // Finishes at once the packets being collected, with their rows, relays and records (a
    // front end stopping for good): the bytes that have arrived by now, not those that follow.
    void finishCollected();

    // --- Settings panel ----------------------------------------------------------------------
    void toggleSettings();
    void toggleFolderPicker();
    void typeSetting(SettingField field, const std::string& text);
    void chooseFolder(const std::string& path);
    void saveSettings();
    void closeSettings();
    // Values in force for this run only, not written to the settings file (a front end's
    // options, checked as "Сохранить" checks them).
    void useSettings(const Settings& s) { store_.use(s); }

    // --- What the capture holds, for front ends without a window and for tests ---------------
    const CaptureChannel& channel(int port) const { return port == 1 ? channel1_ : channel2_; }
    const Settings& settings() const { return store_.values(); }
    const DataScreen& screen() const { return screen_; }
    const PortPanelView& panelView(int port) const { return panel(port).view(); }
    bool running() const { return run_.running(); }
    bool recording() const { return recorder_.recording(); }
    // The platform services, for a front end's own timers.
    Host& host() const { return host_; }
    // Line errors of the port by kind, since the program started.
    const LineErrorCounts& lineErrors(int port) const { return lineErrors_[port - 1]; }
    Nanos monotonicNow() const { return host_.monotonicNow(); }

private:
    CaptureChannel& capture(int port) { return port == 1 ? channel1_ : channel2_; }
    PortPanel& panel(int port) { return port == 1 ? panel1_ : panel2_; }
    const PortPanel& panel(int port) const { return port == 1 ? panel1_ : panel2_; }

    void portEvent(int port);
    void finishPacket(int port, bool now);
    void pollTick();
    void lineChange(int port);
    void takeLineErrors(int port);
    void captureLineErrors(int port);
    void delayedRelay(int target);
    void relayData(int from, const std::string& bytes);
    void holdBacklog(bool stopped);
    void record(const std::string& data1, const std::string& data2);
    void capturePacket(int port);
    std::array<std::string, 2> deviceNames() const;
    CaptureLink captureLink() const;
    // The lines of the other port as a row shows them: only while it is switched on.
    std::optional<LineStates> shownLines(int port) const;

    bool bothSwitchedOn() const { return panel1_.switchedOn() && panel2_.switchedOn(); }
    bool framing() const { return run_.running() && run_.autoFraming(); }
    PauseRule pauseRule() const { return {store_.values().gapMs, run_.startedAt()}; }
    // Wraps a handler that the event loop runs, so the front end hears of what it changed.
    std::function<void()> dispatched(std::function<void()> handler);

    Host& host_;
    QLocale locale_;
    std::string title_ = productCaption();
    std::vector<std::function<void()>> listeners_;

    CaptureChannel channel1_, channel2_;
    Poller poller_;
    PortPanel panel1_, panel2_;
    LineRelay relay_;
    DataScreen screen_;
    Recorder recorder_;
    CaptureFile captureFile_;
    bool captureWithRecord_ = false;       // the capture file opened with the record file
    bool captureForRun_ = false;           // the capture file is the front end's, for the whole run
    std::array<bool, 2> relayDropTold_{};  // a port's dropped relayed packets told
    std::optional<CaptureLink> captureLink_;
    std::array<LineErrorCounts, kPorts> lineErrors_{};
    // Line errors not yet in the capture: those inside a packet being collected follow its block.
    std::array<std::vector<LineErrorReport>, kPorts> heldErrors_;
    RunControl run_;
    SettingsStore store_;
    SettingsPanel settingsPanel_;
};

}  // namespace lt
