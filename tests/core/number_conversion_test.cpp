// The whole-number conversion of a field's text, shared by the poll interval and the settings.
#include <gtest/gtest.h>

#include "base/number_conversion.h"

namespace lt {
namespace {

using Case = std::pair<const char*, long>;

TEST(WholeNumber, BlanksRoundingRangeAndLocale) {
    const QLocale c(QLocale::C), german(QLocale::German);
    const auto interval = [&](const char* t) { return convertWholeNumber(t, c, 0, 65535); };
    const auto setting = [&](const char* t) { return convertWholeNumber(t, c, -32768, 32767); };
    // Halves go to the even neighbour; the range is checked after rounding.
    for (auto [text, want] :
         {Case{"  250  ", 250}, Case{"\t42\n", 42}, Case{"+17", 17}, Case{"007", 7},
          Case{"12.5", 12}, Case{"13.5", 14}, Case{"0.5", 0}, Case{"2.49", 2}, Case{"2.51", 3},
          Case{"65535.4", 65535}, Case{"-0.4", 0}})
        EXPECT_EQ(interval(text), want) << '"' << text << '"';
    for (const char* text : {"", "   ", "abc", "12ms", "1 2", "--1", "0x10", "nan", "inf", "-inf",
                             "65535.5", "65536", "-1", "1e300", "99999999999999999999", "12,5"})
        EXPECT_EQ(interval(text), std::nullopt) << '"' << text << '"';
    for (auto [text, want] : {Case{"-2.5", -2}, Case{"-3.5", -4}, Case{"-32768", -32768},
                              Case{"-32768.5", -32768}, Case{"32767", 32767}})
        EXPECT_EQ(setting(text), want) << text;
    for (const char* text : {"32768", "-32769", "32767.5"}) EXPECT_EQ(setting(text), std::nullopt);
    for (auto [text, want] : {Case{"12,5", 12}, Case{"13,5", 14}, Case{" 40,0 ", 40}})
        EXPECT_EQ(convertWholeNumber(text, german, 0, 65535), want) << text;
}

}  // namespace
}  // namespace lt
