#include "record/record_format.h"

#include <cstdio>
#include <cstdlib>

#include "record/packet_render.h"

namespace lt {

float secondsSinceMidnight(const QTime& time) {
    // Both operands are exact in a float, so the quotient is the float nearest the true value.
    return static_cast<float>(time.msecsSinceStartOfDay()) / 1000.0f;
}

std::string singleToText(float value, const QLocale& locale) {
    if (value == 0.0f) return "0";
    // Seven significant digits and their decimal exponent, then laid out in positional form.
    char buf[32];
    std::snprintf(buf, sizeof buf, "%.6e", static_cast<double>(value));
    std::string s(buf);
    const bool negative = s.front() == '-';
    if (negative) s.erase(0, 1);
    const auto e = s.find('e');
    const int exponent = std::atoi(s.c_str() + e + 1);
    std::string digits = s.substr(0, 1) + s.substr(2, e - 2);  // "d.dddddd" without the point

    std::string whole, fraction;
    if (exponent >= 0) {
        const std::size_t n = static_cast<std::size_t>(exponent) + 1;
        if (digits.size() < n) digits.append(n - digits.size(), '0');
        whole = digits.substr(0, n);
        fraction = digits.substr(n);
    } else {
        whole = "0";
        fraction = std::string(static_cast<std::size_t>(-exponent - 1), '0') + digits;
    }
    while (!fraction.empty() && fraction.back() == '0') fraction.pop_back();

    std::string out = negative ? "-" : "";
    out += whole;
    if (!fraction.empty()) out += locale.decimalPoint().toStdString() + fraction;
    return out;
}

namespace {

std::string twoDigits(long v) {
    return (v < 10 ? "0" : "") + std::to_string(v);
}

}  // namespace

std::string recordStamp(float seconds, const QLocale& locale) {
    const std::string s = singleToText(seconds, locale);

    // The fraction: whatever follows the first "." or ",", widened to two digits when it has one.
    std::string fraction = "00";
    if (const auto sep = s.find_first_of(".,"); sep != std::string::npos) {
        fraction = s.substr(sep + 1);
        if (fraction.size() == 1) fraction += '0';
    }

    // The whole seconds: the leading digits, read up to the first character that is no digit.
    long whole = 0;
    for (char ch : s) {
        if (ch < '0' || ch > '9') break;
        whole = whole * 10 + (ch - '0');
        if (whole > 1'000'000) break;  // far beyond a day; only a nonsense value gets here
    }

    const long hh = whole / 3600;
    const long mm = (whole - 3600 * hh) / 60;
    const long ss = whole - 3600 * hh - 60 * mm;
    return twoDigits(hh) + ":" + twoDigits(mm) + ":" + twoDigits(ss) + "," + fraction;
}

std::string lineWords(const LineStates& lines) {
    static constexpr const char* kNames[] = {"RTS=", "DTR=", "DCD=", "DSR=", "CTS="};
    const auto on = lines.inOrder();
    std::string words;
    for (std::size_t i = 0; i < on.size(); ++i) {
        if (i > 0) words += ' ';
        words += kNames[i];
        words += on[i] ? '1' : '0';
    }
    return words;
}

namespace {

std::string portLine(const RecordPort& p) {
    return p.label + ":  " + lineWords(p.lines) + "   Data=" + renderHex(p.data);
}

}  // namespace

std::string recordText(const std::string& stamp, const RecordPort& port1, const RecordPort& port2) {
    std::string out;
    out.reserve(160 + 3 * (port1.data.size() + port2.data.size()));
    out += stamp;
    out += "  ";
    out += portLine(port1);
    out += "\r\n";
    out += std::string(13, ' ');
    out += portLine(port2);
    out += "\r\n\r\n";
    return out;
}

namespace {

// The locale's time with hours, minutes and seconds: its long time format without the time zone
// ("h:mm:ss AP t" gives "h:mm:ss AP", "H:mm:ss (t)" gives "H:mm:ss"). Quoted text stays as it is.
QString timeWithSeconds(const QLocale& locale) {
    const QString format = locale.timeFormat(QLocale::LongFormat);
    QString out;
    bool quoted = false;
    for (const QChar ch : format) {
        if (ch == '\'') quoted = !quoted;
        if (quoted || ch != 't') out += ch;
    }
    out.replace(QStringLiteral("()"), QString());
    return out.simplified();
}

}  // namespace

std::string recordFileName(const std::string& folder, const QDateTime& when,
                           const QLocale& locale) {
    QString date = locale.toString(when.date(), QLocale::ShortFormat);
    QString time = locale.toString(when.time(), timeWithSeconds(locale));
    // Every ":" becomes "_"; so does "/", which a file name cannot hold. Other separators stay.
    for (QString* part : {&date, &time}) {
        part->replace(':', '_');
        part->replace('/', '_');
    }
    return folder + "Linetap " + date.toStdString() + " " + time.toStdString() + ".txt";
}

}  // namespace lt
