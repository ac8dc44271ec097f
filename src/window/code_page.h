#pragma once

#include <QString>
#include <string_view>

namespace lt {

// A text of one character per byte, as the data screen shows packet bytes: the Windows-1251
// character of each byte, ASCII below 0x80, Cyrillic and punctuation above (0xC0 is "А", 0xFF is
// "я"). The one byte the code page leaves undefined, 0x98, stands for U+0098, so every byte has a
// character of its own.
QString cp1251Text(std::string_view bytes);

}  // namespace lt
