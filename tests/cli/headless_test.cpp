// The built program run headless as a child process on pseudo-terminal pairs: it relays what the
// far devices send, prints and records it, stops cleanly on SIGTERM and SIGINT, loads no GUI
// library, and refuses bad input with one line on standard error and its exit status.
#include <gtest/gtest.h>

#include <cerrno>
#include <cstring>
#include <regex>
#include <string>
#include <utility>
#include <vector>

#include "cli/cli_support.h"

namespace lt::cli {
namespace {

std::vector<std::string> headlessOn(const PtyPair& one, const PtyPair& two,
                                    std::vector<std::string> more) {
    std::vector<std::string> a{"--headless", "--port1", one.slave(), "--port2", two.slave()};
    a.insert(a.end(), more.begin(), more.end());
    return a;
}

// The lines of a record for a packet of `port`, any stamp and any outputs: the inputs of a
// pseudo-terminal read as off.
std::string recordPattern(int port, const std::string& device1, const std::string& device2,
                          const std::string& bytes) {
    const auto quote = [](const std::string& s) {
        return std::regex_replace(s, std::regex(R"([.^$|()\[\]{}*+?\\/])"), R"(\$&)");
    };
    const std::string lines = "RTS=[01] DTR=[01] DCD=0 DSR=0 CTS=0   Data=";
    return R"(\d\d:\d\d:\d\d,\d+  )" + quote(device1) + ":  " + lines +
           quote(port == 1 ? recordHex(bytes) : "") + "\r\n {13}" + quote(device2) + ":  " + lines +
           quote(port == 2 ? recordHex(bytes) : "") + "\r\n\r\n";
}

std::size_t count(const std::string& text, const std::string& what) {
    std::size_t n = 0;
    for (auto at = text.find(what); at != std::string::npos; at = text.find(what, at + 1)) ++n;
    return n;
}

class CliHeadless : public ::testing::Test {
protected:
    void SetUp() override {
        ASSERT_TRUE(dir.valid());
        ASSERT_TRUE(one.ok());
        ASSERT_TRUE(two.ok());
        config = dir.folder("config");
    }

    TempDir dir;
    std::string config;
    PtyPair one, two;  // the far devices of port 1 and port 2
};

TEST_F(CliHeadless, RelaysPrintsAndRecordsBothWaysThenStopsOnSigterm) {
    const std::string records = dir.folder("records");
    Child child(headlessOn(one, two,
                           {"--relay", "both", "--auto", "--record", records, "--print",
                            "--settings1", "9600,n,8,1", "--settings2", "9600,n,8,1"}),
                config);
    ASSERT_TRUE(child.started());
    // The record file is made last before capture starts.
    ASSERT_TRUE(waitUntil([&] { return !onlyFileIn(records).empty() || !child.running(); },
                          kDeadlineMs, [&] { child.pump(); }));
    ASSERT_TRUE(child.waitRunning()) << child.err;
    EXPECT_EQ(one.speed(), B9600);
    EXPECT_EQ(two.speed(), B9600);
    const std::string file = onlyFileIn(records);
    EXPECT_NE(file.find("/Linetap "), std::string::npos) << file;

    const std::vector<std::pair<std::string, std::string>> exchanges{
        {"hello from 1", "answer from 2"},
        {std::string("\x00\x01\x7f\x80\xfe\xff", 6), "\r\n"},
        {"third", std::string(40, 'z')},
    };
    std::string to2, to1;  // what each far end should have got so far
    for (const auto& [ask, answer] : exchanges) {
        ASSERT_TRUE(one.send(ask));
        to2 += ask;
        ASSERT_TRUE(two.waitForReceived(to2.size())) << child.err;
        ASSERT_TRUE(two.send(answer));
        to1 += answer;
        ASSERT_TRUE(one.waitForReceived(to1.size())) << child.err;
    }
    EXPECT_EQ(two.received(), to2);
    EXPECT_EQ(one.received(), to1);

    // One printed record per packet, in order, as they happen.
    std::string pattern;
    for (const auto& [ask, answer] : exchanges)
        pattern += recordPattern(1, one.slave(), two.slave(), ask) +
                   recordPattern(2, one.slave(), two.slave(), answer);
    EXPECT_TRUE(waitUntil([&] { return count(child.out, "\r\n\r\n") >= 2 * exchanges.size(); },
                          kDeadlineMs, [&] { child.pump(); }));
    EXPECT_TRUE(std::regex_match(child.out, std::regex(pattern))) << child.out;

    child.signal(SIGTERM);
    EXPECT_EQ(child.waitExit(), 0) << child.err;
    EXPECT_EQ(child.err, "");
    const std::string recorded = readFile(file);
    EXPECT_EQ(recorded, child.out) << "the printed records are the record file's";
    ASSERT_GE(recorded.size(), 4u);
    EXPECT_EQ(recorded.substr(recorded.size() - 4), "\r\n\r\n") << "ends with a whole record";
}

TEST_F(CliHeadless, StopsCleanlyOnSigint) {
    const std::string records = dir.folder("records");
    Child child(headlessOn(one, two, {"--auto", "--relay", "12", "--record", records}), config);
    ASSERT_TRUE(child.started());
    ASSERT_TRUE(waitUntil([&] { return !onlyFileIn(records).empty() || !child.running(); },
                          kDeadlineMs, [&] { child.pump(); }));
    ASSERT_TRUE(child.waitRunning()) << child.err;
    ASSERT_TRUE(one.send("last words"));
    ASSERT_TRUE(two.waitForReceived(10)) << child.err;
    child.signal(SIGINT);
    EXPECT_EQ(child.waitExit(), 0) << child.err;
    EXPECT_EQ(child.err, "");
    EXPECT_TRUE(
        std::regex_match(readFile(onlyFileIn(records)),
                         std::regex(recordPattern(1, one.slave(), two.slave(), "last words"))))
        << readFile(onlyFileIn(records));
}

TEST_F(CliHeadless, LoadsNoGuiLibrary) {
    Child child(headlessOn(one, two, {"--auto"}), config);
    ASSERT_TRUE(child.started());
    ASSERT_TRUE(child.waitRunning()) << child.err;
    EXPECT_TRUE(child.hasOpen(one.slave()));
    EXPECT_TRUE(child.hasOpen(two.slave()));
    const std::string maps = child.maps();
    // The maps were read, and the program's own libraries are in them.
    EXPECT_NE(maps.find("libQt6Core"), std::string::npos) << maps;
    EXPECT_NE(maps.find("libQt6SerialPort"), std::string::npos) << maps;
    EXPECT_EQ(maps.find("libQt6Gui"), std::string::npos);
    EXPECT_EQ(maps.find("libQt6Widgets"), std::string::npos);
    EXPECT_EQ(maps.find("linetap-window"), std::string::npos);
    child.signal(SIGTERM);
    EXPECT_EQ(child.waitExit(), 0) << child.err;
}

TEST_F(CliHeadless, BadOptionsAreToldInOneLineWithStatusTwo) {
    const std::vector<std::pair<std::vector<std::string>, std::string>> cases{
        {{"--headless", "--port1", one.slave(), "--bogus"},
         "linetap: unknown option --bogus (see linetap --help)\n"},
        {{"--headless", "--port1"}, "linetap: --port1 needs a value (see linetap --help)\n"},
        {{"--headless", "--port1", one.slave(), "--relay", "3"},
         "linetap: --relay 3: must be 12, 21 or both (see linetap --help)\n"},
        {{"--headless"},
         "linetap: no port given: use --port1 and/or --port2 (see linetap --help)\n"},
    };
    for (const auto& [args, line] : cases) {
        SCOPED_TRACE(line);
        Child child(args, config);
        ASSERT_TRUE(child.started());
        EXPECT_EQ(child.waitExit(), 2);
        EXPECT_EQ(child.err, line);
        EXPECT_EQ(child.out, "");
    }
}

TEST_F(CliHeadless, ARecordFolderThatCannotBeWrittenGivesStatusTwo) {
    {
        const std::string missing = dir.file("missing");
        Child child(headlessOn(one, two, {"--auto", "--record", missing}), config);
        ASSERT_TRUE(child.started());
        EXPECT_EQ(child.waitExit(), 2);
        EXPECT_EQ(child.err, "linetap: --record " + missing + ": no such folder\n");
    }
    {
        // A plain file without execute bits: no folder to write in, for root too.
        const std::string plain = dir.file("plain");
        std::ofstream(plain) << "not a folder";
        ASSERT_EQ(::chmod(plain.c_str(), 0644), 0);
        Child child(headlessOn(one, two, {"--auto", "--record", plain}), config);
        ASSERT_TRUE(child.started());
        EXPECT_EQ(child.waitExit(), 2);
        EXPECT_EQ(child.err, "linetap: --record " + plain + ": " + std::strerror(EACCES) + "\n");
    }
}

TEST_F(CliHeadless, AMissingDeviceGivesStatusOneWithTheReason) {
    Child child({"--headless", "--port1", "/nonexistent/tty", "--port2", two.slave(), "--auto"},
                config);
    ASSERT_TRUE(child.started());
    EXPECT_EQ(child.waitExit(), 1);
    EXPECT_EQ(child.err, "linetap: port 1 (/nonexistent/tty): /nonexistent/tty: " +
                             std::string(std::strerror(ENOENT)) + "\n");

    Child second({"--headless", "--port1", one.slave(), "--port2", "/nonexistent/tty2"}, config);
    ASSERT_TRUE(second.started());
    EXPECT_EQ(second.waitExit(), 1);
    EXPECT_EQ(second.err, "linetap: port 2 (/nonexistent/tty2): /nonexistent/tty2: " +
                              std::string(std::strerror(ENOENT)) + "\n");
}

TEST_F(CliHeadless, VersionAndHelp) {
    for (const std::vector<std::string>& args :
         {std::vector<std::string>{"--version"}, {"--headless", "--version"}}) {
        Child child(args, config);
        ASSERT_TRUE(child.started());
        EXPECT_EQ(child.waitExit(), 0);
        EXPECT_EQ(child.out, "linetap 2.01\n");
        EXPECT_EQ(child.err, "");
    }
    Child help({"--help"}, config);
    ASSERT_TRUE(help.started());
    EXPECT_EQ(help.waitExit(), 0);
    EXPECT_EQ(help.out.rfind("Usage: linetap --headless [options]\n", 0), 0u) << help.out;
    const std::string last = "Without --headless, linetap opens its window.\n";
    ASSERT_GE(help.out.size(), last.size());
    EXPECT_EQ(help.out.substr(help.out.size() - last.size()), last);
    EXPECT_EQ(help.err, "");
}

}  // namespace
}  // namespace lt::cli
