#include "program/headless_main.h"

#include <pthread.h>
#include <signal.h>

#include <QCoreApplication>
#include <QLocale>
#include <chrono>
#include <cstdio>
#include <iostream>
#include <mutex>
#include <string>
#include <vector>

#include "app/core.h"
#include "base/version.h"
#include "headless/options.h"
#include "headless/session.h"
#include "qt/qt_host.h"
#include "qt/signal_watch.h"
#include "record/output_writer.h"
#include "record/queued_records.h"
#include "serial/linux/linux_serial_port.h"

namespace lt {

namespace {

// One line on standard error, as "linetap: ..."; from any thread (the outputs' writers tell
// theirs too), one whole line at a time. A closed standard error only costs the lines.
void sayLine(const std::string& text) {
    static std::mutex one;
    std::string line = "linetap: " + text;
    for (char& c : line)
        if (c == '\n') c = ' ';
    std::lock_guard lock(one);
    std::cerr << line << std::endl;
}

// How long a stop may take from the signal: the packets being collected are finished and
// relayed, the ports drain, and the outputs get what their readers take by then.
constexpr auto kStopWithin = std::chrono::milliseconds(650);

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
    host.onAnyThread = sayLine;
    host.onQuit = [] { QCoreApplication::exit(0); };

    // SIGINT, SIGTERM and SIGHUP wait while the run starts (every thread started meanwhile keeps
    // them blocked too). Once the run is going they stop it cleanly from the event loop, one that
    // came while starting included.
    sigset_t stops, before;
    ::sigemptyset(&stops);
    for (int sig : SignalWatch::kStops) ::sigaddset(&stops, sig);
    ::pthread_sigmask(SIG_BLOCK, &stops, &before);
    const auto stopPending = [] {
        sigset_t pending;
        ::sigpending(&pending);
        for (int sig : SignalWatch::kStops)
            if (::sigismember(&pending, sig) == 1) return true;
        return false;
    };

    LinuxSerialPort port1(host, 1);
    LinuxSerialPort port2(host, 2);
    QueuedRecords records(!options.recordFolder.empty(), options.print ? STDOUT_FILENO : -1,
                          sayLine);
    Core core(host, port1, port2, records, QLocale::system());
    core.load();

    HeadlessSession session(core, options, sayLine);
    const int status = session.begin();
    if (status != HeadlessSession::kRunning) {
        OutputWriter::stopBy(std::chrono::steady_clock::now() + kStopWithin);
        session.end();
        return stopPending() ? 0 : status;
    }
    SignalWatch stopOnSignal([&session](int) {
        OutputWriter::stopBy(std::chrono::steady_clock::now() + kStopWithin);
        session.end();
        QCoreApplication::exit(0);
    });
    ::pthread_sigmask(SIG_SETMASK, &before, nullptr);
    return app.exec();
}

}  // namespace lt
