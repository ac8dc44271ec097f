#include <QApplication>
#include <QLocale>
#include <chrono>

#include "app/core.h"
#include "qt/qt_host.h"
#include "record/output_writer.h"
#include "record/queued_records.h"
#include "serial/linux/linux_serial_port.h"
#include "serial/linux/port_discovery.h"
#include "window/main_window.h"

#include "qt/signal_watch.h"

// The window's entry, in a module of its own so that a run without a window never loads the GUI
// libraries.
extern "C" __attribute__((visibility("default"))) int linetapWindowMain(int argc, char* argv[]) {
    QApplication app(argc, argv);
    QApplication::setApplicationName("Linetap");
    QApplication::setDesktopFileName("linetap");

    lt::QtHost host;
    lt::LinuxSerialPort comm1(host, 1);
    lt::LinuxSerialPort comm2(host, 2);
    // Records are written by a thread of their own; its notices reach the window through the
    // event loop.
    lt::QueuedRecords records(true, -1,
                              [&host](const std::string& text) { host.notifyLater(text); });
    lt::Core core(host, comm1, comm2, records, QLocale::system());
    core.addPortEntries(lt::availableSerialDevices());

    lt::MainWindow window(core);
    // A message box holds up the handler that asked for it until it is closed; timers and port
    // events run meanwhile.
    host.onMessage = [&window](const std::string& text) { window.showMessage(text); };
    // A notice from the middle of a packet's handling opens without waiting.
    host.onNotify = [&window](const std::string& text) { window.notify(text); };
    // "Выход" ends the program at once: nothing queued runs after it.
    host.onQuit = [] { QCoreApplication::exit(0); };
    // SIGINT, SIGTERM and SIGHUP close the window as "Выход" does: the ports are closed, and what
    // the program changed on them is put back.
    lt::SignalWatch stopOnSignal([&core](int) {
        lt::OutputWriter::stopBy(std::chrono::steady_clock::now() + std::chrono::milliseconds(650));
        core.exit();
    });

    core.load();
    window.showState();
    window.show();
    return app.exec();
}
