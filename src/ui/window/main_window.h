#pragma once

#include <QMainWindow>
#include <QTimer>
#include <array>
#include <cstdint>
#include <string>
#include <vector>

#include "engine/form.h"

class QAction;
class QButtonGroup;
class QCheckBox;
class QComboBox;
class QGroupBox;
class QLabel;
class QLineEdit;
class QMenu;
class QPushButton;
class QRadioButton;

namespace lt {

class Core;
class FolderPicker;
class RoundLamp;

// Adds one entry per serial device found on the system after "1".."12" in box 0 of both port
// panels.
void Add_Serial_Devices(Form& form, const std::vector<std::string>& devices);

// The window "Form1": a thin view over the core. Every widget event calls its handler in the
// core, and the window then shows the form state; after the handlers that the event loop runs
// (timer ticks, port events) it shows the state a moment later, so a busy line costs one redraw
// per refresh period, not one per packet. Widgets are only touched where the state changed.
//
// Object names are the control names, array elements as Name_Index: "Combo1_0", "Text1_9",
// "Shape4_0", "Label3_0", "Label1_2".
class MainWindow : public QMainWindow {
    Q_OBJECT
public:
    explicit MainWindow(Core& core, QWidget* parent = nullptr);
    ~MainWindow() override;

    // Brings every widget in line with the form state now (a pending refresh is dropped).
    void showState();

    // Twips (1/1440 inch) in pixels at the screen's logical resolution.
    int px(int twips) const;

    // How long after a timer tick or a port event the window is brought up to date.
    static constexpr int kRefreshMs = 20;

protected:
    void closeEvent(QCloseEvent* event) override;

private:
    // A user's click runs its core handler, then the window shows what changed.
    template <class Sender, class Signal>
    void onClick(Sender* sender, Signal signal, void (Core::*handler)()) {
        connect(sender, signal, this, [this, handler] {
            (core_.*handler)();
            showState();
        });
    }

    struct PortPanel {
        QGroupBox* frame = nullptr;
        std::array<QLabel*, 5> labels{};
        std::array<QComboBox*, 5> combos{};
        RoundLamp* lamp = nullptr;
        QButtonGroup* options = nullptr;
    };

    void buildMenu();
    void buildDataScreen(QWidget* client);
    void buildPortPanel(QWidget* client, int number);
    void buildRunPanel(QWidget* client);
    void buildSettingsPanel(QWidget* client);
    void setIcons();

    QCheckBox* makeCheck(QWidget* parent, int number, const char* caption, QRect twips);
    QRadioButton* makeOption(QWidget* parent, int number, const char* caption, QRect twips);
    QPushButton* makeButton(QWidget* parent, const char* name, QRect twips);
    QLineEdit* makeField(QWidget* parent, const char* name, QRect twips);
    QLabel* makeLabel(QWidget* parent, const QString& name, const char* caption, QRect twips);
    RoundLamp* makeLamp(QWidget* parent, const QString& name, QRect twips);
    void place(QWidget* w, QRect twips) const;

    void scheduleRefresh();
    void showPort(int number);
    void showRows();

    Core& core_;
    int dpi_ = 96;
    QTimer refresh_;

    QMenu* mnuFile_ = nullptr;
    QAction* mnuExit_ = nullptr;
    QAction* mnuProp_ = nullptr;

    std::array<QCheckBox*, 15> checks_{};           // Check1..Check14
    std::array<QRadioButton*, 5> optionButtons_{};  // Option1..Option4
    std::array<PortPanel, 3> ports_{};              // index 1 and 2

    QGroupBox* frame2_ = nullptr;
    QGroupBox* frame3_ = nullptr;
    QLineEdit* text2_ = nullptr;
    QPushButton* command1_ = nullptr;
    QPushButton* command2_ = nullptr;
    QPushButton* command7_ = nullptr;

    QGroupBox* frame7_ = nullptr;
    QLineEdit* text4_ = nullptr;
    QLineEdit* text8_ = nullptr;
    QLineEdit* text9_ = nullptr;
    QLineEdit* text10_ = nullptr;
    QPushButton* command4_ = nullptr;
    QPushButton* command5_ = nullptr;
    QPushButton* command6_ = nullptr;
    FolderPicker* picker_ = nullptr;

    Rows<RoundLamp*> shape2_{};
    Rows<QLineEdit*> text1_{}, text3_{};
    Rows<QLabel*> label3_{}, label7_{};
    std::array<Rows<RoundLamp*>, 14> leds_{};  // Shape4..Shape13 by number
    // Bytes last put into the data-screen cells, so an unchanged cell is not set again.
    Rows<std::string> shown1_{}, shown3_{};
};

}  // namespace lt
