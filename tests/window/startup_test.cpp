// Start-up: the title line with the date, the fields filled from the settings; and shutdown.
#include "app/startup.h"
#include "window_fixture.h"

namespace lt::test {
namespace {

const std::string kHead = "Velmora       Linetap v.2.0               Сегодня: ";

TEST(TitleLine, GivesTheDateInTheLocalesWordsWithARussianMonthInTheGenitive) {
    const QLocale ru(QLocale::Russian, QLocale::Russia);
    const QLocale en(QLocale::English, QLocale::UnitedStates);
    EXPECT_EQ(titleLine(ru, QDate(2026, 12, 6)), kHead + "6  Декабря  2026 года  воскресенье");
    EXPECT_EQ(titleLine(en, QDate(2026, 12, 6)), kHead + "6  December  2026 года  Sunday");
    EXPECT_EQ(titleLine(ru, QDate(2027, 3, 1)), kHead + "1  Марта  2027 года  понедельник");
    const char* genitives[] = {"Января", "Февраля", "Марта",    "Апреля",  "Мая",    "Июня",
                               "Июля",   "Августа", "Сентября", "Октября", "Ноября", "Декабря"};
    for (int m = 1; m <= 12; ++m) EXPECT_EQ(monthGenitive(ru, QDate(2026, m, 6)), genitives[m - 1]);
    // Other languages keep their month name; the table is only for the exact nominatives.
    EXPECT_EQ(monthGenitive(QLocale(QLocale::German, QLocale::Germany), QDate(2026, 3, 6)), "März");
    // A lower-case name the table does not hold is shown as the locale gives it.
    EXPECT_EQ(monthGenitive(QLocale(QLocale::French, QLocale::France), QDate(2026, 12, 6)),
              "décembre");
    EXPECT_EQ(genitiveOf("Декабрь"), "Декабря");
    EXPECT_EQ(genitiveOf("ДЕКАБРЬ"), "ДЕКАБРЬ");
}

TEST_F(WindowTest, StartUpFillsTheTitleAndFieldsWithPortsClosedAndCaptureStopped) {
    rig.core.Mode_Port1 = 0;
    rig.core.form.Option[1] = true;
    rig.core.form.Option[2] = false;
    load();
    EXPECT_EQ(rig.core.Mode_Port1, 1);
    EXPECT_EQ(rig.core.Mode_Port2, 1);
    EXPECT_EQ(states("Option", 4, &QAbstractButton::isChecked), "0101");  // both ports in text
    // The rig's clock stands on 6 December 2026; its locale is C.
    EXPECT_EQ(rig.core.form.Caption, kHead + "6  December  2026 года  Sunday");
    EXPECT_EQ(window->windowTitle().toStdString(), rig.core.form.Caption);
    const std::string folder = home.path().toStdString() + "/Linetap v.2.01/";
    EXPECT_EQ(rig.core.recordFolder, folder);
    EXPECT_TRUE(QFileInfo::exists(QString::fromStdString(folder + "Linetap v.2.01.eng")));
    EXPECT_EQ(field("Text4")->text().toStdString(), folder);
    EXPECT_EQ(field("Text2")->text(), "100");
    EXPECT_EQ(field("Text8")->text(), "10");
    EXPECT_EQ(field("Text9")->text(), "100");
    EXPECT_EQ(field("Text10")->text(), "100");
    EXPECT_TRUE(rig.host.messages.empty());
    EXPECT_EQ(rig.core.Running, 0);
    for (auto* t : {&rig.core.Timer1, &rig.core.Timer2, &rig.core.Timer5, &rig.core.Timer8})
        EXPECT_FALSE((*t)->enabled());

    EXPECT_EQ(states("Check", 14, &QAbstractButton::isChecked), "00000000000000");
    EXPECT_EQ(states("Check", 14, &QWidget::isEnabled), "00000000111100");
    const char* texts[5] = {"", "1200", "o", "8", "1"};
    for (int port = 1; port <= 2; ++port) {
        for (int box = 0; box < 5; ++box) {
            EXPECT_FALSE(combo(port, box)->isEnabled()) << port << box;
            EXPECT_TRUE(combo(port, box)->isEditable());
            EXPECT_EQ(combo(port, box)->currentText(), box ? texts[box] : QString::number(port));
        }
    }
    EXPECT_EQ(lamp("Shape1"), kLampOff);
    EXPECT_EQ(lamp("Shape3"), kLampOff);
    EXPECT_EQ(button("Command2")->palette().color(QPalette::Button), kActiveButton);
    EXPECT_EQ(button("Command1")->palette().color(QPalette::Button),
              find("Frame3")->palette().color(QPalette::Button));
    EXPECT_TRUE(field("Text2")->isEnabled());
    // No "ОК" for Text2 filled while stopped; no settings panel, no folder lists.
    for (const char* hidden : {"Command7", "Frame7", "Drive1", "Dir1"})
        EXPECT_TRUE(find(hidden)->isHidden()) << hidden;

    const QColor background = window->palette().color(QPalette::Base);
    for (int i = 0; i < 10; ++i) {
        for (int n : {2, 4, 5, 6, 7, 8, 9, 10, 11, 12, 13})
            EXPECT_EQ(lamp(QString("Shape%1_%2").arg(n).arg(i)), background) << n;
        EXPECT_EQ(label(QString("Label3_%1").arg(i)), "0");
        EXPECT_EQ(label(QString("Label7_%1").arg(i)), "0");
        EXPECT_TRUE(field(QString("Text1_%1").arg(i))->text().isEmpty());
    }
}

// Closing the window with both ports and the record file open is played in real_window_test.
TEST_F(WindowTest, UnloadClosesWhatIsOpenAndExitWhileRunningLeavesNoFurtherRowRecordOrRelay) {
    load();
    rig.openDirect(rig.core.port2);
    rig.core.Form_Unload();
    EXPECT_FALSE(rig.line2.isOpen());
    EXPECT_EQ(rig.line1.opens, 0);  // a closed port is left alone
    rig.core.Form_Unload();         // nothing open: nothing happens, nothing fails
    EXPECT_FALSE(rig.host.quitRequested);

    rig.openDirect(rig.core.port1);
    rig.openDirect(rig.core.port2);
    rig.core.form.Check[5].Value = 1;  // relay port 1's data into port 2
    click(button("Check12"));
    ASSERT_TRUE(rig.records.open);
    rig.runAuto();
    rig.line1.peerSend("ABC");
    for (int ms = 0; ms < 100 && rig.core.Pending_Port1 == 0; ++ms) rig.runMs(1);
    ASSERT_TRUE(rig.core.Timer5->enabled());  // the first byte is in, the packet not yet ended
    const int row = rig.core.Screen_Row;
    const std::string recorded = rig.records.text;

    action("mnu_Exit")->trigger();
    EXPECT_TRUE(rig.host.quitRequested);
    rig.runMs(500);
    EXPECT_EQ(rig.core.Screen_Row, row);
    EXPECT_EQ(rig.records.text, recorded);
    EXPECT_FALSE(rig.records.open);
    EXPECT_EQ(rig.line2.peerReceived(), "");
    EXPECT_FALSE(rig.line1.isOpen());
    EXPECT_FALSE(rig.line2.isOpen());
}

}  // namespace
}  // namespace lt::test
