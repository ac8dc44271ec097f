#pragma once

#include <gtest/gtest.h>

#include <QAbstractButton>
#include <QComboBox>
#include <QLabel>
#include <QLineEdit>
#include <QSignalSpy>
#include <QStringList>
#include <QTemporaryDir>
#include <QTest>
#include <memory>
#include <ostream>

#include "sim/rig.h"
#include "ui/window/main_window.h"
#include "ui/window/round_lamp.h"

// Readable values in failure messages.
inline void PrintTo(const QString& s, std::ostream* os) {
    *os << '"' << s.toStdString() << '"';
}
inline void PrintTo(const QColor& c, std::ostream* os) {
    *os << "rgb(" << c.red() << ", " << c.green() << ", " << c.blue() << ")";
}

namespace lt::test {

const QColor kLampOff(224, 224, 224);
const QColor kLampGreen(0, 192, 0);
const QColor kLampRed(255, 0, 0);
const QColor kActiveButton(0, 255, 0);

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
    void TearDown() override { window.reset(); }

    void load() {
        rig.core.Form_Load();
        window->showState();
    }

    template <class T = QWidget>
    T* find(const QString& name) const {
        T* w = window->findChild<T*>(name);
        EXPECT_NE(w, nullptr) << "no widget " << name.toStdString();
        return w;
    }
    QAbstractButton* button(const QString& name) const { return find<QAbstractButton>(name); }
    QComboBox* combo(int port, int box) const {
        return find<QComboBox>(QString("Combo%1_%2").arg(port).arg(box));
    }
    QLineEdit* field(const QString& name) const { return find<QLineEdit>(name); }
    QString label(const QString& name) const { return find<QLabel>(name)->text(); }
    QColor lamp(const QString& name) const { return find<RoundLamp>(name)->shownColor(); }
    QAction* action(const char* name) const { return window->findChild<QAction*>(name); }

    // "1" or "0" for each of the buttons Prefix1..PrefixN: checked, enabled, ...
    QString states(const QString& prefix, int n, bool (QAbstractButton::*state)() const) const {
        QString out;
        for (int i = 1; i <= n; ++i)
            out += (button(prefix + QString::number(i))->*state)() ? '1' : '0';
        return out;
    }
    static QStringList items(const QComboBox* c) {
        QStringList list;
        for (int i = 0; i < c->count(); ++i) list << c->itemText(i);
        return list;
    }

    QTemporaryDir home;
    sim::Rig rig;
    std::unique_ptr<MainWindow> window;
};

}  // namespace lt::test
