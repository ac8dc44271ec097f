// Port panels: switching a port on and off, applying the picked line parameters, the lamp.
#include <optional>

#include "engine/core.h"
#include "ports/line_settings.h"

namespace lt {

namespace {

constexpr int kApplyDelayMs = 100;
constexpr const char* kRefused = "Недопустимо";

// The controls of a port panel that are usable only while the port is switched on.
void enablePanel(Core& core, Channel& c, bool on) {
    for (ComboBox& box : *c.Combo) box.Enabled = on;
    for (int n : {c.RtsBox, c.DtrBox, c.DataRelayBox, c.ServiceRelayBox, c.StrobeBox})
        core.form.Check[n].Enabled = on;
}

// Opens the port with what it holds, shows the outcome on the lamp and sets the output mode.
// A refused opening leaves the port closed with a red lamp; nothing else is said.
void openAndShow(Core& core, Channel& c) {
    tolerant([&] { c.Comm->setOpen(true); });
    if (c.Comm->isOpen()) {
        *c.Lamp = color::DarkGreen;
        core.RTS_Storb(c);
    } else {
        *c.Lamp = color::Red;
    }
}

// Box 1..4 joined as "baud,parity,data,stop".
std::string settingsText(const std::array<ComboBox, 5>& boxes) {
    return boxes[1].Text + "," + boxes[2].Text + "," + boxes[3].Text + "," + boxes[4].Text;
}

// Hands the port number of box 0 and the settings text of boxes 1..4 to the port, each on its
// own, as the port takes them. A text that is not a port, a number where one is expected, or a
// text the port refuses leaves the previous value of that part in force. Returns false when
// anything was refused.
bool applyChoice(Channel& c) {
    bool taken = true;
    if (const std::optional<PortName> name = parsePortName((*c.Combo)[0].Text)) {
        try {
            c.Comm->setPortName(*name);
        } catch (const PortError&) {
            taken = false;
        }
    } else {
        taken = false;
    }

    const std::string text = settingsText(*c.Combo);
    if (parseLineSettings(text)) {
        try {
            c.Comm->setLineSettings(text);
        } catch (const PortError&) {
            taken = false;
        }
    } else {
        taken = false;
    }
    return taken;
}

}  // namespace

void Core::Switch_Click(Channel& c) {
    if (form.Check[c.SwitchBox].Value == 1) {
        c.Open = 1;
        openAndShow(*this, c);
        // The strobe procedure lets other events run; a switch cleared meanwhile has already
        // put the panel to rest, and it stays so.
        if (c.Open != 1) return;
        enablePanel(*this, c, true);
        Read_Line_States(c);
    } else {
        c.Open = 0;
        c.closePort();
        enablePanel(*this, c, false);
        *c.Lamp = color::ScrollBar;
        Clear_Channel(c);
    }
}

void Core::Combo_Click(Channel& c, int) {
    // The lamp keeps its colour until the apply reopens the port.
    c.closePort();
    c.ApplyTimer->restart(kApplyDelayMs);
}

void Core::Apply_Settings(Channel& c) {
    // Stopped first: a pick made while the strobe procedure below lets events run restarts the
    // timer, and that apply must still come.
    c.ApplyTimer->setEnabled(false);
    // Switched off during the wait: nothing to reopen.
    if (c.Open != 1) return;
    // Switched off and on again during the wait: the port was reopened with the old choice.
    c.closePort();

    if (!applyChoice(c)) host.showMessage(kRefused);
    openAndShow(*this, c);
}

void Core::Port_Lost(Channel& c) {
    // The backend has closed the vanished device; the port counts as switched on but not open,
    // like one whose opening failed. A late report for a port switched off or reopened since
    // changes nothing.
    if (c.Open != 1 || c.Comm->isOpen()) return;
    *c.Lamp = color::Red;
}

}  // namespace lt
