// Start-up: the title line with the date, the fields filled from the settings; and shutdown.
#include "app/startup.h"
#include "window_fixture.h"

namespace lt::test {
namespace {

const std::string kHead = "Velmora       Linetap v.2.0               Сегодня: ";

TEST(TitleLine, RussianLocaleGivesTheMonthInTheGenitive) {
    const QLocale ru(QLocale::Russian, QLocale::Russia);
    EXPECT_EQ(Title_Line(ru, QDate(2026, 12, 6)), kHead + "6  Декабря  2026 года  воскресенье");
    EXPECT_EQ(Title_Line(ru, QDate(2027, 3, 1)), kHead + "1  Марта  2027 года  понедельник");
    EXPECT_EQ(Month_Genitive(ru, QDate(2026, 5, 31)), "Мая");
}

TEST(TitleLine, OtherLocalesKeepTheirMonthName) {
    const QLocale en(QLocale::English, QLocale::UnitedStates);
    EXPECT_EQ(Title_Line(en, QDate(2026, 12, 6)), kHead + "6  December  2026 года  Sunday");
    const QLocale de(QLocale::German, QLocale::Germany);
    EXPECT_EQ(Month_Genitive(de, QDate(2026, 3, 6)), "März");
}

TEST(TitleLine, OnlyTheTwelveNominativesTurnGenitive) {
    const char* nominatives[] = {"Январь", "Февраль", "Март",     "Апрель",  "Май",    "Июнь",
                                 "Июль",   "Август",  "Сентябрь", "Октябрь", "Ноябрь", "Декабрь"};
    const char* genitives[] = {"Января", "Февраля", "Марта",    "Апреля",  "Мая",    "Июня",
                               "Июля",   "Августа", "Сентября", "Октября", "Ноября", "Декабря"};
    for (int m = 0; m < 12; ++m) EXPECT_EQ(Genitive_Of(nominatives[m]), genitives[m]);
    // Compared exactly: other spellings pass unchanged.
    EXPECT_EQ(Genitive_Of("декабрь"), "декабрь");
    EXPECT_EQ(Genitive_Of("ДЕКАБРЬ"), "ДЕКАБРЬ");
    EXPECT_EQ(Genitive_Of("December"), "December");
    EXPECT_EQ(Genitive_Of(""), "");
}

TEST_F(WindowTest, StartUpFillsTheCaptionModesAndFields) {
    rig.core.Mode_Port1 = 0;
    rig.core.form.Option[1] = true;
    rig.core.form.Option[2] = false;
    load();
    EXPECT_EQ(rig.core.Mode_Port1, 1);
    EXPECT_EQ(rig.core.Mode_Port2, 1);
    EXPECT_TRUE(button("Option2")->isChecked());
    EXPECT_FALSE(button("Option1")->isChecked());

    // The rig's clock stands on 6 December 2026; its locale is C.
    EXPECT_EQ(rig.core.form.Caption, kHead + "6  December  2026 года  Sunday");
    EXPECT_EQ(window->windowTitle().toStdString(), rig.core.form.Caption);

    const std::string folder = home.path().toStdString() + "/Linetap v.2.01/";
    EXPECT_EQ(rig.core.Data_Path, folder);
    EXPECT_TRUE(QFileInfo::exists(QString::fromStdString(folder + "Linetap v.2.01.eng")));
    EXPECT_EQ(field("Text4")->text().toStdString(), folder);
    EXPECT_EQ(field("Text2")->text(), "100");
    EXPECT_EQ(field("Text8")->text(), "10");
    EXPECT_EQ(field("Text9")->text(), "100");
    EXPECT_EQ(field("Text10")->text(), "100");
    EXPECT_TRUE(find("Command7")->isHidden());  // filling Text2 while stopped offers no "ОК"
    EXPECT_TRUE(rig.host.messages.empty());
    EXPECT_EQ(rig.core.Running, 0);
    for (auto* t : {&rig.core.Timer1, &rig.core.Timer2, &rig.core.Timer5, &rig.core.Timer8})
        EXPECT_FALSE((*t)->enabled());
}

TEST_F(WindowTest, ClosingWithOnlyPortTwoOpenClosesPortTwo) {
    load();
    rig.openDirect(rig.core.port2);
    rig.core.Form_Unload();
    EXPECT_FALSE(rig.line2.PortOpen());
    EXPECT_FALSE(rig.line1.PortOpen());
    EXPECT_EQ(rig.line1.opens, 0);  // a closed port is left alone

    rig.core.Form_Unload();  // nothing open: nothing happens, nothing fails
    EXPECT_FALSE(rig.line2.PortOpen());
}

TEST_F(WindowTest, ExitWhileRunningEndsWithoutAFurtherRowRecordOrRelay) {
    load();
    rig.openDirect(rig.core.port1);
    rig.openDirect(rig.core.port2);
    rig.core.form.Check[5].Value = 1;  // relay port 1's data into port 2
    click(button("Check12"));
    ASSERT_TRUE(rig.records.open);
    rig.runAuto();

    rig.line1.peerSend("ABC");
    for (int ms = 0; ms < 100 && rig.core.Pending_Port1 == 0; ++ms) rig.runMs(1);
    // The first byte is in, the packet not yet ended.
    ASSERT_TRUE(rig.core.Timer5->enabled());
    const int row = rig.core.Screen_Row;
    const std::string recorded = rig.records.text;

    rig.core.mnu_Exit_Click();
    EXPECT_TRUE(rig.host.quitRequested);
    rig.runMs(500);
    EXPECT_EQ(rig.core.Screen_Row, row);
    EXPECT_EQ(rig.records.text, recorded);
    EXPECT_FALSE(rig.records.open);
    EXPECT_EQ(rig.line2.peerReceived(), "");
    EXPECT_FALSE(rig.line1.PortOpen());
    EXPECT_FALSE(rig.line2.PortOpen());
}

}  // namespace
}  // namespace lt::test
