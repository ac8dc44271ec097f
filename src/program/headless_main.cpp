#include "program/headless_main.h"

#include <pthread.h>
#include <signal.h>

#include <QCoreApplication>
#include <QLocale>
#include <QTimer>
#include <atomic>
#include <chrono>
#include <cstdio>
#include <iostream>
#include <mutex>
#include <string>
#include <variant>
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
#include "serial/named_port.h"
#include "serial/network/network_serial_port.h"

namespace lt {

namespace {

// While the run goes, lines to standard error are written by a writer of their own, so a reader
// of standard error that stalls never holds up the relay; null before and after.
std::atomic<OutputWriter*> messages{nullptr};

// One line on standard error, as "linetap: ..."; from any thread (the outputs' writers tell
// theirs too), one whole line at a time. A closed standard error only costs the lines.
void sayLine(const std::string& text) {
    static std::mutex one;
    std::string line = "linetap: " + text;
    for (char& c : line)
        if (c == '\n') c = ' ';
    if (OutputWriter* writer = messages.load()) {
        writer->offer(line + '\n', 0);
        return;
    }
    std::lock_guard lock(one);
    std::cerr << line << std::endl;
}

// How long a stop may take from the signal: the packets being collected are finished and
// relayed, the ports drain, and the outputs get what their readers take by then.
constexpr auto kStopWithin = std::chrono::milliseconds(650);

// The options, help or version: a run's options, or the exit status of the program.
std::variant<HeadlessOptions, int> readCommand(int argc, char* argv[]) {
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
    return std::get<HeadlessOptions>(command);
}

// Whether a stop signal came while it was blocked.
bool stopPending() {
    sigset_t pending;
    ::sigpending(&pending);
    for (int sig : SignalWatch::kStops)
        if (::sigismember(&pending, sig) == 1) return true;
    return false;
}

// The run on the event loop, until a signal or a lost port (with --no-reconnect) ends it.
int run(const HeadlessOptions& options, QtHost& host, const sigset_t& before) {
    LinuxSerialPort local1(host, 1), local2(host, 2);
    NetworkSerialPort network1(host, 1), network2(host, 2);
    NamedPort port1(host, local1, network1);
    NamedPort port2(host, local2, network2);
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
    // A port lost without reconnecting ends the run with its own status, from the event loop.
    session.finished = [&session](int lostStatus) {
        QTimer::singleShot(0, [&session, lostStatus] {
            session.end();
            QCoreApplication::exit(lostStatus);
        });
    };
    SignalWatch stopOnSignal([&session](int) {
        OutputWriter::stopBy(std::chrono::steady_clock::now() + kStopWithin);
        session.end();
        QCoreApplication::exit(0);
    });
    ::pthread_sigmask(SIG_SETMASK, &before, nullptr);
    return QCoreApplication::exec();
}

}  // namespace

int headlessMain(int argc, char* argv[]) {
    const std::variant<HeadlessOptions, int> command = readCommand(argc, argv);
    if (const int* status = std::get_if<int>(&command)) return *status;

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

    OutputWriter::Options options;
    options.name = "standard error";
    options.pieces = "messages";
    OutputWriter writer(std::make_unique<DescriptorDestination>(STDERR_FILENO), std::move(options),
                        [](const std::string&) {});
    writer.start();
    messages = &writer;
    const int status = run(std::get<HeadlessOptions>(command), host, before);
    messages = nullptr;
    // The last lines (the totals of a stop) get a quarter second of their own, within the second
    // a stop may take.
    writer.finish(OutputWriter::Clock::now() + std::chrono::milliseconds(250));
    return status;
}

}  // namespace lt
