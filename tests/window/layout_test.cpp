// The window as built: captions, menu, icon, lists, geometry, colours.
#include <QGroupBox>
#include <QMenu>
#include <QMenuBar>
#include <QRegularExpression>
#include <QStyle>

#include "window_fixture.h"

namespace lt::test {
namespace {

QString captionOf(QObject* o) {
    if (auto* b = qobject_cast<QAbstractButton*>(o)) return b->text();
    if (auto* l = qobject_cast<QLabel*>(o)) return l->text();
    if (auto* g = qobject_cast<QGroupBox*>(o)) return g->title();
    if (auto* m = qobject_cast<QMenu*>(o)) return m->title();
    if (auto* a = qobject_cast<QAction*>(o)) return a->text();
    return "<no caption>";
}

TEST_F(WindowTest, EveryControlCarriesItsCaptionAndTheWindowItsMenuAndIcon) {
    // "names=caption" entries; "*." stands for both port panels. Look-alike letters are escapes:
    // Cyrillic С in port 1's "СOM", "ОК", "Сом".
    const QString captions(
        "port1.panel=Первый порт;port2.panel=Второй порт;run.panel=Интервал опроса;"
        "settings.panel=Настройки;screen=Экран данных полученных от \u0421\u043E\u043C порта;"
        "port1.portLabel=\u0421OM;port2.portLabel=COM;*.baudLabel=Baud;*.parityLabel=Parity;"
        "*.dataBitsLabel=Bit;*.stopBitsLabel=Stop Bit;*.rts screen.heading.rts=RTS;"
        "*.dtr screen.heading.dtr=DTR;*.hex=Bit;*.text=Text;*.dataRelay=Трансляция данных;"
        "*.lineRelay=Трансляция сервиса;*.strobe=RTS Strob;*.enable=Включить порт;run.auto=Авт.;"
        "run.record=Запись;run.start=Пуск;run.stop=Стоп;run.apply=\u041E\u041A;"
        "settings.pollIntervalLabel=Интервал опроса портов по умолчанию, мс;"
        "settings.gapLabel=Минимальный интервал времени между посылками, мс;"
        "settings.lineDelayLabel=Время задержки сервисных сигналов относительно данных, мс;"
        "settings.recordFolderLabel=Путь для хранения трансируемых данных ;settings.browse=поиск;"
        "settings.save=Сохранить;settings.close=Выйти;screen.heading.dcd=DCD;"
        "screen.heading.dsr=DSR;screen.heading.cts=CTS;screen.heading.length=Длина;menu=Меню;"
        "menu.pcapng=Также pcapng (Wireshark);menu.exit=Выход;menu.settings=Настройка");
    for (const QString& entry : captions.split(';')) {
        QString names = entry.section('=', 0, 0);
        names.replace(QRegularExpression(R"(\*\.(\w+))"), "port1.\\1 port2.\\1");
        for (const QString& name : names.split(' ')) {
            QObject* o = window->findChild<QObject*>(name);
            EXPECT_EQ(o ? captionOf(o) : "<none>", entry.section('=', 1)) << name.toStdString();
        }
    }

    // The menu bar: "Меню" holding the pcapng tick and "Выход", then the command "Настройка".
    const QList<QAction*> top = window->menuBar()->actions();
    ASSERT_EQ(top.size(), 2);
    EXPECT_EQ(top[0]->menu(), window->findChild<QMenu*>("menu"));
    EXPECT_EQ(top[0]->menu()->actions(), (QList{action("menu.pcapng"), action("menu.exit")}));
    EXPECT_TRUE(action("menu.pcapng")->isCheckable());
    EXPECT_EQ(top[1], action("menu.settings"));
    EXPECT_EQ(top[1]->menu(), nullptr);  // a command, not a menu

    // The icon comes at the large and the small size.
    const QList<QSize> sizes = window->windowIcon().availableSizes();
    for (auto metric : {QStyle::PM_LargeIconSize, QStyle::PM_SmallIconSize}) {
        const int side = window->style()->pixelMetric(metric);
        EXPECT_TRUE(sizes.contains(QSize(side, side))) << side;
    }
}

QStringList items(const QComboBox* c) {
    QStringList list;
    for (int i = 0; i < c->count(); ++i) list << c->itemText(i);
    return list;
}

TEST_F(WindowTest, PortListsOffer14400OnPortOneOnlyAndSerialDevicesAfterTwelve) {
    QStringList bauds{"110",   "300",   "600",   "1200",  "2400",  "4800",  "9600",
                      "14400", "19200", "28800", "38400", "57600", "115200"};
    EXPECT_EQ(items(combo(1, Choice::Baud)), bauds);
    bauds.removeAll("14400");
    EXPECT_EQ(items(combo(2, Choice::Baud)), bauds);
    rig.core.addPortEntries({"/dev/ttyACM0", "/dev/ttyUSB0"});
    window->showState();
    QStringList ports;
    for (int n = 1; n <= 12; ++n) ports << QString::number(n);
    ports << "/dev/ttyACM0"
          << "/dev/ttyUSB0";
    for (int port = 1; port <= 2; ++port) {
        EXPECT_EQ(items(combo(port, Choice::Port)), ports);
        EXPECT_EQ(combo(port, Choice::Port)->currentText(), QString::number(port));  // unchanged
    }
}

TEST_F(WindowTest, PanelsAndControlsStandApartInTheirColoursAndLampsOnTheirCellsLine) {
    EXPECT_EQ(window->px(1440), window->logicalDpiX());
    EXPECT_EQ(window->centralWidget()->size(), QSize(window->px(12120), window->px(8595)));
    // The named children of each panel stand inside it and apart from each other.
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
    // The panels lie over the data screen; the settings panel over everything.
    const QObjectList order = window->centralWidget()->children();
    EXPECT_LT(order.indexOf(find("screen")), order.indexOf(find("port1.panel")));
    EXPECT_EQ(order.indexOf(find("settings.panel")), order.size() - 1);
    // Each lamp of a row stands on the line of its own port's cell.
    for (int i = 0; i < 10; ++i)
        for (int port = 1; port <= 2; ++port)
            for (const char* which : {"rts", "dtr", "dcd", "dsr", "cts"}) {
                const int y = find(cell(i, port, which))->geometry().center().y();
                const QRect line = data(i, port)->geometry();
                EXPECT_TRUE(y > line.top() && y < line.bottom())
                    << cell(i, port, which).toStdString();
            }

    EXPECT_TRUE(find("port1.panel")->autoFillBackground());
    EXPECT_NE(find("run.panel")->palette().color(QPalette::Window), kPanelGreen);
    for (int port = 1; port <= 2; ++port) {
        const QColor colour = port == 1 ? kPanelGreen : kPanelYellow;
        for (const char* name : {"panel", "enable", "rts", "hex", "port", "portLabel"}) {
            const QString full = QString("port%1.%2").arg(port).arg(name);
            EXPECT_EQ(find(full)->palette().color(QPalette::Window), colour) << full.toStdString();
        }
        EXPECT_EQ(combo(port, Choice::Baud)->palette().color(QPalette::Base), colour);
        for (int i = 0; i < 10; ++i)
            EXPECT_EQ(data(i, port)->palette().color(QPalette::Base), colour) << i;
    }
}

}  // namespace
}  // namespace lt::test
