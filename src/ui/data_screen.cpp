#include "engine/core.h"

namespace lt {

namespace {

void wipeRow(Form& f, int r) {
    f.Text1[r].clear();
    f.Text3[r].clear();
    f.Label3[r].clear();
    f.Label7[r].clear();
    for (auto* lamps : {&f.Shape4, &f.Shape5, &f.Shape6, &f.Shape7, &f.Shape8, &f.Shape9,
                        &f.Shape10, &f.Shape11, &f.Shape12, &f.Shape13})
        (*lamps)[r] = color::WindowBackground;
}

// The newest row's marker is red; the row written before it turns green.
void markRow(Form& f, int r) {
    f.Shape2[(r + kRows - 1) % kRows] = color::DarkGreen;
    f.Shape2[r] = color::Red;
}

// RTS and DTR (outputs) light red, DCD, DSR and CTS (inputs) green; only exactly -1 is on.
void showLamps(const Channel& c, int r) {
    const auto flags = c.flags();
    for (int i = 0; i < 5; ++i) {
        const std::uint32_t on = i < 2 ? color::Red : color::DarkGreen;
        (*c.Leds[i])[r] = flags[i] == kOn ? on : color::WindowBackground;
    }
}

}  // namespace

void Core::showData(Channel& c) {
    if (c.Mode != 0) {
        (*c.TextColumn)[Screen_Row] = c.Data;
        (*c.LengthColumn)[Screen_Row] = std::to_string(c.Data.size());
    } else {
        Decoder_Pacet(c);
        (*c.TextColumn)[Screen_Row] = c.View;
    }
}

void Core::advanceRow() {
    Screen_Row = static_cast<i16>((Screen_Row + 1) % kRows);
}

void Core::Screen_Packet_Row(Channel& c) {
    const int r = Screen_Row;
    wipeRow(form, r);
    markRow(form, r);
    showLamps(c, r);
    if (other(c).Open == 1) showLamps(other(c), r);
    showData(c);
    advanceRow();
}

void Core::Screen_Poll_Row() {
    const int r = Screen_Row;
    markRow(form, r);
    showLamps(port1, r);
    showLamps(port2, r);
    showData(port1);
    showData(port2);
    advanceRow();
}

void Core::Screen_Signal_Row(Channel& c) {
    const int r = Screen_Row;
    markRow(form, r);
    wipeRow(form, r);
    showLamps(c, r);
    if (other(c).Open == 1) showLamps(other(c), r);
    advanceRow();
}

void Core::Signals_Srav() {
    Signals_Same = 0;
    const auto a = port1.flags();
    const auto b = port2.flags();
    for (int i = 0; i < 5; ++i) {
        if (a[i] != Signals_Snapshot[i] || b[i] != Signals_Snapshot[5 + i]) return;
    }
    Signals_Same = 1;
}

void Core::Signals_Arh() {
    const auto a = port1.flags();
    const auto b = port2.flags();
    for (int i = 0; i < 5; ++i) {
        Signals_Snapshot[i] = a[i];
        Signals_Snapshot[5 + i] = b[i];
    }
}

}  // namespace lt
