#include "app/qt/headless_main.h"

#include <QCoreApplication>
#include <QLocale>
#include <cstdio>
#include <iostream>
#include <string>
#include <vector>

#include "app/core.h"
#include "app/headless/options.h"
#include "app/headless/session.h"
#include "app/qt/qt_host.h"
#include "app/qt/signal_watch.h"
#include "ports/linux/linux_serial_port.h"
#include "ui/file_record_sink.h"
#include "ui/print_record_sink.h"

namespace lt {

namespace {

// One line on standard error, as "linetap: ...".
void sayLine(const std::string& text) {
    std::string line = text;
    for (char& c : line)
        if (c == '\n') c = ' ';
    std::cerr << "linetap: " << line << std::endl;
}

}  // namespace

int headlessMain(int argc, char* argv[]) {
    const HeadlessCommand command =
        parseHeadlessOptions(std::vector<std::string>(argv + 1, argv + argc));
    if (std::holds_alternative<HelpRequest>(command)) {
        std::cout << headlessUsage() << "Without --headless, linetap opens its window.\n";
        return 0;
    }
    if (std::holds_alternative<VersionRequest>(command)) {
        std::cout << "linetap " << LINETAP_VERSION << '\n';
        return 0;
    }
    if (const auto* bad = std::get_if<OptionError>(&command)) {
        sayLine(bad->message + " (see linetap --help)");
        return HeadlessSession::kBadInput;
    }
    const HeadlessOptions& options = std::get<HeadlessOptions>(command);

    QCoreApplication app(argc, argv);
    QCoreApplication::setApplicationName("Linetap");
    QtHost host;
    host.onMessage = sayLine;
    host.onQuit = [] { QCoreApplication::exit(0); };
    LinuxSerialPort port1(host, 1);
    LinuxSerialPort port2(host, 2);
    FileRecordSink file;
    PrintRecordSink records(options.recordFolder.empty() ? nullptr : &file,
                            options.print ? stdout : nullptr);
    Core core(host, port1, port2, records, QLocale::system());
    core.load();

    HeadlessSession session(core, options, sayLine, &SignalWatch::signalled);
    // Watched from before the start, so a signal while starting (a pipe waiting for its reader)
    // stops as cleanly as one while running.
    SignalWatch stopOnSignal([&session](int) {
        session.end();
        QCoreApplication::exit(0);
    });
    const int status = session.begin();
    if (SignalWatch::signalled()) {
        session.end();
        return 0;
    }
    if (status != HeadlessSession::kRunning) {
        session.end();
        return status;
    }
    return app.exec();
}

}  // namespace lt
