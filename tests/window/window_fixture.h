#pragma once

#include <gtest/gtest.h>

#include <QAbstractButton>
#include <QComboBox>
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
inline void PrintTo(const QRect& r, std::ostream* os) {
    *os << r.x() << "," << r.y() << " " << r.width() << "x" << r.height();
}
inline void PrintTo(const QSize& s, std::ostream* os) {
    *os << s.width() << "x" << s.height();
}

namespace lt::test {

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
    RoundLamp* lamp(const QString& name) const { return find<RoundLamp>(name); }

    static QStringList items(const QComboBox* c) {
        QStringList list;
        for (int i = 0; i < c->count(); ++i) list << c->itemText(i);
        return list;
    }
    // A user's click in the middle of a button or box.
    static void click(QWidget* w) {
        QTest::mouseClick(w, Qt::LeftButton, {}, QPoint(8, w->height() / 2));
    }

    QTemporaryDir home;
    sim::Rig rig;
    std::unique_ptr<MainWindow> window;
};

}  // namespace lt::test
