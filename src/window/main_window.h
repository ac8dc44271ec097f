#pragma once

#include <QMainWindow>
#include <QTimer>
#include <array>
#include <string>
#include <type_traits>

#include "panels/view_model.h"

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

// The main window: a thin view over the core. Every widget event calls the core's intent for what
// the user did, and the window then shows the core's view model; after the handlers that the
// event loop runs (timer ticks, port events) it shows the view a moment later, so a busy line
// costs one redraw per refresh period, not one per packet. Widgets are only touched where the view
// changed. Colours are the window's own, chosen by the named states of the view.
//
// Object names say what a widget is: "port1.enable", "port2.baud", "run.start", "settings.save",
// "screen.row3.port1.data", "screen.row3.port2.cts", "screen.row3.marker", "menu.exit".
class MainWindow : public QMainWindow {
    Q_OBJECT
public:
    explicit MainWindow(Core& core, QWidget* parent = nullptr);
    ~MainWindow() override;

    // Brings every widget in line with the view now (a pending refresh is dropped).
    void showState();

    // A message box with a single OK button, titled "Linetap": returns when it is closed, while
    // timers and port events go on.
    void showMessage(const std::string& text);
    // The same box, opened without waiting for it.
    void notify(const std::string& text);

    // Twips (1/1440 inch) in pixels at the screen's logical resolution.
    int px(int twips) const;

    // How long after a timer tick or a port event the window is brought up to date.
    static constexpr int kRefreshMs = 20;

protected:
    void closeEvent(QCloseEvent* event) override;

private:
    // A user's action runs its intent, then the window shows what changed.
    template <class Sender, class Signal, class Intent>
    void onUser(Sender* sender, Signal signal, Intent intent) {
        connect(sender, signal, this, [this, intent](auto... args) {
            // Signals such as clicked(bool) carry arguments that some intents do not need.
            if constexpr (std::is_invocable_v<Intent, decltype(args)...>)
                intent(args...);
            else
                intent();
            showState();
        });
    }

    struct PortWidgets {
        QGroupBox* frame = nullptr;
        std::array<QComboBox*, kChoices> choices{};
        RoundLamp* lamp = nullptr;
        QCheckBox *rts = nullptr, *dtr = nullptr, *dataRelay = nullptr, *lineRelay = nullptr,
                  *strobe = nullptr, *enable = nullptr;
        QRadioButton *hex = nullptr, *text = nullptr;
        QButtonGroup* modes = nullptr;
        QLabel* errors = nullptr;  // the port's line errors: their sum, by kind in the tip
    };
    struct CellWidgets {
        QLineEdit* data = nullptr;
        QLabel* length = nullptr;
        std::array<RoundLamp*, 5> lamps{};  // RTS, DTR, DCD, DSR, CTS
    };
    struct RowWidgets {
        RoundLamp* marker = nullptr;
        std::array<CellWidgets, kPorts> ports;
        unsigned shownWrites = 0;  // the core's writes of the row already shown
    };

    void buildMenu();
    void buildDataScreen(QWidget* client);
    void buildPortPanel(QWidget* client, int number);
    void buildPortChoices(int number);
    void buildPortTicks(int number);
    void buildRunPanel(QWidget* client);
    void buildSettingsPanel(QWidget* client);
    void setIcons();

    // A widget on `parent`, with its caption (if the kind takes one), named for tests and placed
    // in twips. A tick's `clicked` is raised by the user only, so one set by showState never calls
    // back.
    template <class W, class... Caption>
    W* make(QWidget* parent, const QString& name, QRect twips, const Caption&... caption) const {
        auto* w = new W(QString::fromUtf8(caption)..., parent);
        w->setObjectName(name);
        place(w, twips);
        return w;
    }
    QPushButton* makeButton(QWidget* parent, const QString& name, QRect twips);
    QLineEdit* makeField(QWidget* parent, const QString& name, QRect twips);
    void place(QWidget* w, QRect twips) const;

    void scheduleRefresh();
    void showPort(int number, const PortView& view);
    void showRows(const DataScreen::Rows& rows);

    // Swallows Enter in the port panels' boxes.
    class EnterKeeper : public QObject {
    public:
        bool eventFilter(QObject* watched, QEvent* event) override;
    };

    Core& core_;
    EnterKeeper enterKeeper_;
    int dpi_ = 96;
    QTimer refresh_;

    QMenu* menu_ = nullptr;
    QAction* exit_ = nullptr;
    QAction* captureBeside_ = nullptr;
    QAction* settingsAction_ = nullptr;

    std::array<PortWidgets, kPorts> ports_{};

    QLineEdit* pollInterval_ = nullptr;
    QPushButton* applyInterval_ = nullptr;
    QCheckBox* autoFraming_ = nullptr;
    QCheckBox* record_ = nullptr;
    QPushButton* start_ = nullptr;
    QPushButton* stop_ = nullptr;

    QGroupBox* settingsPanel_ = nullptr;
    QLineEdit* recordFolder_ = nullptr;
    QLineEdit* gap_ = nullptr;
    QLineEdit* defaultPoll_ = nullptr;
    QLineEdit* lineDelay_ = nullptr;
    QPushButton* browse_ = nullptr;
    FolderPicker* picker_ = nullptr;

    std::array<RowWidgets, DataScreen::kRows> rows_{};
};

}  // namespace lt
