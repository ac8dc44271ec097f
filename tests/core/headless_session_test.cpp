// A run without a window on the simulated lines: the options become the choices of the window,
// capture starts at once, problems are told in one line each, and the end finishes what was
// being collected.
#include "app/headless/session.h"

#include <gtest/gtest.h>
#include <sys/stat.h>

#include <QTemporaryDir>
#include <cerrno>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <fstream>
#include <optional>
#include <regex>
#include <string>
#include <vector>

#include "sim/rig.h"
#include "support/pcapng_reader.h"
#include "ui/print_record_sink.h"

namespace lt::sim {
namespace {

using Args = std::vector<std::string>;

const std::string kDevice1 = "/dev/sim-a";
const std::string kDevice2 = "/dev/sim-b";

// Both ports at 9600,n,8,1: one character takes 1.04 ms, well inside the 10 ms pause.
Args bothPorts(Args more) {
    Args a{"--headless",  "--port1",    kDevice1,      "--port2",   kDevice2,
           "--settings1", "9600,n,8,1", "--settings2", "9600,n,8,1"};
    a.insert(a.end(), more.begin(), more.end());
    return a;
}

// What one port's line of a record says, without the stamp: "LABEL:  RTS=.. CTS=.   Data= 41".
std::string portLine(const std::string& label, const std::string& lines, const std::string& hex) {
    return label + ":  " + lines + "   Data=" + hex;
}

// Both outputs on, as switching on leaves them: the runs whose records are about something else
// keep them so (--rts both --dtr both), and records show inputs only where the peers set them.
const std::string kOutputsOn = "RTS=1 DTR=1 DCD=0 DSR=0 CTS=0";

// A whole record as a pattern: any stamp, then exactly these two port lines.
std::string recordPattern(const std::string& line1, const std::string& line2) {
    const auto quote = [](const std::string& s) {
        return std::regex_replace(s, std::regex(R"([.^$|()\[\]{}*+?\\/])"), R"(\$&)");
    };
    return R"(\d\d:\d\d:\d\d,\d+  )" + quote(line1) + "\r\n {13}" + quote(line2) + "\r\n\r\n";
}

bool isRecords(const std::string& text, const std::vector<std::string>& patterns) {
    std::string all;
    for (const std::string& p : patterns) all += p;
    return std::regex_match(text, std::regex(all));
}

// Standard output as the test sees it: a FILE* writing into memory.
class MemoryStream {
public:
    MemoryStream() : file_(::open_memstream(&buffer_, &size_)) {}
    ~MemoryStream() {
        if (file_) std::fclose(file_);
        std::free(buffer_);
    }
    MemoryStream(const MemoryStream&) = delete;
    MemoryStream& operator=(const MemoryStream&) = delete;

    std::FILE* file() const { return file_; }
    // What has been written and flushed so far.
    std::string text() const { return buffer_ ? std::string(buffer_, size_) : std::string(); }

private:
    char* buffer_ = nullptr;
    std::size_t size_ = 0;
    std::FILE* file_;
};

// The rig of the scenario tests with its records going through a PrintRecordSink, as the
// headless program wires them: to a file (here in memory) when there is one, and to a stream.
struct PrintRig {
    explicit PrintRig(bool toFile) : sink(toFile ? &file : nullptr, stream.file()) {}

    VirtualLoop loop;
    TestHost host{loop};
    SimLine line1{loop, 1};
    SimLine line2{loop, 2};
    MemoryRecords file;
    MemoryStream stream;
    PrintRecordSink sink;
    Core core{host, line1, line2, sink, QLocale(QLocale::C)};

    void runMs(double v) { loop.runFor(ms(v)); }
};

// One headless run on a rig whose settings live in a fresh folder; every line the session says
// is kept.
template <class R = Rig>
class SessionRun {
public:
    template <class... A>
    explicit SessionRun(A&&... a) : rig(std::forward<A>(a)...) {
        EXPECT_TRUE(config.isValid());
        rig.host.env["XDG_CONFIG_HOME"] = config.path().toStdString();
        rig.core.load();
    }

    int begin(const Args& args) {
        const HeadlessCommand c = parseHeadlessOptions(args);
        if (const auto* bad = std::get_if<OptionError>(&c)) {
            ADD_FAILURE() << "options refused: " << bad->message;
            return -100;
        }
        return begin(std::get<HeadlessOptions>(c));
    }
    int begin(const HeadlessOptions& options) {
        session.emplace(rig.core, options,
                        [this](const std::string& line) { said.push_back(line); });
        return session->begin();
    }

    QTemporaryDir config;
    R rig;
    std::vector<std::string> said;
    std::optional<HeadlessSession> session;
};

class HeadlessRun : public ::testing::Test {
protected:
    void SetUp() override { ASSERT_TRUE(records.isValid()); }
    std::string recordDir() const { return records.path().toStdString(); }

    QTemporaryDir records;  // an existing record folder
    SessionRun<> run;
    Rig& rig = run.rig;
    Core& core = run.rig.core;
};

TEST_F(HeadlessRun, RelaysBothWaysInAutomaticFramingToTheFarPeers) {
    ASSERT_EQ(run.begin(bothPorts({"--relay", "both", "--auto"})), HeadlessSession::kRunning);
    EXPECT_TRUE(run.said.empty());
    EXPECT_TRUE(core.running());
    const ViewModel v = core.view();
    EXPECT_TRUE(v.run.autoFraming.checked);
    for (int n : {0, 1}) {
        EXPECT_EQ(v.ports[n].panel.lamp, PortLamp::Open) << "port " << n + 1;
        EXPECT_TRUE(v.ports[n].panel.dataRelay.checked) << "port " << n + 1;
        EXPECT_FALSE(v.ports[n].panel.lineRelay.checked) << "port " << n + 1;
    }
    EXPECT_EQ(rig.line1.lineSettings(), "9600,n,8,1");
    EXPECT_EQ(rig.line2.lineSettings(), "9600,n,8,1");

    rig.line1.peerSend("\x01\x03query");
    rig.runMs(50);
    EXPECT_EQ(rig.line2.peerReceived(), "\x01\x03query");
    EXPECT_EQ(rig.line1.peerReceived(), "") << "nothing comes back to the sender";

    rig.line2.peerSend("answer");
    rig.runMs(50);
    EXPECT_EQ(rig.line1.peerReceived(), "answer");
    EXPECT_EQ(rig.line2.peerReceived(), "\x01\x03query");

    // Again, to see the relay go on after the first exchange.
    rig.line1.peerSend("again");
    rig.runMs(50);
    EXPECT_EQ(rig.line2.peerReceived(), "\x01\x03queryagain");
}

TEST_F(HeadlessRun, RelaysOnlyFromTheNamedPort) {
    ASSERT_EQ(run.begin(bothPorts({"--relay", "21", "--auto"})), HeadlessSession::kRunning);
    rig.line1.peerSend("not relayed");
    rig.runMs(50);
    EXPECT_EQ(rig.line2.peerReceived(), "");
    rig.line2.peerSend("relayed");
    rig.runMs(50);
    EXPECT_EQ(rig.line1.peerReceived(), "relayed");
}

TEST_F(HeadlessRun, WithoutAutoCaptureIsPolledAtThePollInterval) {
    ASSERT_EQ(run.begin(bothPorts({"--relay", "12", "--poll", "40"})), HeadlessSession::kRunning);
    EXPECT_TRUE(core.running());
    EXPECT_FALSE(core.view().run.autoFraming.checked);
    EXPECT_EQ(core.view().run.pollInterval, "40");
    rig.line1.peerSend("polled");
    rig.runMs(20);
    EXPECT_EQ(rig.line2.peerReceived(), "") << "nothing moves before the first poll";
    rig.runMs(100);
    EXPECT_EQ(rig.line2.peerReceived(), "polled");
}

TEST_F(HeadlessRun, IntervalsOfTheOptionsHoldForThisRunOnly) {
    ASSERT_EQ(run.begin(bothPorts({"--auto", "--gap", "30", "--poll", "250", "--delay", "7",
                                   "--record", recordDir(), "--rts", "both", "--dtr", "both"})),
              HeadlessSession::kRunning);
    EXPECT_EQ(core.settings().gapMs, 30);
    EXPECT_EQ(core.settings().pollMs, 250);
    EXPECT_EQ(core.settings().lineDelayMs, 7);
    EXPECT_EQ(core.settings().recordFolder, recordDir() + "/");

    // A 20 ms pause does not end a packet with a 30 ms gap: one record.
    rig.line1.peerSend("ab");
    rig.runMs(20);
    rig.line1.peerSend("cd");
    rig.runMs(100);
    EXPECT_TRUE(
        isRecords(rig.records.text, {recordPattern(portLine(kDevice1, kOutputsOn, " 61 62 63 64"),
                                                   portLine(kDevice2, kOutputsOn, ""))}))
        << rig.records.text;
    EXPECT_EQ(rig.records.path.rfind(recordDir() + "/Linetap ", 0), 0u) << rig.records.path;

    // The settings file keeps its own values.
    Rig later;
    later.host.env["XDG_CONFIG_HOME"] = run.config.path().toStdString();
    later.core.load();
    EXPECT_EQ(later.core.settings().gapMs, 10);
    EXPECT_EQ(later.core.settings().pollMs, 100);
    EXPECT_EQ(later.core.settings().lineDelayMs, 100);
}

TEST_F(HeadlessRun, LineRelayMovesRtsAndDtrFromTheNamedPort) {
    ASSERT_EQ(run.begin(bothPorts({"--line-relay", "12", "--auto"})), HeadlessSession::kRunning);
    EXPECT_TRUE(core.view().ports[0].panel.lineRelay.checked);
    EXPECT_FALSE(core.view().ports[1].panel.lineRelay.checked);
    EXPECT_FALSE(rig.line2.peerSeesRts());
    EXPECT_FALSE(rig.line2.peerSeesDtr());

    rig.line1.peerSetRts(true);  // port 1's CTS
    rig.runMs(5);
    EXPECT_TRUE(rig.line2.peerSeesRts());
    EXPECT_FALSE(rig.line2.peerSeesDtr());

    rig.line1.peerSetDtr(true);  // port 1's DSR
    rig.runMs(5);
    EXPECT_TRUE(rig.line2.peerSeesRts());
    EXPECT_TRUE(rig.line2.peerSeesDtr());

    rig.line1.peerSetRts(false);
    rig.runMs(5);
    EXPECT_FALSE(rig.line2.peerSeesRts());
    EXPECT_TRUE(rig.line2.peerSeesDtr());

    // Not the other way.
    rig.line2.peerSetRts(true);
    rig.line2.peerSetDtr(true);
    rig.runMs(5);
    EXPECT_FALSE(rig.line1.peerSeesRts());
    EXPECT_FALSE(rig.line1.peerSeesDtr());
}

TEST(HeadlessSession, RtsAndDtrOptionsLeaveExactlyTheAskedOutputsOn) {
    struct Case {
        Args options;
        bool rts1, dtr1, rts2, dtr2;
    };
    for (const Case& c :
         {Case{{}, false, false, false, false}, Case{{"--rts", "1"}, true, false, false, false},
          Case{{"--dtr", "2"}, false, false, false, true},
          Case{{"--rts", "2", "--dtr", "1"}, false, true, true, false},
          Case{{"--rts", "both", "--dtr", "both"}, true, true, true, true}}) {
        std::string name;
        for (const std::string& o : c.options) name += o + " ";
        SCOPED_TRACE(name);
        SessionRun<> run;
        ASSERT_EQ(run.begin(bothPorts(c.options)), HeadlessSession::kRunning);
        run.rig.runMs(50);
        EXPECT_EQ(run.rig.line1.peerSeesRts(), c.rts1);
        EXPECT_EQ(run.rig.line1.peerSeesDtr(), c.dtr1);
        EXPECT_EQ(run.rig.line2.peerSeesRts(), c.rts2);
        EXPECT_EQ(run.rig.line2.peerSeesDtr(), c.dtr2);
        const ViewModel v = run.rig.core.view();
        EXPECT_EQ(v.ports[0].panel.rts.checked, c.rts1);
        EXPECT_EQ(v.ports[0].panel.dtr.checked, c.dtr1);
        EXPECT_EQ(v.ports[1].panel.rts.checked, c.rts2);
        EXPECT_EQ(v.ports[1].panel.dtr.checked, c.dtr2);
    }
}

TEST_F(HeadlessRun, StrobeRaisesRtsOnlyWhileThePortSends) {
    ASSERT_EQ(run.begin(bothPorts({"--strobe", "1", "--relay", "21", "--auto"})),
              HeadlessSession::kRunning);
    EXPECT_EQ(rig.line1.flags(), kFlagsToggleRts);
    EXPECT_EQ(rig.line2.flags(), kFlagsManualRts);
    EXPECT_TRUE(core.view().ports[0].panel.strobe.checked);
    EXPECT_FALSE(core.view().ports[1].panel.strobe.checked);
    EXPECT_FALSE(rig.line1.peerSeesRts()) << "idle";

    const std::size_t before = rig.line1.peerLineLog().size();
    rig.line2.peerSend("hello");
    rig.runMs(100);
    ASSERT_EQ(rig.line1.peerReceived(), "hello");
    EXPECT_FALSE(rig.line1.peerSeesRts()) << "dropped after sending";
    // Raised for the send and dropped after it, once.
    std::vector<bool> rts;
    for (std::size_t i = before; i < rig.line1.peerLineLog().size(); ++i)
        rts.push_back(rig.line1.peerLineLog()[i].rts);
    EXPECT_EQ(rts, (std::vector<bool>{true, false}));
    EXPECT_FALSE(rig.line2.peerSeesRts()) << "port 2 has no strobe and no --rts";
}

TEST(HeadlessSession, APortThatCannotBeOpenedEndsTheRunWithStatusOneAndItsReason) {
    {
        SessionRun<> run;
        run.rig.line2.missing = true;
        EXPECT_EQ(run.begin(bothPorts({"--relay", "both", "--auto"})),
                  HeadlessSession::kCannotOpen);
        EXPECT_EQ(run.said, (std::vector<std::string>{"port 2 (/dev/sim-b): no such device"}));
        EXPECT_FALSE(run.rig.core.running());
        run.session->end();
        EXPECT_FALSE(run.rig.line1.isOpen()) << "the port opened before is closed again";
        EXPECT_FALSE(run.rig.line2.isOpen());
    }
    {
        SessionRun<> run;
        run.rig.line1.busy = true;
        EXPECT_EQ(run.begin(bothPorts({"--auto"})), HeadlessSession::kCannotOpen);
        EXPECT_EQ(run.said, (std::vector<std::string>{"port 1 (/dev/sim-a): device busy"}));
        EXPECT_EQ(run.rig.line2.opens, 0) << "nothing goes on after the first failure";
        run.session->end();
    }
    {
        // Only the port given is opened: port 2 stays off, however it would fare.
        SessionRun<> run;
        run.rig.line2.missing = true;
        EXPECT_EQ(run.begin(Args{"--port1", kDevice1, "--auto"}), HeadlessSession::kRunning);
        EXPECT_TRUE(run.said.empty());
        EXPECT_TRUE(run.rig.line1.isOpen());
        EXPECT_NE(run.rig.core.view().ports[1].panel.lamp, PortLamp::Failed);
        run.session->end();
    }
}

TEST(HeadlessSession, SettingsThePortRefusesEndTheRunWithStatusTwo) {
    SessionRun<> run;
    HeadlessOptions options;  // not through the parser, which would refuse them first
    options.ports[0].device = kDevice1;
    options.ports[0].settings = "9600,x,8,1";
    EXPECT_EQ(run.begin(options), HeadlessSession::kBadInput);
    EXPECT_EQ(run.said,
              (std::vector<std::string>{"port 1 (/dev/sim-a): settings 9600,x,8,1 refused"}));
    EXPECT_EQ(run.rig.line1.opens, 0);
}

TEST(HeadlessSession, ARecordFolderThatCannotBeUsedEndsTheRunWithStatusTwo) {
    {
        SessionRun<> run;
        EXPECT_EQ(run.begin(bothPorts({"--auto", "--record", "/nonexistent-linetap/records"})),
                  HeadlessSession::kBadInput);
        EXPECT_EQ(
            run.said,
            (std::vector<std::string>{"--record /nonexistent-linetap/records: no such folder"}));
        EXPECT_EQ(run.rig.line1.opens + run.rig.line2.opens, 0) << "checked before any port opens";
        EXPECT_FALSE(run.rig.records.opened);
    }
    {
        // A plain file is no folder to write records in, for root too.
        QTemporaryDir dir;
        ASSERT_TRUE(dir.isValid());
        const std::string file = dir.path().toStdString() + "/plain";
        std::ofstream(file) << "x";
        ASSERT_EQ(::chmod(file.c_str(), 0644), 0);
        SessionRun<> run;
        EXPECT_EQ(run.begin(bothPorts({"--record", file})), HeadlessSession::kBadInput);
        EXPECT_EQ(run.said,
                  (std::vector<std::string>{"--record " + file + ": " + std::strerror(EACCES)}));
        EXPECT_FALSE(run.rig.records.opened);
    }
}

TEST(HeadlessSession, ACaptureFileThatCannotBeCreatedEndsTheRunWithStatusTwo) {
    SessionRun<> run;
    EXPECT_EQ(run.begin(bothPorts({"--auto", "--pcap", "/nonexistent-linetap/c.pcapng"})),
              HeadlessSession::kBadInput);
    ASSERT_EQ(run.rig.host.messages.size(), 1u);
    EXPECT_EQ(run.rig.host.messages[0],
              "Не удалось создать файл pcapng: /nonexistent-linetap/c.pcapng: " +
                  std::string(std::strerror(ENOENT)));
    EXPECT_FALSE(run.rig.core.running());
}

TEST(HeadlessSession, ACaptureFileGetsEveryFramedPacketOnItsPortsInterface) {
    QTemporaryDir dir;
    ASSERT_TRUE(dir.isValid());
    const std::string path = dir.path().toStdString() + "/c.pcapng";
    SessionRun<> run;
    ASSERT_EQ(run.begin(bothPorts(
                  {"--auto", "--relay", "both", "--rts", "both", "--dtr", "both", "--pcap", path})),
              HeadlessSession::kRunning);
    run.rig.line1.peerSend("one");
    run.rig.runMs(50);
    run.rig.line2.peerSend("two!");
    run.rig.runMs(50);
    run.session->end();

    std::ifstream in(path, std::ios::binary);
    const test::PcapngFile f =
        test::readPcapng({std::istreambuf_iterator<char>(in), std::istreambuf_iterator<char>()});
    ASSERT_TRUE(f.ok()) << f.error;
    const auto interfaces = f.ofType(1);
    ASSERT_EQ(interfaces.size(), 2u);
    EXPECT_EQ(interfaces[0].ifName, "port 1 (/dev/sim-a)");
    EXPECT_EQ(interfaces[1].ifName, "port 2 (/dev/sim-b)");
    const auto packets = f.ofType(6);
    ASSERT_EQ(packets.size(), 2u);
    EXPECT_EQ(packets[0].interfaceId, 0u);
    EXPECT_EQ(packets[0].data, "one");
    EXPECT_EQ(packets[1].interfaceId, 1u);
    EXPECT_EQ(packets[1].data, "two!");
    EXPECT_LT(packets[0].timestamp, packets[1].timestamp);
    for (const auto& p : packets) EXPECT_EQ(p.comment, kOutputsOn + " | " + kOutputsOn);
}

TEST(HeadlessSession, PrintedRecordsReachTheStreamAsTheyAreWritten) {
    SessionRun<PrintRig> run(false);  // --print alone: no record file
    ASSERT_EQ(run.begin(bothPorts(
                  {"--auto", "--print", "--relay", "both", "--rts", "both", "--dtr", "both"})),
              HeadlessSession::kRunning);
    EXPECT_TRUE(run.rig.core.recording());
    EXPECT_EQ(run.rig.stream.text(), "");

    run.rig.line1.peerSend("AB");
    run.rig.runMs(50);
    const std::string first =
        recordPattern(portLine(kDevice1, kOutputsOn, " 41 42"), portLine(kDevice2, kOutputsOn, ""));
    EXPECT_TRUE(isRecords(run.rig.stream.text(), {first})) << run.rig.stream.text();

    run.rig.line2.peerSend("\x7f\x80");
    run.rig.runMs(50);
    const std::string second =
        recordPattern(portLine(kDevice1, kOutputsOn, ""), portLine(kDevice2, kOutputsOn, " 7F 80"));
    EXPECT_TRUE(isRecords(run.rig.stream.text(), {first, second})) << run.rig.stream.text();
    EXPECT_EQ(run.rig.file.opens, 0);
    EXPECT_EQ(run.rig.file.text, "");
    run.session->end();
}

TEST(HeadlessSession, PrintedRecordsAreTheRecordFilesRecords) {
    QTemporaryDir dir;
    ASSERT_TRUE(dir.isValid());
    SessionRun<PrintRig> run(true);
    ASSERT_EQ(run.begin(bothPorts({"--auto", "--print", "--record", dir.path().toStdString(),
                                   "--rts", "both", "--dtr", "both"})),
              HeadlessSession::kRunning);
    run.rig.line1.peerSend("x");
    run.rig.runMs(50);
    run.rig.line2.peerSend("yz");
    run.rig.runMs(50);
    run.rig.line2.peerSetRts(true);
    run.rig.runMs(5);
    EXPECT_EQ(run.rig.file.opens, 1);
    EXPECT_EQ(run.rig.file.path.rfind(dir.path().toStdString() + "/Linetap ", 0), 0u);
    EXPECT_EQ(run.rig.stream.text(), run.rig.file.text);
    EXPECT_TRUE(isRecords(
        run.rig.file.text,
        {recordPattern(portLine(kDevice1, kOutputsOn, " 78"), portLine(kDevice2, kOutputsOn, "")),
         recordPattern(portLine(kDevice1, kOutputsOn, ""),
                       portLine(kDevice2, kOutputsOn, " 79 7A")),
         recordPattern(portLine(kDevice1, kOutputsOn, ""),
                       portLine(kDevice2, "RTS=1 DTR=1 DCD=0 DSR=0 CTS=1", ""))}))
        << run.rig.file.text;
    run.session->end();
    EXPECT_FALSE(run.rig.file.opened);
}

TEST_F(HeadlessRun, AVanishedDeviceIsToldOnceAndTheOtherPortGoesOn) {
    ASSERT_EQ(run.begin(bothPorts({"--relay", "both", "--auto", "--record", recordDir(), "--rts",
                                   "both", "--dtr", "both"})),
              HeadlessSession::kRunning);
    rig.line1.peerSend("before");
    rig.runMs(50);
    ASSERT_EQ(rig.line2.peerReceived(), "before");

    rig.line1.peerVanish();
    rig.runMs(5);
    EXPECT_EQ(run.said, (std::vector<std::string>{"port 1 (/dev/sim-a): device lost"}));
    EXPECT_EQ(core.view().ports[0].panel.lamp, PortLamp::Failed);

    // Port 2 goes on: its packets are still captured and recorded, the run goes on, and the
    // loss is not told again.
    const std::size_t recorded = rig.records.text.size();
    rig.line2.peerSend("after");
    rig.runMs(50);
    rig.line2.peerSetRts(true);
    rig.runMs(50);
    EXPECT_EQ(run.said.size(), 1u);
    EXPECT_TRUE(core.running());
    EXPECT_EQ(core.view().ports[1].panel.lamp, PortLamp::Open);
    const std::string later = rig.records.text.substr(recorded);
    EXPECT_NE(later.find(portLine(kDevice2, kOutputsOn, " 61 66 74 65 72")), std::string::npos)
        << later;

    // Port 2 vanishing too is told once for port 2.
    rig.line2.peerVanish();
    rig.runMs(5);
    rig.runMs(50);
    EXPECT_EQ(run.said, (std::vector<std::string>{"port 1 (/dev/sim-a): device lost",
                                                  "port 2 (/dev/sim-b): device lost"}));
}

TEST_F(HeadlessRun, EndFinishesThePacketStillBeingCollectedAndClosesEverything) {
    ASSERT_EQ(
        run.begin(bothPorts({"--auto", "--record", recordDir(), "--rts", "both", "--dtr", "both"})),
        HeadlessSession::kRunning);
    rig.line1.peerSend("xyz");
    rig.runMs(4);  // all three bytes are in, the 10 ms pause has not passed
    ASSERT_EQ(rig.records.text, "");
    run.session->end();
    EXPECT_TRUE(
        isRecords(rig.records.text, {recordPattern(portLine(kDevice1, kOutputsOn, " 78 79 7A"),
                                                   portLine(kDevice2, kOutputsOn, ""))}))
        << rig.records.text;
    EXPECT_FALSE(rig.records.opened);
    EXPECT_FALSE(rig.line1.isOpen());
    EXPECT_FALSE(rig.line2.isOpen());
    EXPECT_FALSE(core.running());

    // Nothing queued before the end writes afterwards.
    const std::string kept = rig.records.text;
    rig.runMs(100);
    EXPECT_EQ(rig.records.text, kept);
}

}  // namespace
}  // namespace lt::sim
