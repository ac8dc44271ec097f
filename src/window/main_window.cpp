#include "window/main_window.h"

#include <QAction>
#include <QButtonGroup>
#include <QCheckBox>
#include <QCloseEvent>
#include <QComboBox>
#include <QFile>
#include <QGroupBox>
#include <QIcon>
#include <QKeyEvent>
#include <QLabel>
#include <QLayout>
#include <QLineEdit>
#include <QMenuBar>
#include <QMessageBox>
#include <QPointer>
#include <QPushButton>
#include <QRadioButton>
#include <QStyle>
#include <QTreeView>
#include <limits>
#include <string_view>

#include "app/core.h"
#include "window/code_page.h"
#include "window/folder_picker.h"
#include "window/round_lamp.h"

// The icon lives in the view library; a static library's resources must be registered by hand.
static void initResources() {
    Q_INIT_RESOURCE(resources);
}

namespace lt {

namespace {

const QColor kLightGreen(192, 255, 192);   // port 1's panel and cells
const QColor kLightYellow(255, 255, 192);  // port 2's panel and cells
const QColor kRed(255, 0, 0);              // a lit output lamp, the newest row, a refused port
const QColor kGreen(0, 192, 0);            // a lit input lamp, an earlier row, an open port
const QColor kLit(0, 255, 0);              // the run button of the present state
const QColor kUnusedLamp(224, 224, 224);   // a port lamp before the port is first switched on

QString qs(const std::string& utf8) {
    return QString::fromStdString(utf8);
}

// A panel and everything on it take one background colour: the panel itself, the backgrounds
// of its labels and boxes, the edit fields and the buttons of its lists.
void paintPanel(QWidget* w, const QColor& c) {
    QPalette p = w->palette();
    p.setColor(QPalette::Window, c);
    p.setColor(QPalette::Base, c);
    p.setColor(QPalette::Button, c);
    w->setPalette(p);
    w->setAutoFillBackground(true);
}

void setBase(QWidget* w, const QColor& c) {
    QPalette p = w->palette();
    p.setColor(QPalette::Base, c);
    w->setPalette(p);
}

void showChecked(QAbstractButton* b, bool on) {
    if (b->isChecked() != on) b->setChecked(on);
}

void showToggle(QAbstractButton* b, const Toggle& t) {
    showChecked(b, t.checked);
    if (b->isEnabled() != t.enabled) b->setEnabled(t.enabled);
}

void showEnabled(QWidget* w, bool on) {
    if (w->isEnabled() != on) w->setEnabled(on);
}

void showVisible(QWidget* w, bool on) {
    if (w->isHidden() == on) w->setVisible(on);
}

void showText(QLineEdit* e, const std::string& utf8) {
    const QString t = qs(utf8);
    if (e->text() != t) {
        e->setText(t);
        e->setCursorPosition(0);
    }
}

void showText(QLabel* l, const std::string& utf8) {
    const QString t = qs(utf8);
    if (l->text() != t) l->setText(t);
}

void showText(QPushButton* b, const std::string& utf8) {
    const QString t = qs(utf8);
    if (b->text() != t) b->setText(t);
}

// "Пуск" or "Стоп" lit in bright green while it is the state capture is in.
void showLit(QPushButton* b, bool lit) {
    const QColor want = lit ? kLit : b->parentWidget()->palette().color(QPalette::Button);
    if (b->palette().color(QPalette::Button) != want) {
        QPalette p = b->palette();
        p.setColor(QPalette::Button, want);
        b->setPalette(p);
    }
}

void showCombo(QComboBox* combo, const ChoiceBox& state) {
    const QSignalBlocker block(combo);
    bool sameList = combo->count() == static_cast<int>(state.entries.size());
    for (int i = 0; sameList && i < combo->count(); ++i)
        sameList = combo->itemText(i) == qs(state.entries[i]);
    if (!sameList) {
        const QString typed = combo->currentText();
        combo->clear();
        for (const auto& item : state.entries) combo->addItem(qs(item));
        combo->setEditText(typed);
    }
    const QString text = qs(state.text);
    if (combo->currentText() != text) {
        const int index = combo->findText(text, Qt::MatchExactly | Qt::MatchCaseSensitive);
        if (index >= 0) combo->setCurrentIndex(index);
        if (combo->currentText() != text) combo->setEditText(text);
    }
    showEnabled(combo, state.enabled);
}

// A cell is set whenever the core wrote its row, even with the same bytes, and only then: a
// user's typing in the cell stays until the next write of its row, and never outlasts it.
void showCell(QLineEdit* cell, const std::string& bytes, bool rewritten) {
    if (!rewritten) return;
    cell->setText(cp1251Text(bytes));
    cell->setCursorPosition(0);  // the start of a long packet stays in view
}

// A port's line errors: their sum on the panel, in red once there is one; each kind in the tip.
void showErrors(QLabel* label, const LineErrorCounts& counts) {
    std::uint64_t sum = 0;
    for (std::uint64_t n : counts) sum += n;
    showText(label, "Ошибки: " + std::to_string(sum));
    const QString tip = QString::fromUtf8("Кадр: %1, чётность: %2, переполнение: %3, обрыв: %4")
                            .arg(counts[0])
                            .arg(counts[1])
                            .arg(counts[2])
                            .arg(counts[3]);
    if (label->toolTip() != tip) label->setToolTip(tip);
    const QColor want =
        sum > 0 ? kRed : label->parentWidget()->palette().color(QPalette::WindowText);
    if (label->palette().color(QPalette::WindowText) != want) {
        QPalette p = label->palette();
        p.setColor(QPalette::WindowText, want);
        label->setPalette(p);
    }
}

RoundLamp::Fill portLampFill(PortLamp lamp) {
    switch (lamp) {
        case PortLamp::Unused:
            return kUnusedLamp;
        case PortLamp::Open:
            return kGreen;
        case PortLamp::Failed:
            return kRed;
        case PortLamp::Off:
            break;
    }
    return QPalette::Mid;
}

RoundLamp::Fill markerFill(RowMarker marker) {
    switch (marker) {
        case RowMarker::Newest:
            return kRed;
        case RowMarker::Earlier:
            return kGreen;
        case RowMarker::Off:
            break;
    }
    return QPalette::Base;
}

QString portName(int number, const char* what) {
    return QString("port%1.%2").arg(number).arg(what);
}

}  // namespace

MainWindow::MainWindow(Core& core, QWidget* parent) : QMainWindow(parent), core_(core) {
    initResources();
    setObjectName("mainWindow");
    dpi_ = logicalDpiX() > 0 ? logicalDpiX() : 96;

    QFont small = font();
    small.setPointSize(8);
    setFont(small);

    auto* client = new QWidget(this);
    client->setObjectName("client");
    client->setFixedSize(px(12120), px(8595));
    setCentralWidget(client);

    buildMenu();
    buildDataScreen(client);
    buildPortPanel(client, 1);
    buildPortPanel(client, 2);
    buildRunPanel(client);
    buildSettingsPanel(client);
    setIcons();
    layout()->setSizeConstraint(QLayout::SetFixedSize);

    refresh_.setSingleShot(true);
    refresh_.setInterval(kRefreshMs);
    connect(&refresh_, &QTimer::timeout, this, &MainWindow::showState);
    core_.addChangeListener([window = QPointer<MainWindow>(this)] {
        if (window) window->scheduleRefresh();
    });

    showState();
}

MainWindow::~MainWindow() = default;

int MainWindow::px(int twips) const {
    return (twips * dpi_ + 720) / 1440;
}

void MainWindow::place(QWidget* w, QRect t) const {
    w->setGeometry(px(t.x()), px(t.y()), px(t.width()), px(t.height()));
}

// --- Construction ---------------------------------------------------------------------------

QPushButton* MainWindow::makeButton(QWidget* parent, const QString& name, QRect t) {
    auto* button = make<QPushButton>(parent, name, t);
    button->setAutoDefault(false);
    return button;
}

QLineEdit* MainWindow::makeField(QWidget* parent, const QString& name, QRect t) {
    auto* field = make<QLineEdit>(parent, name, t);
    field->setMaxLength(std::numeric_limits<int>::max());
    return field;
}

void MainWindow::buildMenu() {
    menu_ = menuBar()->addMenu(QString::fromUtf8("Меню"));
    menu_->setObjectName("menu");
    captureBeside_ = menu_->addAction(QString::fromUtf8("Также pcapng (Wireshark)"));
    captureBeside_->setObjectName("menu.pcapng");
    captureBeside_->setCheckable(true);
    onUser(captureBeside_, &QAction::triggered,
           [this](bool on) { core_.setCaptureBesideRecord(on); });
    exit_ = menu_->addAction(QString::fromUtf8("Выход"));
    exit_->setObjectName("menu.exit");
    connect(exit_, &QAction::triggered, this, [this] { core_.exit(); });

    settingsAction_ = menuBar()->addAction(QString::fromUtf8("Настройка"));
    settingsAction_->setObjectName("menu.settings");
    onUser(settingsAction_, &QAction::triggered, [this] { core_.toggleSettings(); });
}

void MainWindow::buildDataScreen(QWidget* client) {
    auto* frame = new QGroupBox(QString::fromUtf8("Экран данных полученных от Сом порта"), client);
    frame->setObjectName("screen");
    place(frame, {90, 90, 11970, 8070});

    // Column headings, staggered over two lines: the lamp columns are narrower than the words.
    struct Heading {
        const char* name;
        const char* caption;
        int centre;
        int line;
    };
    const Heading headings[] = {
        {"rts", "RTS", 10290, 0}, {"dtr", "DTR", 10515, 1}, {"dcd", "DCD", 10740, 0},
        {"dsr", "DSR", 10965, 1}, {"cts", "CTS", 11190, 0}, {"length", "Длина", 11535, 1},
    };
    // Two lines of headings fit between the frame's top line and the first row in a smaller type.
    QFont headingFont = font();
    headingFont.setPointSize(7);
    for (const auto& h : headings) {
        const int width = std::string_view(h.name) == "length" ? 600 : 420;
        QLabel* l = make<QLabel>(frame, QString("screen.heading.") + h.name,
                                 {h.centre - width / 2, 285 + 150 * h.line, width, 150}, h.caption);
        l->setAlignment(Qt::AlignCenter);
        l->setFont(headingFont);
    }

    static constexpr const char* kLines[] = {"rts", "dtr", "dcd", "dsr", "cts"};
    const int lampLeft[] = {10215, 10440, 10665, 10890, 11115};
    for (int i = 0; i < DataScreen::kRows; ++i) {
        const int step = 720 * i;
        const QString row = QString("screen.row%1.").arg(i);
        RowWidgets& w = rows_[i];
        w.marker = make<RoundLamp>(frame, row + "marker", {2505, 720 + step, 195, 195});
        for (int port = 0; port < kPorts; ++port) {
            const QString cell = row + QString("port%1.").arg(port + 1);
            const int top = port == 0 ? 495 : 810;
            CellWidgets& c = w.ports[port];
            c.data = makeField(frame, cell + "data", {2700, top + step, 7455, 345});
            setBase(c.data, port == 0 ? kLightGreen : kLightYellow);
            // Lamps sit on the middle of their cell's line.
            for (int k = 0; k < 5; ++k)
                c.lamps[k] = make<RoundLamp>(frame, cell + kLines[k],
                                             {lampLeft[k], top + 97 + step, 150, 150});
            c.length =
                make<QLabel>(frame, cell + "length", {11340, top + 90 + step, 390, 165}, "0");
        }
    }
}

void MainWindow::buildPortPanel(QWidget* client, int number) {
    const bool one = number == 1;
    PortWidgets& w = ports_[number - 1];

    w.frame = new QGroupBox(QString::fromUtf8(one ? "Первый порт" : "Второй порт"), client);
    w.frame->setObjectName(portName(number, "panel"));
    place(w.frame, {180, one ? 540 : 3870, 2235, 3195});
    paintPanel(w.frame, one ? kLightGreen : kLightYellow);
    buildPortChoices(number);
    w.lamp = make<RoundLamp>(w.frame, portName(number, "lamp"), {810, 585, 165, 165});
    buildPortTicks(number);
}

// The five boxes of a port panel (port, baud, parity, data bits, stop bits) with their captions.
void MainWindow::buildPortChoices(int number) {
    const bool one = number == 1;
    PortWidgets& w = ports_[number - 1];
    QWidget* f = w.frame;

    // Port 1's "СOM" begins with the Cyrillic С; port 2's "COM" is Latin.
    const char* captions[] = {one ? "\u0421OM" : "COM", "Baud", "Parity", "Bit", "Stop Bit"};
    const char* names[] = {"port", "baud", "parity", "dataBits", "stopBits"};
    const QRect labelAt[] = {{90, 315, 690, 195},
                             {1020, 315, 1125, 195},
                             {90, 870, 660, 195},
                             {795, 870, 660, 195},
                             {1500, 870, 690, 195}};
    const QRect comboAt[] = {{90, 510, 690, 315},
                             {1020, 510, 1125, 315},
                             {90, 1065, 660, 315},
                             {795, 1065, 660, 315},
                             {1500, 1065, 645, 315}};
    for (int i = 0; i < kChoices; ++i) {
        make<QLabel>(f, portName(number, names[i]) + "Label", labelAt[i], captions[i]);

        auto* combo = make<QComboBox>(f, portName(number, names[i]), comboAt[i]);
        combo->setEditable(true);
        combo->setInsertPolicy(QComboBox::NoInsert);
        combo->setCompleter(nullptr);  // typed text stays as typed
        combo->setMaxVisibleItems(16);
        w.choices[i] = combo;

        // A pick from the list applies the port's choices; typing only changes the text.
        const auto box = static_cast<Choice>(i);
        onUser(combo, &QComboBox::activated, [this, number, box, combo](int index) {
            core_.pickChoice(number, box, combo->itemText(index).toStdString());
        });
        connect(combo->lineEdit(), &QLineEdit::textEdited, this,
                [this, number, box](const QString& text) {
                    core_.typeChoice(number, box, text.toStdString());
                });
        // Enter on a typed text that matches an entry would raise `activated` as a pick does;
        // only a pick applies, so the box keeps Enter to itself.
        combo->lineEdit()->installEventFilter(&enterKeeper_);
    }
}

// The ticks and the display-mode options of a port panel.
void MainWindow::buildPortTicks(int number) {
    PortWidgets& w = ports_[number - 1];
    QWidget* f = w.frame;

    w.rts = make<QCheckBox>(f, portName(number, "rts"), {90, 1440, 1000, 270}, "RTS");
    w.hex = make<QRadioButton>(f, portName(number, "hex"), {1200, 1440, 930, 270}, "Bit");
    w.dtr = make<QCheckBox>(f, portName(number, "dtr"), {90, 1710, 1000, 270}, "DTR");
    w.text = make<QRadioButton>(f, portName(number, "text"), {1200, 1710, 930, 270}, "Text");
    w.dataRelay = make<QCheckBox>(f, portName(number, "dataRelay"), {90, 1980, 2100, 270},
                                  "Трансляция данных");
    w.lineRelay = make<QCheckBox>(f, portName(number, "lineRelay"), {90, 2250, 2100, 270},
                                  "Трансляция сервиса");
    w.strobe = make<QCheckBox>(f, portName(number, "strobe"), {90, 2520, 1110, 270}, "RTS Strob");
    // The line errors stay in one place beside the strobe, apart from the ten rows.
    w.errors = make<QLabel>(f, portName(number, "errors"), {1200, 2520, 945, 270}, "Ошибки: 0");
    w.enable =
        make<QCheckBox>(f, portName(number, "enable"), {90, 2790, 2100, 270}, "Включить порт");

    // The two options of a panel exclude each other; the panels are independent.
    w.modes = new QButtonGroup(f);
    w.modes->addButton(w.hex);
    w.modes->addButton(w.text);

    onUser(w.rts, &QCheckBox::clicked, [this, number](bool on) { core_.setRts(number, on); });
    onUser(w.dtr, &QCheckBox::clicked, [this, number](bool on) { core_.setDtr(number, on); });
    onUser(w.dataRelay, &QCheckBox::clicked,
           [this, number](bool on) { core_.setDataRelay(number, on); });
    onUser(w.lineRelay, &QCheckBox::clicked,
           [this, number](bool on) { core_.setLineRelay(number, on); });
    onUser(w.strobe, &QCheckBox::clicked, [this, number](bool on) { core_.setStrobe(number, on); });
    onUser(w.enable, &QCheckBox::clicked,
           [this, number](bool on) { core_.switchPort(number, on); });
    onUser(w.hex, &QRadioButton::clicked,
           [this, number] { core_.setDisplayMode(number, DisplayMode::Hex); });
    onUser(w.text, &QRadioButton::clicked,
           [this, number] { core_.setDisplayMode(number, DisplayMode::Text); });
}

void MainWindow::buildRunPanel(QWidget* client) {
    auto* frame = new QGroupBox(QString::fromUtf8("Интервал опроса"), client);
    frame->setObjectName("run.panel");
    place(frame, {135, 7020, 2250, 1020});

    pollInterval_ = makeField(frame, "run.pollInterval", {90, 255, 690, 300});
    onUser(pollInterval_, &QLineEdit::textEdited,
           [this](const QString& text) { core_.typePollInterval(text.toStdString()); });
    applyInterval_ = makeButton(frame, "run.apply", {810, 240, 420, 330});
    applyInterval_->setText(QString::fromUtf8("ОК"));
    onUser(applyInterval_, &QPushButton::clicked, [this] { core_.applyPollInterval(); });
    autoFraming_ = make<QCheckBox>(frame, "run.auto", {90, 585, 1140, 210}, "Авт.");
    onUser(autoFraming_, &QCheckBox::clicked, [this](bool on) { core_.setAutoFraming(on); });
    record_ = make<QCheckBox>(frame, "run.record", {90, 795, 1140, 210}, "Запись");
    onUser(record_, &QCheckBox::clicked, [this](bool on) { core_.setRecording(on); });

    start_ = makeButton(frame, "run.start", {1290, 225, 885, 360});
    start_->setText(QString::fromUtf8("Пуск"));
    onUser(start_, &QPushButton::clicked, [this] { core_.start(); });
    stop_ = makeButton(frame, "run.stop", {1290, 615, 885, 360});
    stop_->setText(QString::fromUtf8("Стоп"));
    onUser(stop_, &QPushButton::clicked, [this] { core_.stop(); });
}

void MainWindow::buildSettingsPanel(QWidget* client) {
    settingsPanel_ = new QGroupBox(QString::fromUtf8("Настройки"), client);
    settingsPanel_->setObjectName("settings.panel");
    place(settingsPanel_, {675, 0, 6405, 5415});
    settingsPanel_->setAutoFillBackground(true);
    QWidget* f = settingsPanel_;

    make<QLabel>(f, "settings.pollIntervalLabel", {150, 270, 6100, 210},
                 "Интервал опроса портов по умолчанию, мс");
    defaultPoll_ = makeField(f, "settings.pollInterval", {150, 480, 1500, 300});
    make<QLabel>(f, "settings.gapLabel", {150, 870, 6100, 210},
                 "Минимальный интервал времени между посылками, мс");
    gap_ = makeField(f, "settings.gap", {150, 1080, 1500, 300});
    make<QLabel>(f, "settings.lineDelayLabel", {150, 1470, 6100, 210},
                 "Время задержки сервисных сигналов относительно данных, мс");
    lineDelay_ = makeField(f, "settings.lineDelay", {150, 1680, 1500, 300});
    make<QLabel>(f, "settings.recordFolderLabel", {150, 2040, 4950, 210},
                 "Путь для хранения трансируемых данных ");
    recordFolder_ = makeField(f, "settings.recordFolder", {150, 2280, 4950, 300});
    browse_ = makeButton(f, "settings.browse", {5190, 2250, 1065, 360});

    picker_ = new FolderPicker(f);
    place(picker_->drive(), {150, 2700, 4950, 315});
    place(picker_->dir(), {150, 3060, 6105, 1740});

    auto* save = makeButton(f, "settings.save", {150, 4905, 1500, 390});
    save->setText(QString::fromUtf8("Сохранить"));
    auto* close = makeButton(f, "settings.close", {2460, 4905, 1500, 390});
    close->setText(QString::fromUtf8("Выйти"));

    // Field edits only change the texts; "Сохранить" reads them.
    const std::pair<QLineEdit*, SettingField> fields[] = {
        {defaultPoll_, SettingField::PollInterval},
        {gap_, SettingField::Gap},
        {lineDelay_, SettingField::LineDelay}};
    for (auto [field, which] : fields)
        connect(field, &QLineEdit::textEdited, this, [this, which](const QString& text) {
            core_.typeSetting(which, text.toStdString());
        });
    connect(recordFolder_, &QLineEdit::textEdited, this, [this](const QString& text) {
        core_.typeSetting(SettingField::RecordFolder, QFile::encodeName(text).toStdString());
    });
    onUser(save, &QPushButton::clicked, [this] { core_.saveSettings(); });
    onUser(browse_, &QPushButton::clicked, [this] { core_.toggleFolderPicker(); });
    onUser(close, &QPushButton::clicked, [this] { core_.closeSettings(); });
    onUser(picker_, &FolderPicker::folderChosen, [this](const QString& path) {
        core_.chooseFolder(QFile::encodeName(path).toStdString());
    });
    settingsPanel_->raise();
}

// "Icon1" at the style's large and small icon sizes, for the window and the dialogs it owns.
void MainWindow::setIcons() {
    const QPixmap source(":/Icon1.png");
    if (source.isNull()) return;
    QIcon icon;
    for (auto metric : {QStyle::PM_LargeIconSize, QStyle::PM_SmallIconSize}) {
        const int side = style()->pixelMetric(metric);
        icon.addPixmap(source.scaled(side, side, Qt::KeepAspectRatio, Qt::SmoothTransformation));
    }
    setWindowIcon(icon);
}

bool MainWindow::EnterKeeper::eventFilter(QObject* watched, QEvent* event) {
    if (event->type() == QEvent::KeyPress || event->type() == QEvent::KeyRelease) {
        const int key = static_cast<QKeyEvent*>(event)->key();
        if (key == Qt::Key_Return || key == Qt::Key_Enter) return true;
    }
    return QObject::eventFilter(watched, event);
}

// --- Showing the view -----------------------------------------------------------------------

void MainWindow::scheduleRefresh() {
    // A refresh already waiting stays where it is, so a steady stream of events cannot delay it.
    if (!refresh_.isActive()) refresh_.start();
}

void MainWindow::showState() {
    refresh_.stop();
    const ViewModel v = core_.view();

    const QString caption = qs(v.title);
    if (windowTitle() != caption) setWindowTitle(caption);

    for (int n = 1; n <= kPorts; ++n) showPort(n, v.ports[n - 1]);

    showText(pollInterval_, v.run.pollInterval);
    showEnabled(pollInterval_, v.run.pollIntervalEnabled);
    showVisible(applyInterval_, v.run.applyVisible);
    showToggle(autoFraming_, v.run.autoFraming);
    showChecked(record_, v.recording);
    if (captureBeside_->isChecked() != v.captureBesideRecord)
        captureBeside_->setChecked(v.captureBesideRecord);
    showLit(start_, v.run.startLit);
    showLit(stop_, !v.run.startLit);

    const SettingsPanelView& s = v.settings;
    showVisible(settingsPanel_, s.visible);
    showVisible(picker_->drive(), s.pickerVisible);
    showVisible(picker_->dir(), s.pickerVisible);
    const QString path = QFile::decodeName(QByteArray::fromStdString(s.recordFolder));
    if (recordFolder_->text() != path) {
        recordFolder_->setText(path);
        recordFolder_->setCursorPosition(0);
    }
    showText(gap_, s.gap);
    showText(defaultPoll_, s.pollInterval);
    showText(lineDelay_, s.lineDelay);
    showText(browse_, s.browseCaption);

    showRows(v.rows);
}

void MainWindow::showPort(int number, const PortView& view) {
    PortWidgets& w = ports_[number - 1];
    const PortPanelView& p = view.panel;
    for (int i = 0; i < kChoices; ++i) showCombo(w.choices[i], p.choices[i]);
    w.lamp->setFill(portLampFill(p.lamp));
    showToggle(w.enable, p.enable);
    showToggle(w.rts, p.rts);
    showToggle(w.dtr, p.dtr);
    showToggle(w.dataRelay, p.dataRelay);
    showToggle(w.lineRelay, p.lineRelay);
    showToggle(w.strobe, p.strobe);
    showChecked(view.mode == DisplayMode::Hex ? w.hex : w.text, true);
    showErrors(w.errors, view.lineErrors);
}

void MainWindow::showRows(const DataScreen::Rows& rows) {
    for (int i = 0; i < DataScreen::kRows; ++i) {
        const ScreenRow& row = rows[i];
        RowWidgets& w = rows_[i];
        const bool rewritten = row.writes != w.shownWrites;
        w.shownWrites = row.writes;
        w.marker->setFill(markerFill(row.marker));
        for (int port = 0; port < kPorts; ++port) {
            const ScreenCell& cell = row.ports[port];
            CellWidgets& c = w.ports[port];
            showCell(c.data, cell.bytes, rewritten);
            showText(c.length, cell.length);
            // RTS and DTR are outputs and light red; DCD, DSR and CTS are inputs and light green.
            const auto on = cell.lamps.inOrder();
            for (int k = 0; k < 5; ++k)
                c.lamps[k]->setFill(on[k] ? RoundLamp::Fill(k < 2 ? kRed : kGreen)
                                          : RoundLamp::Fill(QPalette::Base));
        }
    }
}

void MainWindow::showMessage(const std::string& text) {
    QMessageBox box(QMessageBox::NoIcon, "Linetap", qs(text), QMessageBox::Ok, this);
    box.exec();
}

void MainWindow::notify(const std::string& text) {
    auto* box = new QMessageBox(QMessageBox::NoIcon, "Linetap", qs(text), QMessageBox::Ok, this);
    box->setAttribute(Qt::WA_DeleteOnClose);
    box->open();
}

// Window close: the open ports are closed; the program ends with the window.
void MainWindow::closeEvent(QCloseEvent* event) {
    core_.shutDown();
    event->accept();
}

}  // namespace lt
