#pragma once

#include "app/core.h"
#include "sim/sim_line.h"
#include "sim/test_host.h"

namespace lt::sim {

// The whole program without its window, on two simulated lines and a virtual clock.
struct Rig {
    VirtualLoop loop;
    TestHost host{loop};
    SimLine line1{loop, 1};
    SimLine line2{loop, 2};
    MemoryRecords records;
    Core core{host, line1, line2, records, QLocale(QLocale::C)};

    void runMs(double v) { loop.runFor(ms(v)); }

    // The peer of `line` starts sending `bytes` at virtual time `atMs`.
    void sendAt(SimLine& line, double atMs, const std::string& bytes) {
        loop.post(ms(atMs), [&line, bytes] { line.peerSend(bytes); });
    }

    // Both ports switched on, with the yields of their strobe run.
    void switchBothOn() {
        core.switchPort(1, true);
        core.switchPort(2, true);
    }
    // Started in automatic framing, as the user does it.
    void runAuto() {
        core.setAutoFraming(true);
        core.start();
    }
    // What the screen shows now.
    ViewModel view() const { return core.view(); }
    ScreenRow row(int r) const { return core.view().rows[r]; }
    // The row the next event fills.
    int nextRow() const { return core.screen().nextRow(); }
    // Rows written so far, a rewrite of a row counted again.
    unsigned rowsWritten() const {
        unsigned n = 0;
        for (const ScreenRow& r : core.screen().rows()) n += r.writes;
        return n;
    }
    // Whether `port` is between the first byte of a framed packet and its end.
    bool collecting(int port) const { return core.channel(port).collecting(); }
};

}  // namespace lt::sim
