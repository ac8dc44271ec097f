// "Запись": opening, naming and closing the record file, and records written during capture,
// on a record sink in memory and on real files in a temporary folder.
#include <gtest/gtest.h>

#include <sys/resource.h>

#include <QDir>
#include <QFile>
#include <QTemporaryDir>
#include <csignal>

#include "app/settings_file.h"
#include "sim/rig.h"
#include "ui/file_record_sink.h"

namespace lt::sim {
namespace {

std::string readFile(const QString& path) {
    QFile f(path);
    if (!f.open(QIODevice::ReadOnly)) return "<missing>";
    return f.readAll().toStdString();
}

class RecordClick : public ::testing::Test {
  protected:
    Rig rig;
    Core& core = rig.core;
};

TEST_F(RecordClick, TickOpensAFileNamedAfterNowAndClearingClosesIt) {
    core.Data_Path = "/records/";
    core.Set_Check(12, 1);
    EXPECT_EQ(core.Recording, 1);
    EXPECT_TRUE(rig.records.open);
    EXPECT_EQ(rig.records.path, "/records/Linetap 6 Dec 2026 14_05_09.txt");

    core.Set_Check(12, 0);
    EXPECT_EQ(core.Recording, 0);
    EXPECT_FALSE(rig.records.open);
    EXPECT_TRUE(rig.host.messages.empty());
}

TEST_F(RecordClick, FileThatCannotBeCreatedClearsTheBoxWithOneMessage) {
    rig.records.failOpen = true;
    core.Data_Path = "/no/such/folder/";
    core.Set_Check(12, 1);
    EXPECT_EQ(core.Recording, 0);
    EXPECT_EQ(core.form.Check[12].Value, 0);
    EXPECT_FALSE(rig.records.open);
    ASSERT_EQ(rig.host.messages.size(), 1u);
    EXPECT_NE(rig.host.messages[0].find("/no/such/folder/Linetap"), std::string::npos);

    // The next attempt, once the folder is there, records normally.
    rig.records.failOpen = false;
    core.Set_Check(12, 1);
    EXPECT_EQ(core.Recording, 1);
    EXPECT_EQ(rig.host.messages.size(), 1u);
}

TEST_F(RecordClick, RecordsUseEachPortsNameAndPresentFlags) {
    rig.line2.setCommPort(PortName::path("/dev/ttyUSB0"));
    core.port1.RTS = kOn;
    core.port2.DSR = kOn;
    core.port2.CTS = kOn;
    core.Set_Check(12, 1);
    core.Record_Write("", "");
    EXPECT_EQ(rig.records.text,
              "14:05:09,37  COM1:  RTS=1 DTR=0 DCD=0 DSR=0 CTS=0   Data=\r\n"
              "             /dev/ttyUSB0:  RTS=0 DTR=0 DCD=0 DSR=1 CTS=1   Data=\r\n"
              "\r\n");
}

// Capture in automatic framing with recording on.
class RecordingCapture : public ::testing::Test {
  protected:
    void SetUp() override {
        for (SimLine* l : {&rig.line1, &rig.line2}) l->setSettings("9600,n,8,1");
        rig.openDirect(rig.core.port1);
        rig.openDirect(rig.core.port2);
        rig.runAuto();
        rig.core.Set_Check(12, 1);
    }
    Rig rig;
    Core& core = rig.core;
};

TEST_F(RecordingCapture, PacketIsRecordedWhenItEndsWithItsPortsFlags) {
    rig.line1.peerSend(std::string("\x01\x02\x41", 3));
    rig.runMs(100);
    // Three characters at 9600 baud and the 10 ms gap: the packet ends at 14:05:09.383, whose
    // seven significant digits are 50709.38.
    EXPECT_EQ(rig.records.text,
              "14:05:09,38  COM1:  RTS=1 DTR=1 DCD=0 DSR=0 CTS=0   Data= 01 02 41\r\n"
              "             COM2:  RTS=0 DTR=0 DCD=0 DSR=0 CTS=0   Data=\r\n"
              "\r\n");
}

TEST_F(RecordingCapture, RecordThatCannotBeWrittenIsDroppedAndCaptureGoesOn) {
    rig.records.failing = true;
    rig.line2.peerSend("lost");
    rig.runMs(100);
    EXPECT_EQ(core.form.Text3[0], "lost") << "the row is shown although its record failed";
    EXPECT_EQ(core.Recording, 1);
    EXPECT_TRUE(rig.records.text.empty());

    rig.records.failing = false;
    rig.line2.peerSend("ok");
    rig.runMs(100);
    EXPECT_EQ(core.form.Text3[1], "ok");
    EXPECT_NE(rig.records.text.find("Data= 6F 6B\r\n"), std::string::npos);
    EXPECT_EQ(rig.records.text.find("6C 6F"), std::string::npos);
    EXPECT_TRUE(rig.host.messages.empty());
}

// The program with the real record file.
struct FileRig {
    VirtualLoop loop;
    TestHost host{loop};
    SimLine line1{loop, 1};
    SimLine line2{loop, 2};
    FileRecordSink records;
    Core core{host, line1, line2, records, QLocale(QLocale::C)};
};

class RecordFile : public ::testing::Test {
  protected:
    void SetUp() override {
        ASSERT_TRUE(dir.isValid());
        rig.core.Data_Path = dir.path().toStdString() + "/";
    }
    QStringList files() const { return QDir(dir.path()).entryList(QDir::Files, QDir::Name); }
    QString pathOf(const QString& name) const { return dir.path() + "/" + name; }

    QTemporaryDir dir;
    FileRig rig;
    Core& core = rig.core;
};

TEST_F(RecordFile, OffAndOnWithinOneSecondExtendsTheFileASecondLaterStartsANewOne) {
    core.Set_Check(12, 1);
    core.Record_Write("A", "");
    core.Set_Check(12, 0);
    rig.loop.runFor(ms(500));  // 14:05:09.870
    core.Set_Check(12, 1);
    core.Record_Write("", "B");
    core.Set_Check(12, 0);
    rig.loop.runFor(ms(200));  // 14:05:10.070
    core.Set_Check(12, 1);
    core.Record_Write("C", "");

    ASSERT_EQ(files(),
              (QStringList{"Linetap 6 Dec 2026 14_05_09.txt", "Linetap 6 Dec 2026 14_05_10.txt"}));
    EXPECT_EQ(readFile(pathOf(files()[0])),
              "14:05:09,37  COM1:  RTS=0 DTR=0 DCD=0 DSR=0 CTS=0   Data= 41\r\n"
              "             COM2:  RTS=0 DTR=0 DCD=0 DSR=0 CTS=0   Data=\r\n"
              "\r\n"
              "14:05:09,87  COM1:  RTS=0 DTR=0 DCD=0 DSR=0 CTS=0   Data=\r\n"
              "             COM2:  RTS=0 DTR=0 DCD=0 DSR=0 CTS=0   Data= 42\r\n"
              "\r\n");
    // Each record is on disk as soon as it is written, while the file is still open.
    EXPECT_EQ(readFile(pathOf(files()[1])),
              "14:05:10,07  COM1:  RTS=0 DTR=0 DCD=0 DSR=0 CTS=0   Data= 43\r\n"
              "             COM2:  RTS=0 DTR=0 DCD=0 DSR=0 CTS=0   Data=\r\n"
              "\r\n");
}

TEST_F(RecordFile, MissingFolderGivesAMessageAndNoRecording) {
    core.Data_Path = dir.path().toStdString() + "/absent/";
    core.Set_Check(12, 1);
    EXPECT_EQ(core.Recording, 0);
    EXPECT_EQ(core.form.Check[12].Value, 0);
    EXPECT_FALSE(rig.records.IsOpen());
    EXPECT_EQ(rig.host.messages.size(), 1u);
    EXPECT_FALSE(QDir(dir.path() + "/absent").exists()) << "no folder is made for records";
}

TEST_F(RecordFile, SavingSettingsWhileRecordingLeavesTheRecordFileAlone) {
    rig.host.env["ProgramFiles"] = dir.path().toStdString();
    core.Settings_Load();
    core.Data_Path = dir.path().toStdString() + "/";
    core.Set_Check(12, 1);
    core.Record_Write("1", "");

    core.form.Text4.Text = dir.path().toStdString() + "/elsewhere";
    core.form.Text8.Text = "20";
    core.form.Text9.Text = "200";
    core.form.Text10.Text = "300";
    core.Command4_Click();
    EXPECT_EQ(core.Gap_Interval, 20);
    EXPECT_TRUE(rig.records.IsOpen());
    EXPECT_EQ(core.Recording, 1);
    core.Record_Write("2", "");

    const auto stored =
        Settings_Read(dir.path().toStdString() + "/Linetap v.2.01/Linetap v.2.01.eng");
    ASSERT_TRUE(stored.has_value());
    EXPECT_EQ(stored->Service_Delay, 300);
    EXPECT_EQ(readFile(pathOf("Linetap 6 Dec 2026 14_05_09.txt")),
              "14:05:09,37  COM1:  RTS=0 DTR=0 DCD=0 DSR=0 CTS=0   Data= 31\r\n"
              "             COM2:  RTS=0 DTR=0 DCD=0 DSR=0 CTS=0   Data=\r\n"
              "\r\n"
              "14:05:09,37  COM1:  RTS=0 DTR=0 DCD=0 DSR=0 CTS=0   Data= 32\r\n"
              "             COM2:  RTS=0 DTR=0 DCD=0 DSR=0 CTS=0   Data=\r\n"
              "\r\n");
}

TEST(FileRecordSink, FullDiskRefusesEachRecordAndStaysOpenForTheNext) {
    FileRecordSink sink;
    ASSERT_TRUE(sink.Open("/dev/full"));
    EXPECT_FALSE(sink.Append("record one\r\n"));
    EXPECT_TRUE(sink.IsOpen());
    EXPECT_FALSE(sink.Append("record two\r\n"));
    sink.Close();
    EXPECT_FALSE(sink.IsOpen());
    EXPECT_FALSE(sink.Append("closed")) << "a closed sink refuses";
}

TEST(FileRecordSink, CaptureOnAFullDiskShowsEveryRowAndReportsNothing) {
    FileRig rig;
    for (SimLine* l : {&rig.line1, &rig.line2}) l->setSettings("9600,n,8,1");
    rig.core.Data_Path = "/dev/";
    ASSERT_TRUE(rig.records.Open("/dev/full"));
    rig.core.Recording = 1;
    rig.core.form.Check[9].Value = 1;
    rig.core.Running = 1;
    for (Channel* c : {&rig.core.port1, &rig.core.port2}) {
        c->Comm->setPortOpen(true);
        c->Open = 1;
    }
    rig.line1.peerSend("one");
    rig.loop.runFor(ms(100));
    rig.line1.peerSend("two");
    rig.loop.runFor(ms(100));
    EXPECT_EQ(rig.core.form.Text1[0], "one");
    EXPECT_EQ(rig.core.form.Text1[1], "two");
    EXPECT_EQ(rig.core.Recording, 1);
    EXPECT_TRUE(rig.host.messages.empty());
}

TEST(FileRecordSink, RecordCutShortByTheFileSizeLimitLeavesNoHalfRecord) {
    QTemporaryDir dir;
    ASSERT_TRUE(dir.isValid());
    const std::string path = dir.path().toStdString() + "/r.txt";
    FileRecordSink sink;
    ASSERT_TRUE(sink.Open(path));

    // The limit lets the second record through only in part: write gives a short count, then fails.
    rlimit old{};
    ASSERT_EQ(getrlimit(RLIMIT_FSIZE, &old), 0);
    auto previous = std::signal(SIGXFSZ, SIG_IGN);
    rlimit small = old;
    small.rlim_cur = 100;
    ASSERT_EQ(setrlimit(RLIMIT_FSIZE, &small), 0);
    const bool first = sink.Append(std::string(60, 'a'));
    const bool second = sink.Append(std::string(60, 'b'));
    setrlimit(RLIMIT_FSIZE, &old);
    std::signal(SIGXFSZ, previous);

    EXPECT_TRUE(first);
    EXPECT_FALSE(second);
    EXPECT_EQ(readFile(QString::fromStdString(path)), std::string(60, 'a'));
    EXPECT_TRUE(sink.Append("c"));
    EXPECT_EQ(readFile(QString::fromStdString(path)), std::string(60, 'a') + "c");
}

TEST(FileRecordSink, ExistingFileIsExtendedNotReplaced) {
    QTemporaryDir dir;
    ASSERT_TRUE(dir.isValid());
    const std::string path = dir.path().toStdString() + "/r.txt";
    {
        FileRecordSink sink;
        ASSERT_TRUE(sink.Open(path));
        ASSERT_TRUE(sink.Append("first\r\n"));
    }  // closed by its destructor
    FileRecordSink sink;
    ASSERT_TRUE(sink.Open(path));
    ASSERT_TRUE(sink.Append("second\r\n"));
    EXPECT_EQ(readFile(QString::fromStdString(path)), "first\r\nsecond\r\n");
    EXPECT_FALSE(sink.Open(dir.path().toStdString() + "/no/such/r.txt"));
    EXPECT_FALSE(sink.IsOpen());
}

}  // namespace
}  // namespace lt::sim
