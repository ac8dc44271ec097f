#include "bench/program.h"

#include <cstdlib>

namespace bench {

void plugIn(const Cable& a, const Cable& b) {
    ::setenv("LINETAP_COM1", a.path.c_str(), 1);
    ::setenv("LINETAP_COM2", b.path.c_str(), 1);
}

Program::Program(bool withWindow, const std::string& recordDir) {
    host.onMessage = [this](const std::string& m) { messages.push_back(m); };
    core.load();
    if (withWindow) {
        window = std::make_unique<lt::MainWindow>(core);
        window->show();
    }
    // Every row written shows up as a move of the screen's next row; port 1's packet is then
    // the one its channel holds.
    core.addChangeListener([this] {
        const int next = core.screen().nextRow();
        if (next != lastRow) {
            rows += (next - lastRow + lt::DataScreen::kRows) % lt::DataScreen::kRows;
            lastRow = next;
            const std::string& packet = core.channel(1).packet();
            if (keepPackets && packet != lastData1 && !packet.empty()) packets1.push_back(packet);
            lastData1 = packet;
        }
    });
    lt::Settings settings = core.settings();
    settings.recordFolder = recordDir + "/";
    settings.gapMs = 10;
    core.useSettings(settings);
}

void Program::switchOn() {
    core.switchPort(1, true);
    core.switchPort(2, true);
    runFor(50);
}

void Program::startAuto(bool relay, bool record) {
    if (relay) {
        core.setDataRelay(1, true);
        core.setDataRelay(2, true);
    }
    core.setAutoFraming(true);
    core.start();
    if (record) core.setRecording(true);
    runFor(20);
}

void Program::stop() {
    core.setRecording(false);
    core.stop();
    core.switchPort(1, false);
    core.switchPort(2, false);
    runFor(20);
}

}  // namespace bench
