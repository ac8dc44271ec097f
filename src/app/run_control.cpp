#include <algorithm>
#include <optional>
#include <string>

#include "app/number_conversion.h"
#include "engine/core.h"

namespace lt {

namespace {

constexpr char kBadInterval[] = "Интервал должен быть целым числом";

// The poll period in Text2, or nothing (with the message shown) when the text is no whole
// number of milliseconds in 0..65535.
std::optional<int> pollInterval(Core& core) {
    const auto v = convertWholeNumber(core.form.Text2.Text, core.Locale, 0, 65535);
    if (!v) {
        core.host.showMessage(kBadInterval);
        return std::nullopt;
    }
    return static_cast<int>(*v);
}

void showRunning(Form& f, bool running) {
    f.Command1.BackColor = running ? color::BrightGreen : color::ButtonFace;
    f.Command2.BackColor = running ? color::ButtonFace : color::BrightGreen;
}

}  // namespace

void Core::Start_Capture() {
    form.Check[9].Enabled = false;
    Running = 1;
    // Bytes that waited in the ports while stopped belong to the first packet after this Start.
    Run_Started = host.monotonicNow();

    if (form.Check[9].Value != 1) {
        Screen_Row = 0;
        // A rejected interval leaves capture half started: running, but nothing is polled.
        const auto interval = pollInterval(*this);
        if (!interval) return;
        Timer1->setInterval(*interval);
        Timer1->setEnabled(true);
        Timer5->setEnabled(false);
        showRunning(form, true);
    } else {
        Timer1->setEnabled(false);
        Screen_Row = 0;
        showRunning(form, true);
    }
}

// Port 2's gap timer keeps running, so a packet it is gathering still gets its row and record.
// Port 1's unfinished packet stays in its receive buffer for the first packet after a new Start.
void Core::Stop_Capture() {
    form.Check[9].Enabled = true;
    Running = 0;
    Timer1->setEnabled(false);
    Timer5->setEnabled(false);
    form.Shape2[9] = color::DarkGreen;
    showRunning(form, false);
}

void Core::Apply_Interval() {
    form.Command7.Visible = false;
    const int remembered = std::max(0, Timer1->interval());
    if (const auto interval = pollInterval(*this)) {
        Timer1->setInterval(*interval);
        return;
    }
    Set_Text2(std::to_string(remembered));
}

void Core::Mode_Click() {
    form.Text2.Enabled = form.Check[9].Value != 1;
}

void Core::Set_Text2(const std::string& text) {
    form.Text2.Text = text;
    Text2_Change();
}

// A changed interval takes effect only through "ОК" or the next Start.
void Core::Text2_Change() {
    if (Running == 1) form.Command7.Visible = true;
}

}  // namespace lt
