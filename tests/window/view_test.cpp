// The view in use: widget events reach the core's handlers, and the window shows what the
// handlers and the event loop changed, without calling back into the core.
#include <QAction>
#include <QFileSystemModel>
#include <QLabel>
#include <QMenu>
#include <QMenuBar>
#include <QPushButton>
#include <QTreeView>

#include "engine/colors.h"
#include "ui/window/code_page.h"
#include "ui/window/folder_picker.h"
#include "window_fixture.h"

namespace lt::test {
namespace {

QAction* menuAction(MainWindow& w, const char* name) {
    return w.findChild<QAction*>(name);
}

TEST_F(WindowTest, CheckBoxClicksRunTheirHandlers) {
    load();
    click(button("Check9"));  // "Авт.": polling interval no longer used
    EXPECT_EQ(rig.core.form.Check[9].Value, 1);
    EXPECT_FALSE(field("Text2")->isEnabled());
    click(button("Check9"));
    EXPECT_EQ(rig.core.form.Check[9].Value, 0);
    EXPECT_TRUE(field("Text2")->isEnabled());

    click(button("Check12"));  // "Запись" opens a record file in the record folder
    EXPECT_EQ(rig.records.opens, 1);
    EXPECT_TRUE(rig.records.open);
    EXPECT_EQ(rig.records.path.rfind(rig.core.Data_Path, 0), 0u);
    click(button("Check12"));
    EXPECT_FALSE(rig.records.open);
}

TEST_F(WindowTest, TicksSetByTheProgramAreShownWithoutRunningTheHandler) {
    load();
    rig.core.form.Check[12].Value = 1;
    rig.core.form.Check[5].Enabled = true;
    window->showState();
    EXPECT_TRUE(button("Check12")->isChecked());
    EXPECT_TRUE(button("Check5")->isEnabled());
    EXPECT_EQ(rig.records.opens, 0);  // no click came back from the widget

    // Options and lists set by the program are shown without a click or a pick.
    rig.core.form.Option[1] = true;
    rig.core.form.Option[2] = false;
    rig.core.form.Combo1[1].Text = "9600";
    window->showState();
    EXPECT_TRUE(button("Option1")->isChecked());
    EXPECT_FALSE(button("Option2")->isChecked());
    EXPECT_EQ(combo(1, 1)->currentText(), "9600");
    EXPECT_TRUE(rig.core.form.Option[1]);
    EXPECT_FALSE(rig.core.form.Option[2]);
    EXPECT_EQ(rig.core.Mode_Port1, 1);
    EXPECT_FALSE(rig.core.Timer2->enabled());

    // A handler that refuses a tick puts the box back: the widget follows the state.
    rig.records.failOpen = true;
    rig.core.form.Check[12].Value = 0;
    window->showState();
    click(button("Check12"));
    EXPECT_EQ(rig.core.form.Check[12].Value, 0);
    EXPECT_FALSE(button("Check12")->isChecked());
    ASSERT_EQ(rig.host.messages.size(), 1u);
}

TEST_F(WindowTest, SwitchingAPortOnOpensItAndEnablesItsPanel) {
    load();
    click(button("Check10"));
    EXPECT_TRUE(rig.line1.PortOpen());
    EXPECT_FALSE(rig.line2.PortOpen());
    EXPECT_EQ(lamp("Shape1")->shownColor(), QColor(0, 192, 0));
    for (int box = 0; box < 5; ++box) {
        EXPECT_TRUE(combo(1, box)->isEnabled());
        EXPECT_FALSE(combo(2, box)->isEnabled());
    }
    for (const char* name : {"Check1", "Check2", "Check5", "Check7", "Check13"})
        EXPECT_TRUE(button(name)->isEnabled()) << name;
    EXPECT_TRUE(button("Check2")->isChecked());  // opening ticks DTR
    EXPECT_FALSE(button("Check4")->isEnabled());

    rig.line1.missing = true;
    click(button("Check10"));  // off
    EXPECT_FALSE(rig.line1.PortOpen());
    click(button("Check10"));  // on again, but the device is gone
    EXPECT_EQ(lamp("Shape1")->shownColor(), QColor(255, 0, 0));
}

TEST_F(WindowTest, OptionGroupsOfThePortsAreIndependent) {
    load();
    click(button("Option1"));
    EXPECT_TRUE(button("Option1")->isChecked());
    EXPECT_FALSE(button("Option2")->isChecked());
    EXPECT_FALSE(button("Option3")->isChecked());
    EXPECT_TRUE(button("Option4")->isChecked());
    EXPECT_EQ(rig.core.Mode_Port1, 0);
    EXPECT_EQ(rig.core.Mode_Port2, 1);

    click(button("Option3"));
    EXPECT_TRUE(button("Option1")->isChecked());
    EXPECT_TRUE(button("Option3")->isChecked());
    EXPECT_FALSE(button("Option4")->isChecked());
    EXPECT_EQ(rig.core.Mode_Port2, 0);

    click(button("Option2"));
    EXPECT_FALSE(button("Option1")->isChecked());
    EXPECT_TRUE(button("Option3")->isChecked());
    EXPECT_EQ(rig.core.Mode_Port1, 1);
}

TEST_F(WindowTest, PickedListEntryIsAppliedTypedTextOnlyKept) {
    load();
    click(button("Check10"));
    ASSERT_TRUE(combo(1, 1)->isEnabled());

    // Typing changes the box's text and nothing else.
    QLineEdit* edit = combo(1, 1)->lineEdit();
    edit->selectAll();
    QTest::keyClicks(edit, "28800");
    EXPECT_EQ(rig.core.form.Combo1[1].Text, "28800");
    EXPECT_FALSE(rig.core.Timer2->enabled());
    EXPECT_TRUE(rig.line1.PortOpen());

    // A pick from the list closes the port and schedules the apply.
    const int index = combo(1, 1)->findText("14400");
    ASSERT_GE(index, 0);
    combo(1, 1)->setCurrentIndex(index);
    emit combo(1, 1)->activated(index);
    EXPECT_EQ(rig.core.form.Combo1[1].Text, "14400");
    EXPECT_TRUE(rig.core.Timer2->enabled());
    rig.runMs(150);
    EXPECT_TRUE(rig.line1.PortOpen());
    EXPECT_EQ(rig.line1.Settings(), "14400,o,8,1");
    EXPECT_TRUE(rig.host.messages.empty());
}

TEST_F(WindowTest, StartAndStopSwapTheGreen) {
    load();
    auto* start = find<QPushButton>("Command1");
    auto* stop = find<QPushButton>("Command2");
    const QColor face = stop->parentWidget()->palette().color(QPalette::Button);
    click(start);
    EXPECT_EQ(rig.core.Running, 1);
    EXPECT_EQ(start->palette().color(QPalette::Button), QColor(0, 255, 0));
    EXPECT_EQ(stop->palette().color(QPalette::Button), face);
    EXPECT_FALSE(button("Check9")->isEnabled());
    EXPECT_TRUE(rig.core.Timer1->enabled());

    // A changed interval while running offers "ОК"; "ОК" applies it and hides itself.
    QLineEdit* interval = field("Text2");
    interval->selectAll();
    QTest::keyClicks(interval, "250");
    EXPECT_EQ(rig.core.form.Text2.Text, "250");
    ASSERT_FALSE(find("Command7")->isHidden());
    click(find("Command7"));
    EXPECT_EQ(rig.core.Timer1->interval(), 250);
    EXPECT_TRUE(find("Command7")->isHidden());

    click(stop);
    EXPECT_EQ(rig.core.Running, 0);
    EXPECT_EQ(stop->palette().color(QPalette::Button), QColor(0, 255, 0));
    EXPECT_EQ(start->palette().color(QPalette::Button), face);
    EXPECT_TRUE(button("Check9")->isEnabled());
}

TEST_F(WindowTest, RowsLampsAndMarkersMadeByTheCoreAreShown) {
    load();
    Form& f = rig.core.form;
    f.Text1[3] = "\xC0\xE1\xE2 OK";
    f.Text3[3] = " 01 FF";
    f.Label3[3] = "6";
    f.Label7[3] = "2";
    f.Shape2[3] = color::Red;
    f.Shape2[2] = color::DarkGreen;
    f.Shape4[3] = color::Red;
    f.Shape13[3] = color::DarkGreen;
    f.Shape1 = color::ScrollBar;
    window->showState();

    EXPECT_EQ(field("Text1_3")->text(), QString::fromUtf8("Абв OK"));
    EXPECT_EQ(field("Text3_3")->text(), " 01 FF");
    EXPECT_EQ(find<QLabel>("Label3_3")->text(), "6");
    EXPECT_EQ(find<QLabel>("Label7_3")->text(), "2");
    EXPECT_EQ(lamp("Shape2_3")->shownColor(), QColor(255, 0, 0));
    EXPECT_EQ(lamp("Shape2_2")->shownColor(), QColor(0, 192, 0));
    EXPECT_EQ(lamp("Shape4_3")->shownColor(), QColor(255, 0, 0));
    EXPECT_EQ(lamp("Shape13_3")->shownColor(), QColor(0, 192, 0));
    EXPECT_EQ(lamp("Shape5_3")->shownColor(), window->palette().color(QPalette::Base));
    EXPECT_EQ(lamp("Shape1")->shownColor(), window->palette().color(QPalette::Mid));
}

TEST_F(WindowTest, UnchangedWidgetsAreLeftAlone) {
    load();
    rig.core.form.Text1[0] = "0123456789";
    window->showState();
    QLineEdit* cell = field("Text1_0");
    cell->setCursorPosition(5);
    QLineEdit* interval = field("Text2");
    interval->setCursorPosition(1);
    window->showState();
    EXPECT_EQ(cell->cursorPosition(), 5);
    EXPECT_EQ(interval->cursorPosition(), 1);

    rig.core.form.Text1[0] = "x";
    window->showState();
    EXPECT_EQ(cell->text(), "x");
}

TEST_F(WindowTest, TrafficIsShownAfterTheEventLoopCoalescesIt) {
    load();
    rig.openDirect(rig.core.port1);
    rig.runAuto();
    rig.line1.peerSend("\x01\x02\x03");
    rig.runMs(50);  // receive events and the end of the packet, on the virtual clock
    EXPECT_EQ(rig.core.form.Text1[0], "\x01\x02\x03");
    // Shown a moment later, by one refresh for all the events that came.
    EXPECT_TRUE(QTest::qWaitFor([&] { return field("Text1_0")->text().size() == 3; }, 5000));
    EXPECT_EQ(find<QLabel>("Label3_0")->text(), "3");
    EXPECT_EQ(lamp("Shape2_0")->shownColor(), QColor(255, 0, 0));

    // A burst of handler runs costs no redraw of its own.
    rig.core.form.Label3[0] = "99";
    for (int i = 0; i < 1000; ++i) rig.core.Changed();
    EXPECT_EQ(find<QLabel>("Label3_0")->text(), "3");
    EXPECT_TRUE(QTest::qWaitFor([&] { return find<QLabel>("Label3_0")->text() == "99"; }, 5000));
}

TEST_F(WindowTest, SettingsPanelOpensClosesAndRefills) {
    load();
    QAction* prop = menuAction(*window, "mnu_Prop");
    ASSERT_NE(prop, nullptr);
    prop->trigger();
    ASSERT_FALSE(find("Frame7")->isHidden());
    EXPECT_EQ(field("Text8")->text(), "10");
    EXPECT_EQ(field("Text9")->text(), "100");
    EXPECT_EQ(field("Text10")->text(), "100");
    EXPECT_EQ(field("Text4")->text().toStdString(), rig.core.Data_Path);

    click(find("Command5"));
    EXPECT_FALSE(find("Drive1")->isHidden());
    EXPECT_FALSE(find("Dir1")->isHidden());
    EXPECT_EQ(button("Command5")->text(), QString::fromUtf8("закрыть"));
    click(find("Command5"));
    EXPECT_TRUE(find("Dir1")->isHidden());
    EXPECT_EQ(button("Command5")->text(), QString::fromUtf8("поиск"));

    // Edits stay in the fields until "Выйти"; the menu then shows the stored values again.
    field("Text8")->selectAll();
    QTest::keyClicks(field("Text8"), "77");
    EXPECT_EQ(rig.core.form.Text8.Text, "77");
    EXPECT_EQ(rig.core.Gap_Interval, 10);
    click(find("Command5"));
    click(find("Command6"));
    EXPECT_TRUE(find("Frame7")->isHidden());
    EXPECT_TRUE(find("Dir1")->isHidden());
    EXPECT_EQ(button("Command5")->text(), QString::fromUtf8("поиск"));
    EXPECT_EQ(field("Text8")->text(), "77");
    prop->trigger();
    EXPECT_EQ(field("Text8")->text(), "10");

    prop->trigger();  // the menu alone hides the panel
    EXPECT_TRUE(find("Frame7")->isHidden());
}

TEST_F(WindowTest, SavingReadsTheFieldsAndReportsBadIntervals) {
    load();
    menuAction(*window, "mnu_Prop")->trigger();
    field("Text8")->selectAll();
    QTest::keyClicks(field("Text8"), "25");
    field("Text4")->selectAll();
    QTest::keyClicks(field("Text4"), home.path() + "/records");
    click(find("Command4"));
    EXPECT_EQ(rig.core.Gap_Interval, 25);
    EXPECT_EQ(rig.core.Data_Path, home.path().toStdString() + "/records/");
    EXPECT_TRUE(rig.host.messages.empty());
    EXPECT_FALSE(find("Frame7")->isHidden());  // the panel stays open after saving

    field("Text9")->selectAll();
    QTest::keyClicks(field("Text9"), "abc");
    click(find("Command4"));
    ASSERT_EQ(rig.host.messages.size(), 1u);
    EXPECT_EQ(rig.host.messages[0], "Интервалы должны быть целыми числами");
}

TEST_F(WindowTest, FolderPickerWritesTheChosenFolderAndRefusesUnreadableOnes) {
    load();
    menuAction(*window, "mnu_Prop")->trigger();
    click(find("Command5"));
    ASSERT_TRUE(QDir(home.path()).mkpath("data"));
    const QString folder = home.path() + "/data";

    auto* tree = find<QTreeView>("Dir1");
    auto* model = qobject_cast<QFileSystemModel*>(tree->model());
    ASSERT_NE(model, nullptr);
    tree->setCurrentIndex(model->index(folder));  // as a click on the folder does
    EXPECT_EQ(rig.core.form.Text4.Text, folder.toStdString());
    EXPECT_EQ(field("Text4")->text(), folder);

    auto* picker = window->findChild<FolderPicker*>();
    ASSERT_NE(picker, nullptr);
    EXPECT_FALSE(picker->openFolder(home.path() + "/missing"));
    EXPECT_EQ(picker->currentFolder(), folder);
    EXPECT_EQ(model->filePath(tree->currentIndex()), folder);

    // A folder that vanished while shown is refused when chosen; the previous one stays.
    ASSERT_TRUE(QDir(home.path()).mkpath("gone"));
    const QModelIndex gone = model->index(home.path() + "/gone");
    ASSERT_TRUE(QDir(home.path() + "/gone").removeRecursively());
    tree->setCurrentIndex(gone);
    EXPECT_EQ(rig.core.form.Text4.Text, folder.toStdString());
    EXPECT_EQ(picker->currentFolder(), folder);
}

TEST_F(WindowTest, DriveListMovesTheFolderListToTheMountPoint) {
    load();
    auto* picker = window->findChild<FolderPicker*>();
    ASSERT_NE(picker, nullptr);
    QComboBox* drives = picker->drive();
    const int root = drives->findData(QDir::rootPath());
    ASSERT_GE(root, 0);
    QSignalSpy chosen(picker, &FolderPicker::folderChosen);
    emit drives->activated(root);
    ASSERT_EQ(chosen.size(), 1);
    EXPECT_EQ(chosen[0][0].toString(), QDir::rootPath());
    EXPECT_EQ(rig.core.form.Text4.Text, "/");
}

TEST_F(WindowTest, ClosingTheWindowClosesBothOpenPortsAndTheRecordFile) {
    load();
    click(button("Check10"));
    click(button("Check11"));
    click(button("Check12"));
    ASSERT_TRUE(rig.line1.PortOpen() && rig.line2.PortOpen() && rig.records.open);
    window->close();
    EXPECT_FALSE(rig.line1.PortOpen());
    EXPECT_FALSE(rig.line2.PortOpen());
    EXPECT_FALSE(rig.records.open);
    EXPECT_FALSE(rig.host.quitRequested);
}

TEST_F(WindowTest, ExitFromTheMenuClosesThePortsAndQuits) {
    load();
    click(button("Check11"));
    ASSERT_TRUE(rig.line2.PortOpen());
    QAction* exit = menuAction(*window, "mnu_Exit");
    ASSERT_NE(exit, nullptr);
    exit->trigger();
    EXPECT_FALSE(rig.line2.PortOpen());
    EXPECT_TRUE(rig.host.quitRequested);
}

TEST(CodePage, BytesShowAsWindows1251Characters) {
    EXPECT_EQ(Cp1251_Char(0x41), u'A');
    EXPECT_EQ(Cp1251_Char(0xC0), u'А');
    EXPECT_EQ(Cp1251_Char(0xDF), u'Я');
    EXPECT_EQ(Cp1251_Char(0xE0), u'а');
    EXPECT_EQ(Cp1251_Char(0xFF), u'я');
    EXPECT_EQ(Cp1251_Char(0xA8), u'Ё');
    EXPECT_EQ(Cp1251_Char(0xB8), u'ё');
    EXPECT_EQ(Cp1251_Char(0xB9), u'№');
    EXPECT_EQ(Cp1251_Char(0x88), u'€');
    EXPECT_EQ(Cp1251_Char(0x80), u'Ђ');
    EXPECT_EQ(Cp1251_Char(0xAA), u'Є');
    EXPECT_EQ(Cp1251_Char(0xB2), u'І');

    // Every byte has a character of its own, so a cell keeps the packet's length and bytes.
    std::string all;
    for (int b = 0; b < 256; ++b) all += static_cast<char>(b);
    const QString text = Cp1251_Text(all);
    ASSERT_EQ(text.size(), 256);
    QSet<QChar> distinct(text.begin(), text.end());
    EXPECT_EQ(distinct.size(), 256);
    EXPECT_EQ(text.at(0), QChar(0));
}

}  // namespace
}  // namespace lt::test
