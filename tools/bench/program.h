// The program under test in the bench's own process: the real core with the Linux serial ports,
// the Qt host, the record files and (optionally) the main window, set up through its handlers as
// a user would.
#pragma once

#include <QLocale>
#include <memory>
#include <string>
#include <vector>

#include "app/core.h"
#include "bench/devices.h"
#include "qt/qt_host.h"
#include "record/queued_records.h"
#include "serial/linux/linux_serial_port.h"
#include "window/main_window.h"

namespace bench {

// Port 1 of the next program opens cable `a`'s path, port 2 cable `b`'s.
void plugIn(const Cable& a, const Cable& b);

struct Program {
    lt::QtHost host;
    lt::LinuxSerialPort comm1{host, 1};
    lt::LinuxSerialPort comm2{host, 2};
    // Records written by a thread of their own, as in the program; notices come through the loop.
    lt::QueuedRecords records{true, -1, [this](const std::string& t) { host.notifyLater(t); }};
    lt::Core core{host, comm1, comm2, records, QLocale(QLocale::C)};
    std::unique_ptr<lt::MainWindow> window;
    std::vector<std::string> messages;
    std::vector<std::string> packets1;  // every packet port 1 framed, in order
    bool keepPackets = false;           // only in the framing runs: it is the bench's memory
    int lastRow = -1;
    long rows = 0;  // rows written to the data screen
    std::string lastData1;

    // Loads the settings, records into `recordDir` and cuts packets at a pause of 10 ms.
    Program(bool withWindow, const std::string& recordDir);

    void switchOn();
    void startAuto(bool relay, bool record);
    void stop();
};

}  // namespace bench
