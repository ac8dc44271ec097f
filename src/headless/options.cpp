#include "headless/options.h"

#include <charconv>
#include <functional>
#include <map>

#include "serial/line_settings.h"
#include "serial/port_name.h"

namespace lt {

namespace {

// "12", "21" or "both" for a direction between the ports: which source ports it names.
std::optional<std::array<bool, 2>> directions(const std::string& v) {
    if (v == "12") return std::array{true, false};
    if (v == "21") return std::array{false, true};
    if (v == "both") return std::array{true, true};
    return std::nullopt;
}

// "1", "2" or "both" for the ports an output choice applies to.
std::optional<std::array<bool, 2>> ports(const std::string& v) {
    if (v == "1") return std::array{true, false};
    if (v == "2") return std::array{false, true};
    if (v == "both") return std::array{true, true};
    return std::nullopt;
}

// A whole number of milliseconds as the settings panel takes it: 0 to 32767.
std::optional<i16> milliseconds(const std::string& v) {
    int n = 0;
    const auto [end, ec] = std::from_chars(v.data(), v.data() + v.size(), n);
    if (v.empty() || ec != std::errc() || end != v.data() + v.size() || n < 0 || n > 32767)
        return std::nullopt;
    return static_cast<i16>(n);
}

}  // namespace

HeadlessCommand parseHeadlessOptions(const std::vector<std::string>& args) {
    HeadlessOptions o;
    using Apply = std::function<std::optional<std::string>(const std::string&)>;
    const auto forPorts = [&o](auto pick, auto set) {
        return Apply([&o, pick, set](const std::string& v) -> std::optional<std::string> {
            const auto which = pick(v);
            if (!which) return "must be 12, 21 or both";
            for (int i = 0; i < 2; ++i)
                if ((*which)[i]) set(o.ports[i]);
            return std::nullopt;
        });
    };
    const auto interval = [](std::optional<i16>& into) {
        return Apply([&into](const std::string& v) -> std::optional<std::string> {
            into = milliseconds(v);
            if (!into) return "must be a whole number of milliseconds from 0 to 32767";
            return std::nullopt;
        });
    };
    const auto device = [&o](int i) {
        return Apply([&o, i](const std::string& v) -> std::optional<std::string> {
            if (!parsePortName(v)) return "must be a device path or a port number 1 to 12";
            o.ports[i].device = v;
            return std::nullopt;
        });
    };
    const auto settings = [&o](int i) {
        return Apply([&o, i](const std::string& v) -> std::optional<std::string> {
            if (!parseLineSettings(v)) return "must be baud,parity,data,stop such as 9600,n,8,1";
            o.ports[i].settings = v;
            return std::nullopt;
        });
    };
    const auto outputs = [&](auto set) {
        return Apply([&o, set](const std::string& v) -> std::optional<std::string> {
            const auto which = ports(v);
            if (!which) return "must be 1, 2 or both";
            for (int i = 0; i < 2; ++i)
                if ((*which)[i]) set(o.ports[i]);
            return std::nullopt;
        });
    };

    const std::map<std::string, Apply> valued{
        {"--port1", device(0)},
        {"--port2", device(1)},
        {"--settings1", settings(0)},
        {"--settings2", settings(1)},
        {"--relay", forPorts(directions, [](HeadlessOptions::Port& p) { p.relayData = true; })},
        {"--line-relay",
         forPorts(directions, [](HeadlessOptions::Port& p) { p.relayLines = true; })},
        {"--strobe", outputs([](HeadlessOptions::Port& p) { p.strobe = true; })},
        {"--rts", outputs([](HeadlessOptions::Port& p) { p.rts = true; })},
        {"--dtr", outputs([](HeadlessOptions::Port& p) { p.dtr = true; })},
        {"--gap", interval(o.gapMs)},
        {"--poll", interval(o.pollMs)},
        {"--delay", interval(o.lineDelayMs)},
        {"--record", Apply([&o](const std::string& v) -> std::optional<std::string> {
             if (v.empty()) return "must name a folder";
             o.recordFolder = v;
             return std::nullopt;
         })},
        {"--pcap", Apply([&o](const std::string& v) -> std::optional<std::string> {
             if (v.empty()) return "must name a file or a named pipe";
             o.pcapPath = v;
             return std::nullopt;
         })},
        {"--pcap-link", Apply([&o](const std::string& v) -> std::optional<std::string> {
             if (v != "rtac" && v != "bare") return "must be rtac or bare";
             o.pcapLink = v == "bare" ? CaptureLink::Bare : CaptureLink::RtacSerial;
             return std::nullopt;
         })},
    };

    for (std::size_t i = 0; i < args.size(); ++i) {
        std::string name = args[i];
        std::optional<std::string> value;
        // "--gap=12" as well as "--gap 12".
        if (const auto eq = name.find('='); name.rfind("--", 0) == 0 && eq != std::string::npos) {
            value = name.substr(eq + 1);
            name.resize(eq);
        }
        if (name == "--headless") continue;
        if (name == "--help" || name == "-h") return HelpRequest{};
        if (name == "--version") return VersionRequest{};
        if (name == "--auto" || name == "--print") {
            if (value) return OptionError{name + " takes no value"};
            (name == "--auto" ? o.autoFraming : o.print) = true;
            continue;
        }
        const auto it = valued.find(name);
        if (it == valued.end()) return OptionError{"unknown option " + args[i]};
        if (!value) {
            if (i + 1 >= args.size()) return OptionError{name + " needs a value"};
            value = args[++i];
        }
        if (auto problem = it->second(*value))
            return OptionError{name + " " + *value + ": " + *problem};
    }
    if (o.ports[0].device.empty() && o.ports[1].device.empty())
        return OptionError{"no port given: use --port1 and/or --port2"};
    return o;
}

std::string headlessUsage() {
    return R"(Usage: linetap --headless [options]
Watches, relays and records two serial lines without a window, until SIGINT or SIGTERM.

  --port1 DEV, --port2 DEV      device path, or a number n: $LINETAP_COMn, else /dev/ttyS<n-1>;
                                a port not given stays switched off
  --settings1 TEXT, --settings2 TEXT
                                baud,parity,data,stop (default 1200,o,8,1)
  --relay 12|21|both            relay packets (12: port 1's packets out of port 2)
  --line-relay 12|21|both       relay modem lines (12: port 1's CTS/DSR drive port 2's RTS/DTR)
  --strobe 1|2|both             RTS raised only while the port sends
  --rts 1|2|both, --dtr 1|2|both
                                outputs set on
  --auto                        packets cut by the minimum pause (else polled capture)
  --gap MS, --poll MS, --delay MS
                                intervals for this run (default: the settings file's)
  --record DIR                  record file in DIR, as the window's "Запись" writes it
  --print                       every record also to standard output
  --pcap PATH                   pcapng capture file or named pipe, for Wireshark
  --pcap-link rtac|bare         rtac: each packet behind an RTAC serial header with its event and
                                modem lines (default); bare: the bytes alone (link type USER0)
  --help, --version

Exit status: 0 after SIGINT/SIGTERM, 1 a port could not be opened, 2 bad input.
)";
}

}  // namespace lt
