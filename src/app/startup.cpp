#include "app/startup.h"

#include <array>
#include <utility>

#include "engine/core.h"

namespace lt {

namespace {

constexpr std::array<std::pair<const char*, const char*>, 12> kMonths{{
    {"Январь", "Января"},
    {"Февраль", "Февраля"},
    {"Март", "Марта"},
    {"Апрель", "Апреля"},
    {"Май", "Мая"},
    {"Июнь", "Июня"},
    {"Июль", "Июля"},
    {"Август", "Августа"},
    {"Сентябрь", "Сентября"},
    {"Октябрь", "Октября"},
    {"Ноябрь", "Ноября"},
    {"Декабрь", "Декабря"},
}};

// Closes what the program holds open at its end: the ports, port 1 first, and the record file.
// Timers stop too, so nothing that was already queued writes a row, a record or a relay after.
void closeAll(Core& core) {
    core.port1.closePort();
    core.port2.closePort();
    for (auto* t : {&core.Timer1, &core.Timer2, &core.Timer3, &core.Timer5, &core.Timer6,
                    &core.Timer7, &core.Timer8})
        (*t)->setEnabled(false);
    core.Running = 0;
    core.Recording = 0;
    core.records.Close();
}

}  // namespace

std::string genitiveOf(const std::string& monthName) {
    for (const auto& [nominative, genitive] : kMonths)
        if (monthName == nominative) return genitive;
    return monthName;
}

std::string monthGenitive(const QLocale& locale, const QDate& date) {
    // Locale data names months in lower case where the language writes them so ("декабрь");
    // the table is looked up with a capital, and a name it does not hold is shown as it came.
    const QString name = locale.standaloneMonthName(date.month(), QLocale::LongFormat);
    QString capital = name;
    if (!capital.isEmpty()) capital[0] = capital[0].toUpper();
    const std::string genitive = genitiveOf(capital.toStdString());
    return genitive != capital.toStdString() ? genitive : name.toStdString();
}

std::string titleLine(const QLocale& locale, const QDate& date) {
    std::string line =
        "Velmora" + std::string(7, ' ') + "Linetap v.2.0" + std::string(15, ' ') + "Сегодня: ";
    line += std::to_string(date.day());
    line += "  ";
    line += monthGenitive(locale, date);
    line += "  ";
    line += QString::number(date.year()).rightJustified(4, u'0').toStdString();
    line += " года  ";
    line += locale.dayName(date.dayOfWeek(), QLocale::LongFormat).toStdString();
    return line;
}

// Runs once before the window is first shown. The window gives itself the icon "Icon1".
void Core::Form_Load() {
    Mode_Port1 = 1;
    Mode_Port2 = 1;
    form.Option[1] = false;
    form.Option[2] = true;
    form.Option[3] = false;
    form.Option[4] = true;

    form.Caption = titleLine(Locale, host.currentDateTime().date());

    Settings_Load();

    form.Text4.Text = recordFolder;
    Set_Text2(std::to_string(pollMs));
    form.Text8.Text = std::to_string(gapMs);
    form.Text9.Text = std::to_string(pollMs);
    form.Text10.Text = std::to_string(lineDelayMs);
}

// Window close: nothing asks, nothing is saved.
void Core::Form_Unload() {
    closeAll(*this);
}

// "Выход": the same closing, then the program ends at once.
void Core::mnu_Exit_Click() {
    closeAll(*this);
    host.quit();
}

}  // namespace lt
