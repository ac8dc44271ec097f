#pragma once

#include <optional>
#include <string>

namespace lt {

// What box 0 of a port panel names: a port number 1..12, a device path, or a line on another
// machine ("rfc2217://HOST:PORT", "tcp://HOST:PORT").
struct PortName {
    int Number = 0;    // 1..12, or 0 when a path is given
    std::string Path;  // a device path such as /dev/ttyUSB0 or a network name, when Number is 0

    static PortName number(int n) { return PortName{n, {}}; }
    static PortName path(std::string p) { return PortName{0, std::move(p)}; }

    // How the port is written in a record: "COM<n>" for a number, the device path otherwise.
    std::string recordLabel() const;

    // The device that a name opens: LINETAP_COM<n> when that variable is set, else /dev/ttyS<n-1>;
    // a path as it stands. `env` looks up an environment variable.
    template <class Env>
    std::string device(Env&& env) const {
        if (Number == 0) return Path;
        if (auto v = env("LINETAP_COM" + std::to_string(Number)); v && !v->empty()) return *v;
        return "/dev/ttyS" + std::to_string(Number - 1);
    }

    bool operator==(const PortName&) const = default;
};

// Box 0's text: a whole number 1..12 (blanks around it allowed), an absolute device path or a
// network name that parseNetworkAddress takes. Anything else is refused.
std::optional<PortName> parsePortName(const std::string& text);

// A serial line that a device server exports: with Telnet Com Port Control (RFC 2217), which
// carries the line settings and the modem lines, or as a bare TCP byte stream.
struct NetworkAddress {
    enum class Kind { Rfc2217, Tcp };
    Kind kind = Kind::Tcp;
    std::string host;  // a name or an address; an IPv6 address without its brackets
    int port = 0;      // 1..65535

    bool operator==(const NetworkAddress&) const = default;
};

// "rfc2217://HOST:PORT" or "tcp://HOST:PORT" ("[::1]" for an IPv6 address); nothing otherwise.
std::optional<NetworkAddress> parseNetworkAddress(const std::string& name);

}  // namespace lt
