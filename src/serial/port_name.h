#pragma once

#include <optional>
#include <string>

namespace lt {

// What box 0 of a port panel names: a port number 1..12 or a device path.
struct PortName {
    int Number = 0;    // 1..12, or 0 when a path is given
    std::string Path;  // a device path such as /dev/ttyUSB0, when Number is 0

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

// Box 0's text: a whole number 1..12 (blanks around it allowed) or an absolute device path.
// Anything else is refused.
std::optional<PortName> parsePortName(const std::string& text);

}  // namespace lt
