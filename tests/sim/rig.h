#pragma once

#include "app/core.h"
#include "sim/sim_line.h"
#include "sim/test_host.h"

namespace lt::sim {

// Our RTS and DTR as the peer of `line` sees them: "RD", "R-", "-D" or "--".
inline std::string peerSees(const SimLine& line) {
    return std::string(line.peerSeesRts() ? "R" : "-") + (line.peerSeesDtr() ? "D" : "-");
}

// The whole program without its window, on two simulated lines and a virtual clock.
struct Rig {
    VirtualLoop loop;
    TestHost host{loop};
    SimLine line1{loop, 1};
    SimLine line2{loop, 2};
    MemoryRecords records;
    Core core{host, line1, line2, records, QLocale(QLocale::C)};

    void runMs(double v) { loop.runFor(ms(v)); }

    void sendAt(SimLine& line, double atMs, const std::string& bytes) {
        loop.post(ms(atMs), [&line, bytes] { line.peerSend(bytes); });
    }

    void switchBothOn() {
        for (int n : {1, 2}) core.switchPort(n, true);
    }
    void runAuto() {
        core.setAutoFraming(true);
        core.start();
    }
    ViewModel view() const { return core.view(); }
    ScreenRow row(int r) const { return core.view().rows[r]; }
    // A row's cells as "port 1 bytes|length|port 2 bytes|length".
    std::string cells(int r) const {
        const ScreenRow s = row(r);
        return s.ports[0].bytes + "|" + s.ports[0].length + "|" + s.ports[1].bytes + "|" +
               s.ports[1].length;
    }
    // Rows `first` to `last` as above, with a space between rows.
    std::string cells(int first, int last) const {
        return first < last ? cells(first) + " " + cells(first + 1, last) : cells(first);
    }
    int nextRow() const { return core.screen().nextRow(); }
    // Rows written so far, a rewrite of a row counted again.
    unsigned rowsWritten() const {
        unsigned n = 0;
        for (const ScreenRow& r : core.screen().rows()) n += r.writes;
        return n;
    }

    void runPolling(int periodMs) {
        core.setAutoFraming(false);
        core.typePollInterval(std::to_string(periodMs));
        core.start();
    }
    const CaptureChannel& channel(int port) const { return core.channel(port); }
    PortPanelView panel(int port) const { return core.view().ports[port - 1].panel; }
    // The pause and the line delay in force from now on, as a saved settings panel sets them.
    void useIntervals(int gapMs, int lineDelayMs) {
        Settings s = core.settings();
        s.gapMs = static_cast<i16>(gapMs);
        s.lineDelayMs = static_cast<i16>(lineDelayMs);
        core.useSettings(s);
    }
};

}  // namespace lt::sim
