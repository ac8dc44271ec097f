#include "panels/title_line.h"

#include <array>
#include <utility>

#include "base/version.h"

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

// The genitive of a month's nominative name ("Декабрь" -> "Декабря"); any other text, in
// whatever case or language, is given back unchanged.
std::string genitiveOf(const std::string& monthName) {
    for (const auto& [nominative, genitive] : kMonths)
        if (monthName == nominative) return genitive;
    return monthName;
}

}  // namespace

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
        "Velmora" + std::string(7, ' ') + titleLineName() + std::string(15, ' ') + "Сегодня: ";
    line += std::to_string(date.day());
    line += "  ";
    line += monthGenitive(locale, date);
    line += "  ";
    line += QString::number(date.year()).rightJustified(4, u'0').toStdString();
    line += " года  ";
    line += locale.dayName(date.dayOfWeek(), QLocale::LongFormat).toStdString();
    return line;
}

}  // namespace lt
