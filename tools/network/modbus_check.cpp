// A Modbus RTU exchange through Linetap, for checking network ports by hand or in a script.
//
//   linetap-modbus-check slave DEVICE
//     answers as unit 1 until killed.
//   linetap-modbus-check master DEVICE COUNT
//     COUNT transactions; prints the errors; status 1 on any.
//   linetap-modbus-check window DIR CYCLE
//     the window on LINETAP_COM1/LINETAP_COM2, switched on and relaying both ways by clicks on
//     its own boxes, recording into DIR. When the file CYCLE appears, it is removed and port 1
//     switched off and on. Port 1's lamp is printed whenever it changes.
#include <modbus.h>
#include <signal.h>

#include <QAbstractButton>
#include <QApplication>
#include <QTest>
#include <QTimer>
#include <chrono>
#include <cstdio>
#include <cstring>
#include <string>

#include "app/core.h"
#include "qt/qt_host.h"
#include "qt/signal_watch.h"
#include "record/queued_records.h"
#include "serial/linux/linux_serial_port.h"
#include "serial/named_port.h"
#include "serial/network/network_serial_port.h"
#include "window/main_window.h"
#include "window/round_lamp.h"

namespace {

modbus_t* rtu(const char* device) {
    modbus_t* ctx = modbus_new_rtu(device, 9600, 'N', 8, 1);
    if (!ctx || modbus_connect(ctx) != 0) {
        std::fprintf(stderr, "%s: %s\n", device, modbus_strerror(errno));
        std::exit(2);
    }
    modbus_set_slave(ctx, 1);
    return ctx;
}

int slave(const char* device) {
    modbus_t* ctx = rtu(device);
    modbus_mapping_t* map = modbus_mapping_new(0, 0, 100, 0);
    for (int i = 0; i < 100; ++i) map->tab_registers[i] = static_cast<uint16_t>(i * 257);
    uint8_t query[MODBUS_RTU_MAX_ADU_LENGTH];
    for (;;) {
        const int n = modbus_receive(ctx, query);
        if (n > 0) modbus_reply(ctx, query, n, map);
    }
}

int master(const char* device, int count) {
    modbus_t* ctx = rtu(device);
    modbus_set_response_timeout(ctx, 1, 0);
    int errors = 0;
    uint16_t regs[20];
    const auto start = std::chrono::steady_clock::now();
    for (int i = 0; i < count; ++i) {
        // Reads and writes in turn, of several lengths.
        const int n = 1 + i % 20;
        bool ok;
        if (i % 2 == 0) {
            ok = modbus_read_registers(ctx, i % 50, n, regs) == n;
            for (int k = 0; ok && k < n; ++k)
                ok = regs[k] == static_cast<uint16_t>((i % 50 + k) * 257);
        } else {
            ok = modbus_write_register(ctx, 80 + i % 20, static_cast<uint16_t>(i)) == 1;
        }
        if (!ok) {
            ++errors;
            std::fprintf(stderr, "transaction %d: %s\n", i, modbus_strerror(errno));
        }
    }
    const double s =
        std::chrono::duration<double>(std::chrono::steady_clock::now() - start).count();
    std::printf("%d transactions, %d errors, %.1f ms each\n", count, errors, 1000 * s / count);
    return errors == 0 ? 0 : 1;
}

int window(int argc, char* argv[], const char* recordDir, const char* cycleFile) {
    QApplication app(argc, argv);
    lt::QtHost host;
    lt::LinuxSerialPort local1(host, 1), local2(host, 2);
    lt::NetworkSerialPort network1(host, 1), network2(host, 2);
    lt::NamedPort comm1(host, local1, network1), comm2(host, local2, network2);
    lt::QueuedRecords records(true, -1, [&host](const std::string& t) { host.notifyLater(t); });
    lt::Core core(host, comm1, comm2, records, QLocale::system());
    lt::MainWindow window(core);
    host.onMessage = [](const std::string& text) { std::printf("message: %s\n", text.c_str()); };
    host.onNotify = host.onMessage;
    host.onQuit = [] { QCoreApplication::exit(0); };
    core.load();
    lt::Settings s = core.settings();
    s.recordFolder = std::string(recordDir) + "/";
    core.useSettings(s);
    window.showState();
    window.show();

    const auto button = [&](const char* name) { return window.findChild<QAbstractButton*>(name); };
    const auto click = [&](const char* name) {
        QAbstractButton* b = button(name);
        QTest::mouseClick(b, Qt::LeftButton, {}, QPoint(8, b->height() / 2));
    };
    for (const char* name : {"port1.enable", "port2.enable", "port1.dataRelay", "port2.dataRelay",
                             "run.auto", "run.record", "run.start"})
        click(name);

    // Port 1's lamp, told whenever it changes.
    auto* lamp = window.findChild<lt::RoundLamp*>("port1.lamp");
    QString shown;
    QTimer watch;
    QObject::connect(&watch, &QTimer::timeout, [&] {
        if (std::remove(cycleFile) == 0) {
            click("port1.enable");
            click("port1.enable");
        }
        const QString now = lamp->shownColor().name();
        if (now == shown) return;
        shown = now;
        std::printf("port 1 lamp %s\n", qPrintable(now));
        std::fflush(stdout);
    });
    watch.start(50);
    lt::SignalWatch stopOnSignal([&](int) { core.exit(); });
    return app.exec();
}

}  // namespace

int main(int argc, char* argv[]) {
    const std::string mode = argc > 1 ? argv[1] : "";
    if (mode == "slave" && argc == 3) return slave(argv[2]);
    if (mode == "master" && argc == 4) return master(argv[2], std::atoi(argv[3]));
    if (mode == "window" && argc == 4) return window(argc, argv, argv[2], argv[3]);
    std::fprintf(stderr,
                 "usage: linetap-modbus-check slave DEV | master DEV COUNT | window DIR CYCLE\n");
    return 2;
}
