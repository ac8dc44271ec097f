#pragma once

#include <optional>
#include <string>

namespace lt {

// A settings text "baud,parity,data,stop" taken apart: any positive baud rate, parity letter
// n, e, o, s or m, 5 to 8 data bits, 1 or 2 stop bits. As made, the settings a port starts with.
struct LineSettings {
    int Baud = 1200;
    char Parity = 'o';
    int DataBits = 8;
    int StopBits = 1;

    // Bits on the wire per character: start, data, parity, stop.
    int bitsPerCharacter() const { return 1 + DataBits + (Parity == 'n' ? 0 : 1) + StopBits; }
    std::string text() const;
};

std::optional<LineSettings> parseLineSettings(const std::string& text);

}  // namespace lt
