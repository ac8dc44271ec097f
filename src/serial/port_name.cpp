#include "serial/port_name.h"

#include <charconv>

namespace lt {

std::string PortName::recordLabel() const {
    return Number != 0 ? "COM" + std::to_string(Number) : Path;
}

std::optional<PortName> parsePortName(const std::string& text) {
    const auto first = text.find_first_not_of(' ');
    if (first == std::string::npos) return std::nullopt;
    const auto last = text.find_last_not_of(' ');
    const std::string t = text.substr(first, last - first + 1);
    if (t.front() == '/') return PortName::path(t);
    int n = 0;
    const auto [end, ec] = std::from_chars(t.data(), t.data() + t.size(), n);
    if (ec != std::errc() || end != t.data() + t.size() || n < 1 || n > 12) return std::nullopt;
    return PortName::number(n);
}

}  // namespace lt
