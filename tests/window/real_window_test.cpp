// The window over the real serial backend: a missing device, and a whole relayed exchange
// between two pseudo-terminal pairs driven through the widgets.
#include <QDir>
#include <QFile>
#include <QLabel>

#include "engine/core.h"
#include "ports/linux/linux_serial_port.h"
#include "pty/pty_support.h"
#include "ui/file_record_sink.h"
#include "window_fixture.h"

namespace lt::test {
namespace {

class RealWindowTest : public ::testing::Test {
  protected:
    void SetUp() override {
        ASSERT_TRUE(home.isValid());
        ASSERT_TRUE(far1.ok() && far2.ok());
        host.env["ProgramFiles"] = home.path().toStdString();
        host.env["LINETAP_COM1"] = far1.slave;
        host.env["LINETAP_COM2"] = far2.slave;
        host.onMessage = [this](const std::string& text) { messages.push_back(text); };
    }
    void TearDown() override {
        window.reset();
        core.reset();
    }

    void start() {
        core = std::make_unique<Core>(host, comm1, comm2, records, QLocale(QLocale::C));
        window = std::make_unique<MainWindow>(*core);
        core->Form_Load();
        window->showState();
        window->show();
    }
    QWidget* find(const char* name) const {
        QWidget* w = window->findChild<QWidget*>(name);
        EXPECT_NE(w, nullptr) << name;
        return w;
    }
    void click(const char* name) const {
        QWidget* w = find(name);
        QTest::mouseClick(w, Qt::LeftButton, {}, QPoint(8, w->height() / 2));
    }
    QColor lampColour(const char* name) const {
        return window->findChild<RoundLamp*>(name)->shownColor();
    }

    QTemporaryDir home;
    pty::PtyPair far1, far2;
    pty::PtyHost host;
    LinuxSerialPort comm1{host, 1};
    LinuxSerialPort comm2{host, 2};
    FileRecordSink records;
    std::unique_ptr<Core> core;
    std::unique_ptr<MainWindow> window;
    std::vector<std::string> messages;
};

TEST_F(RealWindowTest, SwitchingOnAMissingDeviceTurnsTheLampRed) {
    host.env["LINETAP_COM1"] = home.path().toStdString() + "/no-such-device";
    start();
    click("Check10");
    EXPECT_EQ(core->form.Check[10].Value, 1);
    EXPECT_FALSE(comm1.PortOpen());
    EXPECT_EQ(lampColour("Shape1"), QColor(255, 0, 0));
    EXPECT_EQ(lampColour("Shape3"), QColor(224, 224, 224));
    EXPECT_TRUE(messages.empty());

    click("Check10");  // switched off again: the lamp goes to the scroll-bar grey
    EXPECT_EQ(lampColour("Shape1"), window->palette().color(QPalette::Mid));
}

TEST_F(RealWindowTest, RelayedExchangeIsShownRecordedAndPassedThrough) {
    start();
    for (const char* box : {"Check10", "Check11"}) click(box);
    ASSERT_TRUE(comm1.PortOpen());
    ASSERT_TRUE(comm2.PortOpen());
    EXPECT_EQ(lampColour("Shape1"), QColor(0, 192, 0));
    EXPECT_EQ(lampColour("Shape3"), QColor(0, 192, 0));
    for (const char* box : {"Check5", "Check6", "Check7", "Check8", "Check9", "Check12"})
        click(box);
    for (int n : {5, 6, 7, 8, 9, 12}) EXPECT_EQ(core->form.Check[n].Value, 1) << n;
    ASSERT_TRUE(records.IsOpen());
    click("Command1");
    ASSERT_EQ(core->Running, 1);

    // The controller asks through port 1; the device answers through port 2.
    const std::string request("REQ\x01\xC0", 5);
    const std::string answer("ANSWER\xFF", 7);
    far1.send(request);
    std::string atDevice, atController;
    ASSERT_TRUE(pty::runUntil([&] {
        atDevice += far2.drain();
        return atDevice.size() >= request.size();
    }));
    EXPECT_EQ(atDevice, request);
    far2.send(answer);
    ASSERT_TRUE(pty::runUntil([&] {
        atController += far1.drain();
        return atController.size() >= answer.size();
    }));
    EXPECT_EQ(atController, answer);

    // Both packets on the data screen, as text, with their lengths.
    auto* cell1 = window->findChild<QLineEdit*>("Text1_0");
    auto* cell2 = window->findChild<QLineEdit*>("Text3_1");
    ASSERT_TRUE(pty::runUntil([&] { return cell2->text().size() == 7; }));
    EXPECT_EQ(cell1->text(), QString::fromUtf8("REQ\u0001А"));
    EXPECT_EQ(cell2->text(), QString::fromUtf8("ANSWERя"));
    EXPECT_EQ(window->findChild<QLabel*>("Label3_0")->text(), "5");
    EXPECT_EQ(window->findChild<QLabel*>("Label7_1")->text(), "7");
    EXPECT_EQ(lampColour("Shape2_1"), QColor(255, 0, 0));

    click("Command2");
    EXPECT_EQ(core->Running, 0);

    // The record file in the record folder holds both packets in hexadecimal.
    const QDir folder(QString::fromStdString(core->Data_Path));
    const QStringList files = folder.entryList({"*.txt"}, QDir::Files);
    ASSERT_EQ(files.size(), 1);
    QFile file(folder.filePath(files[0]));
    ASSERT_TRUE(file.open(QIODevice::ReadOnly));
    const QByteArray text = file.readAll();
    EXPECT_TRUE(text.contains(" 52 45 51 01 C0")) << text.toStdString();
    EXPECT_TRUE(text.contains(" 41 4E 53 57 45 52 FF")) << text.toStdString();
    EXPECT_TRUE(messages.empty());

    // Closing the window closes both ports and the record file.
    window->close();
    EXPECT_FALSE(comm1.PortOpen());
    EXPECT_FALSE(comm2.PortOpen());
    EXPECT_FALSE(records.IsOpen());
}

}  // namespace
}  // namespace lt::test
