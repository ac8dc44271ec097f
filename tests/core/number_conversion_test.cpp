// The whole-number conversion of a field's text, shared by the poll interval and the settings.
#include <gtest/gtest.h>

#include "app/number_conversion.h"

namespace lt {
namespace {

const QLocale kC(QLocale::C);
const QLocale kGerman(QLocale::German);

std::optional<long> interval(const std::string& text, const QLocale& locale = kC) {
    return Convert_Whole_Number(text, locale, 0, 65535);
}

std::optional<long> setting(const std::string& text) {
    return Convert_Whole_Number(text, kC, -32768, 32767);
}

TEST(WholeNumber, AcceptsPlainNumbersWithBlanksAround) {
    EXPECT_EQ(interval("0"), 0);
    EXPECT_EQ(interval("100"), 100);
    EXPECT_EQ(interval("  250  "), 250);
    EXPECT_EQ(interval("\t42\n"), 42);
    EXPECT_EQ(interval("+17"), 17);
    EXPECT_EQ(interval("007"), 7);
}

TEST(WholeNumber, RoundsHalvesToTheEvenNeighbour) {
    EXPECT_EQ(interval("12.5"), 12);
    EXPECT_EQ(interval("13.5"), 14);
    EXPECT_EQ(interval("0.5"), 0);
    EXPECT_EQ(interval("1.5"), 2);
    EXPECT_EQ(interval("2.49"), 2);
    EXPECT_EQ(interval("2.51"), 3);
    EXPECT_EQ(setting("-2.5"), -2);
    EXPECT_EQ(setting("-3.5"), -4);
}

TEST(WholeNumber, RejectsEmptyAndNonNumericText) {
    for (const char* text : {"", "   ", "abc", "12ms", "1 2", "--1", "0x10", "nan", "inf", "-inf"})
        EXPECT_EQ(interval(text), std::nullopt) << '"' << text << '"';
}

TEST(WholeNumber, RangeIsCheckedAfterRounding) {
    EXPECT_EQ(interval("65535"), 65535);
    EXPECT_EQ(interval("65535.4"), 65535);
    EXPECT_EQ(interval("65535.5"), std::nullopt);  // rounds to 65536
    EXPECT_EQ(interval("65536"), std::nullopt);
    EXPECT_EQ(interval("-1"), std::nullopt);
    EXPECT_EQ(interval("-0.4"), 0);  // rounds to 0, inside the range
    EXPECT_EQ(interval("1e300"), std::nullopt);
    EXPECT_EQ(interval("99999999999999999999"), std::nullopt);

    EXPECT_EQ(setting("32767"), 32767);
    EXPECT_EQ(setting("-32768"), -32768);
    EXPECT_EQ(setting("32768"), std::nullopt);
    EXPECT_EQ(setting("-32769"), std::nullopt);
    EXPECT_EQ(setting("32767.5"), std::nullopt);  // rounds to 32768
    EXPECT_EQ(setting("-32768.5"), -32768);       // the even neighbour stays inside
}

TEST(WholeNumber, UsesTheLocalesDecimalSign) {
    EXPECT_EQ(interval("12,5", kGerman), 12);
    EXPECT_EQ(interval("13,5", kGerman), 14);
    EXPECT_EQ(interval(" 40,0 ", kGerman), 40);
    EXPECT_EQ(interval("7", kGerman), 7);
    EXPECT_EQ(interval("12,5"), std::nullopt) << "a comma is no decimal sign in the C locale";
}

}  // namespace
}  // namespace lt
