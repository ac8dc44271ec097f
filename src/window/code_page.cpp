#include "window/code_page.h"

#include <array>

namespace lt {

namespace {

// Bytes 0x80..0xBF; 0xC0..0xFF are the 64 letters U+0410..U+044F in order.
constexpr std::array<char16_t, 64> kUpper{
    0x0402, 0x0403, 0x201A, 0x0453, 0x201E, 0x2026, 0x2020, 0x2021,  // 80
    0x20AC, 0x2030, 0x0409, 0x2039, 0x040A, 0x040C, 0x040B, 0x040F,  // 88
    0x0452, 0x2018, 0x2019, 0x201C, 0x201D, 0x2022, 0x2013, 0x2014,  // 90
    0x0098, 0x2122, 0x0459, 0x203A, 0x045A, 0x045C, 0x045B, 0x045F,  // 98
    0x00A0, 0x040E, 0x045E, 0x0408, 0x00A4, 0x0490, 0x00A6, 0x00A7,  // A0
    0x0401, 0x00A9, 0x0404, 0x00AB, 0x00AC, 0x00AD, 0x00AE, 0x0407,  // A8
    0x00B0, 0x00B1, 0x0406, 0x0456, 0x0491, 0x00B5, 0x00B6, 0x00B7,  // B0
    0x0451, 0x2116, 0x0454, 0x00BB, 0x0458, 0x0405, 0x0455, 0x0457,  // B8
};

constexpr std::array<char16_t, 256> makeTable() {
    std::array<char16_t, 256> t{};
    for (int b = 0; b < 0x80; ++b) t[b] = static_cast<char16_t>(b);
    for (int b = 0x80; b < 0xC0; ++b) t[b] = kUpper[b - 0x80];
    for (int b = 0xC0; b < 0x100; ++b) t[b] = static_cast<char16_t>(0x0410 + (b - 0xC0));
    return t;
}

constexpr std::array<char16_t, 256> kTable = makeTable();

}  // namespace

char16_t cp1251Char(unsigned char byte) {
    return kTable[byte];
}

QString cp1251Text(std::string_view bytes) {
    QString text(static_cast<qsizetype>(bytes.size()), Qt::Uninitialized);
    QChar* out = text.data();
    for (unsigned char b : bytes) *out++ = QChar(kTable[b]);
    return text;
}

}  // namespace lt
