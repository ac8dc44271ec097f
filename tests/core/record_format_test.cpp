// The record file's text: time stamps, record lines and file names, character for character.
#include <gtest/gtest.h>

#include "record/record_format.h"

namespace lt {
namespace {

TEST(RecordStamp, FractionRuleKeepsWhatThePrintedNumberHoldsInAnyLocale) {
    const std::pair<QTime, const char*> cases[] = {
        {QTime(14, 5, 9, 370), "14:05:09,37"}, {QTime(1, 0, 0, 125), "01:00:00,125"},
        {QTime(14, 5, 9, 0), "14:05:09,00"},    // whole second
        {QTime(14, 5, 9, 100), "14:05:09,10"},  // one tenth
        {QTime(14, 5, 9, 500), "14:05:09,50"},  // a half: one printed digit
        {QTime(0, 0, 7, 1), "00:00:07,001"},   {QTime(0, 0, 0, 5), "00:00:00,005"},
    };
    for (const QLocale& locale : {QLocale::c(), QLocale(QLocale::German)}) {
        for (const auto& [time, stamp] : cases)
            EXPECT_EQ(recordStamp(secondsSinceMidnight(time), locale), stamp)
                << locale.name().toStdString();
    }
}

// Each port on a line of its own, its label first; a line feed among the data stays on its line.
TEST(RecordText, EachPortOnALineOfItsOwnWithAnEmptyLineAfter) {
    EXPECT_EQ(
        recordText("14:05:09,50",
                   RecordPort{"COM1", {.rts = true, .dcd = true, .cts = true}, "\x10"},
                   RecordPort{"/dev/ttyUSB0",
                              {.rts = true, .dtr = true, .dsr = true},
                              std::string("A\n\xab\x00", 4)}),
        "14:05:09,50  COM1:  RTS=1 DTR=0 DCD=1 DSR=0 CTS=1   Data= 10\r\n"
        "             /dev/ttyUSB0:  RTS=1 DTR=1 DCD=0 DSR=1 CTS=0   Data= 41 0A AB 00\r\n\r\n");
}

// The time zone is left out; other separators than ":" and "/" stay.
TEST(RecordText, TheFileNameIsTheLocalesDateAndTimeWithColonsAndSlashesAsUnderscores) {
    const QDateTime afternoon(QDate(2026, 12, 6), QTime(14, 5, 9, 370));
    const std::pair<QLocale, std::string> cases[] = {
        {QLocale(QLocale::Russian, QLocale::Russia), "06.12.2026 14_05_09"},
        {QLocale(QLocale::English, QLocale::UnitedStates), "12_6_26 2_05_09 PM"},
        {QLocale(QLocale::C), "6 Dec 2026 14_05_09"},
        {QLocale(QLocale::Finnish, QLocale::Finland), "6.12.2026 14.05.09"},
        {QLocale(QLocale::Spanish, QLocale::Spain), "6_12_26 14_05_09"},    // zone in brackets
        {QLocale(QLocale::Chinese, QLocale::China), "2026_12_6 14_05_09"},  // zone first
    };
    for (const auto& [locale, stamp] : cases)
        EXPECT_EQ(recordFileName("/d/", afternoon, locale), "/d/Linetap " + stamp + ".txt")
            << locale.name().toStdString();
}

}  // namespace
}  // namespace lt
