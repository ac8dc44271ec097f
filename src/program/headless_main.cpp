#include "program/headless_main.h"

#include <pthread.h>
#include <signal.h>

#include <QCoreApplication>
#include <QLocale>
#include <QTimer>
#include <cstdio>
#include <iostream>
#include <string>
#include <vector>

#include "app/core.h"
#include "base/version.h"
#include "headless/options.h"
#include "headless/session.h"
#include "qt/qt_host.h"
#include "qt/signal_watch.h"
#include "record/file_record_sink.h"
#include "record/print_record_sink.h"
#include "serial/linux/linux_serial_port.h"
#include "serial/named_port.h"
#include "serial/network/network_serial_port.h"

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
        std::cout << "linetap " << kVersion << '\n';
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
    LinuxSerialPort local1(host, 1), local2(host, 2);
    NetworkSerialPort network1(host, 1), network2(host, 2);
    NamedPort port1(host, local1, network1);
    NamedPort port2(host, local2, network2);
    FileRecordSink file;
    PrintRecordSink records(options.recordFolder.empty() ? nullptr : &file,
                            options.print ? stdout : nullptr);
    Core core(host, port1, port2, records, QLocale::system());
    core.load();

    // SIGINT and SIGTERM wait while the run starts (every thread started meanwhile keeps them
    // blocked too); a wait for a capture pipe's reader gives up when one is pending. Once the run
    // is going they stop it cleanly from the event loop, one that came while starting included.
    sigset_t stops, before;
    ::sigemptyset(&stops);
    ::sigaddset(&stops, SIGINT);
    ::sigaddset(&stops, SIGTERM);
    ::pthread_sigmask(SIG_BLOCK, &stops, &before);
    const auto stopPending = [] {
        sigset_t pending;
        ::sigpending(&pending);
        return ::sigismember(&pending, SIGINT) == 1 || ::sigismember(&pending, SIGTERM) == 1;
    };

    HeadlessSession session(core, options, sayLine, stopPending);
    const int status = session.begin();
    if (status != HeadlessSession::kRunning) {
        session.end();
        return stopPending() ? 0 : status;
    }
    // A port lost without reconnecting ends the run with its own status, from the event loop.
    session.finished = [&session](int lostStatus) {
        QTimer::singleShot(0, [&session, lostStatus] {
            session.end();
            QCoreApplication::exit(lostStatus);
        });
    };
    SignalWatch stopOnSignal([&session](int) {
        session.end();
        QCoreApplication::exit(0);
    });
    ::pthread_sigmask(SIG_SETMASK, &before, nullptr);
    return app.exec();
}

}  // namespace lt
