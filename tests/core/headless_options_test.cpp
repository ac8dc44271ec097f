// The command line of `linetap --headless`: choices, refusals, --help and --version.
#include "headless/options.h"

#include <gtest/gtest.h>

#include <string>
#include <utility>
#include <variant>
#include <vector>

namespace lt {
namespace {

using Args = std::vector<std::string>;

// A command line's outcome: each port as "[device settings choices]", then the run's choices.
std::string outcome(const Args& args) {
    const HeadlessCommand c = parseHeadlessOptions(args);
    if (const auto* bad = std::get_if<OptionError>(&c)) return bad->message;
    if (std::holds_alternative<HelpRequest>(c)) return "help";
    if (std::holds_alternative<VersionRequest>(c)) return "version";
    const HeadlessOptions& o = std::get<HeadlessOptions>(c);
    std::string s;
    for (const HeadlessOptions::Port& p : o.ports) {
        s += "[" + p.device + " " + p.settings;
        for (const auto& [on, name] : {std::pair{p.relayData, " data"},
                                       {p.relayLines, " lines"},
                                       {p.strobe, " strobe"},
                                       {p.rts, " rts"},
                                       {p.dtr, " dtr"}})
            if (on) s += name;
        s += "]";
    }
    for (const auto& [value, name] :
         {std::pair{o.gapMs, " gap="}, {o.pollMs, " poll="}, {o.lineDelayMs, " delay="}})
        if (value) s += name + std::to_string(*value);
    if (o.autoFraming) s += " auto";
    if (!o.recordFolder.empty()) s += " record=" + o.recordFolder;
    if (o.print) s += " print";
    if (!o.pcapPath.empty()) s += " pcap=" + o.pcapPath;
    if (o.pcapLink) s += o.pcapLink == CaptureLink::Bare ? " bare" : " rtac";
    if (!o.reconnect) s += " no-reconnect";
    return s;
}

// Port 1 given, so that only the options under test matter.
Args withPort(Args more) {
    more.insert(more.begin(), {"--headless", "--port1", "/dev/ttyUSB0"});
    return more;
}

// A port's settings when none are given.
const std::string kDefaults = "1200,o,8,1";
const std::string kPort1 = "[/dev/ttyUSB0 " + kDefaults;
const std::string kPort2 = "[ " + kDefaults;

TEST(HeadlessOptions, EachOptionChoosesForItsOwnPortAndHelpOrVersionNeedNoPort) {
    const std::pair<Args, std::string> cases[] = {
        {{"--headless", "--port2", "/dev/ttyUSB1"}, kPort2 + "][/dev/ttyUSB1 " + kDefaults + "]"},
        {{"--port1", "12", "--port2", "7", "--settings1", "9600,n,8,1", "--settings2",
          "19200,e,7,2"},
         "[12 9600,n,8,1][7 19200,e,7,2]"},
        // Given twice, the choices add up.
        {withPort({"--relay", "12", "--line-relay", "both", "--strobe", "1", "--rts", "1"}),
         kPort1 + " data lines strobe rts]" + kPort2 + " lines]"},
        {withPort({"--relay", "21", "--rts", "1", "--rts", "2", "--dtr", "2"}),
         kPort1 + " rts]" + kPort2 + " data rts dtr]"},
        {withPort({"--auto", "--gap", "32767", "--poll", "250", "--delay", "0", "--record",
                   "/var/log", "--print", "--pcap", "/tmp/l.pcapng"}),
         kPort1 + "]" + kPort2 +
             "] gap=32767 poll=250 delay=0 auto record=/var/log print pcap=/tmp/l.pcapng"},
        // Values may follow an "="; only the first one splits.
        {{"--port1=/dev/a=b", "--gap=12", "--poll=40", "--delay=7", "--settings2=4800,n,7,1",
          "--port2=2", "--record=/srv/rec", "--pcap=/tmp/c.pcapng", "--strobe=2",
          "--pcap-link=bare"},
         "[/dev/a=b " + kDefaults +
             "][2 4800,n,7,1 strobe] gap=12 poll=40 delay=7 record=/srv/rec "
             "pcap=/tmp/c.pcapng bare"},
        {withPort({"--pcap-link", "bare", "--pcap-link", "rtac"}),
         kPort1 + "]" + kPort2 + "] rtac"},
        // Lines on device servers; a lost port ends the run instead of being looked for.
        {{"--port1", "rfc2217://10.0.0.7:3001", "--port2=tcp://[::1]:4001", "--no-reconnect"},
         "[rfc2217://10.0.0.7:3001 1200,o,8,1][tcp://[::1]:4001 1200,o,8,1] no-reconnect"},
        // Help and version, asked for before anything is wrong, need no port.
        {{"--help", "--bogus"}, "help"},
        {{"-h"}, "help"},
        {{"--version"}, "version"},
    };
    for (const auto& [args, chosen] : cases) EXPECT_EQ(outcome(args), chosen);
}

TEST(HeadlessOptions, RefusalsTellTheFirstProblem) {
    const std::string path =
        ": must be a device path, a port number 1 to 12, rfc2217://HOST:PORT or tcp://HOST:PORT";
    const std::pair<Args, std::string> cases[] = {
        {{"--colour=red"}, "unknown option --colour=red"},
        {{"--bogus", "--gap", "x"}, "unknown option --bogus"},
        {{"--auto=1"}, "--auto takes no value"},
        {{"--relay=BOTH"}, "--relay BOTH: must be 12, 21 or both"},
        {{"--strobe", "12"}, "--strobe 12: must be 1, 2 or both"},
        {{"--port1", "13"}, "--port1 13" + path},
        {{"--port2="}, "--port2 " + path},
        {{"--record", ""}, "--record : must name a folder"},
        {{"--pcap="}, "--pcap : must name a file or a named pipe"},
        {{"--pcap-link", "147"}, "--pcap-link 147: must be rtac or bare"},
        {{"--print", "--pcap", "-"}, "--print and --pcap - both write to standard output"},
    };
    for (const auto& [args, message] : cases) EXPECT_EQ(outcome(withPort(args)), message);

    for (const std::string option :
         {"--port1", "--port2", "--settings1", "--settings2", "--relay", "--line-relay", "--strobe",
          "--rts", "--dtr", "--gap", "--poll", "--delay", "--record", "--pcap", "--pcap-link"})
        EXPECT_EQ(outcome(withPort({option})), option + " needs a value");
    for (const std::string text : {"9600,x,8,1", "9600,n,9,1", "9600,n,8,3", "0,n,8,1",
                                   "fast,n,8,1", "9600,n,8", "9600,n,8,1,1"}) {
        const std::string why = text + ": must be baud,parity,data,stop such as 9600,n,8,1";
        EXPECT_EQ(outcome(withPort({"--settings1", text})), "--settings1 " + why);
        EXPECT_EQ(outcome(withPort({"--settings2=" + text})), "--settings2 " + why);
    }
    for (const std::string option : {"--gap", "--poll", "--delay"}) {
        for (const std::string value : {"32768", "-5", "abc", "12ms", "1.5", "", "99999999999"})
            EXPECT_EQ(
                outcome(withPort({option, value})),
                option + " " + value + ": must be a whole number of milliseconds from 0 to 32767");
    }
    for (const Args& args :
         {Args{}, Args{"--headless"}, Args{"--auto", "--settings1", "9600,n,8,1"}})
        EXPECT_EQ(outcome(args), "no port given: use --port1 and/or --port2");
    // A period of 0 polls never; with --auto nothing is polled, so it stands.
    for (const Args& args : {Args{"--poll", "0"}, Args{"--poll=0", "--gap", "5"}})
        EXPECT_EQ(outcome(withPort(args)), "--poll 0 never polls: give 1 to 32767 ms, or --auto");
    EXPECT_EQ(outcome(withPort({"--poll", "0", "--auto"})),
              kPort1 + "]" + kPort2 + "] poll=0 auto");
}

}  // namespace
}  // namespace lt
