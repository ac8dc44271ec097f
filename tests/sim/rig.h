#pragma once

#include "engine/core.h"
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

    // Opens a port directly, as a successful switching-on leaves it.
    void openDirect(Channel& c) {
        c.Comm->setOpen(true);
        c.Comm->setRts(true);
        c.Comm->setDtr(true);
        c.Open = 1;
    }
    // Started in automatic framing, as Start leaves it.
    void runAuto() {
        core.form.Check[9].Value = 1;
        core.Running = 1;
        core.Run_Started = loop.now();
    }
};

}  // namespace lt::sim
