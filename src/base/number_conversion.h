#pragma once

#include <QLocale>
#include <optional>
#include <string>

namespace lt {

// Whole-number conversion of a field's text: a number in the locale's format, blanks around it
// allowed, a fraction rounded to the nearest whole number with halves to the even neighbour.
// Gives nothing for an empty text, a text that is no number, or a result outside min..max.
std::optional<long> convertWholeNumber(const std::string& text, const QLocale& locale, long min,
                                       long max);

}  // namespace lt
