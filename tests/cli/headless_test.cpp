// The built program run headless as a child process on pseudo-terminal pairs: it relays what the
// far devices send, prints and records it, stops cleanly on SIGTERM, loads no GUI
// library, and refuses bad input with one line on standard error and its exit status.
#include <cerrno>
#include <cstring>

#include "cli/cli_support.h"

namespace lt::cli {
namespace {

class CliHeadless : public CliTest {};

TEST_F(CliHeadless, RelaysPrintsAndRecordsBothWaysThenStopsOnSigterm) {
    const std::string records = folder("records");
    Child child(on({"--relay", "both", "--auto", "--record", records, "--print", "--settings1",
                    "9600,n,8,1", "--settings2", "9600,n,8,1"}));
    // The record file is made last before capture starts.
    ASSERT_TRUE(child.waitFor([&] { return !onlyFileIn(records).empty() || !child.running(); }));
    ASSERT_TRUE(child.waitRunning()) << child.err;
    const std::string file = onlyFileIn(records);
    EXPECT_NE(file.find("/Linetap "), std::string::npos) << file;

    const std::pair<std::string, std::string> exchanges[] = {
        {"hello from 1", "answer from 2"},
        {std::string("\x00\x01\x7f\x80\xfe\xff", 6), "\r\n"},
        {"third", std::string(40, 'z')},
    };
    std::string to2, to1, pattern;  // what each far end should have got; the printed records
    for (const auto& [ask, answer] : exchanges) {
        ASSERT_TRUE(one.send(ask));
        ASSERT_TRUE(waitForBytes(two, (to2 += ask).size())) << child.err;
        ASSERT_TRUE(two.send(answer));
        ASSERT_TRUE(waitForBytes(one, (to1 += answer).size())) << child.err;
        pattern += recordPattern(1, one, two, ask) + recordPattern(2, one, two, answer);
    }
    EXPECT_EQ(two.received, to2);
    EXPECT_EQ(one.received, to1);

    // One printed record per packet, in order, as they happen.
    const std::regex printed(pattern);
    EXPECT_TRUE(child.waitFor([&] { return std::regex_match(child.out, printed); })) << child.out;

    // No GUI library was loaded; the maps were read, with the program's own libraries in them.
    const std::string maps = readFile(child.proc("maps"));
    EXPECT_NE(maps.find("libQt6SerialPort"), std::string::npos) << maps;
    for (const char* gui : {"libQt6Gui", "libQt6Widgets", "linetap-window"})
        EXPECT_EQ(maps.find(gui), std::string::npos) << gui;

    child.signal(SIGTERM);
    EXPECT_EQ(child.waitExit(), 0);
    EXPECT_EQ(child.err, "");
    const std::string recorded = readFile(file);
    EXPECT_TRUE(std::regex_match(recorded, printed)) << "whole records, the last too: " << recorded;
    EXPECT_EQ(recorded, child.out);
}

TEST_F(CliHeadless, BadInputAndMissingDevicesAreToldInOneLineWithTheirStatus) {
    const std::string missing = file("missing"), plain = file("plain");
    std::ofstream(plain) << "not a folder";  // no execute bits: no folder to write in, for root too
    const std::string help = " (see linetap --help)\n", gone = std::strerror(ENOENT);
    const struct {
        std::vector<std::string> args;
        int status;
        std::string err;
    } cases[] = {
        {{"--headless", "--port1", one.slave, "--bogus"}, 2, "unknown option --bogus" + help},
        {{"--headless", "--port1"}, 2, "--port1 needs a value" + help},
        {{"--headless", "--port1", one.slave, "--relay", "3"},
         2,
         "--relay 3: must be 12, 21 or both" + help},
        {{"--headless"}, 2, "no port given: use --port1 and/or --port2" + help},
        {on({"--auto", "--record", missing}), 2, "--record " + missing + ": no such folder\n"},
        {on({"--auto", "--record", plain}), 2,
         "--record " + plain + ": " + std::strerror(EACCES) + "\n"},
        {{"--headless", "--port1", "/nonexistent/tty", "--port2", two.slave, "--auto"},
         1,
         "port 1 (/nonexistent/tty): /nonexistent/tty: " + gone + "\n"},
        {{"--headless", "--port1", one.slave, "--port2", "/nonexistent/tty2"},
         1,
         "port 2 (/nonexistent/tty2): /nonexistent/tty2: " + gone + "\n"},
    };
    for (const auto& [args, status, err] : cases) {
        Child child(args);
        EXPECT_EQ(child.waitExit(), status) << err;
        EXPECT_EQ(child.err, "linetap: " + err);
        EXPECT_EQ(child.out, "");
    }
}

}  // namespace
}  // namespace lt::cli
