#pragma once

#include <QDate>
#include <QLocale>
#include <string>

namespace lt {

// The full name of the month of `date` as the title line writes it: the locale's standalone
// name with a capital first letter, in the genitive when it is one of the Russian nominatives.
std::string monthGenitive(const QLocale& locale, const QDate& date);

// The window caption with the date of `date`, for example
// "Velmora       Linetap v.2.0               Сегодня: 6  Декабря  2026 года  воскресенье".
std::string titleLine(const QLocale& locale, const QDate& date);

}  // namespace lt
