// The record file's text: time stamps, record lines and file names, character for character.
#include <gtest/gtest.h>

#include "ui/record_format.h"

namespace lt {
namespace {

const QLocale kC(QLocale::C);
const QLocale kGerman(QLocale::German);

float secondsAt(int h, int m, int s, int ms) {
    return Seconds_Since_Midnight(QTime(h, m, s, ms));
}

TEST(RecordStamp, SingleTextHasSevenDigitsNoExponentAndTheLocaleSeparator) {
    EXPECT_EQ(Single_To_Text(secondsAt(14, 5, 9, 370), kC), "50709.37");
    EXPECT_EQ(Single_To_Text(secondsAt(14, 5, 9, 370), kGerman), "50709,37");
    EXPECT_EQ(Single_To_Text(secondsAt(1, 0, 0, 125), kC), "3600.125");
    EXPECT_EQ(Single_To_Text(secondsAt(0, 0, 1, 234), kC), "1.234");
    EXPECT_EQ(Single_To_Text(secondsAt(0, 0, 0, 5), kC), "0.005");
    EXPECT_EQ(Single_To_Text(0.0f, kC), "0");
    // Seven significant digits: the last fraction digit of a late time is rounded away.
    EXPECT_EQ(Single_To_Text(secondsAt(23, 59, 59, 999), kC), "86400");
    EXPECT_EQ(Single_To_Text(secondsAt(12, 0, 0, 0), kC), "43200");
    EXPECT_EQ(Single_To_Text(1.0e-6f, kC), "0.000001");
    EXPECT_EQ(Single_To_Text(12345678.0f, kC), "12345680");
}

TEST(RecordStamp, FractionRuleKeepsWhatThePrintedNumberHolds) {
    EXPECT_EQ(Record_Stamp(secondsAt(14, 5, 9, 370), kC), "14:05:09,37");
    EXPECT_EQ(Record_Stamp(secondsAt(1, 0, 0, 125), kC), "01:00:00,125");
    EXPECT_EQ(Record_Stamp(secondsAt(14, 5, 9, 0), kC), "14:05:09,00");    // whole second
    EXPECT_EQ(Record_Stamp(secondsAt(14, 5, 9, 100), kC), "14:05:09,10");  // one tenth
    EXPECT_EQ(Record_Stamp(secondsAt(14, 5, 9, 500), kC), "14:05:09,50");  // one printed digit
    EXPECT_EQ(Record_Stamp(secondsAt(0, 0, 0, 0), kC), "00:00:00,00");
    EXPECT_EQ(Record_Stamp(secondsAt(0, 0, 7, 1), kC), "00:00:07,001");
    EXPECT_EQ(Record_Stamp(secondsAt(9, 59, 59, 0), kC), "09:59:59,00");
}

TEST(RecordStamp, CommaLocaleGivesTheSameStamp) {
    EXPECT_EQ(Record_Stamp(secondsAt(14, 5, 9, 370), kGerman), "14:05:09,37");
    EXPECT_EQ(Record_Stamp(secondsAt(1, 0, 0, 125), kGerman), "01:00:00,125");
    EXPECT_EQ(Record_Stamp(secondsAt(14, 5, 9, 0), kGerman), "14:05:09,00");
    EXPECT_EQ(Record_Stamp(secondsAt(14, 5, 9, 500), kGerman), "14:05:09,50");
}

TEST(RecordText, HexFieldHasASpaceAndTwoCapitalsPerByte) {
    EXPECT_EQ(Hex_Field(""), "");
    EXPECT_EQ(Hex_Field(std::string("\x01\x02\x41", 3)), " 01 02 41");
    EXPECT_EQ(Hex_Field(std::string("\n\0\xff\xab", 4)), " 0A 00 FF AB");
}

RecordPort port(std::string label, std::array<i16, 5> flags, std::string data = {}) {
    return RecordPort{std::move(label), flags, std::move(data)};
}

TEST(RecordText, PortOnePacket) {
    const std::string text =
        Record_Text("14:05:09,37", port("COM1", {kOn, kOn, 0, 0, 0}, "\x01\x02\x41"),
                    port("COM2", {0, 0, 0, 0, 0}));
    EXPECT_EQ(text,
              "14:05:09,37  COM1:  RTS=1 DTR=1 DCD=0 DSR=0 CTS=0   Data= 01 02 41\r\n"
              "             COM2:  RTS=0 DTR=0 DCD=0 DSR=0 CTS=0   Data=\r\n"
              "\r\n");
}

TEST(RecordText, PortTwoPacketWithALineFeedByteStaysOnItsLine) {
    const std::string text = Record_Text("01:00:00,125", port("COM3", {0, 0, kOn, kOn, kOn}),
                                         port("COM12", {kOn, 0, 0, kOn, 0}, "A\nB"));
    EXPECT_EQ(text,
              "01:00:00,125  COM3:  RTS=0 DTR=0 DCD=1 DSR=1 CTS=1   Data=\r\n"
              "             COM12:  RTS=1 DTR=0 DCD=0 DSR=1 CTS=0   Data= 41 0A 42\r\n"
              "\r\n");
}

TEST(RecordText, PollWithBothAndLineChangeWithNeither) {
    EXPECT_EQ(Record_Text("14:05:09,50", port("COM1", {kOn, kOn, kOn, kOn, kOn}, "\x10"),
                          port("/dev/ttyUSB0", {kOn, kOn, 0, 0, kOn}, std::string("\xff\x00", 2))),
              "14:05:09,50  COM1:  RTS=1 DTR=1 DCD=1 DSR=1 CTS=1   Data= 10\r\n"
              "             /dev/ttyUSB0:  RTS=1 DTR=1 DCD=0 DSR=0 CTS=1   Data= FF 00\r\n"
              "\r\n");
    EXPECT_EQ(Record_Text("00:00:00,00", port("COM1", {0, 0, 0, kOn, 0}),
                          port("COM2", {0, kOn, 0, 0, 0})),
              "00:00:00,00  COM1:  RTS=0 DTR=0 DCD=0 DSR=1 CTS=0   Data=\r\n"
              "             COM2:  RTS=0 DTR=1 DCD=0 DSR=0 CTS=0   Data=\r\n"
              "\r\n");
}

TEST(RecordFileName, DateOfTheLocaleTimeWithUnderscores) {
    const QDateTime when(QDate(2026, 12, 6), QTime(14, 5, 9, 370));
    EXPECT_EQ(Record_File_Name("/data/", when, QLocale(QLocale::Russian)),
              "/data/Linetap 06.12.2026 14_05_09.txt");
    EXPECT_EQ(Record_File_Name("/data/", when, kGerman), "/data/Linetap 06.12.26 14_05_09.txt");
    // A "/" of a date format cannot stand in a file name.
    EXPECT_EQ(Record_File_Name("/d/", QDateTime(QDate(2026, 1, 2), QTime(3, 4, 5)),
                               QLocale(QLocale::English, QLocale::UnitedStates)),
              "/d/Linetap 1_2_26 03_04_05.txt");
}

}  // namespace
}  // namespace lt
