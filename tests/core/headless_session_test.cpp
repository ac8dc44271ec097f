// A run without a window on the simulated lines.
#include "headless/session.h"

#include <gtest/gtest.h>
#include <sys/stat.h>

#include <cerrno>
#include <cstring>

#include "settings_test_support.h"
#include "sim/rig.h"
#include "support/pcapng_reader.h"

namespace lt::sim {
namespace {

using Args = std::vector<std::string>;
using Said = std::vector<std::string>;

const std::string kDevice1 = "/dev/sim-a";
const std::string kDevice2 = "/dev/sim-b";

// Both ports, each with its own settings; a character well inside the 10 ms pause.
Args bothPorts(Args more) {
    Args a{"--headless",  "--port1",    kDevice1,      "--port2",    kDevice2,
           "--settings1", "9600,n,8,1", "--settings2", "19200,n,8,1"};
    a.insert(a.end(), more.begin(), more.end());
    return a;
}

// One headless run on a rig whose settings live in a fresh folder; every line it says is kept.
struct SessionRun {
    SessionRun() {
        EXPECT_TRUE(config.isValid());
        rig.host.env["XDG_CONFIG_HOME"] = config.path().toStdString();
        rig.core.load();
    }

    int begin(const Args& args) {
        session.emplace(rig.core, std::get<HeadlessOptions>(parseHeadlessOptions(args)),
                        [this](const std::string& line) { said.push_back(line); });
        return session->begin();
    }

    QTemporaryDir config;
    Rig rig;
    Said said;
    std::optional<HeadlessSession> session;
};

class HeadlessRun : public ::testing::Test {
protected:
    std::string recordDir() const { return run.config.path().toStdString(); }

    SessionRun run;
    Rig& rig = run.rig;
    Core& core = run.rig.core;
};

TEST_F(HeadlessRun, PortsOpenAtTheirSettingsWithTheAskedOutputsAndWithoutAutoArePolled) {
    ASSERT_EQ(run.begin(bothPorts({"--relay", "21", "--poll", "40", "--strobe", "1", "--rts",
                                   "both", "--dtr", "1"})),
              HeadlessSession::kRunning);
    EXPECT_TRUE(run.said.empty());
    EXPECT_FALSE(core.view().run.autoFraming.checked);
    EXPECT_EQ(rig.line1.lineSettings() + " " + rig.line2.lineSettings(), "9600,n,8,1 19200,n,8,1");
    EXPECT_EQ(std::pair(rig.line1.rtsControl(), rig.line2.rtsControl()),
              std::pair(RtsControl::Toggle, RtsControl::Steady));
    EXPECT_EQ(peerSees(rig.line1) + peerSees(rig.line2), "-DR-");
    EXPECT_FALSE(rig.line1.rts() || rig.panel(1).rts.checked) << "a strobed RTS is the driver's";
    rig.line1.peerSend("not relayed");
    rig.line2.peerSend("polled");
    rig.runMs(39);
    EXPECT_EQ(rig.line1.peerReceived(), "") << "nothing moves before the first poll";
    rig.runMs(11);  // relayed at the tick at 40 ms, on the far wire 6.25 ms later
    EXPECT_EQ(rig.line1.peerReceived(), "polled");
    EXPECT_EQ(rig.line2.peerReceived(), "") << "relayed from the port named only";
}

TEST_F(HeadlessRun, LineRelayMovesCtsAndDsrOfTheNamedPortToTheOthersRtsAndDtr) {
    ASSERT_EQ(run.begin(bothPorts({"--line-relay", "12", "--auto"})), HeadlessSession::kRunning);
    EXPECT_EQ(peerSees(rig.line2), "--");
    rig.line1.peerSetRts(true);  // port 1's CTS
    rig.runMs(5);
    EXPECT_EQ(peerSees(rig.line2), "R-");
    rig.line1.peerSetDtr(true);  // port 1's DSR
    rig.runMs(5);
    EXPECT_EQ(peerSees(rig.line2), "RD");
    rig.line2.peerSetRts(true);
    rig.line2.peerSetDtr(true);
    rig.runMs(5);
    EXPECT_EQ(peerSees(rig.line1), "--");
}

TEST(HeadlessSession, OnlyThePortGivenIsOpenedAndPrintAloneRecordsWithoutARecordFolder) {
    for (int n : {1, 2}) {
        SessionRun run;
        (n == 1 ? run.rig.line2 : run.rig.line1).missing = true;  // stays off, however it fares
        EXPECT_EQ(run.begin({"--port" + std::to_string(n), kDevice1, "--auto", "--print"}),
                  HeadlessSession::kRunning);
        EXPECT_TRUE(run.said.empty());
        EXPECT_EQ(std::pair(run.rig.panel(n).lamp, run.rig.panel(otherPort(n)).lamp),
                  std::pair(PortLamp::Open, PortLamp::Unused))
            << "port " << n << " only";
        EXPECT_TRUE(run.rig.core.recording());
    }
}

// Nothing else is told; with port 2 missing, the record folder is checked before ports open.
TEST(HeadlessSession, EachProblemEndsTheRunWithItsStatusAndOneLine) {
    QTemporaryDir dir;
    ASSERT_TRUE(dir.isValid());
    const std::string plain = dir.path().toStdString() + "/plain";  // no folder, for root too
    ASSERT_TRUE(writeBytes(plain, "x"));
    ASSERT_EQ(::chmod(plain.c_str(), 0644), 0);
    const std::string absent = "/nonexistent-linetap", folder = dir.path().toStdString();
    const int bad = HeadlessSession::kBadInput;
    using Prepare = std::function<void(Rig&)>;
    const Prepare missing = [](Rig& rig) { rig.line2.missing = true; };
    const std::tuple<int, std::string, Args, Prepare> cases[] = {
        {HeadlessSession::kCannotOpen, "port 2 (/dev/sim-b): no such device", {"--auto"}, missing},
        {bad, "--record " + absent + ": no such folder", {"--record", absent}, missing},
        {bad, "--record " + plain + ": " + std::strerror(EACCES), {"--record", plain}, missing},
        {bad,
         "Не удалось создать файл pcapng: " + absent + "/c.pcapng: " + std::strerror(ENOENT),
         {"--pcap", absent + "/c.pcapng"},
         {}},
        // A record file that cannot be created in a usable folder (a full disk, a name taken).
        {bad,
         "Не удалось создать файл записи:\n" + folder + "/Linetap 6 Dec 2026 14_05_09.txt",
         {"--auto", "--record", folder},
         [](Rig& rig) { rig.records.failOpen = true; }},
        {bad,
         "port 2 (/dev/sim-b): settings 9600,n,5,1 refused: settings refused by the driver: "
         "9600,n,5,1",
         {"--settings2", "9600,n,5,1"},
         [](Rig& rig) {
             rig.line2.driverTakes = [](const LineSettings& s) { return s.DataBits != 5; };
         }},
    };
    for (const auto& [status, line, args, prepare] : cases) {
        SessionRun run;
        if (prepare) prepare(run.rig);
        EXPECT_EQ(run.begin(bothPorts(args)), status);
        Said told = run.said;
        told.insert(told.end(), run.rig.host.messages.begin(), run.rig.host.messages.end());
        EXPECT_EQ(told, Said{line});
        EXPECT_FALSE(run.rig.core.running() || run.rig.records.opened);
        run.session->end();
        EXPECT_FALSE(run.rig.line1.isOpen()) << "a port opened before is closed again";
    }
}

// A line error inside a packet goes after that packet's block; the text record does not change.
TEST_F(HeadlessRun, LineErrorsAreCapturedInTimeOrderToldOnceASecondAndTotalledAtTheEnd) {
    const std::string path = recordDir() + "/c.pcapng";
    ASSERT_EQ(run.begin(bothPorts({"--auto", "--pcap", path, "--record", recordDir()})),
              HeadlessSession::kRunning);
    rig.line1.peerSend("abcdef");  // a character takes 1.04 ms
    rig.runMs(3);
    rig.line1.peerLineError(LineError::Parity);  // while the packet is being collected
    rig.runMs(50);
    rig.line2.peerLineError(LineError::Framing, 3);  // a driver's counter rose by 3
    rig.line2.peerLineError(LineError::Framing);
    rig.line2.peerLineError(LineError::Break);
    rig.runMs(500);
    rig.line2.peerLineError(LineError::Framing);  // within the second: held back
    rig.runMs(500);
    rig.line2.peerLineError(LineError::Framing);
    rig.line2.peerLineError(LineError::Overrun);
    rig.runMs(5);
    EXPECT_EQ(core.view().ports[0].lineErrors, (LineErrorCounts{0, 1, 0, 0}));
    EXPECT_EQ(core.view().ports[1].lineErrors, (LineErrorCounts{6, 0, 1, 1}));
    const std::string one = "port 1 (" + kDevice1 + "): ", two = "port 2 (" + kDevice2 + "): ";
    Said said{one + "1 parity error", two + "4 framing errors", two + "1 break",
              two + "2 framing errors", two + "1 overrun"};
    EXPECT_EQ(run.said, said);
    run.session->end();
    said.push_back(one +
                   "line errors in all: 0 framing errors, 1 parity error, 0 overruns, 0 breaks");
    said.push_back(two +
                   "line errors in all: 6 framing errors, 0 parity errors, 1 overrun, 1 break");
    EXPECT_EQ(run.said, said);
    const std::string& records = rig.records.text;
    const auto packet = records.find(kDevice1 + ":  RTS=0 DTR=0 DCD=0 DSR=0 CTS=0   Data= 61 62");
    EXPECT_TRUE(packet != records.npos && packet == records.rfind(kDevice1)) << "one record";

    const test::PcapngFile f = test::readPcapng(readBytes(path));
    ASSERT_TRUE(f.ok()) << f.error;
    // Each block as "interface:event", in time order.
    std::string events;
    for (std::size_t i = 3; i < f.blocks.size(); ++i) {
        events += std::to_string(f.blocks[i].interfaceId) + ":" +
                  std::to_string(f.blocks[i].rtac->event) + " ";
        EXPECT_GE(f.blocks[i].timestamp, f.blocks[i - 1].timestamp) << i;
    }
    ASSERT_EQ(events, "0:2 0:8 1:7 1:7 1:9 1:7 1:7 1:10 0:6 1:6 ");
    EXPECT_EQ(f.blocks[5].comment, "3 at once");
}

TEST_F(HeadlessRun, TheBarePayloadIsChosenInLinetapIniOrByTheOptionForTheRun) {
    const std::string folder = recordDir() + "/Linetap v.2.01";
    ASSERT_TRUE(writeBytes(folder + "/linetap.ini", "[record]\npcapng-link=bare\n"));
    for (const auto& [more, link] : {std::pair{Args{}, 147}, {Args{"--pcap-link", "rtac"}, 250}}) {
        SessionRun other;
        other.rig.host.env["XDG_CONFIG_HOME"] = recordDir();
        other.rig.core.load();
        const std::string path = folder + "/c" + std::to_string(link) + ".pcapng";
        Args args = bothPorts({"--auto", "--pcap", path});
        args.insert(args.end(), more.begin(), more.end());
        EXPECT_EQ(other.begin(args), HeadlessSession::kRunning);
        other.session->end();
        const test::PcapngFile f = test::readPcapng(readBytes(path));
        EXPECT_TRUE(f.ok() && f.blocks.size() > 1 && f.blocks[1].linkType == link) << f.error;
    }
}

// Framed and polled alike: stamped at the first byte; a line change is seen between packets.
TEST(HeadlessSession, ACaptureFileGetsEachPacketAndLineChangeOnItsPortsInterface) {
    for (const Args& mode : {Args{"--auto"}, Args{"--poll", "40"}}) {
        SCOPED_TRACE(mode[0]);
        const bool framed = mode[0] == "--auto";
        SessionRun run;
        const std::string path = run.config.path().toStdString() + "/c.pcapng";
        Args args = bothPorts({"--rts", "1", "--dtr", "2", "--pcap", path});
        args.insert(args.end(), mode.begin(), mode.end());
        ASSERT_EQ(run.begin(args), HeadlessSession::kRunning);
        run.rig.runMs(7);
        const std::uint64_t sentAt = run.rig.host.wallClockMicros();
        run.rig.line2.peerSend("two!");
        run.rig.runMs(50);
        const std::uint64_t changed = run.rig.host.wallClockMicros();
        run.rig.line1.peerSetDtr(true);  // port 1's DSR and DCD
        run.rig.runMs(50);
        run.session->end();
        const test::PcapngFile f = test::readPcapng(readBytes(path));
        ASSERT_TRUE(f.ok()) << f.error;
        // The packet, the change when framed (polled, lines go with packets), the end.
        ASSERT_EQ(f.blocks.size(), framed ? 7u : 6u);
        EXPECT_EQ(f.blocks[2].ifName, "port 2 (/dev/sim-b)");
        const test::PcapngBlock &packet = f.blocks[3], &change = f.blocks[4];
        EXPECT_EQ(std::tuple(packet.interfaceId, packet.rtac->payload, packet.rtac->lines),
                  std::tuple(1u, "two!", 0x10));  // port 2's DTR
        // The first byte lands one character (10 bits at 19200 baud: 521 µs) after it was sent.
        EXPECT_EQ(packet.timestamp, sentAt + 521);
        EXPECT_EQ(packet.comment, "RTS=1 DTR=0 DCD=0 DSR=0 CTS=0 | RTS=0 DTR=1 DCD=0 DSR=0 CTS=0");
        if (!framed) continue;
        EXPECT_EQ(std::tuple(change.interfaceId, change.rtac->event, change.rtac->payload),
                  std::tuple(0u, 0, ""));                   // STATUS_CHANGE
        EXPECT_EQ(change.rtac->lines, 0x08 | 0x02 | 0x04);  // RTS, DCD, DSR
        EXPECT_EQ(change.timestamp, changed);
        EXPECT_EQ(change.comment, "RTS=1 DTR=0 DCD=1 DSR=1 CTS=0 | RTS=0 DTR=1 DCD=0 DSR=0 CTS=0");
    }
}

TEST_F(HeadlessRun, ALostPortIsLookedForAndOpenedAgainWithItsSettingsStrobeAndOutputs) {
    ASSERT_EQ(run.begin(bothPorts(
                  {"--relay", "both", "--auto", "--strobe", "1", "--dtr", "1", "--rts", "2"})),
              HeadlessSession::kRunning);
    rig.line1.peerVanish();
    rig.line1.missing = true;  // gone for three seconds
    rig.runMs(5);
    rig.line2.peerSend("during");  // port 2's events do not tell the loss again
    rig.line2.peerSetRts(true);
    rig.runMs(3000);
    EXPECT_EQ(run.said, Said{"port 1 (/dev/sim-a): device lost"});
    EXPECT_EQ(core.panelView(1).lamp, PortLamp::Failed);
    EXPECT_TRUE(core.running()) << "the other port goes on";
    const int opens = rig.line1.opens;

    // Back: opened again within a second, as it was given, and told once.
    rig.line1.missing = false;
    rig.runMs(1000);
    EXPECT_EQ(run.said,
              (Said{"port 1 (/dev/sim-a): device lost", "port 1 (/dev/sim-a): device back"}));
    EXPECT_EQ(rig.line1.opens, opens + 1);
    EXPECT_EQ(rig.line1.lineSettings(), "9600,n,8,1");
    EXPECT_EQ(rig.line1.rtsControl(), RtsControl::Toggle);
    EXPECT_EQ(peerSees(rig.line1), "-D");

    rig.line1.peerSend("ping");
    rig.runMs(2000);
    EXPECT_EQ(rig.line2.peerReceived(), "ping");
    EXPECT_EQ(run.said.size(), 2u);
    EXPECT_EQ(rig.line1.opens, opens + 1) << "an open port is not opened again";

    rig.line1.peerVanish();
    rig.runMs(600);
    EXPECT_EQ(run.said.size(), 4u);
    EXPECT_EQ(run.said.back(), "port 1 (/dev/sim-a): device back");

    rig.line1.peerVanish();
    rig.runMs(5);
    run.session->end();
    const int ended = rig.line1.opens;
    rig.runMs(2000);
    EXPECT_EQ(rig.line1.opens, ended);
    EXPECT_FALSE(rig.line1.isOpen());
}

TEST_F(HeadlessRun, IntervalsHoldForThisRunOnlyAndTheEndFinishesThePacketsBeingCollected) {
    ASSERT_EQ(run.begin(bothPorts({"--auto", "--gap", "30", "--poll", "250", "--delay", "7",
                                   "--record", recordDir(), "--rts", "both", "--dtr", "both"})),
              HeadlessSession::kRunning);
    EXPECT_EQ(std::tuple(core.settings().pollMs, core.settings().lineDelayMs), std::tuple(250, 7));
    EXPECT_EQ(rig.records.path.rfind(recordDir() + "/Linetap ", 0), 0u) << rig.records.path;
    // 30 ms gap; a 40 ms pause's tick is held up, so the end finishes both packets.
    rig.line1.peerSend("ab");
    rig.runMs(20);
    for (VirtualTimer* t : rig.host.timers) t->latency = ms(100);
    rig.line1.peerSend("cd");
    rig.runMs(40);
    rig.line1.peerSend("ef");
    rig.runMs(10);
    ASSERT_EQ(rig.records.text, "");
    run.session->end();
    const std::string records = rig.records.text;
    const std::string port1 = kDevice1 + ":  RTS=1 DTR=1 DCD=0 DSR=0 CTS=0   Data=";
    const auto at = [&](const std::string& data) { return records.find(port1 + data + "\r\n"); };
    const std::size_t first = at(" 61 62 63 64"), second = at(" 65 66");
    EXPECT_TRUE(first != std::string::npos && second != std::string::npos && first < second)
        << records;
    EXPECT_FALSE(rig.records.opened);
    EXPECT_FALSE(rig.line1.isOpen() || rig.line2.isOpen() || core.running());
    // Nothing queued before the end writes afterwards.
    rig.runMs(100);
    EXPECT_EQ(rig.records.text, records);

    Rig later;
    later.host.env["XDG_CONFIG_HOME"] = run.config.path().toStdString();
    later.core.load();
    const Settings& s = later.core.settings();
    EXPECT_EQ(std::tuple(s.gapMs, s.pollMs, s.lineDelayMs), std::tuple(10, 100, 100));
}

}  // namespace
}  // namespace lt::sim
