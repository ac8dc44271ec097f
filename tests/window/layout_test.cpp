// The window as it stands after start: controls, captions, lists, geometry, colours.
#include <QGroupBox>
#include <QLabel>
#include <QMenu>
#include <QMenuBar>
#include <QPushButton>
#include <QRadioButton>
#include <QTreeView>

#include "engine/colors.h"
#include "window_fixture.h"

namespace lt::test {
namespace {

const QColor kGreen(192, 255, 192);
const QColor kYellow(255, 255, 192);

QString captionOf(QWidget* w) {
    if (auto* b = qobject_cast<QAbstractButton*>(w)) return b->text();
    if (auto* l = qobject_cast<QLabel*>(w)) return l->text();
    if (auto* g = qobject_cast<QGroupBox*>(w)) return g->title();
    return "<no caption>";
}

TEST_F(WindowTest, EveryControlCarriesItsCaption) {
    const std::pair<const char*, const char*> captions[] = {
        {"Frame1", "Первый порт"},
        {"Frame5", "Второй порт"},
        {"Frame2", "Экран данных полученных от Сом порта"},
        {"Frame3", "Интервал опроса"},
        {"Frame7", "Настройки"},
        {"Label1_0", "СOM"},
        {"Label8", "COM"},
        {"Label1_1", "Baud"},
        {"Label9", "Baud"},
        {"Label1_2", "Parity"},
        {"Label10", "Parity"},
        {"Label1_3", "Bit"},
        {"Label11", "Bit"},
        {"Label1_4", "Stop Bit"},
        {"Label12", "Stop Bit"},
        {"Check1", "RTS"},
        {"Check3", "RTS"},
        {"Check2", "DTR"},
        {"Check4", "DTR"},
        {"Option1", "Bit"},
        {"Option3", "Bit"},
        {"Option2", "Text"},
        {"Option4", "Text"},
        {"Check5", "Трансляция данных"},
        {"Check6", "Трансляция данных"},
        {"Check7", "Трансляция сервиса"},
        {"Check8", "Трансляция сервиса"},
        {"Check13", "RTS Strob"},
        {"Check14", "RTS Strob"},
        {"Check10", "Включить порт"},
        {"Check11", "Включить порт"},
        {"Check9", "Авт."},
        {"Check12", "Запись"},
        {"Command1", "Пуск"},
        {"Command2", "Стоп"},
        {"Command7", "ОК"},
        {"Label31", "Интервал опроса портов по умолчанию, мс"},
        {"Label30", "Минимальный интервал времени между посылками, мс"},
        {"Label2", "Время задержки сервисных сигналов относительно данных, мс"},
        {"Label29", "Путь для хранения трансируемых данных "},
        {"Command5", "поиск"},
        {"Command4", "Сохранить"},
        {"Command6", "Выйти"},
        {"Label5", "RTS"},
        {"Label6", "DTR"},
        {"Label13", "DCD"},
        {"Label14", "DSR"},
        {"Label15", "CTS"},
        {"Label4", "Длина"},
    };
    for (const auto& [name, caption] : captions)
        if (QWidget* w = find(name)) {
            EXPECT_EQ(captionOf(w), QString::fromUtf8(caption)) << name;
        }

    // The look-alike letters are the ones the captions are written with.
    EXPECT_EQ(find<QLabel>("Label1_0")->text().at(0), QChar(0x0421));  // Cyrillic С
    EXPECT_EQ(find<QLabel>("Label8")->text().at(0), QChar('C'));
    EXPECT_EQ(button("Command7")->text(), QString(QChar(0x041E)) + QChar(0x041A));
    EXPECT_TRUE(
        find<QGroupBox>("Frame2")->title().contains(QString::fromUtf8("\u0421\u043E\u043C")));
    EXPECT_FALSE(find<QGroupBox>("Frame2")->title().contains("Com"));
}

TEST_F(WindowTest, MenuHasExitUnderMenuAndSettingsOnTheBar) {
    auto* bar = window->menuBar();
    const QList<QAction*> top = bar->actions();
    ASSERT_EQ(top.size(), 2);
    auto* file = window->findChild<QMenu*>("mnu_File");
    ASSERT_NE(file, nullptr);
    EXPECT_EQ(top[0], file->menuAction());
    EXPECT_EQ(file->title(), QString::fromUtf8("Меню"));
    ASSERT_EQ(file->actions().size(), 1);
    EXPECT_EQ(file->actions()[0]->objectName(), "mnu_Exit");
    EXPECT_EQ(file->actions()[0]->text(), QString::fromUtf8("Выход"));
    EXPECT_EQ(top[1]->objectName(), "mnu_Prop");
    EXPECT_EQ(top[1]->text(), QString::fromUtf8("Настройка"));
    EXPECT_EQ(top[1]->menu(), nullptr);  // a command, not a menu
}

TEST_F(WindowTest, StartsWithPortsClosedAndCaptureStopped) {
    load();
    for (int n = 1; n <= 14; ++n) {
        QAbstractButton* box = button(QString("Check%1").arg(n));
        EXPECT_FALSE(box->isChecked()) << n;
        const bool usable = n == 9 || n == 10 || n == 11 || n == 12;
        EXPECT_EQ(box->isEnabled(), usable) << n;
    }
    EXPECT_FALSE(button("Option1")->isChecked());
    EXPECT_TRUE(button("Option2")->isChecked());
    EXPECT_FALSE(button("Option3")->isChecked());
    EXPECT_TRUE(button("Option4")->isChecked());

    const char* texts[2][5] = {{"1", "1200", "o", "8", "1"}, {"2", "1200", "o", "8", "1"}};
    for (int port = 1; port <= 2; ++port) {
        for (int box = 0; box < 5; ++box) {
            EXPECT_FALSE(combo(port, box)->isEnabled()) << port << box;
            EXPECT_TRUE(combo(port, box)->isEditable());
            EXPECT_EQ(combo(port, box)->currentText(), texts[port - 1][box]) << port << box;
        }
    }
    EXPECT_EQ(lamp("Shape1")->shownColor(), QColor(224, 224, 224));
    EXPECT_EQ(lamp("Shape3")->shownColor(), QColor(224, 224, 224));

    auto* start = find<QPushButton>("Command1");
    auto* stop = find<QPushButton>("Command2");
    EXPECT_EQ(stop->palette().color(QPalette::Button), QColor(0, 255, 0));
    EXPECT_EQ(start->palette().color(QPalette::Button),
              find("Frame3")->palette().color(QPalette::Button));
    EXPECT_TRUE(field("Text2")->isEnabled());

    EXPECT_TRUE(find("Frame7")->isHidden());
    EXPECT_TRUE(find("Drive1")->isHidden());
    EXPECT_TRUE(find("Dir1")->isHidden());
    EXPECT_TRUE(find("Command7")->isHidden());

    const QColor background = window->palette().color(QPalette::Base);
    for (int i = 0; i < 10; ++i) {
        EXPECT_EQ(lamp(QString("Shape2_%1").arg(i))->shownColor(), background);
        for (int n = 4; n <= 13; ++n)
            EXPECT_EQ(lamp(QString("Shape%1_%2").arg(n).arg(i))->shownColor(), background);
        EXPECT_EQ(find<QLabel>(QString("Label3_%1").arg(i))->text(), "0");
        EXPECT_EQ(find<QLabel>(QString("Label7_%1").arg(i))->text(), "0");
        EXPECT_TRUE(field(QString("Text1_%1").arg(i))->text().isEmpty());
    }
}

TEST_F(WindowTest, PortListsOffer14400OnPortOneOnly) {
    QStringList numbers;
    for (int n = 1; n <= 12; ++n) numbers << QString::number(n);
    const QStringList bauds{"110",   "300",   "600",   "1200",  "2400",  "4800",  "9600",
                            "14400", "19200", "28800", "38400", "57600", "115200"};
    QStringList bauds2 = bauds;
    bauds2.removeAll("14400");

    EXPECT_EQ(items(combo(1, 0)), numbers);
    EXPECT_EQ(items(combo(2, 0)), numbers);
    EXPECT_EQ(items(combo(1, 1)), bauds);
    EXPECT_EQ(items(combo(2, 1)), bauds2);
    EXPECT_EQ(combo(2, 1)->count(), 12);
    for (int port = 1; port <= 2; ++port) {
        EXPECT_EQ(items(combo(port, 2)), (QStringList{"n", "e", "o", "s", "m"}));
        EXPECT_EQ(items(combo(port, 3)), (QStringList{"5", "6", "7", "8"}));
        EXPECT_EQ(items(combo(port, 4)), (QStringList{"1", "2"}));
    }
}

TEST_F(WindowTest, SerialDevicesFollowTwelveInBothPortLists) {
    Add_Serial_Devices(rig.core.form, {"/dev/ttyACM0", "/dev/ttyUSB0"});
    window->showState();
    for (int port = 1; port <= 2; ++port) {
        const QStringList list = items(combo(port, 0));
        ASSERT_EQ(list.size(), 14);
        EXPECT_EQ(list[11], "12");
        EXPECT_EQ(list[12], "/dev/ttyACM0");
        EXPECT_EQ(list[13], "/dev/ttyUSB0");
        EXPECT_EQ(combo(port, 0)->currentText(), port == 1 ? "1" : "2");  // text unchanged
    }
}

TEST_F(WindowTest, PanelsAndDataScreenStandWhereTheTwipsPutThem) {
    auto at = [&](int l, int t, int w, int h) {
        return QRect(window->px(l), window->px(t), window->px(w), window->px(h));
    };
    EXPECT_EQ(window->px(1440), window->logicalDpiX());
    EXPECT_EQ(window->centralWidget()->size(), at(0, 0, 12120, 8595).size());
    EXPECT_EQ(find("Frame2")->geometry(), at(90, 90, 11970, 8070));
    EXPECT_EQ(find("Frame1")->geometry(), at(180, 540, 2235, 3195));
    EXPECT_EQ(find("Frame5")->geometry(), at(180, 3870, 2235, 3195));
    EXPECT_EQ(find("Frame3")->geometry(), at(135, 7020, 2250, 1020));
    EXPECT_EQ(find("Frame7")->geometry(), at(675, 0, 6405, 5415));

    for (int i : {0, 4, 9}) {
        const int step = 720 * i;
        EXPECT_EQ(find(QString("Shape2_%1").arg(i))->geometry(), at(2505, 720 + step, 195, 195));
        EXPECT_EQ(find(QString("Text1_%1").arg(i))->geometry(), at(2700, 495 + step, 7455, 345));
        EXPECT_EQ(find(QString("Text3_%1").arg(i))->geometry(), at(2700, 810 + step, 7455, 345));
        EXPECT_EQ(find(QString("Label3_%1").arg(i))->geometry(), at(11340, 585 + step, 390, 165));
        EXPECT_EQ(find(QString("Label7_%1").arg(i))->geometry(), at(11340, 900 + step, 390, 165));
        const int lefts[] = {10215, 10440, 10665, 10890, 11115};
        for (int k = 0; k < 5; ++k) {
            QWidget* one = find(QString("Shape%1_%2").arg(4 + 2 * k).arg(i));
            QWidget* two = find(QString("Shape%1_%2").arg(5 + 2 * k).arg(i));
            EXPECT_EQ(one->x(), window->px(lefts[k]));
            EXPECT_EQ(two->x(), window->px(lefts[k]));
            EXPECT_EQ(one->width(), window->px(150));
            // Each lamp sits on the line of its own port's cell.
            const QRect cell1 = find(QString("Text1_%1").arg(i))->geometry();
            const QRect cell2 = find(QString("Text3_%1").arg(i))->geometry();
            EXPECT_TRUE(one->geometry().center().y() > cell1.top() &&
                        one->geometry().center().y() < cell1.bottom());
            EXPECT_TRUE(two->geometry().center().y() > cell2.top() &&
                        two->geometry().center().y() < cell2.bottom());
        }
    }
    // The panels lie over the data screen; the settings panel over everything.
    QWidget* client = window->centralWidget();
    const QObjectList order = client->children();
    EXPECT_LT(order.indexOf(find("Frame2")), order.indexOf(find("Frame1")));
    EXPECT_EQ(order.indexOf(find("Frame7")), order.size() - 1);
}

TEST_F(WindowTest, PortControlsStayInsideTheirPanelWithoutOverlapping) {
    for (const char* frameName : {"Frame1", "Frame5", "Frame3", "Frame7"}) {
        QWidget* frame = find(frameName);
        QList<QWidget*> kids;
        for (QObject* o : frame->children())
            if (auto* w = qobject_cast<QWidget*>(o); w && w->objectName() != "") kids << w;
        ASSERT_FALSE(kids.isEmpty());
        for (QWidget* w : kids) {
            EXPECT_TRUE(frame->rect().contains(w->geometry()))
                << frameName << " " << w->objectName().toStdString();
            for (QWidget* v : kids) {
                if (v == w) continue;
                EXPECT_FALSE(w->geometry().intersects(v->geometry()))
                    << w->objectName().toStdString() << " / " << v->objectName().toStdString();
            }
        }
    }
}

TEST_F(WindowTest, PanelColoursReachTheirControls) {
    EXPECT_EQ(find("Frame1")->palette().color(QPalette::Window), kGreen);
    EXPECT_EQ(find("Frame5")->palette().color(QPalette::Window), kYellow);
    EXPECT_TRUE(find("Frame1")->autoFillBackground());
    for (const char* name : {"Check10", "Check1", "Option1", "Combo1_0", "Label1_0"})
        EXPECT_EQ(find(name)->palette().color(QPalette::Window), kGreen) << name;
    for (const char* name : {"Check11", "Check3", "Option3", "Combo2_0", "Label8"})
        EXPECT_EQ(find(name)->palette().color(QPalette::Window), kYellow) << name;
    EXPECT_EQ(combo(1, 1)->palette().color(QPalette::Base), kGreen);
    EXPECT_NE(find("Frame3")->palette().color(QPalette::Window), kGreen);
    for (int i = 0; i < 10; ++i) {
        EXPECT_EQ(field(QString("Text1_%1").arg(i))->palette().color(QPalette::Base), kGreen);
        EXPECT_EQ(field(QString("Text3_%1").arg(i))->palette().color(QPalette::Base), kYellow);
    }
}

TEST_F(WindowTest, CellsHoldLongPacketsAndStayUsable) {
    for (int i = 0; i < 10; ++i) {
        QLineEdit* cell = field(QString("Text3_%1").arg(i));
        EXPECT_FALSE(cell->isReadOnly());
        EXPECT_GT(cell->maxLength(), 1'000'000);
    }
    rig.core.form.Text1[2] = std::string(40000, 'A') + "\xC0";
    window->showState();
    const QString shown = field("Text1_2")->text();
    ASSERT_EQ(shown.size(), 40001);
    EXPECT_EQ(shown.back(), QChar(0x0410));
    EXPECT_EQ(field("Text1_2")->cursorPosition(), 0);  // the start of the packet in view
}

TEST_F(WindowTest, WindowCarriesIconOneAtLargeAndSmallSize) {
    const QIcon icon = window->windowIcon();
    ASSERT_FALSE(icon.isNull());
    const QList<QSize> sizes = icon.availableSizes();
    const int large = window->style()->pixelMetric(QStyle::PM_LargeIconSize);
    const int small = window->style()->pixelMetric(QStyle::PM_SmallIconSize);
    EXPECT_TRUE(sizes.contains(QSize(large, large)));
    EXPECT_TRUE(sizes.contains(QSize(small, small)));
}

}  // namespace
}  // namespace lt::test
