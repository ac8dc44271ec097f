#include "ui/window/main_window.h"

#include <QAction>
#include <QButtonGroup>
#include <QCheckBox>
#include <QCloseEvent>
#include <QComboBox>
#include <QFile>
#include <QGroupBox>
#include <QIcon>
#include <QLabel>
#include <QLayout>
#include <QLineEdit>
#include <QMenuBar>
#include <QPushButton>
#include <QRadioButton>
#include <QStyle>
#include <QTreeView>
#include <limits>
#include <string_view>

#include "engine/core.h"
#include "ui/window/code_page.h"
#include "ui/window/folder_picker.h"
#include "ui/window/round_lamp.h"

// The icon lives in the view library; a static library's resources must be registered by hand.
static void initResources() {
    Q_INIT_RESOURCE(resources);
}

namespace lt {

namespace {

const QColor kLightGreen(192, 255, 192);
const QColor kLightYellow(255, 255, 192);

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

void showButton(QPushButton* b, const Button& state) {
    showText(b, state.Caption);
    showVisible(b, state.Visible);
    const QColor want = windowColor(state.BackColor, b->parentWidget()->palette());
    if (b->palette().color(QPalette::Button) != want) {
        QPalette p = b->palette();
        p.setColor(QPalette::Button, want);
        b->setPalette(p);
    }
}

void showCombo(QComboBox* combo, const ComboBox& state) {
    const QSignalBlocker block(combo);
    bool sameList = combo->count() == static_cast<int>(state.List.size());
    for (int i = 0; sameList && i < combo->count(); ++i)
        sameList = combo->itemText(i) == qs(state.List[i]);
    if (!sameList) {
        const QString typed = combo->currentText();
        combo->clear();
        for (const auto& item : state.List) combo->addItem(qs(item));
        combo->setEditText(typed);
    }
    const QString text = qs(state.Text);
    if (combo->currentText() != text) {
        const int index = combo->findText(text, Qt::MatchExactly | Qt::MatchCaseSensitive);
        if (index >= 0) combo->setCurrentIndex(index);
        if (combo->currentText() != text) combo->setEditText(text);
    }
    showEnabled(combo, state.Enabled);
}

void showCell(QLineEdit* cell, std::string& shown, const std::string& bytes) {
    if (shown == bytes) return;
    shown = bytes;
    cell->setText(cp1251Text(bytes));
    cell->setCursorPosition(0);  // the start of a long packet stays in view
}

}  // namespace

void Add_Serial_Devices(Form& form, const std::vector<std::string>& devices) {
    for (const auto& device : devices) {
        form.Combo1[0].List.push_back(device);
        form.Combo2[0].List.push_back(device);
    }
}

MainWindow::MainWindow(Core& core, QWidget* parent) : QMainWindow(parent), core_(core) {
    initResources();
    setObjectName("Form1");
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
    core_.Changed = [this] { scheduleRefresh(); };

    showState();
}

MainWindow::~MainWindow() {
    core_.Changed = nullptr;
}

int MainWindow::px(int twips) const {
    return (twips * dpi_ + 720) / 1440;
}

void MainWindow::place(QWidget* w, QRect t) const {
    w->setGeometry(px(t.x()), px(t.y()), px(t.width()), px(t.height()));
}

// --- Construction ---------------------------------------------------------------------------

QCheckBox* MainWindow::makeCheck(QWidget* parent, int number, const char* caption, QRect t) {
    auto* box = new QCheckBox(QString::fromUtf8(caption), parent);
    box->setObjectName(QString("Check%1").arg(number));
    place(box, t);
    checks_[number] = box;
    // clicked is raised by the user only, so a tick set by showState never calls back.
    connect(box, &QCheckBox::clicked, this, [this, number](bool on) {
        core_.Set_Check(number, on ? 1 : 0);
        showState();
    });
    return box;
}

QRadioButton* MainWindow::makeOption(QWidget* parent, int number, const char* caption, QRect t) {
    auto* option = new QRadioButton(QString::fromUtf8(caption), parent);
    option->setObjectName(QString("Option%1").arg(number));
    place(option, t);
    optionButtons_[number] = option;
    connect(option, &QRadioButton::clicked, this, [this, number] {
        core_.Option_Click(number);
        showState();
    });
    return option;
}

QPushButton* MainWindow::makeButton(QWidget* parent, const char* name, QRect t) {
    auto* button = new QPushButton(parent);
    button->setObjectName(name);
    button->setAutoDefault(false);
    place(button, t);
    return button;
}

QLineEdit* MainWindow::makeField(QWidget* parent, const char* name, QRect t) {
    auto* field = new QLineEdit(parent);
    field->setObjectName(name);
    field->setMaxLength(std::numeric_limits<int>::max());
    place(field, t);
    return field;
}

QLabel* MainWindow::makeLabel(QWidget* parent, const QString& name, const char* caption, QRect t) {
    auto* label = new QLabel(QString::fromUtf8(caption), parent);
    label->setObjectName(name);
    place(label, t);
    return label;
}

RoundLamp* MainWindow::makeLamp(QWidget* parent, const QString& name, QRect t) {
    auto* lamp = new RoundLamp(parent);
    lamp->setObjectName(name);
    place(lamp, t);
    return lamp;
}

void MainWindow::buildMenu() {
    mnuFile_ = menuBar()->addMenu(QString::fromUtf8("Меню"));
    mnuFile_->setObjectName("mnu_File");
    mnuExit_ = mnuFile_->addAction(QString::fromUtf8("Выход"));
    mnuExit_->setObjectName("mnu_Exit");
    connect(mnuExit_, &QAction::triggered, this, [this] { core_.mnu_Exit_Click(); });

    mnuProp_ = menuBar()->addAction(QString::fromUtf8("Настройка"));
    mnuProp_->setObjectName("mnu_Prop");
    onClick(mnuProp_, &QAction::triggered, &Core::mnu_Prop_Click);
}

void MainWindow::buildDataScreen(QWidget* client) {
    frame2_ = new QGroupBox(QString::fromUtf8("Экран данных полученных от Сом порта"), client);
    frame2_->setObjectName("Frame2");
    place(frame2_, {90, 90, 11970, 8070});

    // Column headings, staggered over two lines: the lamp columns are narrower than the words.
    struct Heading {
        const char* name;
        const char* caption;
        int centre;
        int line;
    };
    const Heading headings[] = {
        {"Label5", "RTS", 10290, 0},  {"Label6", "DTR", 10515, 1},  {"Label13", "DCD", 10740, 0},
        {"Label14", "DSR", 10965, 1}, {"Label15", "CTS", 11190, 0}, {"Label4", "Длина", 11535, 1},
    };
    // Two lines of headings fit between the frame's top line and the first row in a smaller type.
    QFont headingFont = font();
    headingFont.setPointSize(7);
    for (const auto& h : headings) {
        const int width = std::string_view(h.name) == "Label4" ? 600 : 420;
        QLabel* l = makeLabel(frame2_, h.name, h.caption,
                              {h.centre - width / 2, 285 + 150 * h.line, width, 150});
        l->setAlignment(Qt::AlignCenter);
        l->setFont(headingFont);
    }

    const int lampLeft[] = {10215, 10440, 10665, 10890, 11115};
    for (int i = 0; i < kRows; ++i) {
        const int step = 720 * i;
        shape2_[i] = makeLamp(frame2_, QString("Shape2_%1").arg(i), {2505, 720 + step, 195, 195});

        text1_[i] = makeField(frame2_, "", {2700, 495 + step, 7455, 345});
        text1_[i]->setObjectName(QString("Text1_%1").arg(i));
        setBase(text1_[i], kLightGreen);
        text3_[i] = makeField(frame2_, "", {2700, 810 + step, 7455, 345});
        text3_[i]->setObjectName(QString("Text3_%1").arg(i));
        setBase(text3_[i], kLightYellow);

        // Lamps sit on the middle of their cell's line: Shape4, 6, ... 12 port 1, 5 ... 13 port 2.
        for (int k = 0; k < 5; ++k) {
            const int one = 4 + 2 * k;
            leds_[one][i] = makeLamp(frame2_, QString("Shape%1_%2").arg(one).arg(i),
                                     {lampLeft[k], 592 + step, 150, 150});
            leds_[one + 1][i] = makeLamp(frame2_, QString("Shape%1_%2").arg(one + 1).arg(i),
                                         {lampLeft[k], 907 + step, 150, 150});
        }
        label3_[i] =
            makeLabel(frame2_, QString("Label3_%1").arg(i), "0", {11340, 585 + step, 390, 165});
        label7_[i] =
            makeLabel(frame2_, QString("Label7_%1").arg(i), "0", {11340, 900 + step, 390, 165});
    }
}

void MainWindow::buildPortPanel(QWidget* client, int number) {
    const bool one = number == 1;
    Channel& c = core_.channel(number);
    PortPanel& panel = ports_[number];

    panel.frame = new QGroupBox(QString::fromUtf8(one ? "Первый порт" : "Второй порт"), client);
    panel.frame->setObjectName(one ? "Frame1" : "Frame5");
    place(panel.frame, {180, one ? 540 : 3870, 2235, 3195});
    paintPanel(panel.frame, one ? kLightGreen : kLightYellow);
    QWidget* f = panel.frame;

    // Port 1's "СOM" begins with the Cyrillic С; port 2's "COM" is Latin.
    const char* captions[] = {one ? "\u0421OM" : "COM", "Baud", "Parity", "Bit", "Stop Bit"};
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
    for (int i = 0; i < 5; ++i) {
        const QString labelName = one ? QString("Label1_%1").arg(i) : QString("Label%1").arg(8 + i);
        panel.labels[i] = makeLabel(f, labelName, captions[i], labelAt[i]);

        auto* combo = new QComboBox(f);
        combo->setObjectName(QString("Combo%1_%2").arg(number).arg(i));
        combo->setEditable(true);
        combo->setInsertPolicy(QComboBox::NoInsert);
        combo->setCompleter(nullptr);  // typed text stays as typed
        combo->setMaxVisibleItems(16);
        place(combo, comboAt[i]);
        panel.combos[i] = combo;

        // A pick from the list puts its text in the box and raises the click; typing only
        // changes the text.
        connect(combo, &QComboBox::activated, this, [this, number, i, combo](int index) {
            ComboBox& box = (*core_.channel(number).Combo)[i];
            box.Text = combo->itemText(index).toStdString();
            core_.Combo_Click(core_.channel(number), i);
            showState();
        });
        connect(combo->lineEdit(), &QLineEdit::textEdited, this,
                [this, number, i](const QString& text) {
                    (*core_.channel(number).Combo)[i].Text = text.toStdString();
                });
    }
    panel.lamp = makeLamp(f, one ? "Shape1" : "Shape3", {810, 585, 165, 165});

    makeCheck(f, c.RtsBox, "RTS", {90, 1440, 1000, 270});
    makeOption(f, c.BitOption, "Bit", {1200, 1440, 930, 270});
    makeCheck(f, c.DtrBox, "DTR", {90, 1710, 1000, 270});
    makeOption(f, c.TextOption, "Text", {1200, 1710, 930, 270});
    makeCheck(f, c.DataRelayBox, "Трансляция данных", {90, 1980, 2100, 270});
    makeCheck(f, c.ServiceRelayBox, "Трансляция сервиса", {90, 2250, 2100, 270});
    makeCheck(f, c.StrobeBox, "RTS Strob", {90, 2520, 2100, 270});
    makeCheck(f, c.SwitchBox, "Включить порт", {90, 2790, 2100, 270});

    // The two options of a panel exclude each other; the panels are independent.
    panel.options = new QButtonGroup(f);
    panel.options->addButton(optionButtons_[c.BitOption]);
    panel.options->addButton(optionButtons_[c.TextOption]);
}

void MainWindow::buildRunPanel(QWidget* client) {
    frame3_ = new QGroupBox(QString::fromUtf8("Интервал опроса"), client);
    frame3_->setObjectName("Frame3");
    place(frame3_, {135, 7020, 2250, 1020});

    text2_ = makeField(frame3_, "Text2", {90, 255, 690, 300});
    connect(text2_, &QLineEdit::textEdited, this, [this](const QString& text) {
        core_.Set_Text2(text.toStdString());
        showState();
    });
    command7_ = makeButton(frame3_, "Command7", {810, 240, 420, 330});
    onClick(command7_, &QPushButton::clicked, &Core::Apply_Interval);
    makeCheck(frame3_, 9, "Авт.", {90, 585, 1140, 210});
    makeCheck(frame3_, 12, "Запись", {90, 795, 1140, 210});

    command1_ = makeButton(frame3_, "Command1", {1290, 225, 885, 360});
    onClick(command1_, &QPushButton::clicked, &Core::Start_Capture);
    command2_ = makeButton(frame3_, "Command2", {1290, 615, 885, 360});
    onClick(command2_, &QPushButton::clicked, &Core::Stop_Capture);
}

void MainWindow::buildSettingsPanel(QWidget* client) {
    frame7_ = new QGroupBox(QString::fromUtf8("Настройки"), client);
    frame7_->setObjectName("Frame7");
    place(frame7_, {675, 0, 6405, 5415});
    frame7_->setAutoFillBackground(true);
    QWidget* f = frame7_;

    makeLabel(f, "Label31", "Интервал опроса портов по умолчанию, мс", {150, 270, 6100, 210});
    text9_ = makeField(f, "Text9", {150, 480, 1500, 300});
    makeLabel(f, "Label30", "Минимальный интервал времени между посылками, мс",
              {150, 870, 6100, 210});
    text8_ = makeField(f, "Text8", {150, 1080, 1500, 300});
    makeLabel(f, "Label2", "Время задержки сервисных сигналов относительно данных, мс",
              {150, 1470, 6100, 210});
    text10_ = makeField(f, "Text10", {150, 1680, 1500, 300});
    makeLabel(f, "Label29", "Путь для хранения трансируемых данных ", {150, 2040, 4950, 210});
    text4_ = makeField(f, "Text4", {150, 2280, 4950, 300});
    command5_ = makeButton(f, "Command5", {5190, 2250, 1065, 360});

    picker_ = new FolderPicker(f);
    place(picker_->drive(), {150, 2700, 4950, 315});
    place(picker_->dir(), {150, 3060, 6105, 1740});

    command4_ = makeButton(f, "Command4", {150, 4905, 1500, 390});
    command4_->setText(QString::fromUtf8("Сохранить"));
    command6_ = makeButton(f, "Command6", {2460, 4905, 1500, 390});
    command6_->setText(QString::fromUtf8("Выйти"));

    // Field edits only change the texts; "Сохранить" reads them.
    const std::pair<QLineEdit*, TextBox*> fields[] = {{text4_, &core_.form.Text4},
                                                      {text8_, &core_.form.Text8},
                                                      {text9_, &core_.form.Text9},
                                                      {text10_, &core_.form.Text10}};
    for (auto [field, box] : fields) {
        connect(field, &QLineEdit::textEdited, this,
                [box, isPath = field == text4_](const QString& text) {
                    box->Text = isPath ? QFile::encodeName(text).toStdString() : text.toStdString();
                });
    }
    onClick(command4_, &QPushButton::clicked, &Core::Command4_Click);
    onClick(command5_, &QPushButton::clicked, &Core::Command5_Click);
    onClick(command6_, &QPushButton::clicked, &Core::Command6_Click);
    connect(picker_, &FolderPicker::folderChosen, this, [this](const QString& path) {
        core_.Dir_Change(QFile::encodeName(path).toStdString());
        showState();
    });
    frame7_->raise();
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

// --- Showing the state ----------------------------------------------------------------------

void MainWindow::scheduleRefresh() {
    // A refresh already waiting stays where it is, so a steady stream of events cannot delay it.
    if (!refresh_.isActive()) refresh_.start();
}

void MainWindow::showState() {
    refresh_.stop();
    const Form& f = core_.form;

    const QString caption = qs(f.Caption);
    if (windowTitle() != caption) setWindowTitle(caption);

    for (int n = 1; n <= 14; ++n) {
        showChecked(checks_[n], f.Check[n].Value == 1);
        showEnabled(checks_[n], f.Check[n].Enabled);
    }
    showPort(1);
    showPort(2);

    showText(text2_, f.Text2.Text);
    showEnabled(text2_, f.Text2.Enabled);
    showButton(command1_, f.Command1);
    showButton(command2_, f.Command2);
    showButton(command7_, f.Command7);

    showVisible(frame7_, f.Frame7Visible);
    showVisible(picker_->drive(), f.PickersVisible);
    showVisible(picker_->dir(), f.PickersVisible);
    const QString path = QFile::decodeName(QByteArray::fromStdString(f.Text4.Text));
    if (text4_->text() != path) {
        text4_->setText(path);
        text4_->setCursorPosition(0);
    }
    showEnabled(text4_, f.Text4.Enabled);
    for (auto [field, box] : {std::pair{text8_, &f.Text8}, std::pair{text9_, &f.Text9},
                              std::pair{text10_, &f.Text10}}) {
        showText(field, box->Text);
        showEnabled(field, box->Enabled);
    }
    showText(command5_, f.Command5Caption);

    showRows();
}

void MainWindow::showPort(int number) {
    const Form& f = core_.form;
    const bool one = number == 1;
    PortPanel& panel = ports_[number];
    const auto& boxes = one ? f.Combo1 : f.Combo2;
    for (int i = 0; i < 5; ++i) showCombo(panel.combos[i], boxes[i]);
    panel.lamp->setColorValue(one ? f.Shape1 : f.Shape3);

    const Channel& c = core_.channel(number);
    QRadioButton* bit = optionButtons_[c.BitOption];
    QRadioButton* text = optionButtons_[c.TextOption];
    const bool wantBit = f.Option[c.BitOption];
    const bool wantText = f.Option[c.TextOption];
    if (bit->isChecked() != wantBit || text->isChecked() != wantText) {
        // An exclusive group cannot show both clear; let go of it while setting.
        panel.options->setExclusive(false);
        bit->setChecked(wantBit);
        text->setChecked(wantText);
        panel.options->setExclusive(!(wantBit && wantText));
    }
}

void MainWindow::showRows() {
    const Form& f = core_.form;
    const Rows<std::uint32_t>* lamps[14] = {
        nullptr,   nullptr,   nullptr,   nullptr,    &f.Shape4,  &f.Shape5,  &f.Shape6,
        &f.Shape7, &f.Shape8, &f.Shape9, &f.Shape10, &f.Shape11, &f.Shape12, &f.Shape13};
    for (int i = 0; i < kRows; ++i) {
        shape2_[i]->setColorValue(f.Shape2[i]);
        showCell(text1_[i], shown1_[i], f.Text1[i]);
        showCell(text3_[i], shown3_[i], f.Text3[i]);
        showText(label3_[i], f.Label3[i]);
        showText(label7_[i], f.Label7[i]);
        for (int n = 4; n <= 13; ++n) leds_[n][i]->setColorValue((*lamps[n])[i]);
    }
}

// Window close: the open ports are closed; the program ends with the window.
void MainWindow::closeEvent(QCloseEvent* event) {
    core_.Form_Unload();
    event->accept();
}

}  // namespace lt
