// The built program run headless on pseudo-terminal pairs, the test playing the far devices:
// relay, print, record, clean stops, no GUI library, bad input, and pcapng capture.
#include <gtest/gtest.h>
#include <signal.h>
#include <spawn.h>
#include <sys/mman.h>
#include <sys/resource.h>
#include <sys/stat.h>
#include <sys/wait.h>

#include <QDir>
#include <QTemporaryDir>
#include <atomic>
#include <cerrno>
#include <cstdint>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <filesystem>
#include <fstream>
#include <optional>
#include <regex>
#include <thread>

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
    // `stdoutFd` >= 0: standard output goes there (a pipe the test reads, or does not).
    explicit Child(std::vector<std::string> args, int stdoutFd = -1) {
        posix_spawn_file_actions_t actions;
        posix_spawn_file_actions_init(&actions);
        posix_spawn_file_actions_addopen(&actions, 0, "/dev/null", O_RDONLY, 0);
        posix_spawn_file_actions_adddup2(&actions, stdoutFd >= 0 ? stdoutFd : outFd_, 1);
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

// The outputs' readers: one that stalls, one that leaves, one not there yet; a stop under a
// stream that goes on; standard output as the capture; a record folder that takes no record.
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
    // Sends `count` packets of 1024 bytes into port 1, each once port 2 has relayed the one
    // before; returns what was sent.
    std::string stream(int count) {
        std::string sent;
        for (int i = 0; i < count; ++i) {
            std::string packet(1024, static_cast<char>('a' + i % 26));
            packet[0] = static_cast<char>(i);
            EXPECT_TRUE(one.send(packet));
            sent += packet;
            // Each packet relayed before the next, as at one baud rate on both lines: faster,
            // port 2's own backlog would drop packets, rightly.
            if (!waitForBytes(two, sent.size())) break;
        }
        return sent;
    }
    // The bytes of port 1's records in a record text, in order.
    static std::string recordedBytes(const std::string& text) {
        std::string bytes;
        static const std::regex data(R"(Data=((?: [0-9A-F]{2})*)\r\n {13})");
        for (std::sregex_iterator it(text.begin(), text.end(), data), end; it != end; ++it)
            bytes += QByteArray::fromHex(QByteArray::fromStdString((*it)[1].str())).toStdString();
        return bytes;
    }
    static int count(const std::string& text, const std::string& what) {
        int n = 0;
        for (auto at = text.find(what); at != std::string::npos; at = text.find(what, at + 1)) ++n;
        return n;
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
    Child child(on({"--relay", "12", "--auto", "--gap", "2", "--print", "--pcap", fifo, "--record",
                    records}),
                out.write);
    ASSERT_TRUE(child.waitRunning()) << child.err;
    // 1.2 MB: records and capture blocks far past a pipe's 64 KiB and a backlog's 1 MiB.
    const std::string sent = stream(1200);
    ASSERT_TRUE(waitForBytes(two, sent.size())) << (child.pump(), child.err);
    EXPECT_EQ(two.received, sent);

    child.signal(SIGTERM);
    EXPECT_EQ(child.waitExit(), 0) << child.err;
    ::close(reader);
    const std::string printFalls = "linetap: standard output: its reader falls behind; ";
    const std::string pcapFalls = "linetap: pcapng " + fifo + ": its reader falls behind; ";
    EXPECT_EQ(count(child.err, printFalls), 1) << child.err;
    EXPECT_EQ(count(child.err, pcapFalls), 1) << child.err;
    EXPECT_TRUE(std::regex_search(
        child.err, std::regex("standard output: [1-9][0-9]* records dropped in all")))
        << child.err;
    EXPECT_TRUE(
        std::regex_search(child.err, std::regex("pcapng .*: [1-9][0-9]* packets dropped in all")))
        << child.err;
    EXPECT_EQ(recordedBytes(readFile(onlyFileIn(records))), sent) << "the record file lost nothing";
}

// `| head -c1`: the reader leaves. Printing stops, said once; relay, record and exit go on.
TEST_F(CliOutputs, APrintReaderThatLeavesIsToldOnceAndTheRunGoesOn) {
    Pipe out;
    ::close(out.read);
    out.read = -1;
    const std::string records = folder("records");
    Child child(on({"--relay", "12", "--auto", "--print", "--record", records}), out.write);
    ASSERT_TRUE(child.waitRunning()) << child.err;
    std::string sent;
    for (int i = 0; i < 3; ++i) {
        const std::string frame = readHoldingRegisters(i + 1, 0, 2);
        ASSERT_TRUE(one.send(frame));
        ASSERT_TRUE(waitForBytes(two, (sent += frame).size())) << child.err;
    }
    child.signal(SIGTERM);
    EXPECT_EQ(child.waitExit(), 0);
    EXPECT_EQ(child.err, "linetap: standard output: its reader has gone; printing stops\n");
    EXPECT_EQ(recordedBytes(readFile(onlyFileIn(records))), sent);
}

// A stream without pauses goes on while the program stops: it finishes what had come and ends.
// The bytes come one by one, so some are always there when a packet has been handled.
TEST_F(CliOutputs, ASignalUnderAStreamThatGoesOnStops) {
    Child child(
        on({"--relay", "12", "--auto", "--gap", "5", "--print", "--record", folder("records")}));
    ASSERT_TRUE(child.waitRunning()) << child.err;
    std::atomic<bool> streaming{true};
    std::thread device([&] {
        for (unsigned char b = 0; streaming; ++b) (void)!::write(one.master, &b, 1);
    });
    pause(100);
    child.signal(SIGTERM);
    EXPECT_TRUE(waitUntil([&] { return !child.running(); }, 5000, [&] { two.drain(); }));
    streaming = false;
    device.join();
    EXPECT_EQ(child.waitExit(), 0) << child.err;
}

// SIGHUP (the terminal or ssh session closed) stops as SIGTERM does, the port put back.
TEST_F(CliOutputs, SighupStopsCleanlyAndPutsThePortsBack) {
    termios before{};
    ASSERT_EQ(::tcgetattr(one.master, &before), 0);
    ::cfsetspeed(&before, B4800);
    ASSERT_EQ(::tcsetattr(one.master, TCSANOW, &before), 0);
    const auto speed = [&] {
        termios t{};
        ::tcgetattr(one.master, &t);
        return ::cfgetospeed(&t);
    };
    Child child(on({"--auto", "--settings1", "19200,n,8,1"}));
    ASSERT_TRUE(child.waitRunning()) << child.err;
    EXPECT_EQ(speed(), B19200);
    child.signal(SIGHUP);
    EXPECT_EQ(child.waitExit(), 0) << child.err;
    EXPECT_EQ(speed(), B4800);
}

// `--pcap -` is standard output; with --print too it is bad input.
TEST_F(CliOutputs, StandardOutputTakesTheCaptureAndNotThePrintBeside) {
    Child child(on({"--relay", "12", "--auto", "--pcap", "-"}));
    ASSERT_TRUE(child.waitRunning()) << child.err;
    std::string sent;
    for (int i = 0; i < 3; ++i) {
        const std::string frame = readHoldingRegisters(i + 1, 0, 2);
        ASSERT_TRUE(one.send(frame));
        ASSERT_TRUE(waitForBytes(two, (sent += frame).size())) << child.err;
        pause(20);
    }
    child.signal(SIGTERM);
    EXPECT_EQ(child.waitExit(), 0) << child.err;
    const PcapngFile f = readPcapng(child.out);
    ASSERT_TRUE(f.ok()) << f.error;
    EXPECT_EQ(f.ofType(kInterface).size(), 2u);
    std::string captured;
    for (const auto& b : f.ofType(kPacket)) captured += b.data;
    EXPECT_EQ(captured, sent);

    Child both(on({"--print", "--pcap", "-"}));
    EXPECT_EQ(both.waitExit(), 2);
    EXPECT_EQ(both.err,
              "linetap: --print and --pcap - both write to standard output (see linetap --help)\n");
}

// A pipe without a reader holds up nothing: relay and record go at once, the wait is said once,
// and the capture begins when a reader opens the pipe.
TEST_F(CliOutputs, ACapturePipeWithoutAReaderYetHoldsUpNothing) {
    const std::string fifo = file("later.pcapng"), records = folder("records");
    ASSERT_EQ(::mkfifo(fifo.c_str(), 0600), 0);
    Child child(on({"--relay", "12", "--auto", "--pcap", fifo, "--record", records}));
    ASSERT_TRUE(child.waitRunning()) << child.err;
    const std::string early = readHoldingRegisters(1, 0, 2), late = readHoldingRegisters(2, 0, 2);
    ASSERT_TRUE(one.send(early));
    ASSERT_TRUE(waitForBytes(two, early.size())) << child.err;
    EXPECT_EQ(child.err, "linetap: pcapng: " + fifo +
                             ": waiting for a reader of the pipe; the capture begins when it "
                             "opens it\n");

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
    ASSERT_TRUE(one.send(late));
    PcapngFile got;
    EXPECT_TRUE(child.waitFor([&] { return (got = read()).ofType(kPacket).size() == 1; }));
    ASSERT_EQ(got.ofType(kPacket).size(), 1u);
    EXPECT_EQ(got.ofType(kPacket)[0].data, late);
    child.signal(SIGTERM);
    EXPECT_EQ(child.waitExit(), 0);
    ::close(reader);
    EXPECT_EQ(recordedBytes(readFile(onlyFileIn(records))), early + late);
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
    Child child(on({"--auto", "--record", records}));
    ASSERT_EQ(::setrlimit(RLIMIT_FSIZE, &was), 0);
    EXPECT_EQ(child.waitExit(), 2);
    EXPECT_EQ(count(child.err, "\n"), 1) << child.err;
    EXPECT_NE(child.err.find("linetap: "), std::string::npos) << child.err;
}

}  // namespace
}  // namespace lt::cli
