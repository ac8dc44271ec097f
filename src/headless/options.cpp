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

using Apply = std::function<std::optional<std::string>(const std::string&)>;

// The options that take a value, each with what it does to `o` or why it refuses the value.
std::map<std::string, Apply> valuedOptions(HeadlessOptions& o) {
    using Port = HeadlessOptions::Port;
    // A choice made for the ports a value names (`pick`), refused with `refusal` otherwise.
    const auto forPorts = [&o](auto pick, const char* refusal, auto set) {
        return Apply([&o, pick, refusal, set](const std::string& v) -> std::optional<std::string> {
            const auto which = pick(v);
            if (!which) return refusal;
            for (int i = 0; i < 2; ++i)
                if ((*which)[i]) set(o.ports[i]);
            return std::nullopt;
        });
    };
    const auto betweenPorts = [&](auto set) {
        return forPorts(directions, "must be 12, 21 or both", set);
    };
    const auto onPorts = [&](auto set) { return forPorts(ports, "must be 1, 2 or both", set); };
    const auto interval = [](std::optional<i16>& into) {
        return Apply([&into](const std::string& v) -> std::optional<std::string> {
            into = milliseconds(v);
            if (!into) return "must be a whole number of milliseconds from 0 to 32767";
            return std::nullopt;
        });
    };
    // A text kept as given once `valid` accepts it.
    const auto text = [](std::string& into, auto valid, const char* refusal) {
        return Apply([&into, valid, refusal](const std::string& v) -> std::optional<std::string> {
            if (!valid(v)) return refusal;
            into = v;
            return std::nullopt;
        });
    };
    const auto device = [](const std::string& v) { return parsePortName(v).has_value(); };
    const auto settings = [](const std::string& v) { return parseLineSettings(v).has_value(); };
    const auto named = [](const std::string& v) { return !v.empty(); };
    const char* deviceRefusal = "must be a device path or a port number 1 to 12";
    const char* settingsRefusal = "must be baud,parity,data,stop such as 9600,n,8,1";

    return {
        {"--port1", text(o.ports[0].device, device, deviceRefusal)},
        {"--port2", text(o.ports[1].device, device, deviceRefusal)},
        {"--settings1", text(o.ports[0].settings, settings, settingsRefusal)},
        {"--settings2", text(o.ports[1].settings, settings, settingsRefusal)},
        {"--relay", betweenPorts([](Port& p) { p.relayData = true; })},
        {"--line-relay", betweenPorts([](Port& p) { p.relayLines = true; })},
        {"--strobe", onPorts([](Port& p) { p.strobe = true; })},
        {"--rts", onPorts([](Port& p) { p.rts = true; })},
        {"--dtr", onPorts([](Port& p) { p.dtr = true; })},
        {"--gap", interval(o.gapMs)},
        {"--poll", interval(o.pollMs)},
        {"--delay", interval(o.lineDelayMs)},
        {"--record", text(o.recordFolder, named, "must name a folder")},
        {"--pcap", text(o.pcapPath, named, "must name a file or a named pipe")},
    };
}

}  // namespace

HeadlessCommand parseHeadlessOptions(const std::vector<std::string>& args) {
    HeadlessOptions o;
    const std::map<std::string, Apply> valued = valuedOptions(o);
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
    // A poll timer of 0 never runs: without --auto nothing would ever be captured or relayed.
    if (o.pollMs == 0 && !o.autoFraming)
        return OptionError{"--poll 0 never polls: give 1 to 32767 ms, or --auto"};
    if (o.print && o.pcapPath == "-")
        return OptionError{"--print and --pcap - both write to standard output"};
    return o;
}

std::string headlessUsage() {
    return R"(Usage: linetap --headless [options]
Watches, relays and records two serial lines without a window, until SIGINT, SIGTERM
or SIGHUP.

  --port1 DEV, --port2 DEV      device path, or a number n: $LINETAP_COMn, else /dev/ttyS<n-1>;
                                a port not given stays switched off
  --settings1 TEXT, --settings2 TEXT
                                baud,parity,data,stop (default )" +
           LineSettings{}.text() + R"()
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
  --pcap PATH                   pcapng capture file or named pipe, for Wireshark ("-":
                                standard output)
  --help, --version

Exit status: 0 after SIGINT/SIGTERM/SIGHUP, 1 a port could not be opened, 2 bad input.
)";
}

}  // namespace lt
