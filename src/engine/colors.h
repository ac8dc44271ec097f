#pragma once

#include <cstdint>

// Window-system colour values 0x00BBGGRR; values from 0x80000000 up are system colours.
namespace lt::color {

constexpr std::uint32_t Red = 0x0000FF;          // RGB 255, 0, 0
constexpr std::uint32_t DarkGreen = 0x00C000;    // RGB 0, 192, 0
constexpr std::uint32_t BrightGreen = 0x00FF00;  // RGB 0, 255, 0
constexpr std::uint32_t LightGreen = 0xC0FFC0;   // RGB 192, 255, 192 (port 1 panel and cells)
constexpr std::uint32_t LightYellow = 0xC0FFFF;  // RGB 255, 255, 192 (port 2 panel and cells)
constexpr std::uint32_t LightGrey = 0xE0E0E0;    // RGB 224, 224, 224 (port lamps before first use)

constexpr std::uint32_t ScrollBar = 0x80000000;
constexpr std::uint32_t WindowBackground = 0x80000005;
constexpr std::uint32_t ButtonFace = 0x8000000F;

constexpr bool isSystem(std::uint32_t c) {
    return (c & 0x80000000u) != 0;
}

}  // namespace lt::color
