// The view in use: widget events reach the core's handlers, and the window shows what the
// handlers and the event loop changed, without calling back into the core.
#include <QAction>
#include <QFileSystemModel>
#include <QTreeView>

#include "engine/colors.h"
#include "ui/window/code_page.h"
#include "ui/window/folder_picker.h"
#include "window_fixture.h"

namespace lt::test {
namespace {

TEST_F(WindowTest, ClicksRunTheirHandlersAndStateSetByTheProgramRunsNone) {
    load();
    click(button("Check9"));  // "Авт.": the polling interval is no longer used
    EXPECT_EQ(rig.core.form.Check[9].Value, 1);
    EXPECT_FALSE(field("Text2")->isEnabled());
    click(button("Check9"));
    EXPECT_EQ(rig.core.form.Check[9].Value, 0);
    EXPECT_TRUE(field("Text2")->isEnabled());
    click(button("Check12"));  // "Запись" opens a record file
    EXPECT_TRUE(rig.records.open);
    click(button("Check12"));
    EXPECT_FALSE(rig.records.open);
    ASSERT_EQ(rig.records.opens, 1);

    // Ticks, options and list texts set by the program are shown without a click coming back.
    rig.core.form.Check[12].Value = 1;
    rig.core.form.Check[5].Enabled = true;
    rig.core.form.Option[1] = true;
    rig.core.form.Option[2] = false;
    rig.core.form.Combo1[1].Text = "9600";
    window->showState();
    EXPECT_TRUE(button("Check12")->isChecked());
    EXPECT_TRUE(button("Check5")->isEnabled());
    EXPECT_TRUE(button("Option1")->isChecked());
    EXPECT_FALSE(button("Option2")->isChecked());
    EXPECT_EQ(combo(1, 1)->currentText(), "9600");
    EXPECT_EQ(rig.records.opens, 1);
    EXPECT_EQ(rig.core.Mode_Port1, 1);
    EXPECT_FALSE(rig.core.Timer2->enabled());

    // A handler that refuses a tick puts the box back: the widget follows the state.
    rig.records.failOpen = true;
    rig.core.form.Check[12].Value = 0;
    window->showState();
    click(button("Check12"));
    EXPECT_EQ(rig.core.form.Check[12].Value, 0);
    EXPECT_FALSE(button("Check12")->isChecked());
    EXPECT_EQ(rig.host.messages.size(), 1u);
}

TEST_F(WindowTest, SwitchingAPortOnEnablesItsPanelAndAPickedBaudRateIsApplied) {
    load();
    click(button("Check10"));
    EXPECT_TRUE(rig.line1.isOpen());
    EXPECT_FALSE(rig.line2.isOpen());
    EXPECT_EQ(lamp("Shape1"), kLampGreen);
    for (int box = 0; box < 5; ++box) {
        EXPECT_TRUE(combo(1, box)->isEnabled());
        EXPECT_FALSE(combo(2, box)->isEnabled());
    }
    // Port 1's boxes become usable, port 2's stay as they were; opening ticks DTR.
    EXPECT_EQ(states("Check", 14, &QWidget::isEnabled), "11001010111110");
    EXPECT_TRUE(button("Check2")->isChecked());

    // Typing changes the box's text and nothing else.
    type(combo(1, 1)->lineEdit(), "28800");
    EXPECT_EQ(rig.core.form.Combo1[1].Text, "28800");
    EXPECT_FALSE(rig.core.Timer2->enabled());
    EXPECT_TRUE(rig.line1.isOpen());
    // A pick from the list closes the port and schedules the apply.
    const int index = combo(1, 1)->findText("14400");
    ASSERT_GE(index, 0);
    combo(1, 1)->setCurrentIndex(index);
    emit combo(1, 1)->activated(index);
    EXPECT_EQ(rig.core.form.Combo1[1].Text, "14400");
    EXPECT_TRUE(rig.core.Timer2->enabled());
    rig.runMs(150);
    EXPECT_TRUE(rig.line1.isOpen());
    EXPECT_EQ(rig.line1.lineSettings(), "14400,o,8,1");
    EXPECT_TRUE(rig.host.messages.empty());
}

TEST_F(WindowTest, OptionGroupsOfThePortsAreIndependent) {
    load();
    const char* steps[][3] = {
        {"Option1", "1001", "01"}, {"Option3", "1010", "00"}, {"Option2", "0110", "10"}};
    for (const auto& [option, checked, modes] : steps) {
        click(button(option));
        EXPECT_EQ(states("Option", 4, &QAbstractButton::isChecked), checked) << option;
        EXPECT_EQ(QString("%1%2").arg(rig.core.Mode_Port1).arg(rig.core.Mode_Port2), modes);
    }
}

TEST_F(WindowTest, StartAndStopSwapTheGreenAndOkAppliesAChangedInterval) {
    load();
    QAbstractButton* start = button("Command1");
    QAbstractButton* stop = button("Command2");
    const QColor face = stop->parentWidget()->palette().color(QPalette::Button);
    click(start);
    EXPECT_EQ(rig.core.Running, 1);
    EXPECT_EQ(start->palette().color(QPalette::Button), kActiveButton);
    EXPECT_EQ(stop->palette().color(QPalette::Button), face);
    EXPECT_FALSE(button("Check9")->isEnabled());
    EXPECT_TRUE(rig.core.Timer1->enabled());

    // A changed interval while running offers "ОК"; "ОК" applies it and hides itself.
    type(field("Text2"), "250");
    EXPECT_EQ(rig.core.form.Text2.Text, "250");
    ASSERT_FALSE(find("Command7")->isHidden());
    click(find("Command7"));
    EXPECT_EQ(rig.core.Timer1->interval(), 250);
    EXPECT_TRUE(find("Command7")->isHidden());

    click(stop);
    EXPECT_EQ(rig.core.Running, 0);
    EXPECT_EQ(stop->palette().color(QPalette::Button), kActiveButton);
    EXPECT_EQ(start->palette().color(QPalette::Button), face);
    EXPECT_TRUE(button("Check9")->isEnabled());
}

TEST_F(WindowTest, RowsLampsAndColoursOfTheCoreAreShownAndUnchangedWidgetsLeftAlone) {
    load();
    Form& f = rig.core.form;
    f.Text1[0] = "0123456789";
    f.Text1[2] = std::string(40000, 'A') + "\xC0";  // a long packet is shown whole
    f.Text3[2] = std::string(40000, 'B');
    f.Text1[3] = "\xC0\xE1\xE2 OK";
    f.Text3[3] = " 01 FF";
    f.Label3[3] = "6";
    f.Label7[3] = "2";
    f.Shape2[3] = f.Shape4[3] = color::Red;
    f.Shape2[2] = f.Shape13[3] = color::DarkGreen;
    f.Shape1 = color::ScrollBar;
    window->showState();
    EXPECT_EQ(field("Text1_3")->text(), "Абв OK");
    EXPECT_EQ(field("Text3_3")->text(), " 01 FF");
    EXPECT_EQ(label("Label3_3"), "6");
    EXPECT_EQ(label("Label7_3"), "2");
    EXPECT_EQ(lamp("Shape2_3"), kLampRed);
    EXPECT_EQ(lamp("Shape4_3"), kLampRed);
    EXPECT_EQ(lamp("Shape2_2"), kLampGreen);
    EXPECT_EQ(lamp("Shape13_3"), kLampGreen);
    EXPECT_EQ(lamp("Shape5_3"), window->palette().color(QPalette::Base));
    EXPECT_EQ(lamp("Shape1"), window->palette().color(QPalette::Mid));
    ASSERT_EQ(field("Text1_2")->text().size(), 40001);
    EXPECT_EQ(field("Text1_2")->text().back(), QChar(0x0410));
    EXPECT_EQ(field("Text1_2")->cursorPosition(), 0);  // the start of the packet in view
    EXPECT_EQ(field("Text3_2")->text().size(), 40000);
    EXPECT_FALSE(field("Text3_2")->isReadOnly());

    // Widgets whose state did not change are not set again (the cursor stays).
    field("Text1_0")->setCursorPosition(5);
    field("Text2")->setCursorPosition(1);
    window->showState();
    EXPECT_EQ(field("Text1_0")->cursorPosition(), 5);
    EXPECT_EQ(field("Text2")->cursorPosition(), 1);
    f.Text1[0] = "x";
    window->showState();
    EXPECT_EQ(field("Text1_0")->text(), "x");
}

TEST_F(WindowTest, TrafficIsShownAfterTheEventLoopCoalescesIt) {
    load();
    rig.openDirect(rig.core.port1);
    rig.runAuto();
    rig.line1.peerSend("\x01\x02\x03");
    rig.runMs(50);  // receive events and the end of the packet, on the virtual clock
    EXPECT_EQ(rig.core.form.Text1[0], "\x01\x02\x03");
    // Shown a moment later, by one refresh for all the events that came.
    EXPECT_TRUE(QTest::qWaitFor([&] { return label("Label3_0") == "3"; }, 5000));

    // A burst of handler runs costs no redraw of its own.
    rig.core.form.Label3[0] = "99";
    for (int i = 0; i < 1000; ++i) rig.core.Changed();
    EXPECT_EQ(label("Label3_0"), "3");
    EXPECT_TRUE(QTest::qWaitFor([&] { return label("Label3_0") == "99"; }, 5000));
}

TEST_F(WindowTest, SettingsPanelTogglesRefillsSavesAndPicksFolders) {
    load();
    QAction* prop = action("mnu_Prop");
    ASSERT_NE(prop, nullptr);
    prop->trigger();
    ASSERT_FALSE(find("Frame7")->isHidden());
    EXPECT_EQ(field("Text8")->text(), "10");
    click(find("Command5"));  // "поиск" shows the drive and folder lists
    EXPECT_FALSE(find("Drive1")->isHidden());
    EXPECT_FALSE(find("Dir1")->isHidden());
    EXPECT_EQ(button("Command5")->text(), "закрыть");
    click(find("Command5"));
    EXPECT_TRUE(find("Dir1")->isHidden());
    EXPECT_EQ(button("Command5")->text(), "поиск");

    // Edits stay in the fields until "Выйти"; the menu then shows the stored values again.
    type(field("Text8"), "77");
    EXPECT_EQ(rig.core.form.Text8.Text, "77");
    EXPECT_EQ(rig.core.gapMs, 10);
    click(find("Command5"));
    click(find("Command6"));
    EXPECT_TRUE(find("Frame7")->isHidden());
    EXPECT_TRUE(find("Dir1")->isHidden());
    EXPECT_EQ(button("Command5")->text(), "поиск");
    EXPECT_EQ(field("Text8")->text(), "77");
    prop->trigger();
    EXPECT_EQ(field("Text8")->text(), "10");
    prop->trigger();  // the menu alone hides the panel
    EXPECT_TRUE(find("Frame7")->isHidden());

    // "Сохранить" reads the fields, keeps the panel open and reports bad intervals.
    prop->trigger();
    type(field("Text8"), "25");
    type(field("Text4"), home.path() + "/records");
    click(find("Command4"));
    EXPECT_EQ(rig.core.gapMs, 25);
    EXPECT_EQ(rig.core.recordFolder, home.path().toStdString() + "/records/");
    EXPECT_TRUE(rig.host.messages.empty());
    EXPECT_FALSE(find("Frame7")->isHidden());
    type(field("Text9"), "abc");
    click(find("Command4"));
    EXPECT_EQ(rig.host.messages, std::vector<std::string>{"Интервалы должны быть целыми числами"});

    // The folder list writes the chosen folder and refuses missing ones.
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

    // A drive picked from the list moves the folder list to its mount point.
    const int root = picker->drive()->findData(QDir::rootPath());
    ASSERT_GE(root, 0);
    QSignalSpy chosen(picker, &FolderPicker::folderChosen);
    emit picker->drive()->activated(root);
    ASSERT_EQ(chosen.size(), 1);
    EXPECT_EQ(chosen[0][0].toString(), QDir::rootPath());
    EXPECT_EQ(rig.core.form.Text4.Text, "/");
}

TEST(CodePage, BytesShowAsWindows1251Characters) {
    const std::pair<unsigned char, char16_t> samples[] = {
        {0x41, u'A'}, {0xC0, u'А'}, {0xDF, u'Я'}, {0xE0, u'а'}, {0xFF, u'я'}, {0xA8, u'Ё'},
        {0xB8, u'ё'}, {0xB9, u'№'}, {0x88, u'€'}, {0x80, u'Ђ'}, {0xAA, u'Є'}, {0xB2, u'І'}};
    for (auto [byte, shown] : samples) EXPECT_EQ(Cp1251_Char(byte), shown) << int(byte);

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
