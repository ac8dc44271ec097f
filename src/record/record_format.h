#pragma once

#include <QDateTime>
#include <QLocale>
#include <array>
#include <string>

#include "base/types.h"

namespace lt {

// One port's part of a record: its label ("COM1" or a device path), its five lines, and the
// bytes it contributes (may be empty).
struct RecordPort {
    std::string label;
    LineStates lines;
    std::string data;
};

// Seconds since midnight as the single-precision number the stamp is made from.
float secondsSinceMidnight(const QTime& time);

// A single-precision number as text: at most seven significant digits, trailing zeros of the
// fraction dropped, never in exponent form, with the locale's decimal separator.
std::string singleToText(float value, const QLocale& locale);

// The record's time stamp "hh:mm:ss,f" made from seconds since midnight.
std::string recordStamp(float seconds, const QLocale& locale);

// The five lines in the record's words: "RTS=1 DTR=1 DCD=0 DSR=0 CTS=0".
std::string lineWords(const LineStates& lines);

// A whole record: the port 1 line, the port 2 line and an empty line, each ended by CR LF.
std::string recordText(const std::string& stamp, const RecordPort& port1, const RecordPort& port2);

// The record file for recording switched on at `when`: folder + "Linetap " + the locale's short
// date + " " + its time with seconds (no time zone) + ".txt", with every ":" and "/" (which a
// file name cannot hold) turned into "_": "Linetap 06.12.2026 14_05_09.txt",
// "Linetap 12_6_26 2_05_09 PM.txt".
std::string recordFileName(const std::string& folder, const QDateTime& when, const QLocale& locale);

}  // namespace lt
