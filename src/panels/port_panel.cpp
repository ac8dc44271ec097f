#include "panels/port_panel.h"

#include <optional>

#include "serial/line_settings.h"
#include "serial/tolerate.h"

namespace lt {

namespace {

constexpr const char* kRefused = "Недопустимо";

std::array<ChoiceBox, kChoices> initialChoices(int number) {
    std::vector<std::string> ports;
    for (int n = 1; n <= 12; ++n) ports.push_back(std::to_string(n));
    std::vector<std::string> bauds{"110",   "300",   "600",   "1200",  "2400",  "4800",  "9600",
                                   "14400", "19200", "28800", "38400", "57600", "115200"};
    // Port 2's list has no 14400.
    if (number == 2) std::erase(bauds, "14400");
    const LineSettings start;
    return {ChoiceBox{ports, std::to_string(number)}, ChoiceBox{bauds, std::to_string(start.Baud)},
            ChoiceBox{{"n", "e", "o", "s", "m"}, std::string(1, start.Parity)},
            ChoiceBox{{"5", "6", "7", "8"}, std::to_string(start.DataBits)},
            ChoiceBox{{"1", "2"}, std::to_string(start.StopBits)}};
}

}  // namespace

PortPanel::PortPanel(int number, SerialPort& port, Host& host)
    : port_(port), host_(host), applyTimer_(host.createTimer()) {
    view_.choices = initialChoices(number);
    applyTimer_->setInterval(kApplyDelayMs);
}

void PortPanel::addPortEntries(const std::vector<std::string>& devices) {
    auto& entries = view_.choices[0].entries;
    entries.insert(entries.end(), devices.begin(), devices.end());
}

// The controls of the panel that are usable only while the port is switched on.
void PortPanel::enableControls(bool on) {
    for (ChoiceBox& box : view_.choices) box.enabled = on;
    for (Toggle* t : {&view_.rts, &view_.dtr, &view_.dataRelay, &view_.lineRelay, &view_.strobe})
        t->enabled = on;
}

void PortPanel::closePort() {
    tolerate("close", [&] { port_.setOpen(false); });
}

// Opens the port with what it holds, shows the outcome on the lamp and sets the output mode.
// A refused opening leaves the port closed with a red lamp; nothing else is said.
void PortPanel::openAndShow() {
    view_.refusal.clear();
    bool settingsRefused = false;
    try {
        port_.setOpen(true);
    } catch (const SettingsRefused& e) {
        // Open, but the driver did not take the chosen settings: the previous ones stay in force.
        view_.refusal = e.what();
        settingsRefused = true;
    } catch (const PortError& e) {
        view_.refusal = e.what();
    }
    if (settingsRefused) {
        if (refusalBox_) host_.showMessage(kRefused);
        if (!port_.isOpen() || !switchedOn()) return;
    }
    if (port_.isOpen()) {
        view_.lamp = PortLamp::Open;
        strobe();
    } else {
        view_.lamp = PortLamp::Failed;
    }
}

bool PortPanel::switchOn() {
    view_.enable.checked = true;
    openAndShow();
    // The strobe lets other events run; a switch cleared meanwhile has already put the panel to
    // rest, and it stays so.
    if (!switchedOn()) return false;
    enableControls(true);
    return true;
}

void PortPanel::switchOff() {
    view_.enable.checked = false;
    closePort();
    enableControls(false);
    view_.lamp = PortLamp::Off;
}

void PortPanel::pick(Choice box, const std::string& text) {
    view_.choices[static_cast<int>(box)].text = text;
    // The lamp keeps its colour until the apply reopens the port. The first pick starts the wait;
    // a further pick within it is applied with it, not later.
    closePort();
    if (!applyTimer_->enabled()) applyTimer_->restart(kApplyDelayMs);
}

void PortPanel::type(Choice box, const std::string& text) {
    view_.choices[static_cast<int>(box)].text = text;
}

// Hands the port name of box 0 and the settings text of boxes 1..4 to the port, each on its own,
// as the port takes them. A text that is not a port, a number where one is expected, or a text
// the port refuses leaves the previous value of that part in force. Returns false when anything
// was refused.
bool PortPanel::takeChoices() {
    const auto& boxes = view_.choices;
    bool taken = true;
    if (const std::optional<PortName> name = parsePortName(boxes[0].text)) {
        try {
            port_.setPortName(*name);
        } catch (const PortError&) {
            taken = false;
        }
    } else {
        taken = false;
    }

    const std::string text =
        boxes[1].text + "," + boxes[2].text + "," + boxes[3].text + "," + boxes[4].text;
    if (parseLineSettings(text)) {
        try {
            port_.setLineSettings(text);
        } catch (const PortError&) {
            taken = false;
        }
    } else {
        taken = false;
    }
    return taken;
}

bool PortPanel::choose(const std::string& name, const std::string& settings) {
    view_.choices[0].text = name;
    std::size_t from = 0;
    for (int box = 1; box < kChoices; ++box) {
        const std::size_t comma = settings.find(',', from);
        view_.choices[box].text = settings.substr(from, comma - from);
        from = comma == std::string::npos ? settings.size() : comma + 1;
    }
    return takeChoices();
}

void PortPanel::apply() {
    // Stopped first: a pick made while the strobe below lets events run restarts the timer, and
    // that apply must still come.
    applyTimer_->setEnabled(false);
    // Switched off during the wait: nothing to reopen.
    if (!switchedOn()) return;
    // Switched off and on again during the wait: the port was reopened with the old choice.
    closePort();

    if (!takeChoices()) {
        if (refusalBox_) host_.showMessage(kRefused);
        // Switched off while the message was open: nothing to reopen; switched off and on again:
        // it was reopened with the old choice.
        if (!switchedOn()) return;
        closePort();
    }
    openAndShow();
}

void PortPanel::setRts(bool on) {
    if (view_.rts.checked == on) return;
    view_.rts.checked = on;
    tolerate("set RTS", [&] { port_.setRts(on); });
}

void PortPanel::setDtr(bool on) {
    if (view_.dtr.checked == on) return;
    view_.dtr.checked = on;
    tolerate("set DTR", [&] { port_.setDtr(on); });
}

void PortPanel::setStrobe(bool on) {
    if (view_.strobe.checked == on) return;
    view_.strobe.checked = on;
    strobe();
}

// Sets the port's output mode from its "RTS Strob" box: RTS in toggle mode (raised only while
// sending) or steadily on, DTR on in both. The event loop runs three times in between, so other
// handlers, the other port's strobe or apply among them, may run here; the comm state is this
// call's own, so a nested call never redirects this one.
void PortPanel::strobe() {
    if (!port_.isOpen()) return;
    CommState state;

    host_.processEvents();
    // Closed meanwhile (switched off, or a picked entry): the next opening sets the mode.
    if (!port_.isOpen()) return;
    readCommState(state);
    host_.processEvents();
    if (!port_.isOpen()) return;
    // The tick as it stands now: a click during the yields has run its own procedure already,
    // and this one must not undo it.
    writeCommState(state, view_.strobe.checked ? RtsControl::Toggle : RtsControl::Steady);
    host_.processEvents();
    if (!port_.isOpen()) return;

    if (view_.strobe.checked) {
        view_.rts.enabled = false;
    } else {
        view_.rts.enabled = true;
        setRts(true);
    }
    setDtr(true);
}

void PortPanel::readCommState(CommState& state) {
    if (const int code = port_.readCommState(state); code != 0)
        host_.showMessage("DCB Read Error:" + std::to_string(code));
}

void PortPanel::writeCommState(CommState& state, RtsControl rts) {
    state.rts = rts;
    if (const int code = port_.writeCommState(state); code != 0)
        host_.showMessage("DCB Write Error:" + std::to_string(code));
}

void PortPanel::handOutputsToRelay() {
    for (Toggle* t : {&view_.rts, &view_.dtr, &view_.strobe}) t->enabled = false;
}

void PortPanel::takeOutputsBack() {
    // A switched-off port keeps its panel disabled; switching it on enables it.
    if (switchedOn())
        for (Toggle* t : {&view_.rts, &view_.dtr, &view_.strobe}) t->enabled = true;
    tolerate("set RTS", [&] { port_.setRts(view_.rts.checked); });
    tolerate("set DTR", [&] { port_.setDtr(view_.dtr.checked); });
}

void PortPanel::portLost() {
    // A late report for a port switched off or reopened since changes nothing.
    if (!switchedOn() || port_.isOpen()) return;
    view_.lamp = PortLamp::Failed;
}

}  // namespace lt
