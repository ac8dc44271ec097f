// The command line of `linetap --headless`: what each option chooses, the refusals with their
// one-line messages, and --help / --version.
#include "app/headless/options.h"

#include <gtest/gtest.h>

#include <string>
#include <tuple>
#include <variant>
#include <vector>

namespace lt {
namespace {

using Args = std::vector<std::string>;

// The options a command line gives; a failure names what came instead.
HeadlessOptions run(Args args) {
    const HeadlessCommand c = parseHeadlessOptions(args);
    if (const auto* bad = std::get_if<OptionError>(&c)) {
        ADD_FAILURE() << "refused: " << bad->message;
        return {};
    }
    if (!std::holds_alternative<HeadlessOptions>(c)) {
        ADD_FAILURE() << "not a run (index " << c.index() << ")";
        return {};
    }
    return std::get<HeadlessOptions>(c);
}

// The message of a refused command line; "<accepted>" when it was not refused.
std::string refusal(Args args) {
    const HeadlessCommand c = parseHeadlessOptions(args);
    if (const auto* bad = std::get_if<OptionError>(&c)) return bad->message;
    return "<accepted>";
}

// A command line with port 1 given, so that only the options under test matter.
Args withPort(Args more) {
    Args a{"--headless", "--port1", "/dev/ttyUSB0"};
    a.insert(a.end(), more.begin(), more.end());
    return a;
}

TEST(HeadlessOptions, DefaultsLeaveEveryChoiceOff) {
    const HeadlessOptions o = run({"--headless", "--port2", "/dev/ttyUSB1"});
    EXPECT_EQ(o.ports[0].device, "") << "a port not given stays switched off";
    EXPECT_EQ(o.ports[1].device, "/dev/ttyUSB1");
    for (const HeadlessOptions::Port& p : o.ports) {
        EXPECT_EQ(p.settings, "1200,o,8,1");
        EXPECT_FALSE(p.relayData);
        EXPECT_FALSE(p.relayLines);
        EXPECT_FALSE(p.strobe);
        EXPECT_FALSE(p.rts);
        EXPECT_FALSE(p.dtr);
    }
    EXPECT_FALSE(o.autoFraming);
    EXPECT_FALSE(o.gapMs);
    EXPECT_FALSE(o.pollMs);
    EXPECT_FALSE(o.lineDelayMs);
    EXPECT_EQ(o.recordFolder, "");
    EXPECT_FALSE(o.print);
    EXPECT_EQ(o.pcapPath, "");
}

TEST(HeadlessOptions, PortsAndSettingsGoToTheirOwnPort) {
    const HeadlessOptions o = run({"--port1", "/dev/ttyUSB0", "--port2", "7", "--settings1",
                                   "9600,n,8,1", "--settings2", "19200,e,7,2"});
    EXPECT_EQ(o.ports[0].device, "/dev/ttyUSB0");
    EXPECT_EQ(o.ports[1].device, "7") << "a port number is kept as given";
    EXPECT_EQ(o.ports[0].settings, "9600,n,8,1");
    EXPECT_EQ(o.ports[1].settings, "19200,e,7,2");

    EXPECT_EQ(run({"--port1", "12"}).ports[0].device, "12");
    EXPECT_EQ(run({"--port2", "/dev/pts/3"}).ports[1].device, "/dev/pts/3");
}

TEST(HeadlessOptions, RelayDirectionsNameTheSourcePorts) {
    struct Case {
        const char* option;
        const char* value;
        bool port1, port2;
    };
    for (const Case c :
         {Case{"--relay", "12", true, false}, Case{"--relay", "21", false, true},
          Case{"--relay", "both", true, true}, Case{"--line-relay", "12", true, false},
          Case{"--line-relay", "21", false, true}, Case{"--line-relay", "both", true, true}}) {
        SCOPED_TRACE(std::string(c.option) + " " + c.value);
        const HeadlessOptions o = run(withPort({c.option, c.value}));
        const bool data = std::string(c.option) == "--relay";
        EXPECT_EQ(o.ports[0].relayData, data && c.port1);
        EXPECT_EQ(o.ports[1].relayData, data && c.port2);
        EXPECT_EQ(o.ports[0].relayLines, !data && c.port1);
        EXPECT_EQ(o.ports[1].relayLines, !data && c.port2);
    }
}

TEST(HeadlessOptions, OutputChoicesNameThePortsTheyApplyTo) {
    for (const std::string option : {"--strobe", "--rts", "--dtr"}) {
        for (const auto& [value, on1, on2] :
             {std::tuple{"1", true, false}, std::tuple{"2", false, true},
              std::tuple{"both", true, true}}) {
            SCOPED_TRACE(option + " " + value);
            const HeadlessOptions o = run(withPort({option, value}));
            for (int i = 0; i < 2; ++i) {
                const HeadlessOptions::Port& p = o.ports[i];
                const bool want = i == 0 ? on1 : on2;
                EXPECT_EQ(p.strobe, option == "--strobe" && want) << "port " << i + 1;
                EXPECT_EQ(p.rts, option == "--rts" && want) << "port " << i + 1;
                EXPECT_EQ(p.dtr, option == "--dtr" && want) << "port " << i + 1;
            }
        }
    }
    // Given twice, the choices add up.
    const HeadlessOptions o = run(withPort({"--rts", "1", "--rts", "2", "--dtr", "2"}));
    EXPECT_TRUE(o.ports[0].rts);
    EXPECT_TRUE(o.ports[1].rts);
    EXPECT_FALSE(o.ports[0].dtr);
    EXPECT_TRUE(o.ports[1].dtr);
}

TEST(HeadlessOptions, FlagsIntervalsRecordPrintAndCapture) {
    const HeadlessOptions o =
        run(withPort({"--auto", "--gap", "12", "--poll", "250", "--delay", "0", "--record",
                      "/var/log/lines", "--print", "--pcap", "/tmp/lines.pcapng"}));
    EXPECT_TRUE(o.autoFraming);
    EXPECT_EQ(o.gapMs, 12);
    EXPECT_EQ(o.pollMs, 250);
    EXPECT_EQ(o.lineDelayMs, 0) << "0 is a valid interval";
    EXPECT_EQ(o.recordFolder, "/var/log/lines");
    EXPECT_TRUE(o.print);
    EXPECT_EQ(o.pcapPath, "/tmp/lines.pcapng");

    const HeadlessOptions top = run(withPort({"--gap", "32767"}));
    EXPECT_EQ(top.gapMs, 32767);
}

TEST(HeadlessOptions, ValuesMayFollowAnEqualsSign) {
    const HeadlessOptions o =
        run({"--port1=/dev/ttyUSB0", "--gap=12", "--poll=40", "--delay=7", "--relay=21",
             "--settings2=4800,n,7,1", "--port2=2", "--record=/srv/rec", "--pcap=/tmp/c.pcapng"});
    EXPECT_EQ(o.ports[0].device, "/dev/ttyUSB0");
    EXPECT_EQ(o.ports[1].device, "2");
    EXPECT_EQ(o.gapMs, 12);
    EXPECT_EQ(o.pollMs, 40);
    EXPECT_EQ(o.lineDelayMs, 7);
    EXPECT_FALSE(o.ports[0].relayData);
    EXPECT_TRUE(o.ports[1].relayData);
    EXPECT_EQ(o.ports[1].settings, "4800,n,7,1");
    EXPECT_EQ(o.recordFolder, "/srv/rec");
    EXPECT_EQ(o.pcapPath, "/tmp/c.pcapng");
    // Only the first "=" splits: the rest belongs to the value.
    EXPECT_EQ(run({"--port1=/dev/a=b"}).ports[0].device, "/dev/a=b");
}

TEST(HeadlessOptions, HeadlessMayStandAnywhere) {
    const HeadlessOptions o = run({"--port1", "/dev/ttyUSB0", "--headless", "--auto"});
    EXPECT_EQ(o.ports[0].device, "/dev/ttyUSB0");
    EXPECT_TRUE(o.autoFraming);
}

TEST(HeadlessOptions, UnknownOptionsAreRefusedAsWritten) {
    EXPECT_EQ(refusal(withPort({"--colour"})), "unknown option --colour");
    EXPECT_EQ(refusal(withPort({"--colour=red"})), "unknown option --colour=red");
    EXPECT_EQ(refusal(withPort({"-x"})), "unknown option -x");
    EXPECT_EQ(refusal(withPort({"stray"})), "unknown option stray");
    // The first problem is the one told.
    EXPECT_EQ(refusal({"--bogus", "--gap", "x"}), "unknown option --bogus");
}

TEST(HeadlessOptions, AnOptionAtTheEndWithoutItsValue) {
    for (const std::string option :
         {"--port1", "--port2", "--settings1", "--settings2", "--relay", "--line-relay", "--strobe",
          "--rts", "--dtr", "--gap", "--poll", "--delay", "--record", "--pcap"}) {
        EXPECT_EQ(refusal(withPort({option})), option + " needs a value");
    }
}

TEST(HeadlessOptions, FlagsTakeNoValue) {
    EXPECT_EQ(refusal(withPort({"--auto=1"})), "--auto takes no value");
    EXPECT_EQ(refusal(withPort({"--print=yes"})), "--print takes no value");
}

TEST(HeadlessOptions, BadDirectionsAndPortChoices) {
    EXPECT_EQ(refusal(withPort({"--relay", "1"})), "--relay 1: must be 12, 21 or both");
    EXPECT_EQ(refusal(withPort({"--relay=BOTH"})), "--relay BOTH: must be 12, 21 or both");
    EXPECT_EQ(refusal(withPort({"--line-relay", "13"})), "--line-relay 13: must be 12, 21 or both");
    EXPECT_EQ(refusal(withPort({"--strobe", "12"})), "--strobe 12: must be 1, 2 or both");
    EXPECT_EQ(refusal(withPort({"--rts", "3"})), "--rts 3: must be 1, 2 or both");
    EXPECT_EQ(refusal(withPort({"--dtr", ""})), "--dtr : must be 1, 2 or both");
}

TEST(HeadlessOptions, BadPorts) {
    const std::string why = ": must be a device path or a port number 1 to 12";
    EXPECT_EQ(refusal({"--port1", "0"}), "--port1 0" + why);
    EXPECT_EQ(refusal({"--port1", "13"}), "--port1 13" + why);
    EXPECT_EQ(refusal({"--port2", "ttyUSB0"}), "--port2 ttyUSB0" + why) << "a relative path";
    EXPECT_EQ(refusal({"--port2", "COM1"}), "--port2 COM1" + why);
    EXPECT_EQ(refusal({"--port1="}), "--port1 " + why);
}

TEST(HeadlessOptions, BadSettingsTexts) {
    const std::string why = ": must be baud,parity,data,stop such as 9600,n,8,1";
    for (const std::string text : {"9600,x,8,1", "9600,n,9,1", "9600,n,8,3", "0,n,8,1",
                                   "fast,n,8,1", "9600,n,8", "9600,n,8,1,1"}) {
        EXPECT_EQ(refusal(withPort({"--settings1", text})), "--settings1 " + text + why);
        EXPECT_EQ(refusal(withPort({"--settings2=" + text})), "--settings2 " + text + why);
    }
}

TEST(HeadlessOptions, IntervalsOutOfRangeOrNotANumber) {
    const std::string why = ": must be a whole number of milliseconds from 0 to 32767";
    for (const std::string option : {"--gap", "--poll", "--delay"}) {
        for (const std::string value : {"32768", "-1", "abc", "12ms", "1.5", "", "99999999999"}) {
            EXPECT_EQ(refusal(withPort({option, value})), option + " " + value + why);
        }
    }
    EXPECT_EQ(refusal(withPort({"--gap=-5"})), "--gap -5" + why);
}

TEST(HeadlessOptions, EmptyRecordFolderOrCaptureFile) {
    EXPECT_EQ(refusal(withPort({"--record", ""})), "--record : must name a folder");
    EXPECT_EQ(refusal(withPort({"--pcap="})), "--pcap : must name a file or a named pipe");
}

TEST(HeadlessOptions, NoPortGiven) {
    const std::string message = "no port given: use --port1 and/or --port2";
    EXPECT_EQ(refusal({}), message);
    EXPECT_EQ(refusal({"--headless"}), message);
    EXPECT_EQ(refusal({"--headless", "--auto", "--relay", "both", "--settings1", "9600,n,8,1"}),
              message);
}

TEST(HeadlessOptions, HelpAndVersion) {
    EXPECT_TRUE(std::holds_alternative<HelpRequest>(parseHeadlessOptions({"--help"})));
    EXPECT_TRUE(std::holds_alternative<HelpRequest>(parseHeadlessOptions({"-h"})));
    EXPECT_TRUE(std::holds_alternative<HelpRequest>(
        parseHeadlessOptions({"--headless", "--port1", "/dev/ttyUSB0", "--help"})));
    EXPECT_TRUE(std::holds_alternative<VersionRequest>(parseHeadlessOptions({"--version"})));
    EXPECT_TRUE(
        std::holds_alternative<VersionRequest>(parseHeadlessOptions({"--headless", "--version"})));
    // Asked for before anything is wrong, they need no port.
    EXPECT_TRUE(std::holds_alternative<HelpRequest>(parseHeadlessOptions({"--help", "--bogus"})));

    const std::string usage = headlessUsage();
    EXPECT_EQ(usage.rfind("Usage: linetap --headless [options]\n", 0), 0u) << usage;
    for (const char* option :
         {"--port1", "--port2", "--settings1", "--settings2", "--relay", "--line-relay", "--strobe",
          "--rts", "--dtr", "--auto", "--gap", "--poll", "--delay", "--record", "--print", "--pcap",
          "--help", "--version"}) {
        EXPECT_NE(usage.find(option), std::string::npos) << option << " missing from the usage";
    }
    EXPECT_NE(usage.find("Exit status: 0 after SIGINT/SIGTERM, 1 a port could not be opened, "
                         "2 bad input."),
              std::string::npos);
}

}  // namespace
}  // namespace lt
