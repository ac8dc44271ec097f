// The built program run headless on pseudo-terminal pairs, the test playing the far devices.
#include <sys/resource.h>
#include <sys/stat.h>

#include <atomic>
#include <cerrno>
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

constexpr std::uint32_t kInterface = 1, kPacket = 6;

// The bytes of `port` in a record text, record after record.
std::string recordedBytes(const std::string& text, int port) {
    std::string bytes;
    static const std::regex data(R"(Data=((?: [0-9A-F]{2})*)\r\n( {13}|\r\n))");
    for (std::sregex_iterator it(text.begin(), text.end(), data), end; it != end; ++it)
        if (((*it)[2] == "\r\n") == (port == 2))
            bytes += QByteArray::fromHex(QByteArray::fromStdString((*it)[1].str())).toStdString();
    return bytes;
}

// The one file in `folder` ("" when there is none, or more than one).
std::string onlyFileIn(const std::string& folder) {
    const QStringList files = QDir(QString::fromStdString(folder)).entryList(QDir::Files);
    return files.size() == 1 ? folder + "/" + files[0].toStdString() : "";
}

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

class CliHeadless : public CliTest {};

// A signal while the capture waits (on a thread of its own) for a pipe's reader stops it cleanly.
TEST_F(CliHeadless, BadInputAMissingDeviceAndASignalEndTheRunWithTheirStatus) {
    const std::string missing = file("missing"), tty = "/nonexistent/tty";
    const std::tuple<int, std::string, std::vector<std::string>> cases[] = {
        {2, "no port given: use --port1 and/or --port2 (see linetap --help)\n", {}},
        {2, "--record " + missing + ": no such folder\n", on({"--record", missing})},
        {1, "port 1 (" + tty + "): " + tty + ": " + std::strerror(ENOENT) + "\n", {"--port1", tty}},
    };
    for (const auto& [status, err, args] : cases) {
        Linetap child(args);
        EXPECT_EQ(child.stop(0), status) << err;
        EXPECT_EQ(child.err, "linetap: " + err);
        EXPECT_EQ(child.out, "");
    }
    // A folder that takes the file but not one record (a full disk; here a file size limit).
    rlimit was{};
    ASSERT_EQ(::getrlimit(RLIMIT_FSIZE, &was), 0);
    const rlimit small{1000, was.rlim_max};  // room for the messages, not for a record's block
    ASSERT_EQ(::setrlimit(RLIMIT_FSIZE, &small), 0);
    Linetap full(on({"--auto", "--record", folder("records")}));
    ASSERT_EQ(::setrlimit(RLIMIT_FSIZE, &was), 0);
    EXPECT_EQ(full.stop(0), 2);
    EXPECT_TRUE(full.said("\n") == 1 && full.err.rfind("linetap: ", 0) == 0) << full.err;

    const std::string fifo = file("nobody-reads.pcapng");
    ASSERT_EQ(::mkfifo(fifo.c_str(), 0600), 0);
    Linetap waiting(on({"--pcap", fifo, "--auto"}));
    ASSERT_TRUE(waiting.waitRunning()) << waiting.err;
    EXPECT_EQ(waiting.stop(SIGINT), 0) << waiting.err;
}

// Three Modbus queries and answers; tshark decodes the capture as RTAC serial and Modbus RTU.
TEST_F(CliHeadless, AModbusExchangeIsRelayedPrintedRecordedAndCapturedForTshark) {
    const std::string capture = file("capture.pcapng"), records = folder("records");
    Linetap child(on({"--pcap", capture, "--record", records, "--print", "--auto", "--relay",
                      "both", "--rts", "both", "--dtr", "both"}));
    ASSERT_TRUE(child.waitRunning()) << child.err;
    std::string sent[2], rows;  // what each device sent, and the pattern of tshark's rows
    for (int r = 0; r < 3; ++r) {
        for (int port : {1, 2}) {
            const std::string frame = port == 1 ? modbus({17, 3, 0, 0x10 * r, 0, 3})
                                                : modbus({17, 3, 6, 0x12, r, 0, 0xFF, 0xA5, r});
            PtyPair &from = port == 1 ? one : two, &to = port == 1 ? two : one;
            const std::size_t relayed = to.received.size() + frame.size();
            ASSERT_TRUE(from.send(frame));
            ASSERT_TRUE(waitForBytes(to, relayed)) << child.err;
            EXPECT_EQ(to.received.substr(relayed - frame.size()), frame);
            sent[port - 1] += frame;
            rows += std::to_string(port - 1) + "\tport " + std::to_string(port) + " \\(" +
                    from.slave +
                    "\\)\trtacser:mbrtu:modbus\t0x02\t1\t1\t0\t0\t0\t17\t3\t1\t[^\n]*" +
                    (port == 1 ? "Query" : "Response") + "[^\n]*\n";
            pause(60);
        }
    }
    EXPECT_TRUE(child.waitFor([&] {
        return recordedBytes(child.out, 1) == sent[0] && recordedBytes(child.out, 2) == sent[1];
    })) << child.out;
    const std::string maps = readFile(child.proc("maps"));
    EXPECT_NE(maps.find("libQt6SerialPort"), std::string::npos) << maps;
    for (const char* gui : {"libQt6Gui", "libQt6Widgets", "linetap-window"})
        EXPECT_EQ(maps.find(gui), std::string::npos) << gui;
    EXPECT_EQ(child.stop(SIGTERM), 0);
    EXPECT_EQ(child.err, "");
    EXPECT_EQ(readFile(onlyFileIn(records)), child.out);
    EXPECT_EQ(QString::fromStdString(child.out).count("\r\n\r\n"), 6) << "a record per packet";
    const PcapngFile f = readPcapng(readFile(capture));
    EXPECT_TRUE(f.ok() && f.ofType(kPacket).size() == 8u) << f.error;

    if (::access("/usr/bin/tshark", X_OK) != 0) GTEST_SKIP() << "tshark is not installed";
    for (const PtyPair* p : {&one, &two})
        rows += std::string(p == &one ? R"(0\tport 1 \()" : R"(1\tport 2 \()") + p->slave +
                "\\)\trtacser\t0x06\t0\t0\t0\t0\t0\t\t\t\t[^\n]*\n";
    // tshark reads its preferences under HOME, a fresh folder here, so no preference is set.
    FILE* tshark = ::popen(("HOME='" + dir.path().toStdString() + "' tshark -r '" + capture +
                            "' -d rtacser.data,mbrtu -o mbrtu.crc_verification:TRUE -T fields"
                            " -e frame.interface_id -e frame.interface_name -e frame.protocols"
                            " -e rtacser.eventtype -e rtacser.rts -e rtacser.dtr -e rtacser.cts"
                            " -e rtacser.dsr -e rtacser.dcd -e mbrtu.unit_id -e modbus.func_code"
                            " -e mbrtu.crc16.status -e _ws.col.Info 2>/dev/null")
                               .c_str(),
                           "r");
    std::string seen;
    for (int c; tshark && (c = std::fgetc(tshark)) != EOF;) seen += static_cast<char>(c);
    EXPECT_EQ(tshark ? ::pclose(tshark) : -1, 0) << seen;
    EXPECT_TRUE(std::regex_match(seen, std::regex(rows))) << seen;
}

// A pipe read late, then outputs not read (whole pieces lost, said once), then `| head -c1`.
TEST_F(CliHeadless, ReadersThatComeLateStallOrLeaveHoldUpNothing) {
    const std::string fifo = file("live.pcapng"), records = folder("records");
    ASSERT_EQ(::mkfifo(fifo.c_str(), 0600), 0);
    int out[2];  // standard output, whose reader the test holds
    ASSERT_EQ(::pipe2(out, O_CLOEXEC), 0);
    Linetap child(on({"--pcap", fifo, "--record", records, "--print", "--auto", "--gap", "2",
                      "--relay", "12"}),
                  out[1]);
    ::close(out[1]);
    ASSERT_TRUE(child.waitRunning()) << child.err;
    std::string sent;
    const auto relay = [&](const std::string& packet) {
        return one.send(packet) && waitForBytes(two, (sent += packet).size());
    };
    ASSERT_TRUE(relay("before the reader")) << child.err;
    const std::string waiting = "linetap: pcapng: " + fifo +
                                ": waiting for a reader of the pipe; the capture begins when it "
                                "opens it\n";
    EXPECT_TRUE(child.waitFor([&] { return child.said(waiting) == 1; })) << child.err;
    // The reader comes, and reads whatever has come: header and interfaces first, then each block.
    const int reader = ::open(fifo.c_str(), O_RDONLY | O_NONBLOCK | O_CLOEXEC);
    ASSERT_GE(reader, 0);
    std::string live;
    const auto read = [&] {
        char buf[4096];
        for (ssize_t n; (n = ::read(reader, buf, sizeof buf)) > 0;)
            live.append(buf, static_cast<std::size_t>(n));
        return readPcapng(live);
    };
    ASSERT_TRUE(child.waitFor([&] { return read().ofType(kInterface).size() == 2; }));
    ASSERT_TRUE(relay("with the reader")) << child.err;
    PcapngFile got;
    ASSERT_TRUE(child.waitFor([&] { return !(got = read()).ofType(kPacket).empty(); }));
    EXPECT_TRUE(got.ok() && got.ofType(kPacket).size() == 1u) << got.error;
    EXPECT_EQ(got.ofType(kPacket)[0].rtac->payload, "with the reader");
    // 1.2 MB in 1024-byte packets, far past a pipe's 64 KiB and a backlog's 1 MiB.
    for (int i = 0; i < 1200; ++i) {
        std::string packet(1024, static_cast<char>('a' + i % 26));
        packet[0] = static_cast<char>(i);
        ASSERT_TRUE(relay(packet)) << (child.pump(), child.err);
    }
    EXPECT_EQ(two.received, sent);
    ::close(out[0]);
    const std::string printGone = "linetap: standard output: its reader has gone; printing stops\n";
    EXPECT_TRUE(child.waitFor([&] { return child.said(printGone) == 1; })) << child.err;
    std::atomic<bool> streaming{true};
    std::thread device([&] {
        for (unsigned char b = 0; streaming; ++b) (void)!::write(one.master, &b, 1), two.drain();
    });
    pause(100);
    EXPECT_EQ(child.stop(SIGTERM), 0) << child.err;
    streaming = false;
    device.join();
    ::close(reader);
    EXPECT_EQ(child.said(printGone) + child.said(waiting), 2) << child.err;
    for (const std::string& output : {std::string("standard output"), "pcapng " + fifo})
        EXPECT_EQ(child.said("linetap: " + output + ": its reader falls behind; "), 1) << child.err;
    for (const char* dropped : {"standard output: [1-9][0-9]* records dropped in all",
                                "pcapng .*: [1-9][0-9]* packets dropped in all"})
        EXPECT_TRUE(std::regex_search(child.err, std::regex(dropped))) << child.err;
    EXPECT_EQ(recordedBytes(readFile(onlyFileIn(records)), 1).substr(0, sent.size()), sent)
        << "the record file lost nothing";
}

// linetap.ini's "Также pcapng" has no say in a headless run; SIGHUP stops as SIGTERM does.
TEST_F(CliHeadless, RunsIntoOneCaptureKeepEarlierPacketsAndHeedOnlyTheirOwnOptions) {
    const std::string ini = folder("config/Linetap v.2.01") + "/linetap.ini";
    const std::string kept = "[record]\npcapng=true\n";
    std::ofstream(ini) << kept;
    termios t{};
    ASSERT_EQ(::tcgetattr(one.master, &t), 0);
    ::cfsetspeed(&t, B4800);
    ASSERT_EQ(::tcsetattr(one.master, TCSANOW, &t), 0);
    const auto speed = [&] { return ::tcgetattr(one.master, &t), ::cfgetospeed(&t); };
    const std::string capture = file("kept.pcapng");
    for (int run = 0; run < 4; ++run) {
        SCOPED_TRACE(run);
        const std::string records = folder(QString("records%1").arg(run));
        const std::string frame = "run " + std::to_string(run);
        std::vector<std::string> args{"--auto", "--relay",     "12",         "--record",
                                      records,  "--settings1", "19200,n,8,1"};
        if (run != 2) args.insert(args.end(), {"--pcap", run < 2 ? capture : "-"});
        Linetap child(on(args));
        ASSERT_TRUE(child.waitRunning()) << child.err;
        EXPECT_EQ(speed(), B19200);
        const std::size_t relayed = two.received.size() + frame.size();
        ASSERT_TRUE(one.send(frame));
        ASSERT_TRUE(waitForBytes(two, relayed)) << child.err;
        EXPECT_EQ(child.stop(run == 1 ? SIGHUP : SIGTERM), 0);
        EXPECT_EQ(child.err, "");
        EXPECT_EQ(speed(), B4800);
        EXPECT_NE(onlyFileIn(records), "") << "the record alone";
        const PcapngFile out = readPcapng(child.out);  // the packet and the end on both ports
        EXPECT_TRUE(run != 3 || (out.ok() && out.ofType(kPacket).size() == 3u &&
                                 out.ofType(kPacket)[0].rtac->payload == frame))
            << out.error;
    }
    EXPECT_EQ(readFile(ini), kept) << "a headless run never writes the window's choices";
    const PcapngFile f = readPcapng(readFile(capture));
    ASSERT_TRUE(f.ok() && f.ofType(kPacket).size() == 6u) << f.error;
    EXPECT_EQ(f.ofType(0x0A0D0D0A).size(), 2u);
    EXPECT_EQ(f.ofType(kPacket)[0].rtac->payload + f.ofType(kPacket)[3].rtac->payload,
              "run 0run 1");
}

}  // namespace
}  // namespace lt::cli
