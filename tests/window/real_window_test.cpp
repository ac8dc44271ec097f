// The window over the real serial backend: a missing device, then a whole relayed exchange
// between two pseudo-terminal pairs driven through the widgets.
#include <QDir>
#include <QFile>

#include "app/core.h"
#include "ports/linux/linux_serial_port.h"
#include "pty/pty_support.h"
#include "ui/file_record_sink.h"
#include "window_fixture.h"

namespace lt::test {
namespace {

TEST(RealWindow, MissingDeviceTurnsTheLampRedThenARelayedExchangeIsShownRecordedAndPassed) {
    QTemporaryDir home;
    PtyPair far1, far2;
    ASSERT_TRUE(home.isValid() && far1.ok() && far2.ok());
    pty::PtyHost host;
    host.env["ProgramFiles"] = home.path().toStdString();
    host.env["LINETAP_COM1"] = home.path().toStdString() + "/no-such-device";
    host.env["LINETAP_COM2"] = far2.slave;
    std::vector<std::string> messages;
    int quits = 0;
    host.onMessage = [&](const std::string& text) { messages.push_back(text); };
    host.onQuit = [&] { ++quits; };
    LinuxSerialPort comm1{host, 1}, comm2{host, 2};
    FileRecordSink records;
    Core core(host, comm1, comm2, records, QLocale(QLocale::C));
    MainWindow window(core);
    core.load();
    window.showState();
    window.show();
    auto click = [&](const char* name) {
        QWidget* w = window.findChild<QWidget*>(name);
        ASSERT_NE(w, nullptr) << name;
        test::click(w);
    };
    auto lamp = [&](const char* name) { return window.findChild<RoundLamp*>(name)->shownColor(); };

    click("port1.enable");  // "Включить порт" on a device that is not there
    EXPECT_FALSE(comm1.isOpen());
    EXPECT_EQ(lamp("port1.lamp"), kLampRed);
    EXPECT_EQ(lamp("port2.lamp"), kLampUnused);
    EXPECT_TRUE(messages.empty());
    click("port1.enable");  // switched off again: the lamp goes to the scroll-bar grey
    EXPECT_EQ(lamp("port1.lamp"), window.palette().color(QPalette::Mid));

    host.env["LINETAP_COM1"] = far1.slave;
    for (const char* box : {"port1.enable", "port2.enable"}) click(box);
    ASSERT_TRUE(comm1.isOpen() && comm2.isOpen());
    EXPECT_EQ(std::pair(lamp("port1.lamp"), lamp("port2.lamp")), std::pair(kLampGreen, kLampGreen));
    // Both relays of data and service lines, "Авт.", "Запись", then "Пуск".
    const char* boxes[] = {"port1.dataRelay", "port2.dataRelay", "port1.lineRelay",
                           "port2.lineRelay", "run.auto",        "run.record"};
    for (const char* box : boxes) click(box);
    ASSERT_TRUE(records.isOpen());
    click("run.start");
    ASSERT_TRUE(core.running());

    // The controller asks through port 1; the device answers through port 2.
    const std::string request("REQ\x01\xC0", 5), answer("ANSWER\xFF", 7);
    far1.send(request);
    ASSERT_TRUE(pty::runUntil([&] { return far2.drain(), far2.received.size() >= 5; }));
    EXPECT_EQ(far2.received, request);
    far2.send(answer);
    ASSERT_TRUE(pty::runUntil([&] { return far1.drain(), far1.received.size() >= 7; }));
    EXPECT_EQ(far1.received, answer);

    // Both packets on the data screen, as text, with their lengths.
    auto* cell1 = window.findChild<QLineEdit*>("screen.row0.port1.data");
    auto* cell2 = window.findChild<QLineEdit*>("screen.row1.port2.data");
    ASSERT_TRUE(pty::runUntil([&] { return cell2->text().size() == 7; }));
    EXPECT_EQ(cell1->text(), "REQ\u0001А");
    EXPECT_EQ(cell2->text(), "ANSWERя");
    click("run.stop");
    EXPECT_FALSE(core.running());

    // The record file in the record folder holds both packets in hexadecimal.
    const QDir folder(QString::fromStdString(core.settings().recordFolder));
    const QStringList files = folder.entryList({"*.txt"}, QDir::Files);
    ASSERT_EQ(files.size(), 1);
    QFile file(folder.filePath(files[0]));
    ASSERT_TRUE(file.open(QIODevice::ReadOnly));
    const QByteArray text = file.readAll();
    for (const char* hex : {" 52 45 51 01 C0\r\n", " 41 4E 53 57 45 52 FF\r\n"})
        EXPECT_TRUE(text.contains(hex)) << text.toStdString();
    EXPECT_TRUE(messages.empty());

    window.close();  // closing the window closes both ports and the record file
    EXPECT_FALSE(comm1.isOpen() || comm2.isOpen() || records.isOpen());
    EXPECT_EQ(quits, 0);
}

}  // namespace
}  // namespace lt::test
