// The window as built: captions, menu, icon, lists, geometry, colours.
#include <QGroupBox>
#include <QMenu>
#include <QMenuBar>

#include "window_fixture.h"

namespace lt::test {
namespace {

QString captionOf(QWidget* w) {
    if (auto* b = qobject_cast<QAbstractButton*>(w)) return b->text();
    if (auto* l = qobject_cast<QLabel*>(w)) return l->text();
    if (auto* g = qobject_cast<QGroupBox*>(w)) return g->title();
    return "<no caption>";
}

TEST_F(WindowTest, EveryControlCarriesItsCaptionAndTheWindowItsMenuAndIcon) {
    // "names=caption" entries. Look-alike letters are escapes: Cyrillic С in "СOM", "ОК", "Сом".
    const QString captions(
        "Frame1=Первый порт;Frame5=Второй порт;Frame3=Интервал опроса;Frame7=Настройки;"
        "Frame2=Экран данных полученных от \u0421\u043E\u043C порта;Label1_0=\u0421OM;Label8=COM;"
        "Label1_1 Label9=Baud;Label1_2 Label10=Parity;Label1_3 Label11=Bit;"
        "Label1_4 Label12=Stop Bit;Check1 Check3 Label5=RTS;Check2 Check4 Label6=DTR;"
        "Option1 Option3=Bit;Option2 Option4=Text;Check5 Check6=Трансляция данных;"
        "Check7 Check8=Трансляция сервиса;Check13 Check14=RTS Strob;"
        "Check10 Check11=Включить порт;Check9=Авт.;Check12=Запись;Command1=Пуск;Command2=Стоп;"
        "Command7=\u041E\u041A;Label31=Интервал опроса портов по умолчанию, мс;"
        "Label30=Минимальный интервал времени между посылками, мс;"
        "Label2=Время задержки сервисных сигналов относительно данных, мс;"
        "Label29=Путь для хранения трансируемых данных ;Command5=поиск;Command4=Сохранить;"
        "Command6=Выйти;Label13=DCD;Label14=DSR;Label15=CTS;Label4=Длина");
    for (const QString& entry : captions.split(';')) {
        for (const QString& name : entry.section('=', 0, 0).split(' '))
            EXPECT_EQ(captionOf(find(name)), entry.section('=', 1)) << name.toStdString();
    }

    // The menu bar: "Меню" holding only "Выход", then the command "Настройка".
    const QList<QAction*> top = window->menuBar()->actions();
    ASSERT_EQ(top.size(), 2);
    ASSERT_NE(top[0]->menu(), nullptr);
    EXPECT_EQ(top[0]->menu()->title(), "Меню");
    ASSERT_EQ(top[0]->menu()->actions().size(), 1);
    EXPECT_EQ(top[0]->menu()->actions()[0], action("mnu_Exit"));
    EXPECT_EQ(action("mnu_Exit")->text(), "Выход");
    EXPECT_EQ(top[1], action("mnu_Prop"));
    EXPECT_EQ(top[1]->text(), "Настройка");
    EXPECT_EQ(top[1]->menu(), nullptr);  // a command, not a menu

    // The icon comes at the large and the small size.
    const QList<QSize> sizes = window->windowIcon().availableSizes();
    for (auto metric : {QStyle::PM_LargeIconSize, QStyle::PM_SmallIconSize}) {
        const int side = window->style()->pixelMetric(metric);
        EXPECT_TRUE(sizes.contains(QSize(side, side))) << side;
    }
}

TEST_F(WindowTest, PortListsOffer14400OnPortOneOnlyAndSerialDevicesAfterTwelve) {
    QStringList numbers;
    for (int n = 1; n <= 12; ++n) numbers << QString::number(n);
    const QStringList bauds{"110",   "300",   "600",   "1200",  "2400",  "4800",  "9600",
                            "14400", "19200", "28800", "38400", "57600", "115200"};
    QStringList bauds2 = bauds;
    bauds2.removeAll("14400");
    EXPECT_EQ(items(combo(1, 1)), bauds);
    EXPECT_EQ(items(combo(2, 1)), bauds2);
    for (int port = 1; port <= 2; ++port) {
        EXPECT_EQ(items(combo(port, 0)), numbers);
        EXPECT_EQ(items(combo(port, 2)), (QStringList{"n", "e", "o", "s", "m"}));
        EXPECT_EQ(items(combo(port, 3)), (QStringList{"5", "6", "7", "8"}));
        EXPECT_EQ(items(combo(port, 4)), (QStringList{"1", "2"}));
    }

    Add_Serial_Devices(rig.core.form, {"/dev/ttyACM0", "/dev/ttyUSB0"});
    window->showState();
    for (int port = 1; port <= 2; ++port) {
        EXPECT_EQ(items(combo(port, 0)), (numbers + QStringList{"/dev/ttyACM0", "/dev/ttyUSB0"}));
        EXPECT_EQ(combo(port, 0)->currentText(), QString::number(port));  // text unchanged
    }
}

// Children inside their parent and apart from each other.
void expectApart(QWidget* parent, const QList<QWidget*>& kids) {
    ASSERT_FALSE(kids.isEmpty());
    for (QWidget* w : kids) {
        EXPECT_TRUE(parent->rect().contains(w->geometry())) << w->objectName().toStdString();
        for (QWidget* v : kids)
            EXPECT_TRUE(v == w || !w->geometry().intersects(v->geometry()))
                << w->objectName().toStdString() << " / " << v->objectName().toStdString();
    }
}

TEST_F(WindowTest, PanelsAndControlsStandApartInTheirColoursAndLampsOnTheirCellsLine) {
    EXPECT_EQ(window->px(1440), window->logicalDpiX());
    EXPECT_EQ(window->centralWidget()->size(), QSize(window->px(12120), window->px(8595)));
    for (const char* frameName : {"Frame1", "Frame5", "Frame3", "Frame7"}) {
        QList<QWidget*> kids;
        for (QObject* o : find(frameName)->children())
            if (auto* w = qobject_cast<QWidget*>(o); w && w->objectName() != "") kids << w;
        expectApart(find(frameName), kids);
    }
    // The panels lie over the data screen; the settings panel over everything.
    const QObjectList order = window->centralWidget()->children();
    EXPECT_LT(order.indexOf(find("Frame2")), order.indexOf(find("Frame1")));
    EXPECT_EQ(order.indexOf(find("Frame7")), order.size() - 1);
    // Each lamp of a row stands on the line of its own port's cell.
    for (int i = 0; i < 10; ++i) {
        for (int n = 4; n <= 13; ++n) {
            const QRect cell = find(QString("Text%1_%2").arg(n % 2 ? 3 : 1).arg(i))->geometry();
            const int y = find(QString("Shape%1_%2").arg(n).arg(i))->geometry().center().y();
            EXPECT_TRUE(y > cell.top() && y < cell.bottom()) << n << "_" << i;
        }
    }

    const QColor green(192, 255, 192), yellow(255, 255, 192);
    EXPECT_TRUE(find("Frame1")->autoFillBackground());
    EXPECT_NE(find("Frame3")->palette().color(QPalette::Window), green);
    for (const char* name : {"Frame1", "Check10", "Check1", "Option1", "Combo1_0", "Label1_0"})
        EXPECT_EQ(find(name)->palette().color(QPalette::Window), green) << name;
    for (const char* name : {"Frame5", "Check11", "Check3", "Option3", "Combo2_0", "Label8"})
        EXPECT_EQ(find(name)->palette().color(QPalette::Window), yellow) << name;
    EXPECT_EQ(combo(1, 1)->palette().color(QPalette::Base), green);
    for (int i = 0; i < 10; ++i) {
        EXPECT_EQ(field(QString("Text1_%1").arg(i))->palette().color(QPalette::Base), green);
        EXPECT_EQ(field(QString("Text3_%1").arg(i))->palette().color(QPalette::Base), yellow);
    }
}

}  // namespace
}  // namespace lt::test
