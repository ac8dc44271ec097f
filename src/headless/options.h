#pragma once

#include <array>
#include <optional>
#include <string>
#include <variant>
#include <vector>

#include "base/types.h"
#include "serial/line_settings.h"

namespace lt {

// What `linetap --headless` is asked to do: the same choices a user makes in the window.
struct HeadlessOptions {
    struct Port {
        std::string device;  // a device path or a port number "1".."12"; empty: off
        std::string settings = LineSettings{}.text();  // "baud,parity,data,stop"
        bool relayData = false;         // this port's packets go out of the other port
        bool relayLines = false;        // this port's CTS/DSR drive the other's RTS/DTR
        bool strobe = false;            // RTS raised only while the port sends
        bool rts = false, dtr = false;  // outputs set on by hand
    };
    std::array<Port, 2> ports;
    bool autoFraming = false;
    std::optional<i16> gapMs, pollMs,
        lineDelayMs;           // this run's intervals; else the settings file's
    std::string recordFolder;  // empty: no record file
    bool print = false;        // every record also to standard output
    std::string pcapPath;      // empty: no capture file
};

// What the command line asks for: a run, the help text or the version, or a refusal with its
// one-line message (exit status 2).
struct HelpRequest {};
struct VersionRequest {};
struct OptionError {
    std::string message;
};
using HeadlessCommand = std::variant<HeadlessOptions, HelpRequest, VersionRequest, OptionError>;

// Reads the arguments after the program name; "--headless" itself may stand anywhere.
HeadlessCommand parseHeadlessOptions(const std::vector<std::string>& args);

// The usage text printed by --help.
std::string headlessUsage();

}  // namespace lt
