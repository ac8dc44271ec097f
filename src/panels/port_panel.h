#pragma once

#include <array>
#include <functional>
#include <memory>
#include <string>
#include <vector>

#include "base/host.h"
#include "base/timer.h"
#include "panels/toggle.h"
#include "serial/serial_port.h"

namespace lt {

// The five choice boxes of a port panel, in their order on the panel.
enum class Choice { Port, Baud, Parity, DataBits, StopBits };
constexpr int kChoices = 5;

// An editable list: the entries to pick from and the text the box holds.
struct ChoiceBox {
    std::vector<std::string> entries;
    std::string text;
    bool enabled = false;
};

// What a port's lamp says: not used yet, open, refused (the opening failed or the device
// vanished), or switched off.
enum class PortLamp { Unused, Open, Failed, Off };

struct PortPanelView {
    std::array<ChoiceBox, kChoices> choices;
    PortLamp lamp = PortLamp::Unused;
    Toggle enable{false, true};  // "Включить порт"
    Toggle rts, dtr;             // outputs by hand
    Toggle dataRelay;  // "Трансляция данных": this port's packets go out of the other
    Toggle lineRelay;  // "Трансляция сервиса": this port's CTS/DSR drive the other's RTS/DTR
    Toggle strobe;        // "RTS Strob": RTS raised only while the port sends
    std::string refusal;  // why the last opening failed or its settings were refused
};

// One port panel: switching the port on and off, the line parameters picked in its boxes and
// applied a moment later, the lamp, the RTS and DTR outputs, and the RTS strobe.
class PortPanel {
public:
    static constexpr int kApplyDelayMs = 100;

    PortPanel(int number, SerialPort& port, Host& host);

    const PortPanelView& view() const { return view_; }
    bool switchedOn() const { return view_.enable.checked; }
    bool relaysData() const { return view_.dataRelay.checked; }
    bool relaysLines() const { return view_.lineRelay.checked; }

    // More entries for box 0, after "1".."12": serial devices found on the system.
    void addPortEntries(const std::vector<std::string>& devices);

    // Switching on opens the port with what it holds and sets its outputs; returns false when the
    // port was switched off again while the strobe let other events run.
    bool switchOn();
    void switchOff();

    // The port name and settings text chosen all at once, before switching on (a front end's
    // options): box 0 and boxes 1..4 take the texts, and the closed port takes them. Returns false
    // when the port refused a part, which keeps its previous value.
    bool choose(const std::string& name, const std::string& settings);

    // A list entry picked: the port closes, and the choices are applied a moment later.
    void pick(Choice box, const std::string& text);
    // Typed text: taken with the next pick.
    void type(Choice box, const std::string& text);
    // Applies the five choices and reopens the port (the apply timer's tick).
    void apply();
    void onApplyTick(std::function<void()> tick) { applyTimer_->onTick = std::move(tick); }
    void cancelApply() { applyTimer_->setEnabled(false); }

    void setRts(bool on);
    void setDtr(bool on);
    void setStrobe(bool on);
    void setDataRelay(bool on) { view_.dataRelay.checked = on; }
    void setLineRelay(bool on) { view_.lineRelay.checked = on; }

    // The other port's line relay takes this port's outputs, and gives them back to the boxes.
    void handOutputsToRelay();
    void takeOutputsBack();

    // Whether a refusal of the chosen settings opens the "Недопустимо" box (on by default); a
    // front end that tells view().refusal in its own words turns it off.
    void setRefusalBox(bool on) { refusalBox_ = on; }

    // The backend closed a vanished device: the port counts as switched on but not open.
    void portLost();
    // Closes the port if it is open, and drops what a vanished device left in it; a refusal
    // leaves it as it is.
    void closePort();

private:
    void enableControls(bool on);
    void openAndShow();
    bool takeChoices();
    void strobe();
    void readCommState(CommState& state);
    void writeCommState(CommState& state, RtsControl rts);

    SerialPort& port_;
    Host& host_;
    PortPanelView view_;
    std::unique_ptr<Timer> applyTimer_;
    bool refusalBox_ = true;
};

}  // namespace lt
