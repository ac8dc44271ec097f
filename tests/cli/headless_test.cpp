// The built program run headless on pseudo-terminal pairs, the test playing the far devices:
// relay, print, record, clean stops, no GUI library, bad input, and pcapng capture.
#include <gtest/gtest.h>
#include <signal.h>
#include <spawn.h>
#include <sys/mman.h>
#include <sys/stat.h>
#include <sys/wait.h>

#include <QDir>
#include <QTemporaryDir>
#include <cerrno>
#include <cstdint>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <filesystem>
#include <fstream>
#include <optional>
#include <regex>

#include "support/pcapng_reader.h"
#include "support/pty_pair.h"

extern char** environ;

namespace lt::cli {
namespace {

using test::pause;
using test::PcapngFile;
using test::PtyPair;
using test::readPcapng;
using test::waitUntil;

std::string readFile(const std::string& path) {
    std::ifstream in(path, std::ios::binary);
    return {std::istreambuf_iterator<char>(in), {}};
}

bool waitForBytes(PtyPair& pty, std::size_t size) {
    return waitUntil([&] { return pty.drain(), pty.received.size() >= size; });
}

// The built program, started with `args` and the test's environment, standard input from
// /dev/null, standard output and error into memory files the test reads.
class Child {
public:
    explicit Child(std::vector<std::string> args) {
        posix_spawn_file_actions_t actions;
        posix_spawn_file_actions_init(&actions);
        posix_spawn_file_actions_addopen(&actions, 0, "/dev/null", O_RDONLY, 0);
        posix_spawn_file_actions_adddup2(&actions, outFd_, 1);
        posix_spawn_file_actions_adddup2(&actions, errFd_, 2);
        args.insert(args.begin(), LINETAP_BINARY);
        std::vector<char*> argv;
        for (std::string& a : args) argv.push_back(a.data());
        argv.push_back(nullptr);
        if (::posix_spawn(&pid_, LINETAP_BINARY, &actions, nullptr, argv.data(), environ) != 0)
            pid_ = -1;
        posix_spawn_file_actions_destroy(&actions);
    }
    ~Child() {
        if (running()) {  // a child the test did not see to its end is killed, by its own id
            ::kill(pid_, SIGKILL);
            ::waitpid(pid_, nullptr, 0);
        }
        ::close(outFd_);
        ::close(errFd_);
    }
    Child(const Child&) = delete;

    // Reads what the child has written so far.
    void pump() {
        for (auto [fd, into] : {std::pair{outFd_, &out}, {errFd_, &err}}) {
            char buf[4096];
            for (ssize_t n; (n = ::pread(fd, buf, sizeof buf, into->size())) > 0;)
                into->append(buf, static_cast<std::size_t>(n));
        }
    }
    bool running() {
        if (int s = 0; pid_ > 0 && !status_ && ::waitpid(pid_, &s, WNOHANG) == pid_) status_ = s;
        return pid_ > 0 && !status_;
    }
    // Waits, reading what the child says, until `done` holds; false when it did not in time.
    bool waitFor(const std::function<bool()>& done) {
        return waitUntil(done, 5000, [this] { pump(); });
    }
    // The exit status, or 128 + the signal that ended it, or -1 when it did not end in time.
    int waitExit() {
        waitFor([&] { return !running(); });
        pump();
        if (!status_) return -1;
        return WIFEXITED(*status_) ? WEXITSTATUS(*status_) : 128 + WTERMSIG(*status_);
    }
    void signal(int sig) const {
        if (pid_ > 0) ::kill(pid_, sig);
    }
    std::string proc(const std::string& what) const {
        return "/proc/" + std::to_string(pid_) + "/" + what;
    }
    bool hasOpen(const std::string& path) const {
        std::error_code ec;
        for (const auto& e : std::filesystem::directory_iterator(proc("fd"), ec))
            if (std::filesystem::read_symlink(e.path(), ec) == path) return true;
        return false;
    }
    // Waits until the child runs with its SIGTERM and SIGINT handlers set, which it sets just
    // before its event loop; false when it ended.
    bool waitRunning() {
        const auto handlers = [&] {
            std::ifstream in(proc("status"));
            for (std::string line; std::getline(in, line);)
                if (line.rfind("SigCgt:", 0) == 0)
                    return (~std::strtoull(line.c_str() + 7, nullptr, 16) &
                            (1u << (SIGTERM - 1) | 1u << (SIGINT - 1))) == 0;
            return false;
        };
        return waitFor([&] { return handlers() || !running(); }) && running();
    }

    std::string out, err;  // standard output and error so far

private:
    int outFd_ = ::memfd_create("out", MFD_CLOEXEC), errFd_ = ::memfd_create("err", MFD_CLOEXEC);
    pid_t pid_ = -1;
    std::optional<int> status_;
};

// Two far devices, a folder for the run with the program's configuration folder in it, and the
// arguments that put the program on the devices.
class CliTest : public ::testing::Test {
protected:
    void SetUp() override {
        ASSERT_TRUE(dir.isValid() && one.ok() && two.ok());
        ::setenv("XDG_CONFIG_HOME", folder("config").c_str(), 1);
        ::unsetenv("ProgramFiles");
    }
    std::vector<std::string> on(std::vector<std::string> more) const {
        more.insert(more.begin(), {"--headless", "--port1", one.slave, "--port2", two.slave});
        return more;
    }
    std::string file(const QString& name) const { return dir.filePath(name).toStdString(); }
    std::string folder(const QString& name) const {
        return QDir(dir.path()).mkdir(name), file(name);
    }
    QTemporaryDir dir;
    PtyPair one, two;  // the far devices of port 1 and port 2
};

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

TEST_F(CliHeadless, RelaysPrintsAndRecordsBothWaysThenStopsOnSigterm) {
    const std::string records = folder("records");
    Child child(on({"--relay", "both", "--auto", "--record", records, "--print", "--settings1",
                    "9600,n,8,1", "--settings2", "9600,n,8,1"}));
    // The record file is made last before capture starts.
    ASSERT_TRUE(child.waitFor([&] { return !onlyFileIn(records).empty() || !child.running(); }));
    ASSERT_TRUE(child.waitRunning()) << child.err;
    const std::string file = onlyFileIn(records);

    const std::pair<std::string, std::string> exchanges[] = {
        {"hello from 1", "answer from 2"},
        {std::string("\x00\x01\x7f\x80\xfe\xff", 6), "\r\n" + std::string(40, 'z')},
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
    const std::string missing = file("missing"), plain = file("plain"), tty = "/nonexistent/tty";
    std::ofstream(plain) << "not a folder";  // no execute bits: no folder to write in, for root too
    const std::string help = " (see linetap --help)\n", gone = std::strerror(ENOENT);
    const struct {
        int status;
        std::string err;
        std::vector<std::string> args;
    } cases[] = {
        {2, "unknown option --bogus" + help, {"--headless", "--port1", one.slave, "--bogus"}},
        {2, "no port given: use --port1 and/or --port2" + help, {"--headless"}},
        {2, "--poll 0 never polls: give 1 to 32767 ms, or --auto" + help, on({"--poll", "0"})},
        {2, "--record " + missing + ": no such folder\n", on({"--record", missing})},
        {2, "--record " + plain + ": " + std::strerror(EACCES) + "\n", on({"--record", plain})},
        {1, "port 1 (" + tty + "): " + tty + ": " + gone + "\n", {"--headless", "--port1", tty}},
        {1,
         "port 2 (" + tty + "): " + tty + ": " + gone + "\n",
         {"--headless", "--port1", one.slave, "--port2", tty}},
    };
    for (const auto& [status, err, args] : cases) {
        Child child(args);
        EXPECT_EQ(child.waitExit(), status) << err;
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
    // What tshark reads in `capture`, one line per frame: interface, Modbus RTU unit, function,
    // CRC status and the info column. USER0 (link type 147) is decoded as Modbus RTU; tshark keeps
    // its preferences under HOME. Empty, with a failure, when tshark cannot read the file.
    std::string tsharkRows(const std::string& capture) const {
        const std::string command =
            "HOME='" + dir.path().toStdString() + "' /usr/bin/tshark -r '" + capture +
            "' -o 'uat:user_dlts:\"User 0 (DLT=147)\",\"mbrtu\",\"0\",\"\",\"0\",\"\"'"
            " -o mbrtu.crc_verification:TRUE -T fields -e frame.interface_id -e mbrtu.unit_id"
            " -e modbus.func_code -e mbrtu.crc16.status -e _ws.col.Info 2>'" +
            file("tshark.err") + "'";
        FILE* out = ::popen(command.c_str(), "r");
        if (!out) {
            ADD_FAILURE() << "tshark not started";
            return "";
        }
        std::string text;
        for (int c; (c = std::fgetc(out)) != EOF;) text += static_cast<char>(c);
        if (::pclose(out) == 0) return text;
        ADD_FAILURE() << text << readFile(file("tshark.err"));
        return "";
    }
};

// The device of port 1 asks unit 17 for three registers, the device of port 2 answers, three
// times, with pauses well above the 10 ms minimum; the capture holds one packet block per frame,
// which tshark decodes as Modbus RTU.
TEST_F(CliPcapng, AModbusExchangeIsCapturedOnePacketBlockPerFrameThatTsharkDecodes) {
    const std::string capture = file("capture.pcapng");
    Child child(
        on({"--pcap", capture, "--auto", "--relay", "both", "--rts", "both", "--dtr", "both"}));
    // The capture file is made just before capture starts.
    ASSERT_TRUE(child.waitFor([&] { return readFile(capture).size() > 28 || !child.running(); }));
    ASSERT_TRUE(child.waitRunning()) << child.err;
    std::vector<Sent> sent;
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
            pause(60);
        }
    }
    child.signal(SIGTERM);
    EXPECT_EQ(child.waitExit(), 0);
    EXPECT_EQ(child.err, "");

    const PcapngFile f = readPcapng(readFile(capture));
    ASSERT_TRUE(f.ok()) << f.error;
    ASSERT_EQ(f.ofType(0x0A0D0D0A).size(), 1u);
    const auto interfaces = f.ofType(kInterface);
    ASSERT_EQ(interfaces.size(), 2u);
    EXPECT_EQ(interfaces[0].ifName, "port 1 (" + one.slave + ")");
    EXPECT_EQ(interfaces[1].ifName, "port 2 (" + two.slave + ")");
    for (const auto& i : interfaces) {
        EXPECT_EQ(i.linkType, 147);
        EXPECT_EQ(i.tsResolution, 6);
    }
    const auto packets = f.ofType(kPacket);
    ASSERT_EQ(packets.size(), sent.size());
    for (std::size_t i = 0; i < packets.size(); ++i) {
        SCOPED_TRACE(i);
        const auto& p = packets[i];
        EXPECT_EQ(p.interfaceId, static_cast<std::uint32_t>(sent[i].port - 1));
        EXPECT_EQ(p.data, sent[i].frame);
        EXPECT_TRUE(i == 0 || p.timestamp > packets[i - 1].timestamp);
        EXPECT_EQ(p.flags.value_or(0) & 3u, 1u) << "inbound";
        // A pseudo-terminal has no modem inputs; both outputs were left on.
        EXPECT_EQ(p.comment, "RTS=1 DTR=1 DCD=0 DSR=0 CTS=0 | RTS=1 DTR=1 DCD=0 DSR=0 CTS=0");
    }

    if (!hasTshark()) GTEST_SKIP() << "tshark is not installed";
    const std::string text = tsharkRows(capture);
    // Interface, unit 17, read holding registers, CRC checked and good; port 1's device asks.
    std::string rows;
    for (const Sent& f : sent)
        rows += std::to_string(f.port - 1) + "\t17\t3\t1\t[^\n]*" +
                (f.port == 1 ? "Query" : "Response") + "[^\n]*\n";
    EXPECT_TRUE(std::regex_match(text, std::regex(rows))) << text;
}

TEST_F(CliPcapng, ANamedPipeGetsEachPacketAtOnceAndCaptureGoesOnWhenItsReaderLeaves) {
    const std::string fifo = file("live.pcapng"), records = folder("records");
    ASSERT_EQ(::mkfifo(fifo.c_str(), 0600), 0);
    // The reader opens without waiting for the writer, and reads whatever has come.
    int reader = ::open(fifo.c_str(), O_RDONLY | O_NONBLOCK | O_CLOEXEC);
    ASSERT_GE(reader, 0);
    std::string live;
    const auto read = [&] {
        char buf[4096];
        for (ssize_t n; (n = ::read(reader, buf, sizeof buf)) > 0;)
            live.append(buf, static_cast<std::size_t>(n));
        return readPcapng(live);
    };
    Child child(on({"--pcap", fifo, "--record", records, "--auto", "--relay", "12"}));
    // The header and both interfaces come first; the record file is opened after the pipe, just
    // before capture starts.
    ASSERT_TRUE(child.waitFor([&] {
        return (read().ofType(kInterface).size() == 2 && !onlyFileIn(records).empty()) ||
               !child.running();
    }));
    ASSERT_TRUE(child.waitRunning()) << child.err;

    std::string relayed, pattern;
    for (std::size_t i = 0; i < 6; ++i) {
        SCOPED_TRACE(i);
        const std::string frame = readHoldingRegisters(int(i) + 1, 0x100 * int(i), 2);
        if (i == 3) ::close(reader);  // the reader goes away
        if (i >= 3) pause(40);        // the pause between frames
        ASSERT_TRUE(one.send(frame));
        if (i < 3) {  // each packet's block reaches the reader before the next packet is sent
            PcapngFile got;
            ASSERT_TRUE(child.waitFor([&] { return (got = read()).ofType(kPacket).size() > i; }));
            ASSERT_TRUE(got.ok()) << got.error;
            EXPECT_EQ(got.ofType(kPacket).back().data, frame);
        }
        ASSERT_TRUE(waitForBytes(two, (relayed += frame).size())) << child.err;
        EXPECT_EQ(two.received, relayed);
        pattern += recordPattern(1, one, two, frame);
    }
    const std::string gone =
        "linetap: pcapng: " + fifo + ": the reader closed the pipe; capture goes on\n";
    EXPECT_TRUE(child.waitFor([&] { return child.err.find(gone) != std::string::npos; }))
        << child.err;
    child.signal(SIGTERM);
    EXPECT_EQ(child.waitExit(), 0);
    EXPECT_EQ(child.err, gone) << "told once";
    // Every frame is in the text record, in order, the last record whole.
    const std::string recorded = readFile(onlyFileIn(records));
    EXPECT_TRUE(std::regex_match(recorded, std::regex(pattern))) << recorded;
}

// The window's "Также pcapng", kept in linetap.ini, has no say in a headless run: the capture goes
// where --pcap says and nowhere else, none is added beside the record, and the file stays as it
// was.
TEST_F(CliPcapng, TheWindowsCaptureChoiceNeitherAddsNorMovesAHeadlessCapture) {
    const std::string ini = folder("config/Linetap v.2.01") + "/linetap.ini";
    const std::string kept = "[record]\npcapng=true\n";
    std::ofstream(ini) << kept;
    const std::string capture = file("asked.pcapng");
    for (const bool asked : {true, false}) {
        SCOPED_TRACE(asked ? "with --pcap" : "without --pcap");
        const std::string records = folder(asked ? "records-pcap" : "records");
        std::vector<std::string> args{"--auto", "--relay", "12", "--record", records};
        if (asked) args.insert(args.end(), {"--pcap", capture});
        Child child(on(args));
        ASSERT_TRUE(child.waitRunning()) << child.err;
        const std::string frame = readHoldingRegisters(1, 0, asked ? 2 : 3);
        const std::size_t relayed = two.received.size() + frame.size();
        ASSERT_TRUE(one.send(frame));
        ASSERT_TRUE(waitForBytes(two, relayed)) << child.err;
        child.signal(SIGTERM);
        EXPECT_EQ(child.waitExit(), 0);
        EXPECT_EQ(child.err, "");

        const QStringList made = QDir(QString::fromStdString(records)).entryList(QDir::Files);
        ASSERT_EQ(made.size(), 1) << made.join(' ').toStdString();
        EXPECT_TRUE(made[0].endsWith(".txt")) << made[0].toStdString();
        if (asked) {
            const PcapngFile f = readPcapng(readFile(capture));
            ASSERT_TRUE(f.ok()) << f.error;
            ASSERT_EQ(f.ofType(kPacket).size(), 1u);
            EXPECT_EQ(f.ofType(kPacket)[0].data, frame);
        }
        EXPECT_EQ(readFile(ini), kept) << "a headless run never writes the window's choices";
    }
}

// A run that captures into the file of an earlier run keeps that run's packets: a second section
// follows them, which tshark reads as well.
TEST_F(CliPcapng, ASecondRunIntoTheSameCaptureKeepsTheFirstRunsPackets) {
    const std::string capture = file("kept.pcapng");
    const std::string frames[] = {readHoldingRegisters(5, 0, 1), readHoldingRegisters(6, 0, 2)};
    for (const std::string& frame : frames) {
        Child child(on({"--pcap", capture, "--auto", "--relay", "12"}));
        ASSERT_TRUE(child.waitRunning()) << child.err;
        const std::size_t relayed = two.received.size() + frame.size();
        ASSERT_TRUE(one.send(frame));
        ASSERT_TRUE(waitForBytes(two, relayed)) << child.err;
        child.signal(SIGTERM);
        EXPECT_EQ(child.waitExit(), 0);
        EXPECT_EQ(child.err, "");
    }
    const PcapngFile f = readPcapng(readFile(capture));
    ASSERT_TRUE(f.ok()) << f.error;
    EXPECT_EQ(f.ofType(0x0A0D0D0A).size(), 2u);
    const auto packets = f.ofType(kPacket);
    ASSERT_EQ(packets.size(), 2u);
    EXPECT_EQ(packets[0].data, frames[0]);
    EXPECT_EQ(packets[1].data, frames[1]);

    if (!hasTshark()) GTEST_SKIP() << "tshark is not installed";
    EXPECT_TRUE(
        std::regex_match(tsharkRows(capture), std::regex("0\t5\t3\t1\t[^\n]*Query[^\n]*\n"
                                                         "0\t6\t3\t1\t[^\n]*Query[^\n]*\n")));
}

// The start waits in the opening of a named pipe until a reader comes; a SIGINT meanwhile stops
// the program cleanly, as one while it runs does.
TEST_F(CliPcapng, ASignalWhileWaitingForThePipesReaderStopsCleanly) {
    const std::string fifo = file("nobody-reads.pcapng");
    ASSERT_EQ(::mkfifo(fifo.c_str(), 0600), 0);
    Child child(on({"--pcap", fifo, "--auto"}));
    // Both ports are open: the program goes on to the pipe, where it waits for a reader.
    ASSERT_TRUE(child.waitFor([&] {
        return (child.hasOpen(one.slave) && child.hasOpen(two.slave)) || !child.running();
    }));
    ASSERT_TRUE(child.running()) << child.err;
    child.signal(SIGINT);
    EXPECT_EQ(child.waitExit(), 0) << child.err;
}

}  // namespace
}  // namespace lt::cli
