// The window as built and started: lists, geometry, title line, fields, and the exit.
#include <QApplication>
#include <QTreeView>

#include "panels/title_line.h"
#include "settings/settings_file.h"
#include "window_fixture.h"

namespace lt::test {
namespace {

QStringList items(const QComboBox* c) {
    QStringList list;
    for (int i = 0; i < c->count(); ++i) list << c->itemText(i);
    return list;
}

TEST_F(WindowTest, PortListsOffer14400OnPortOneOnlyAndSerialDevicesAfterTwelve) {
    QStringList bauds = items(combo(1, Choice::Baud));
    EXPECT_EQ(bauds.size(), 13);
    EXPECT_EQ(bauds.removeAll("14400"), 1);
    EXPECT_EQ(items(combo(2, Choice::Baud)), bauds);
    rig.core.addPortEntries({"/dev/ttyACM0", "/dev/ttyUSB0"});
    window->showState();
    for (int port = 1; port <= 2; ++port) {
        const QStringList ports = items(combo(port, Choice::Port));
        EXPECT_EQ(ports.mid(11), (QStringList{"12", "/dev/ttyACM0", "/dev/ttyUSB0"}));
        EXPECT_EQ(combo(port, Choice::Port)->currentText(), QString::number(port));  // unchanged
    }
}

TEST_F(WindowTest, PanelsAndControlsStandApartAndLampsOnTheirCellsLine) {
    EXPECT_EQ(window->centralWidget()->size(), QSize(window->px(12120), window->px(8595)));
    for (const char* panel : {"port1.panel", "port2.panel", "run.panel", "settings.panel"}) {
        QList<QWidget*> kids;
        for (QObject* o : find(panel)->children())
            if (auto* w = qobject_cast<QWidget*>(o); w && w->objectName() != "") kids << w;
        ASSERT_FALSE(kids.isEmpty());
        for (QWidget* w : kids) {
            EXPECT_TRUE(find(panel)->rect().contains(w->geometry()))
                << w->objectName().toStdString();
            for (QWidget* v : kids)
                EXPECT_TRUE(v == w || !w->geometry().intersects(v->geometry()))
                    << w->objectName().toStdString() << " / " << v->objectName().toStdString();
        }
    }
    const QObjectList order = window->centralWidget()->children();
    EXPECT_LT(order.indexOf(find("screen")), order.indexOf(find("port1.panel")));
    EXPECT_EQ(order.indexOf(find("settings.panel")), order.size() - 1);
    for (int i = 0; i < 10; ++i)
        for (int port = 1; port <= 2; ++port)
            for (const char* which : {"rts", "dtr", "dcd", "dsr", "cts"}) {
                const int y = find(cell(i, port, which))->geometry().center().y();
                const QRect line = data(i, port)->geometry();
                EXPECT_TRUE(y > line.top() && y < line.bottom())
                    << cell(i, port, which).toStdString();
            }
}

const std::string kHead = "Velmora       Linetap v.2.0               Сегодня: ";

TEST(TitleLine, GivesTheDateInTheLocalesWordsWithARussianMonthInTheGenitive) {
    const QLocale ru(QLocale::Russian, QLocale::Russia);
    EXPECT_EQ(titleLine(ru, QDate(2026, 12, 6)), kHead + "6  Декабря  2026 года  воскресенье");
    EXPECT_EQ(monthGenitive(QLocale(QLocale::German, QLocale::Germany), QDate(2026, 3, 6)), "März");
}

TEST_F(WindowTest, StartUpFillsTheTitleAndFieldsWithPortsClosedAndCaptureStopped) {
    EXPECT_EQ(window->windowTitle().toStdString(), "Linetap v2.01");
    rig.core.setDisplayMode(1, DisplayMode::Hex);  // start-up puts both ports back to text
    load();
    EXPECT_EQ(states("", {"port1.hex", "port1.text", "port2.hex", "port2.text"},
                     &QAbstractButton::isChecked),
              "0101");
    // The rig's clock stands on 6 December 2026; its locale is C.
    EXPECT_EQ(window->windowTitle().toStdString(), kHead + "6  December  2026 года  Sunday");
    EXPECT_EQ(field("settings.recordFolder")->text().toStdString(), programFolder(rig.host));
    QString fields;
    for (const char* name :
         {"run.pollInterval", "settings.pollInterval", "settings.lineDelay", "settings.gap"})
        fields += field(name)->text() + " ";
    EXPECT_EQ(fields, "100 100 100 10 ");
    EXPECT_TRUE(field("run.pollInterval")->isEnabled() && rig.host.messages.empty());

    // Only "Включить порт", "Авт." and "Запись" are usable; none is ticked.
    for (int port = 1; port <= 2; ++port) {
        EXPECT_EQ(ticks(port, &QAbstractButton::isChecked), "000000") << port;
        EXPECT_EQ(ticks(port, &QWidget::isEnabled), "000001") << port;
        for (int box = 0; box < kChoices; ++box)
            EXPECT_FALSE(combo(port, Choice(box))->isEnabled()) << port << box;
    }
    EXPECT_EQ(states("run.", {"auto", "record"}, &QAbstractButton::isChecked), "00");
    EXPECT_EQ(states("run.", {"auto", "record"}, &QWidget::isEnabled), "11");
    for (QWidget* hidden : std::initializer_list<QWidget*>{
             find("run.apply"), find("settings.panel"), picker()->drive(), picker()->dir()})
        EXPECT_TRUE(hidden->isHidden()) << hidden->objectName().toStdString();

    rig.runMs(1000);  // nothing runs by itself: no poll, no apply, no opening
    EXPECT_EQ(rig.rowsWritten(), 0u);
    EXPECT_EQ(rig.line1.opens + rig.line2.opens, 0);
}

// "Выход" with both ports, the data relay and the record file on, a packet half collected.
TEST_F(WindowTest, ExitWhileRunningClosesEverythingAndLeavesNoFurtherRowRecordOrRelay) {
    load();
    for (const char* box : {"port1.enable", "port2.enable", "port1.dataRelay", "run.record"})
        click(button(box));
    ASSERT_TRUE(rig.line1.isOpen() && rig.line2.isOpen() && rig.records.opened);
    rig.runAuto();
    rig.line1.peerSend("ABC");
    for (int ms = 0; ms < 100 && !rig.core.channel(1).collecting(); ++ms) rig.runMs(1);
    ASSERT_TRUE(rig.core.channel(1).collecting());  // the first byte is in, the packet not ended
    const int row = rig.nextRow();
    const std::string recorded = rig.records.text;

    action("menu.exit")->trigger();
    EXPECT_TRUE(rig.host.quitRequested);
    rig.runMs(500);
    EXPECT_EQ(rig.nextRow(), row);
    EXPECT_EQ(rig.records.text, recorded);
    EXPECT_FALSE(rig.records.opened);
    EXPECT_EQ(rig.line2.peerReceived(), "");
    EXPECT_FALSE(rig.line1.isOpen() || rig.line2.isOpen());
}

}  // namespace
}  // namespace lt::test

int main(int argc, char** argv) {
    ::testing::InitGoogleTest(&argc, argv);
    // Widget tests run without a display unless a platform is asked for.
    if (qEnvironmentVariableIsEmpty("QT_QPA_PLATFORM")) qputenv("QT_QPA_PLATFORM", "offscreen");
    QApplication app(argc, argv);
    return RUN_ALL_TESTS();
}
