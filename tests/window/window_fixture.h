#pragma once

#include <gtest/gtest.h>

#include <QAbstractButton>
#include <QAction>
#include <QComboBox>
#include <QLabel>
#include <QLineEdit>
#include <QTemporaryDir>
#include <QTest>
#include <memory>

#include "sim/rig.h"
#include "window/folder_picker.h"
#include "window/main_window.h"
#include "window/round_lamp.h"

// Readable values in failure messages.
inline void PrintTo(const QString& s, std::ostream* os) {
    *os << '"' << s.toStdString() << '"';
}
inline void PrintTo(const QColor& c, std::ostream* os) {
    *os << c.name().toStdString();
}

namespace lt::test {

const QColor kLampUnused(224, 224, 224), kLampGreen(0, 192, 0), kLampRed(255, 0, 0),
    kLitButton(0, 255, 0);

// A user's click in the middle of a button or box.
inline void click(QWidget* w) {
    QTest::mouseClick(w, Qt::LeftButton, {}, QPoint(8, w->height() / 2));
}
// A user's typing over the whole text of a field.
inline void type(QLineEdit* field, const QString& text) {
    field->selectAll();
    QTest::keyClicks(field, text);
}

// The real core on simulated lines and a virtual clock, with its window.
class WindowTest : public ::testing::Test {
protected:
    void SetUp() override {
        ASSERT_TRUE(home.isValid());
        rig.host.env["ProgramFiles"] = home.path().toStdString();
        window = std::make_unique<MainWindow>(rig.core);
    }
    void load() {
        rig.core.load();
        window->showState();
    }

    template <class T = QWidget>
    T* find(const QString& name) const {
        T* w = window->findChild<T*>(name);
        EXPECT_NE(w, nullptr) << "no widget " << name.toStdString();
        return w;
    }
    QAbstractButton* button(const QString& name) const { return find<QAbstractButton>(name); }
    QLineEdit* field(const QString& name) const { return find<QLineEdit>(name); }
    QString label(const QString& name) const { return find<QLabel>(name)->text(); }
    QColor lamp(const QString& name) const { return find<RoundLamp>(name)->shownColor(); }
    QAction* action(const char* name) const { return window->findChild<QAction*>(name); }
    FolderPicker* picker() const { return window->findChild<FolderPicker*>(); }
    QComboBox* combo(int port, Choice box) const {
        const char* names[] = {"port", "baud", "parity", "dataBits", "stopBits"};
        return find<QComboBox>(QString("port%1.%2").arg(port).arg(names[int(box)]));
    }
    void pick(int port, Choice box, const QString& text) const {
        QComboBox* c = combo(port, box);
        const int index = c->findText(text);
        ASSERT_GE(index, 0) << text.toStdString();
        c->setCurrentIndex(index);
        emit c->activated(index);
    }
    // The name of a row's widget: cell(3, 2, "data") is "screen.row3.port2.data".
    static QString cell(int row, int port, const char* what) {
        return QString("screen.row%1.port%2.%3").arg(row).arg(port).arg(what);
    }
    QLineEdit* data(int row, int port) const { return field(cell(row, port, "data")); }

    // "1" or "0" for each button named prefix + name: checked, enabled, ...
    QString states(const QString& prefix, const QStringList& names,
                   bool (QAbstractButton::*state)() const) const {
        QString out;
        for (const QString& name : names) out += (button(prefix + name)->*state)() ? '1' : '0';
        return out;
    }
    QString ticks(int port, bool (QAbstractButton::*state)() const) const {
        return states(QString("port%1.").arg(port),
                      {"rts", "dtr", "dataRelay", "lineRelay", "strobe", "enable"}, state);
    }

    QTemporaryDir home;
    sim::Rig rig;
    std::unique_ptr<MainWindow> window;
};

}  // namespace lt::test
