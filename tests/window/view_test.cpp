// The view in use: widget events reach the core's intents, and the window shows what the intents
// and the event loop changed, without calling back into the core.
#include <QDir>
#include <QFileSystemModel>
#include <QMessageBox>
#include <QPushButton>
#include <QTimer>
#include <QTreeView>

#include "ui/window/code_page.h"
#include "window_fixture.h"

namespace lt::test {
namespace {

TEST_F(WindowTest, ClicksRunTheirIntentsAndStateSetByTheProgramRunsNone) {
    load();
    click(button("run.auto"));  // "Авт.": the polling interval is no longer used
    EXPECT_TRUE(rig.view().run.autoFraming.checked);
    EXPECT_FALSE(field("run.pollInterval")->isEnabled());
    click(button("run.auto"));
    EXPECT_FALSE(rig.view().run.autoFraming.checked);
    EXPECT_TRUE(field("run.pollInterval")->isEnabled());
    click(button("run.record"));  // "Запись" opens a record file
    EXPECT_TRUE(rig.records.opened);
    click(button("run.record"));
    EXPECT_FALSE(rig.records.opened);
    ASSERT_EQ(rig.records.opens, 1);

    // Ticks, options and list texts set by the program are shown without a click coming back.
    rig.core.setRecording(true);
    rig.core.switchPort(1, true);
    rig.core.setDisplayMode(1, DisplayMode::Hex);
    rig.core.typeChoice(1, Choice::Baud, "9600");
    const int opens = rig.line1.opens;
    const std::string settings = rig.line1.lineSettings();
    window->showState();
    EXPECT_TRUE(button("run.record")->isChecked());
    EXPECT_TRUE(button("port1.dataRelay")->isEnabled());
    EXPECT_TRUE(button("port1.hex")->isChecked());
    EXPECT_FALSE(button("port1.text")->isChecked());
    EXPECT_EQ(combo(1, Choice::Baud)->currentText(), "9600");
    action("menu.pcapng")->trigger();  // "Также pcapng (Wireshark)"
    EXPECT_TRUE(rig.view().captureBesideRecord);
    EXPECT_TRUE(action("menu.pcapng")->isChecked());
    EXPECT_EQ(rig.view().ports[0].mode, DisplayMode::Hex);
    rig.runMs(500);  // no pick came back: the port is not reopened with the typed rate
    EXPECT_EQ(rig.line1.opens, opens);
    EXPECT_EQ(rig.line1.lineSettings(), settings);

    // An intent that refuses a tick puts the box back: the widget follows the view.
    rig.records.failOpen = true;
    rig.core.setRecording(false);
    window->showState();
    click(button("run.record"));
    EXPECT_FALSE(rig.core.recording());
    EXPECT_FALSE(button("run.record")->isChecked());
    EXPECT_EQ(rig.host.messages.size(), 1u);
}

TEST_F(WindowTest, SwitchingAPortOnEnablesItsPanelAndAPickedBaudRateIsApplied) {
    load();
    click(button("port1.enable"));
    EXPECT_TRUE(rig.line1.isOpen());
    EXPECT_FALSE(rig.line2.isOpen());
    EXPECT_EQ(lamp("port1.lamp"), kLampGreen);
    EXPECT_EQ(lamp("port2.lamp"), kLampUnused);
    for (int box = 0; box < kChoices; ++box) {
        EXPECT_TRUE(combo(1, Choice(box))->isEnabled());
        EXPECT_FALSE(combo(2, Choice(box))->isEnabled());
    }
    // Port 1's boxes become usable, port 2's stay as they were; opening ticks RTS and DTR.
    EXPECT_EQ(ticks(1, &QWidget::isEnabled), "111111");
    EXPECT_EQ(ticks(2, &QWidget::isEnabled), "000001");
    EXPECT_EQ(ticks(1, &QAbstractButton::isChecked), "110001");
    EXPECT_TRUE(rig.line1.rts() && rig.line1.dtr());

    // Typing changes the box's text and nothing else, Enter on a text that matches an entry
    // included: only a pick applies.
    const std::string settings = rig.line1.lineSettings();
    type(combo(1, Choice::Baud)->lineEdit(), "28800");
    EXPECT_EQ(rig.view().ports[0].panel.choices[int(Choice::Baud)].text, "28800");
    QTest::keyClick(combo(1, Choice::Baud)->lineEdit(), Qt::Key_Return);
    QTest::keyClick(combo(1, Choice::Baud)->lineEdit(), Qt::Key_Enter);
    rig.runMs(500);
    EXPECT_TRUE(rig.line1.isOpen());
    EXPECT_EQ(rig.line1.opens, 1);
    EXPECT_EQ(rig.line1.lineSettings(), settings);
    // A pick from the list closes the port and applies the choices a moment later.
    pick(1, Choice::Baud, "14400");
    EXPECT_EQ(rig.view().ports[0].panel.choices[int(Choice::Baud)].text, "14400");
    EXPECT_FALSE(rig.line1.isOpen());
    rig.runMs(150);
    EXPECT_TRUE(rig.line1.isOpen());
    EXPECT_EQ(rig.line1.lineSettings(), "14400,o,8,1");
    EXPECT_TRUE(rig.host.messages.empty());

    // The ticks drive the port's outputs.
    for (const char* name : {"port1.rts", "port1.dtr"}) click(button(name));
    EXPECT_FALSE(rig.line1.rts() || rig.line1.dtr());
}

// A message box holds up the handler that asked for it until it is closed, while timers and
// port events keep running; a notice does not wait.
TEST_F(WindowTest, AMessageBoxWaitsForItsOkWhileTheEventLoopRuns) {
    int ticks = 0;
    QTimer ticker;
    QObject::connect(&ticker, &QTimer::timeout, [&] { ++ticks; });
    ticker.start(5);
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
    EXPECT_GE(ticks, 5) << "timers ran while the box was open";

    window->notify("pcapng");
    QMessageBox* notice = nullptr;
    for (auto* box : window->findChildren<QMessageBox*>())
        if (box->text() == "pcapng") notice = box;
    ASSERT_NE(notice, nullptr);
    EXPECT_TRUE(notice->isVisible());
    notice->button(QMessageBox::Ok)->click();
}

TEST_F(WindowTest, DisplayModesOfThePortsAreIndependent) {
    load();
    // The option clicked; port1.hex, port1.text, port2.hex, port2.text; the modes ('h' for hex).
    const char* steps[][3] = {
        {"port1.hex", "1001", "ht"}, {"port2.hex", "1010", "hh"}, {"port1.text", "0110", "th"}};
    for (const auto& [option, checked, modes] : steps) {
        click(button(option));
        EXPECT_EQ(states("", {"port1.hex", "port1.text", "port2.hex", "port2.text"},
                         &QAbstractButton::isChecked),
                  checked);
        QString shown;
        for (const PortView& port : rig.view().ports)
            shown += port.mode == DisplayMode::Hex ? 'h' : 't';
        EXPECT_EQ(shown, modes) << option;
    }
}

TEST_F(WindowTest, StartAndStopSwapTheGreenAndOkAppliesAChangedInterval) {
    load();
    QAbstractButton* start = button("run.start");
    QAbstractButton* stop = button("run.stop");
    const QColor face = stop->parentWidget()->palette().color(QPalette::Button);
    click(start);
    EXPECT_TRUE(rig.core.running());
    EXPECT_EQ(start->palette().color(QPalette::Button), kLitButton);
    EXPECT_EQ(stop->palette().color(QPalette::Button), face);
    EXPECT_FALSE(button("run.auto")->isEnabled());

    // A changed interval while running offers "ОК"; "ОК" applies it and hides itself.
    type(field("run.pollInterval"), "250");
    EXPECT_EQ(rig.view().run.pollInterval, "250");
    ASSERT_FALSE(find("run.apply")->isHidden());
    click(find("run.apply"));
    EXPECT_TRUE(find("run.apply")->isHidden());

    click(stop);
    EXPECT_FALSE(rig.core.running());
    EXPECT_EQ(stop->palette().color(QPalette::Button), kLitButton);
    EXPECT_EQ(start->palette().color(QPalette::Button), face);
    EXPECT_TRUE(button("run.auto")->isEnabled());
}

// Polls until the row about to be written is `row`; nothing else is left pending.
void pollUntilNext(sim::Rig& rig, int row) {
    for (int ms = 0; ms < 70000 && rig.nextRow() != row; ++ms) rig.runMs(1);
    ASSERT_EQ(rig.nextRow(), row);
}

TEST_F(WindowTest, RowsLampsAndColoursOfTheViewAreShownAndUnchangedWidgetsLeftAlone) {
    load();
    for (const char* name : {"port1.enable", "port2.enable", "port2.hex"}) click(button(name));
    for (int port = 1; port <= 2; ++port) pick(port, Choice::Baud, "115200");
    rig.runMs(150);
    ASSERT_EQ(rig.line2.lineSettings(), "115200,o,8,1");
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

    EXPECT_EQ(data(1, 1)->text(), "Абв OK");
    EXPECT_EQ(data(1, 2)->text(), " 01 FF");
    EXPECT_EQ(label(cell(1, 1, "length")), "6");
    EXPECT_EQ(label(cell(1, 2, "length")), "2");
    EXPECT_EQ(lamp("screen.row1.marker"), kLampRed);
    EXPECT_EQ(lamp("screen.row0.marker"), kLampGreen);
    EXPECT_EQ(lamp(cell(1, 1, "rts")), kLampRed);
    EXPECT_EQ(lamp(cell(1, 1, "dtr")), kLampRed);
    EXPECT_EQ(lamp(cell(1, 2, "dtr")), kLampRed);
    EXPECT_EQ(lamp(cell(1, 2, "rts")), window->palette().color(QPalette::Base));
    EXPECT_EQ(lamp(cell(1, 2, "cts")), kLampGreen);
    EXPECT_EQ(lamp(cell(1, 1, "cts")), window->palette().color(QPalette::Base));
    EXPECT_EQ(lamp("port1.lamp"), window->palette().color(QPalette::Mid));
    EXPECT_EQ(lamp("port2.lamp"), kLampGreen);
    ASSERT_EQ(data(0, 1)->text().size(), 40001);
    EXPECT_EQ(data(0, 1)->text().back(), QChar(0x0410));
    EXPECT_EQ(data(0, 1)->cursorPosition(), 0);  // the start of the packet in view
    EXPECT_EQ(data(0, 2)->text().size(), 3 * 13000);

    // Widgets whose state did not change are not set again (the cursor stays).
    data(0, 1)->setCursorPosition(5);
    field("run.pollInterval")->setCursorPosition(1);
    window->showState();
    EXPECT_EQ(data(0, 1)->cursorPosition(), 5);
    EXPECT_EQ(field("run.pollInterval")->cursorPosition(), 1);
}

TEST_F(WindowTest, TrafficIsShownAfterTheEventLoopCoalescesIt) {
    load();
    click(button("port1.enable"));
    rig.runAuto();
    rig.line1.peerSend("\x01\x02\x03");
    rig.runMs(50);  // receive events and the end of the packet, on the virtual clock
    EXPECT_EQ(rig.row(0).ports[0].bytes, "\x01\x02\x03");
    // Shown a moment later, by one refresh for all the events that came.
    EXPECT_EQ(label(cell(0, 1, "length")), "0");
    EXPECT_TRUE(QTest::qWaitFor([&] { return label(cell(0, 1, "length")) == "3"; }, 5000));

    // A burst of handler runs costs no redraw of its own.
    for (int i = 0; i < 100; ++i) {
        rig.line1.peerSend("\x04\x05");
        rig.runMs(50);
    }
    EXPECT_EQ(rig.row(1).ports[0].length, "2");
    EXPECT_EQ(label(cell(1, 1, "length")), "0");
    EXPECT_TRUE(QTest::qWaitFor([&] { return label(cell(1, 1, "length")) == "2"; }, 5000));
}

// The user may type into a cell; the next write of its row by the core replaces the typing even
// when it writes the same bytes as before, or wipes an empty cell again.
TEST_F(WindowTest, ARowWrittenAgainReplacesWhatTheUserTypedInItsCells) {
    load();
    click(button("port1.enable"));
    click(button("run.start"));  // polled every 100 ms: one row per poll
    // Every round of ten polls: "AB" on port 1 in row 0, nothing in row 1.
    const auto round = [&] {
        pollUntilNext(rig, 0);
        rig.line1.peerSend("AB");
        pollUntilNext(rig, 1);
        pollUntilNext(rig, 2);
        window->showState();
    };
    round();
    ASSERT_EQ(rig.row(0).ports[0].bytes, "AB");
    ASSERT_EQ(rig.row(1).ports[0].bytes, "");
    EXPECT_EQ(data(0, 1)->text(), "AB");
    EXPECT_EQ(data(1, 1)->text(), "");

    for (int row : {0, 1}) {
        type(data(row, 1), "typed");
        ASSERT_EQ(data(row, 1)->text(), "typed");
    }
    // Another row written: the typing stays until its own row is written.
    pollUntilNext(rig, 3);
    window->showState();
    EXPECT_EQ(data(0, 1)->text(), "typed");
    EXPECT_EQ(data(1, 1)->text(), "typed");

    round();
    ASSERT_EQ(rig.row(0).ports[0].bytes, "AB");  // the same bytes as before
    ASSERT_EQ(rig.row(1).ports[0].bytes, "");
    EXPECT_EQ(data(0, 1)->text(), "AB");
    EXPECT_EQ(data(1, 1)->text(), "");
}

TEST_F(WindowTest, SettingsPanelShowsSavesAndPicksFolders) {
    load();
    QAction* settings = action("menu.settings");
    ASSERT_NE(settings, nullptr);
    QWidget* panel = find("settings.panel");
    FolderPicker* folders = picker();
    ASSERT_NE(folders, nullptr);
    settings->trigger();
    ASSERT_FALSE(panel->isHidden());
    EXPECT_EQ(field("settings.gap")->text(), "10");
    click(button("settings.browse"));  // "поиск" shows the drive and folder lists
    EXPECT_FALSE(folders->drive()->isHidden());
    EXPECT_FALSE(folders->dir()->isHidden());
    EXPECT_EQ(button("settings.browse")->text(), "закрыть");
    click(button("settings.browse"));
    EXPECT_TRUE(folders->dir()->isHidden());
    EXPECT_EQ(button("settings.browse")->text(), "поиск");

    // "Выйти" hides the panel and the lists, saving nothing; the menu shows it again.
    type(field("settings.gap"), "77");
    click(button("settings.browse"));
    click(button("settings.close"));
    EXPECT_TRUE(panel->isHidden());
    EXPECT_TRUE(folders->dir()->isHidden());
    EXPECT_EQ(rig.core.settings().gapMs, 10);
    settings->trigger();
    EXPECT_FALSE(panel->isHidden());
    EXPECT_EQ(field("settings.gap")->text(), "10");

    // "Сохранить" reads the fields, keeps the panel open and reports bad intervals.
    type(field("settings.gap"), "25");
    type(field("settings.pollInterval"), "250");
    type(field("settings.lineDelay"), "40");
    type(field("settings.recordFolder"), home.path() + "/records");
    click(button("settings.save"));
    EXPECT_EQ(rig.core.settings().gapMs, 25);
    EXPECT_EQ(rig.core.settings().pollMs, 250);
    EXPECT_EQ(rig.core.settings().lineDelayMs, 40);
    EXPECT_EQ(rig.core.settings().recordFolder, home.path().toStdString() + "/records/");
    EXPECT_TRUE(rig.host.messages.empty());
    EXPECT_FALSE(panel->isHidden());
    type(field("settings.pollInterval"), "abc");
    click(button("settings.save"));
    EXPECT_EQ(rig.host.messages, std::vector<std::string>{"Интервалы должны быть целыми числами"});

    // The folder list writes the chosen folder and refuses missing ones.
    click(button("settings.browse"));
    ASSERT_TRUE(QDir(home.path()).mkpath("data"));
    const QString folder = home.path() + "/data";
    QTreeView* tree = folders->dir();
    auto* model = qobject_cast<QFileSystemModel*>(tree->model());
    ASSERT_NE(model, nullptr);
    tree->setCurrentIndex(model->index(folder));  // as a click on the folder does
    EXPECT_EQ(rig.view().settings.recordFolder, folder.toStdString());
    EXPECT_EQ(field("settings.recordFolder")->text(), folder);

    EXPECT_FALSE(folders->openFolder(home.path() + "/missing"));
    EXPECT_EQ(folders->currentFolder(), folder);
    EXPECT_EQ(model->filePath(tree->currentIndex()), folder);
    // A folder that vanished while shown is refused when chosen; the previous one stays.
    ASSERT_TRUE(QDir(home.path()).mkpath("gone"));
    const QModelIndex gone = model->index(home.path() + "/gone");
    ASSERT_TRUE(QDir(home.path() + "/gone").removeRecursively());
    tree->setCurrentIndex(gone);
    EXPECT_EQ(rig.view().settings.recordFolder, folder.toStdString());
    EXPECT_EQ(folders->currentFolder(), folder);

    // A drive picked from the list moves the folder list to its mount point.
    const int root = folders->drive()->findData(QDir::rootPath());
    ASSERT_GE(root, 0);
    QSignalSpy chosen(folders, &FolderPicker::folderChosen);
    emit folders->drive()->activated(root);
    ASSERT_EQ(chosen.size(), 1);
    EXPECT_EQ(chosen[0][0].toString(), QDir::rootPath());
    EXPECT_EQ(rig.view().settings.recordFolder, "/");
}

TEST(CodePage, BytesShowAsWindows1251Characters) {
    const std::pair<unsigned char, char16_t> samples[] = {
        {0x41, u'A'}, {0xC0, u'А'}, {0xDF, u'Я'}, {0xE0, u'а'}, {0xFF, u'я'}, {0xA8, u'Ё'},
        {0xB8, u'ё'}, {0xB9, u'№'}, {0x88, u'€'}, {0x80, u'Ђ'}, {0xAA, u'Є'}, {0xB2, u'І'}};
    for (auto [byte, shown] : samples) EXPECT_EQ(cp1251Char(byte), shown) << int(byte);

    // Every byte has a character of its own, so a cell keeps the packet's length and bytes.
    std::string all;
    for (int b = 0; b < 256; ++b) all += static_cast<char>(b);
    const QString text = cp1251Text(all);
    ASSERT_EQ(text.size(), 256);
    EXPECT_EQ(QSet<QChar>(text.begin(), text.end()).size(), 256);
    EXPECT_EQ(text.at(0), QChar(0));
}

}  // namespace
}  // namespace lt::test
