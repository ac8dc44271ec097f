// The built program run headless on pseudo-terminal pairs, the test playing the far devices:
// relay, print, record, clean stops, no GUI library, bad input, and pcapng capture.
#include <sys/resource.h>
#include <sys/stat.h>

#include <atomic>
#include <cerrno>
#include <cstdint>
#include <cstdio>
#include <cstring>
#include <regex>
#include <thread>

#include "cli/cli_test.h"
#include "support/pcapng_reader.h"

namespace lt::cli {
namespace {

using test::PcapngFile;
using test::readPcapng;

// A record for a packet of `port` on devices one and two, any stamp and any outputs: the inputs
// of a pseudo-terminal read as off.
std::string recordPattern(int port, const PtyPair& one, const PtyPair& two,
                          const std::string& bytes) {
    const auto quote = [](const std::string& s) {
        return std::regex_replace(s, std::regex(R"([.^$|()\[\]{}*+?\\/])"), R"(\$&)");
    };
    const std::string lines = "RTS=[01] DTR=[01] DCD=0 DSR=0 CTS=0   Data=";
    const auto hex = [&](int p) {  // as the record writes them: " 01 03 0A"
        return p != port
                   ? ""
                   : " " + QByteArray::fromStdString(bytes).toHex(' ').toUpper().toStdString();
    };
    return R"(\d\d:\d\d:\d\d,\d+  )" + quote(one.slave) + ":  " + lines + hex(1) + "\r\n {13}" +
           quote(two.slave) + ":  " + lines + hex(2) + "\r\n\r\n";
}

// The one file in `folder` ("" when there is none, or more than one).
std::string onlyFileIn(const std::string& folder) {
    const QStringList files = QDir(QString::fromStdString(folder)).entryList(QDir::Files);
    return files.size() == 1 ? folder + "/" + files[0].toStdString() : "";
}

class CliHeadless : public CliTest {};

TEST_F(CliHeadless, BadInputAndMissingDevicesAreToldInOneLineWithTheirStatus) {
    const std::string missing = file("missing"), plain = file("plain"), tty = "/nonexistent/tty";
    std::ofstream(plain) << "not a folder";  // no execute bits: no folder to write in, for root too
    const std::string help = " (see linetap --help)\n", gone = std::strerror(ENOENT);
    const struct {
        int status;
        std::string err;
        std::vector<std::string> args;
    } cases[] = {
        {2, "unknown option --bogus" + help, {"--port1", one.slave, "--bogus"}},
        {2, "no port given: use --port1 and/or --port2" + help, {}},
        {2, "--print and --pcap - both write to standard output" + help,
         on({"--print", "--pcap", "-"})},
        {2, "--poll 0 never polls: give 1 to 32767 ms, or --auto" + help, on({"--poll", "0"})},
        {2, "--record " + missing + ": no such folder\n", on({"--record", missing})},
        {2, "--record " + plain + ": " + std::strerror(EACCES) + "\n", on({"--record", plain})},
        {1, "port 1 (" + tty + "): " + tty + ": " + gone + "\n", {"--port1", tty}},
        {1,
         "port 2 (" + tty + "): " + tty + ": " + gone + "\n",
         {"--port1", one.slave, "--port2", tty}},
    };
    for (const auto& [status, err, args] : cases) {
        Linetap child(args);
        EXPECT_EQ(child.stop(0), status) << err;
        EXPECT_EQ(child.err, "linetap: " + err);
        EXPECT_EQ(child.out, "");
    }
}

constexpr std::uint32_t kInterface = 1, kPacket = 6;

// A Modbus RTU frame of `values` (bytes) with its CRC-16/MODBUS, low byte first.
std::string modbus(std::initializer_list<int> values) {
    std::string frame;
    std::uint16_t crc = 0xFFFF;
    for (int v : values) {
        frame += static_cast<char>(v);
        crc ^= static_cast<std::uint8_t>(v);
        for (int bit = 0; bit < 8; ++bit) crc = (crc & 1) ? (crc >> 1) ^ 0xA001 : crc >> 1;
    }
    return frame + static_cast<char>(crc & 0xFF) + static_cast<char>(crc >> 8);
}

std::string readHoldingRegisters(int unit, int first, int count) {
    return modbus({unit, 0x03, first >> 8, first & 0xFF, count >> 8, count & 0xFF});
}

// One frame as the test sent it and which far end sent it.
struct Sent {
    int port;
    std::string frame;
};

class CliPcapng : public CliTest {
protected:
    static bool hasTshark() { return ::access("/usr/bin/tshark", X_OK) == 0; }
    // What tshark prints of `capture` with `options`; it reads its preferences under HOME, a fresh
    // folder here, so no preference is set.
    std::string tshark(const std::string& capture, const std::string& options) const {
        const std::string command = "HOME='" + dir.path().toStdString() + "' /usr/bin/tshark -r '" +
                                    capture + "' " + options + " 2>'" + file("tshark.err") + "'";
        FILE* out = ::popen(command.c_str(), "r");
        std::string text;
        for (int c; out && (c = std::fgetc(out)) != EOF;) text += static_cast<char>(c);
        EXPECT_EQ(out ? ::pclose(out) : -1, 0) << text << readFile(file("tshark.err"));
        return text;
    }
};

// The device of port 1 asks unit 17 for three registers, the device of port 2 answers, three
// times, with pauses well above the 10 ms minimum. Each frame is relayed, then printed and
// recorded as it happens, one record per packet, the last one whole at the end; the capture holds
// one packet block per frame behind the RTAC serial header with the port's lines, then the end of
// the run on both ports, which tshark reads with no preference and decodes as Modbus RTU when told
// to. No GUI library is loaded.
TEST_F(CliPcapng, AModbusExchangeIsRelayedPrintedRecordedAndCapturedForTshark) {
    const std::string capture = file("capture.pcapng"), records = folder("records");
    Linetap child(on({"--pcap", capture, "--record", records, "--print", "--auto", "--relay",
                      "both", "--rts", "both", "--dtr", "both"}));
    // The record file is made last before capture starts.
    ASSERT_TRUE(child.waitFor([&] { return !onlyFileIn(records).empty() || !child.running(); }));
    ASSERT_TRUE(child.waitRunning()) << child.err;
    std::vector<Sent> sent;
    std::string pattern;  // the printed records
    for (int r = 0; r < 3; ++r) {
        const int value = 0x1234 + r;
        for (Sent s : {Sent{1, readHoldingRegisters(17, 0x10 * r, 3)},
                       Sent{2, modbus({17, 3, 6, value >> 8, value & 0xFF, 0, 0xFF, 0xA5, r})}}) {
            PtyPair& to = s.port == 1 ? two : one;
            const std::size_t relayed = to.received.size() + s.frame.size();
            ASSERT_TRUE((s.port == 1 ? one : two).send(s.frame));
            ASSERT_TRUE(waitForBytes(to, relayed)) << child.err;
            EXPECT_EQ(to.received.substr(relayed - s.frame.size()), s.frame);
            sent.push_back(s);
            pattern += recordPattern(s.port, one, two, s.frame);
            pause(60);
        }
    }
    const std::regex printed(pattern);
    EXPECT_TRUE(child.waitFor([&] { return std::regex_match(child.out, printed); })) << child.out;
    // The maps were read, with the program's own libraries in them.
    const std::string maps = readFile(child.proc("maps"));
    EXPECT_NE(maps.find("libQt6SerialPort"), std::string::npos) << maps;
    for (const char* gui : {"libQt6Gui", "libQt6Widgets", "linetap-window"})
        EXPECT_EQ(maps.find(gui), std::string::npos) << gui;
    EXPECT_EQ(child.stop(SIGTERM), 0);
    EXPECT_EQ(child.err, "");
    EXPECT_EQ(readFile(onlyFileIn(records)), child.out);

    const PcapngFile f = readPcapng(readFile(capture));
    ASSERT_TRUE(f.ok()) << f.error;
    ASSERT_EQ(f.ofType(0x0A0D0D0A).size(), 1u);
    const auto interfaces = f.ofType(kInterface);
    ASSERT_EQ(interfaces.size(), 2u);
    EXPECT_EQ(interfaces[0].ifName, "port 1 (" + one.slave + ")");
    EXPECT_EQ(interfaces[1].ifName, "port 2 (" + two.slave + ")");
    for (const auto& i : interfaces) {
        EXPECT_EQ(i.linkType, 250);
        EXPECT_EQ(i.tsResolution, 6);
    }
    const auto packets = f.ofType(kPacket);
    ASSERT_EQ(packets.size(), sent.size() + 2);
    for (std::size_t i = 0; i < sent.size(); ++i) {
        SCOPED_TRACE(i);
        const auto& p = packets[i];
        EXPECT_EQ(p.interfaceId, static_cast<std::uint32_t>(sent[i].port - 1));
        EXPECT_EQ(p.rtac->payload, sent[i].frame);
        EXPECT_EQ(p.rtac->event, 2);  // DATA_RX_START
        // A pseudo-terminal has no modem inputs; both outputs were left on.
        EXPECT_EQ(p.rtac->lines, 0x08 | 0x10);
        EXPECT_TRUE(i == 0 || p.timestamp > packets[i - 1].timestamp);
        EXPECT_EQ(p.flags.value_or(0) & 3u, 1u) << "inbound";
        EXPECT_EQ(p.comment, "RTS=1 DTR=1 DCD=0 DSR=0 CTS=0 | RTS=1 DTR=1 DCD=0 DSR=0 CTS=0");
    }
    for (std::size_t i = sent.size(); i < packets.size(); ++i) {
        EXPECT_EQ(packets[i].rtac->event, 6);  // CAPTURE_COMPLETE
        EXPECT_EQ(packets[i].rtac->payload, "");
    }

    if (!hasTshark()) GTEST_SKIP() << "tshark is not installed";
    // With the payload decoded as Modbus RTU: interface, DATA_RX_START with RTS and DTR on and
    // the inputs off, unit 17, read holding registers, CRC checked and good; port 1's device
    // asks. Then the end of the run, with nothing to decode.
    const std::string seen = tshark(
        capture,
        "-d rtacser.data,mbrtu -o mbrtu.crc_verification:TRUE -T fields -e frame.interface_id"
        " -e frame.protocols -e rtacser.eventtype -e rtacser.rts -e rtacser.dtr -e rtacser.cts"
        " -e rtacser.dsr -e rtacser.dcd -e mbrtu.unit_id -e modbus.func_code"
        " -e mbrtu.crc16.status -e _ws.col.Info");
    std::string rows;
    for (const Sent& f : sent)
        rows += std::to_string(f.port - 1) +
                "\trtacser:mbrtu:modbus\t0x02\t1\t1\t0\t0\t0\t17\t3\t1\t" + "[^\n]*" +
                (f.port == 1 ? "Query" : "Response") + "[^\n]*\n";
    rows += "0\trtacser\t0x06\t0\t0\t0\t0\t0\t\t\t\t[^\n]*\n";
    rows += "1\trtacser\t0x06\t0\t0\t0\t0\t0\t\t\t\t[^\n]*\n";
    EXPECT_TRUE(std::regex_match(seen, std::regex(rows))) << seen;
}

// A pipe without a reader holds up nothing: relay and record go at once, the wait is said once,
// and the capture begins when a reader opens the pipe, each packet's block reaching it at once.
// When the reader leaves, that is said once and relay, record and capture go on.
TEST_F(CliPcapng, ACapturePipeHoldsUpNothingBeforeItsReaderComesNorAfterItLeaves) {
    const std::string fifo = file("live.pcapng"), records = folder("records");
    ASSERT_EQ(::mkfifo(fifo.c_str(), 0600), 0);
    Linetap child(on({"--pcap", fifo, "--record", records, "--auto", "--relay", "12"}));
    ASSERT_TRUE(child.waitRunning()) << child.err;
    const std::string waiting = "linetap: pcapng: " + fifo +
                                ": waiting for a reader of the pipe; the capture begins when it "
                                "opens it\n";
    const std::string gone =
        "linetap: pcapng: " + fifo + ": the reader closed the pipe; capture goes on\n";
    int reader = -1;
    std::string live, relayed, pattern;
    const auto read = [&] {
        char buf[4096];
        for (ssize_t n; (n = ::read(reader, buf, sizeof buf)) > 0;)
            live.append(buf, static_cast<std::size_t>(n));
        return readPcapng(live);
    };
    for (std::size_t i = 0; i < 7; ++i) {
        SCOPED_TRACE(i);
        const std::string frame = readHoldingRegisters(int(i) + 1, 0x100 * int(i), 2);
        if (i == 1) {  // the reader comes, and reads whatever has come: header and interfaces first
            reader = ::open(fifo.c_str(), O_RDONLY | O_NONBLOCK | O_CLOEXEC);
            ASSERT_GE(reader, 0);
            ASSERT_TRUE(child.waitFor([&] { return read().ofType(kInterface).size() == 2; }));
        }
        if (i == 4) ::close(reader);  // the reader goes away
        if (i >= 4) pause(40);        // the pause between frames
        ASSERT_TRUE(one.send(frame));
        if (i >= 1 && i < 4) {  // each packet's block reaches the reader before the next is sent
            PcapngFile got;
            ASSERT_TRUE(child.waitFor([&] { return (got = read()).ofType(kPacket).size() >= i; }));
            ASSERT_TRUE(got.ok()) << got.error;
            EXPECT_EQ(got.ofType(kPacket).size(), i);
            EXPECT_EQ(got.ofType(kPacket).back().rtac->payload, frame);
        }
        ASSERT_TRUE(waitForBytes(two, (relayed += frame).size())) << child.err;
        EXPECT_EQ(two.received, relayed);
        pattern += recordPattern(1, one, two, frame);
        if (i == 0) {
            EXPECT_EQ(child.said(waiting), 1) << child.err;
        }
    }
    EXPECT_TRUE(child.waitFor([&] { return child.said(gone) == 1; })) << child.err;
    EXPECT_EQ(child.stop(SIGTERM), 0);
    EXPECT_EQ(child.err, waiting + gone) << "each told once";
    // Every frame is in the text record, in order, the last record whole.
    const std::string recorded = readFile(onlyFileIn(records));
    EXPECT_TRUE(std::regex_match(recorded, std::regex(pattern))) << recorded;
}

// Runs into one capture file: a later run keeps the earlier run's packets behind a section of its
// own, which tshark reads as well. The window's "Также pcapng", kept in linetap.ini, has no say in
// a headless run: no capture beside the record, none without --pcap, the file left as it was;
// `--pcap -` is standard output.
// SIGHUP (the terminal or ssh session closed) stops as SIGTERM does: each run puts the port back.
TEST_F(CliPcapng, RunsIntoOneCaptureKeepEarlierPacketsAndHeedOnlyTheirOwnOptions) {
    const std::string ini = folder("config/Linetap v.2.01") + "/linetap.ini";
    const std::string kept = "[record]\npcapng=true\n";
    std::ofstream(ini) << kept;
    termios t{};
    ASSERT_EQ(::tcgetattr(one.master, &t), 0);
    ::cfsetspeed(&t, B4800);
    ASSERT_EQ(::tcsetattr(one.master, TCSANOW, &t), 0);
    const auto speed = [&] { return ::tcgetattr(one.master, &t), ::cfgetospeed(&t); };
    const std::string capture = file("kept.pcapng");
    const std::string frames[] = {readHoldingRegisters(5, 0, 1), readHoldingRegisters(6, 0, 2),
                                  readHoldingRegisters(7, 0, 3), readHoldingRegisters(8, 0, 4)};
    for (int run = 0; run < 4; ++run) {
        SCOPED_TRACE(run);
        const std::string records = folder(QString("records%1").arg(run));
        std::vector<std::string> args{"--auto", "--relay",     "12",         "--record",
                                      records,  "--settings1", "19200,n,8,1"};
        if (run != 2) args.insert(args.end(), {"--pcap", run < 2 ? capture : "-"});
        Linetap child(on(args));
        ASSERT_TRUE(child.waitRunning()) << child.err;
        EXPECT_EQ(speed(), B19200);
        const std::size_t relayed = two.received.size() + frames[run].size();
        ASSERT_TRUE(one.send(frames[run]));
        ASSERT_TRUE(waitForBytes(two, relayed)) << child.err;
        EXPECT_EQ(child.stop(run == 1 ? SIGHUP : SIGTERM), 0);
        EXPECT_EQ(child.err, "");
        EXPECT_EQ(speed(), B4800);
        const QStringList made = QDir(QString::fromStdString(records)).entryList(QDir::Files);
        ASSERT_EQ(made.size(), 1) << made.join(' ').toStdString();
        EXPECT_TRUE(made[0].endsWith(".txt")) << made[0].toStdString();
        if (run == 3) {
            const PcapngFile out = readPcapng(child.out);
            ASSERT_TRUE(out.ok()) << out.error;
            EXPECT_EQ(out.ofType(kInterface).size(), 2u);
            ASSERT_EQ(out.ofType(kPacket).size(), 3u) << "the packet and the end on both ports";
            EXPECT_EQ(out.ofType(kPacket)[0].rtac->payload, frames[3]);
        }
    }
    EXPECT_EQ(readFile(ini), kept) << "a headless run never writes the window's choices";
    const PcapngFile f = readPcapng(readFile(capture));
    ASSERT_TRUE(f.ok()) << f.error;
    EXPECT_EQ(f.ofType(0x0A0D0D0A).size(), 2u);
    std::vector<std::string> payloads;
    for (const auto& p : f.ofType(kPacket))
        if (p.rtac->event == 2) payloads.push_back(p.rtac->payload);  // DATA_RX_START
    EXPECT_EQ(payloads, (std::vector<std::string>{frames[0], frames[1]}));

    if (!hasTshark()) GTEST_SKIP() << "tshark is not installed";
    EXPECT_TRUE(std::regex_match(
        tshark(capture,
               "-d rtacser.data,mbrtu -Y mbrtu -T fields -e frame.interface_id -e mbrtu.unit_id"
               " -e modbus.func_code -e _ws.col.Info"),
        std::regex("0\t5\t3\t[^\n]*Query[^\n]*\n0\t6\t3\t[^\n]*Query[^\n]*\n")));
}

// The start waits in the opening of a named pipe until a reader comes; a SIGINT meanwhile stops
// the program cleanly, as one while it runs does.
TEST_F(CliPcapng, ASignalWhileWaitingForThePipesReaderStopsCleanly) {
    const std::string fifo = file("nobody-reads.pcapng");
    ASSERT_EQ(::mkfifo(fifo.c_str(), 0600), 0);
    Linetap child(on({"--pcap", fifo, "--auto"}));
    // Both ports are open: the program goes on to the pipe, where it waits for a reader.
    ASSERT_TRUE(child.waitFor([&] {
        return (child.hasOpen(one.slave) && child.hasOpen(two.slave)) || !child.running();
    }));
    ASSERT_TRUE(child.running()) << child.err;
    EXPECT_EQ(child.stop(SIGINT), 0) << child.err;
}

// The outputs' readers: one that stalls, one that leaves; a stop under a stream that goes on; a
// record folder that takes no record.
class CliOutputs : public CliTest {
protected:
    // A pipe for the program's standard output, whose reading end the test holds.
    struct Pipe {
        Pipe() {
            int fds[2] = {-1, -1};
            EXPECT_EQ(::pipe2(fds, O_CLOEXEC), 0);
            read = fds[0], write = fds[1];
        }
        ~Pipe() {
            for (int fd : {read, write})
                if (fd >= 0) ::close(fd);
        }
        int read, write;
    };
    // The bytes of port 1's records in a record text, in order.
    static std::string recordedBytes(const std::string& text) {
        std::string bytes;
        static const std::regex data(R"(Data=((?: [0-9A-F]{2})*)\r\n {13})");
        for (std::sregex_iterator it(text.begin(), text.end(), data), end; it != end; ++it)
            bytes += QByteArray::fromHex(QByteArray::fromStdString((*it)[1].str())).toStdString();
        return bytes;
    }
};

// Neither standard output nor the capture pipe is read: past their buffers and backlogs they lose
// whole records and packets, said once each and counted at the end, while every byte is relayed
// and recorded; SIGTERM ends the run with both writes blocked.
TEST_F(CliOutputs, ReadersThatStallCostThemselvesWholePiecesNeverTheRelayOrTheStop) {
    Pipe out;
    const std::string fifo = file("stalled.pcapng"), records = folder("records");
    ASSERT_EQ(::mkfifo(fifo.c_str(), 0600), 0);
    const int reader = ::open(fifo.c_str(), O_RDONLY | O_NONBLOCK | O_CLOEXEC);  // never reads
    ASSERT_GE(reader, 0);
    Linetap child(on({"--relay", "12", "--auto", "--gap", "2", "--print", "--pcap", fifo,
                      "--record", records}),
                  out.write);
    ASSERT_TRUE(child.waitRunning()) << child.err;
    // 1.2 MB: records and capture blocks far past a pipe's 64 KiB and a backlog's 1 MiB, in
    // packets of 1024 bytes, each relayed before the next, as at one baud rate on both lines:
    // faster, port 2's own backlog would drop packets, rightly.
    std::string sent;
    for (int i = 0; i < 1200; ++i) {
        std::string packet(1024, static_cast<char>('a' + i % 26));
        packet[0] = static_cast<char>(i);
        ASSERT_TRUE(one.send(packet));
        ASSERT_TRUE(waitForBytes(two, (sent += packet).size())) << (child.pump(), child.err);
    }
    EXPECT_EQ(two.received, sent);

    EXPECT_EQ(child.stop(SIGTERM), 0) << child.err;
    ::close(reader);
    const std::string printFalls = "linetap: standard output: its reader falls behind; ";
    const std::string pcapFalls = "linetap: pcapng " + fifo + ": its reader falls behind; ";
    EXPECT_EQ(child.said(printFalls), 1) << child.err;
    EXPECT_EQ(child.said(pcapFalls), 1) << child.err;
    EXPECT_TRUE(std::regex_search(
        child.err, std::regex("standard output: [1-9][0-9]* records dropped in all")))
        << child.err;
    EXPECT_TRUE(
        std::regex_search(child.err, std::regex("pcapng .*: [1-9][0-9]* packets dropped in all")))
        << child.err;
    EXPECT_EQ(recordedBytes(readFile(onlyFileIn(records))), sent) << "the record file lost nothing";
}

// `| head -c1`: the reader leaves. Printing stops, said once; relay and record go on. Then a
// stream without pauses goes on while the program stops: it finishes what had come and ends (the
// bytes come one by one, so some are always there when a packet has been handled).
TEST_F(CliOutputs, APrintReaderThatLeavesIsToldOnceAndAStopUnderAStreamEndsTheRun) {
    Pipe out;
    ::close(out.read);
    out.read = -1;
    const std::string records = folder("records");
    Linetap child(on({"--relay", "12", "--auto", "--gap", "5", "--print", "--record", records}),
                  out.write);
    ASSERT_TRUE(child.waitRunning()) << child.err;
    std::string sent;
    for (int i = 0; i < 3; ++i) {
        const std::string frame = readHoldingRegisters(i + 1, 0, 2);
        ASSERT_TRUE(one.send(frame));
        ASSERT_TRUE(waitForBytes(two, (sent += frame).size())) << child.err;
    }
    std::atomic<bool> streaming{true};
    std::thread device([&] {
        for (unsigned char b = 0; streaming; ++b) (void)!::write(one.master, &b, 1), two.drain();
    });
    pause(100);
    EXPECT_EQ(child.stop(SIGTERM), 0);
    streaming = false;
    device.join();
    EXPECT_EQ(child.err, "linetap: standard output: its reader has gone; printing stops\n");
    EXPECT_EQ(recordedBytes(readFile(onlyFileIn(records))).substr(0, sent.size()), sent);
}

// A folder that takes the file but not one record (a full disk; here a file size limit) is bad
// input at the start, as an unwritable one is.
TEST_F(CliOutputs, ARecordFolderThatCannotTakeTheFirstRecordIsBadInput) {
    const std::string records = folder("records");
    rlimit was{};
    ASSERT_EQ(::getrlimit(RLIMIT_FSIZE, &was), 0);
    rlimit small = was;
    small.rlim_cur = 1000;  // room for the messages, not for a record file's first block
    ASSERT_EQ(::setrlimit(RLIMIT_FSIZE, &small), 0);
    Linetap child(on({"--auto", "--record", records}));
    ASSERT_EQ(::setrlimit(RLIMIT_FSIZE, &was), 0);
    EXPECT_EQ(child.stop(0), 2);
    EXPECT_EQ(child.said("\n"), 1) << child.err;
    EXPECT_NE(child.err.find("linetap: "), std::string::npos) << child.err;
}

}  // namespace
}  // namespace lt::cli