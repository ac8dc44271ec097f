// Widget events reach the core's intents; the window shows what changed without calling back.
#include <QDir>
#include <QFileSystemModel>
#include <QMessageBox>
#include <QPushButton>
#include <QTimer>
#include <QTreeView>
#include <tuple>

#include "window_fixture.h"

namespace lt::test {
namespace {

TEST_F(WindowTest, ClicksRunTheirIntentsAndStateSetByTheProgramRunsNone) {
    load();
    // "Пуск" and "Стоп" swap the green; "ОК" applies an interval changed while running.
    const QColor face = find("run.panel")->palette().color(QPalette::Button);
    const auto colours = [&] {
        return std::pair(button("run.start")->palette().color(QPalette::Button),
                         button("run.stop")->palette().color(QPalette::Button));
    };
    click(button("run.start"));
    EXPECT_EQ(colours(), std::pair(kLitButton, face));
    type(field("run.pollInterval"), "250");
    ASSERT_FALSE(find("run.apply")->isHidden());
    click(find("run.apply"));
    EXPECT_TRUE(find("run.apply")->isHidden());
    click(button("run.stop"));
    EXPECT_EQ(colours(), std::pair(face, kLitButton));

    click(button("run.auto"));  // "Авт.": the polling interval is no longer used
    EXPECT_FALSE(field("run.pollInterval")->isEnabled());
    click(button("run.record"));  // "Запись" opens a record file
    EXPECT_TRUE(rig.records.opened);
    action("menu.pcapng")->trigger();  // "Также pcapng (Wireshark)"
    EXPECT_TRUE(rig.view().captureBesideRecord);

    // Ticks, options and list texts set by the program are shown without a click coming back.
    rig.core.setRecording(false);
    rig.core.switchPort(1, true);
    rig.core.setDisplayMode(1, DisplayMode::Hex);
    rig.core.typeChoice(1, Choice::Baud, "9600");
    window->showState();
    EXPECT_FALSE(button("run.record")->isChecked());
    EXPECT_EQ(states("", {"port1.hex", "port2.hex"}, &QAbstractButton::isChecked), "10");
    EXPECT_EQ(combo(1, Choice::Baud)->currentText(), "9600");
    rig.runMs(500);  // no pick came back: the port is not reopened with the typed rate
    EXPECT_EQ(rig.line1.opens, 1);
    EXPECT_EQ(rig.line1.lineSettings(), "1200,o,8,1");

    // An intent that refuses a tick puts the box back: the widget follows the view.
    rig.records.failOpen = true;
    click(button("run.record"));
    EXPECT_FALSE(button("run.record")->isChecked());
    EXPECT_EQ(rig.host.messages.size(), 1u);
}

TEST_F(WindowTest, SwitchingAPortOnEnablesItsPanelAndOnlyAPickFromTheListApplies) {
    load();
    click(button("port1.enable"));
    EXPECT_EQ(ticks(1, &QWidget::isEnabled) + ticks(2, &QWidget::isEnabled), "111111000001");
    EXPECT_EQ(ticks(1, &QAbstractButton::isChecked), "110001");

    // Typing changes the box's text and nothing else, Enter on a matching entry included.
    type(combo(1, Choice::Baud)->lineEdit(), "28800");
    EXPECT_EQ(rig.view().ports[0].panel.choices[int(Choice::Baud)].text, "28800");
    QTest::keyClick(combo(1, Choice::Baud)->lineEdit(), Qt::Key_Return);
    QTest::keyClick(combo(1, Choice::Baud)->lineEdit(), Qt::Key_Enter);
    rig.runMs(500);
    EXPECT_EQ(rig.line1.opens, 1);
    EXPECT_EQ(rig.line1.lineSettings(), "1200,o,8,1");
    for (const char* name : {"port1.rts", "port1.dtr"}) click(button(name));
    EXPECT_FALSE(rig.line1.rts() || rig.line1.dtr());
}

// A message box holds up its caller until closed while timers run; a notice does not wait.
TEST_F(WindowTest, AMessageBoxWaitsForItsOkWhileTheEventLoopRuns) {
    bool returned = false;
    QString shown;
    QTimer::singleShot(100, [&] {
        for (auto* box : window->findChildren<QMessageBox*>())
            if (box->isVisible()) {
                shown = box->text();
                EXPECT_FALSE(returned);
                box->button(QMessageBox::Ok)->click();
            }
    });
    window->showMessage("Недопустимо");
    returned = true;
    EXPECT_EQ(shown, "Недопустимо");

    window->notify("pcapng");
    QMessageBox* notice = nullptr;
    for (auto* box : window->findChildren<QMessageBox*>())
        if (box->text() == "pcapng") notice = box;
    ASSERT_TRUE(notice && notice->isVisible());
    notice->button(QMessageBox::Ok)->click();
}

void pollUntilNext(sim::Rig& rig, int row) {
    for (int ms = 0; ms < 70000 && rig.nextRow() != row; ++ms) rig.runMs(1);
    ASSERT_EQ(rig.nextRow(), row);
}

TEST_F(WindowTest, RowsLampsAndColoursOfTheViewAreShownAndUnchangedWidgetsLeftAlone) {
    load();
    for (const char* name : {"port1.enable", "port2.enable", "port2.hex"}) click(button(name));
    for (int port = 1; port <= 2; ++port) pick(port, Choice::Baud, "115200");
    rig.runMs(150);
    click(button("port2.rts"));
    rig.line2.peerSetRts(true);  // port 2's CTS
    type(field("run.pollInterval"), "5000");
    click(button("run.start"));

    // Row 0: a long packet on each port, shown whole (port 2's in hexadecimal).
    rig.line1.peerSend(std::string(40000, 'A') + "\xC0");
    rig.line2.peerSend(std::string(13000, 'B'));
    pollUntilNext(rig, 1);
    // Row 1: Cyrillic text on port 1, two bytes in hexadecimal on port 2.
    rig.line1.peerSend("\xC0\xE1\xE2 OK");
    rig.line2.peerSend("\x01\xFF");
    pollUntilNext(rig, 2);
    click(button("port1.enable"));  // port 1 switched off: its lamp goes grey
    window->showState();

    const auto shown = [&](int port) {
        return data(1, port)->text() + label(cell(1, port, "length"));
    };
    EXPECT_EQ(shown(1) + "|" + shown(2), "Абв OK6| 01 FF2");
    EXPECT_EQ(lamp("screen.row1.marker"), kLampRed);
    EXPECT_EQ(lamp("screen.row0.marker"), kLampGreen);
    const QColor base = window->palette().color(QPalette::Base);
    const std::pair<const char*, QColor> lamps[] = {{"rts", kLampRed}, {"dtr", kLampRed},
                                                    {"cts", base},     {"rts", base},
                                                    {"dtr", kLampRed}, {"cts", kLampGreen}};
    for (int i = 0; i < 6; ++i)
        EXPECT_EQ(lamp(cell(1, 1 + i / 3, lamps[i].first)), lamps[i].second) << i;
    EXPECT_EQ(lamp("port1.lamp"), window->palette().color(QPalette::Mid));
    ASSERT_EQ(data(0, 1)->text().size(), 40001);
    EXPECT_EQ(data(0, 1)->text().back(), QChar(0x0410));
    EXPECT_EQ(data(0, 1)->cursorPosition(), 0);  // the start of the packet in view
    EXPECT_EQ(data(0, 2)->text().size(), 3 * 13000);

    // Widgets whose state did not change are not set again (the cursor stays).
    data(0, 1)->setCursorPosition(5);
    window->showState();
    EXPECT_EQ(data(0, 1)->cursorPosition(), 5);
}

TEST_F(WindowTest, LineErrorsAreACountOnTheirPortsPanelAndLeaveTheRowsAlone) {
    load();
    click(button("port2.enable"));
    const unsigned rows = rig.rowsWritten();
    rig.line2.peerLineError(LineError::Framing, 2);
    rig.line2.peerLineError(LineError::Break);
    rig.runMs(1);
    window->showState();
    EXPECT_EQ(label("port1.errors") + ", " + label("port2.errors"), "Ошибки: 0, Ошибки: 3");
    EXPECT_EQ(find<QLabel>("port2.errors")->toolTip(),
              "Кадр: 2, чётность: 0, переполнение: 0, обрыв: 1");
    EXPECT_EQ(find<QLabel>("port2.errors")->palette().color(QPalette::WindowText), kLampRed);
    EXPECT_EQ(rig.rowsWritten(), rows);
}

TEST_F(WindowTest, ARowWrittenAgainReplacesWhatTheUserTypedInItsCells) {
    load();
    click(button("port1.enable"));
    click(button("run.start"));  // a row per poll: "AB" in row 0, nothing in row 1
    const auto round = [&] {
        pollUntilNext(rig, 0);
        rig.line1.peerSend("AB");
        pollUntilNext(rig, 2);
        window->showState();
        EXPECT_EQ(data(0, 1)->text(), "AB");
        EXPECT_EQ(data(1, 1)->text(), "");
    };
    round();
    for (int row : {0, 1}) type(data(row, 1), "typed");
    pollUntilNext(rig, 3);
    window->showState();
    EXPECT_EQ(data(0, 1)->text(), "typed");
    EXPECT_EQ(data(1, 1)->text(), "typed");
    round();
}

TEST_F(WindowTest, SettingsPanelShowsSavesAndPicksFolders) {
    load();
    QWidget* panel = find("settings.panel");
    FolderPicker* folders = picker();
    action("menu.settings")->trigger();
    ASSERT_FALSE(panel->isHidden());
    click(button("settings.browse"));  // "поиск" shows the drive and folder lists
    EXPECT_FALSE(folders->drive()->isHidden() || folders->dir()->isHidden());
    EXPECT_EQ(button("settings.browse")->text(), "закрыть");

    // "Выйти" hides the panel and the lists; the menu shows it again.
    click(button("settings.close"));
    EXPECT_TRUE(panel->isHidden() && folders->dir()->isHidden());
    action("menu.settings")->trigger();

    for (auto [name, value] :
         {std::pair("gap", "25"), {"pollInterval", "250"}, {"lineDelay", "40"}})
        type(field(QString("settings.") + name), value);
    click(button("settings.save"));
    const Settings& saved = rig.core.settings();
    EXPECT_EQ(std::tuple(saved.gapMs, saved.pollMs, saved.lineDelayMs), std::tuple(25, 250, 40));
    EXPECT_FALSE(panel->isHidden());

    // The folder list writes the chosen folder and refuses a vanished one.
    ASSERT_TRUE(QDir(home.path()).mkpath("data") && QDir(home.path()).mkpath("gone"));
    const QString folder = home.path() + "/data";
    QTreeView* tree = folders->dir();
    auto* model = qobject_cast<QFileSystemModel*>(tree->model());
    tree->setCurrentIndex(model->index(folder));  // as a click on the folder does
    EXPECT_EQ(field("settings.recordFolder")->text(), folder);
    const QModelIndex gone = model->index(home.path() + "/gone");
    ASSERT_TRUE(QDir(home.path() + "/gone").removeRecursively());
    tree->setCurrentIndex(gone);
    EXPECT_EQ(rig.view().settings.recordFolder, folder.toStdString());
    EXPECT_EQ(model->filePath(tree->currentIndex()), folder);
}

TEST_F(WindowTest, MissingDeviceTurnsTheLampRedAndClosingTheWindowClosesPortsAndRecord) {
    load();
    window->show();
    rig.line1.missing = true;
    click(button("port1.enable"));  // "Включить порт" on a device that is not there
    EXPECT_FALSE(rig.line1.isOpen());
    EXPECT_EQ(std::pair(lamp("port1.lamp"), lamp("port2.lamp")), std::pair(kLampRed, kLampUnused));
    click(button("port1.enable"));  // switched off again

    rig.line1.missing = false;
    for (const char* box : {"port1.enable", "port2.enable", "run.record"}) click(button(box));
    ASSERT_TRUE(rig.line1.isOpen() && rig.line2.isOpen() && rig.records.opened);
    EXPECT_EQ(lamp("port1.lamp"), kLampGreen);
    window->close();
    EXPECT_FALSE(rig.line1.isOpen() || rig.line2.isOpen() || rig.records.opened);
}

}  // namespace
}  // namespace lt::test
