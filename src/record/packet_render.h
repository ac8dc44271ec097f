#pragma once

#include <string>
#include <string_view>

namespace lt {

// The hexadecimal form of a packet: a space and two capital hexadecimal digits per byte, as the
// data screen shows it in "Bit" mode and every record writes it.
std::string renderHex(std::string_view bytes);

}  // namespace lt
