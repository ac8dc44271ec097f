#include "serial/port_name.h"

#include <charconv>
#include <utility>

namespace lt {

std::string PortName::recordLabel() const {
    return Number != 0 ? "COM" + std::to_string(Number) : Path;
}

std::optional<PortName> parsePortName(const std::string& text) {
    const auto first = text.find_first_not_of(' ');
    if (first == std::string::npos) return std::nullopt;
    const auto last = text.find_last_not_of(' ');
    const std::string t = text.substr(first, last - first + 1);
    if (t.front() == '/' || parseNetworkAddress(t)) return PortName::path(t);
    int n = 0;
    const auto [end, ec] = std::from_chars(t.data(), t.data() + t.size(), n);
    if (ec != std::errc() || end != t.data() + t.size() || n < 1 || n > 12) return std::nullopt;
    return PortName::number(n);
}

std::optional<NetworkAddress> parseNetworkAddress(const std::string& name) {
    NetworkAddress a;
    std::string rest;
    for (const auto& [scheme, kind] : {std::pair{"rfc2217://", NetworkAddress::Kind::Rfc2217},
                                       std::pair{"tcp://", NetworkAddress::Kind::Tcp}}) {
        if (name.rfind(scheme, 0) == 0) {
            a.kind = kind;
            rest = name.substr(std::string(scheme).size());
            break;
        }
    }
    const auto colon = rest.rfind(':');
    if (colon == std::string::npos || colon == 0) return std::nullopt;
    a.host = rest.substr(0, colon);
    if (a.host.front() == '[') {
        if (a.host.size() < 3 || a.host.back() != ']') return std::nullopt;
        a.host = a.host.substr(1, a.host.size() - 2);
    } else if (a.host.find(':') != std::string::npos) {
        return std::nullopt;  // an IPv6 address goes in brackets
    }
    if (a.host.find_first_of(" /[]@") != std::string::npos) return std::nullopt;
    const std::string port = rest.substr(colon + 1);
    const auto [end, ec] = std::from_chars(port.data(), port.data() + port.size(), a.port);
    if (port.empty() || ec != std::errc() || end != port.data() + port.size() || a.port < 1 ||
        a.port > 65535)
        return std::nullopt;
    return a;
}

}  // namespace lt
