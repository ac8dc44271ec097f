// "Запись": opening, naming and closing the record file, and records written during capture,
// on a record sink in memory and on real files in a temporary folder.
#include <gtest/gtest.h>
#include <sys/resource.h>

#include <csignal>

#include "app/settings_file.h"
#include "settings_test_support.h"
#include "ui/file_record_sink.h"

namespace lt::sim {
namespace {

// A record of COM1 and COM2 with every flag clear, spelt out here, apart from the program's writer.
std::string quietRecord(const std::string& stamp, const std::string& hex1,
                        const std::string& hex2) {
    return stamp + "  COM1:  RTS=0 DTR=0 DCD=0 DSR=0 CTS=0   Data=" + hex1 +
           "\r\n             COM2:  RTS=0 DTR=0 DCD=0 DSR=0 CTS=0   Data=" + hex2 + "\r\n\r\n";
}

TEST(RecordingCapture, PacketIsRecordedWhenItEndsAndARefusedRecordIsDroppedWhileCaptureGoesOn) {
    Rig rig;
    rig.line2.setPortName(PortName::path("/dev/ttyUSB0"));
    for (SimLine* l : {&rig.line1, &rig.line2}) l->setLineSettings("9600,n,8,1");
    rig.openDirect(rig.core.port1);
    rig.openDirect(rig.core.port2);
    rig.runAuto();
    rig.core.Set_Check(12, 1);
    rig.line1.peerSend(std::string("\x01\x02\x41", 3));
    rig.runMs(100);
    // Three characters at 9600 baud and the 10 ms gap: the packet ends at 14:05:09.383, whose
    // seven significant digits are 50709.38. Each port has its own name and present flags.
    EXPECT_EQ(rig.records.text,
              "14:05:09,38  COM1:  RTS=1 DTR=1 DCD=0 DSR=0 CTS=0   Data= 01 02 41\r\n"
              "             /dev/ttyUSB0:  RTS=0 DTR=0 DCD=0 DSR=0 CTS=0   Data=\r\n\r\n");

    rig.records.text.clear();
    rig.records.failing = true;
    rig.line2.peerSend("lost");
    rig.runMs(100);
    EXPECT_EQ(rig.core.form.Text3[1], "lost") << "the row is shown although its record failed";
    EXPECT_EQ(rig.core.Recording, 1);
    rig.records.failing = false;
    rig.line2.peerSend("ok");
    rig.runMs(100);
    EXPECT_EQ(rig.core.form.Text3[2], "ok");
    EXPECT_NE(rig.records.text.find("Data= 6F 6B\r\n"), std::string::npos);
    EXPECT_EQ(rig.records.text.find("6C 6F"), std::string::npos);
    EXPECT_TRUE(rig.host.messages.empty());
}

TEST(RecordFile, UncreatableFileThenOffAndOnWithinASecondAroundASaveThenANewSecond) {
    QTemporaryDir dir;
    ASSERT_TRUE(dir.isValid());
    const std::string folder = dir.path().toStdString() + "/";
    VirtualLoop loop;
    TestHost host{loop};
    SimLine line1{loop, 1}, line2{loop, 2};
    FileRecordSink records;
    Core core{host, line1, line2, records, QLocale(QLocale::C)};
    host.env["ProgramFiles"] = dir.path().toStdString();
    core.Settings_Load();  // makes the folder the save below writes in

    // A file that cannot be created: one message naming it, the box cleared, no folder made.
    core.recordFolder = folder + "absent/";
    core.Set_Check(12, 1);
    EXPECT_EQ(core.Recording, 0);
    EXPECT_EQ(core.form.Check[12].Value, 0);
    EXPECT_FALSE(records.IsOpen());
    ASSERT_EQ(host.messages.size(), 1u);
    EXPECT_NE(host.messages[0].find(folder + "absent/Linetap"), std::string::npos);
    EXPECT_FALSE(pathExists(folder + "absent"));

    core.recordFolder = folder;
    core.Set_Check(12, 1);
    core.Record_Write("A", "");
    core.Set_Check(12, 0);
    EXPECT_EQ(core.Recording, 0);
    core.Record_Write("X", "");  // the box is clear: no record
    loop.runFor(ms(500));        // 14:05:09.870: the same file goes on
    core.Set_Check(12, 1);
    core.mnu_Prop_Click();
    core.form.Text4.Text = folder + "elsewhere";
    core.form.Text10.Text = "300";
    core.Command4_Click();  // saving touches the settings file only
    EXPECT_EQ(readSettings(folder + "Linetap v.2.01/Linetap v.2.01.eng"),
              (StoredSettings{folder + "elsewhere/", 10, 100, 300, "Linetap", "v.2.01"}));
    EXPECT_EQ(core.Recording, 1);
    core.Record_Write("", "B");
    core.Set_Check(12, 0);
    loop.runFor(ms(200));  // 14:05:10.070: a new file
    core.recordFolder = folder;
    core.Set_Check(12, 1);
    core.Record_Write("C", "");

    const QStringList files = QDir(dir.path()).entryList(QDir::Files, QDir::Name);
    ASSERT_EQ(files,
              (QStringList{"Linetap 6 Dec 2026 14_05_09.txt", "Linetap 6 Dec 2026 14_05_10.txt"}));
    EXPECT_EQ(readBytes(folder + files[0].toStdString()),
              quietRecord("14:05:09,37", " 41", "") + quietRecord("14:05:09,87", "", " 42"));
    // Each record is on disk as soon as it is written, while the file is still open.
    EXPECT_EQ(readBytes(folder + files[1].toStdString()), quietRecord("14:05:10,07", " 43", ""));
    EXPECT_EQ(host.messages.size(), 1u);
}

TEST(FileRecordSink, WritesRecordsWholeOrNotAtAllAndTriesTheNextAgain) {
    QTemporaryDir dir;
    ASSERT_TRUE(dir.isValid());
    const std::string path = dir.path().toStdString() + "/r.txt";
    FileRecordSink sink;
    ASSERT_TRUE(sink.Open(path));
    // A size limit lets the second record through only in part: write gives a short count, then
    // fails. The part that got through is cut off again.
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
    EXPECT_TRUE(sink.Append("c"));
    EXPECT_EQ(readBytes(path), std::string(60, 'a') + "c");

    // A full disk refuses every record; the file stays open for the next.
    ASSERT_TRUE(sink.Open("/dev/full"));
    EXPECT_FALSE(sink.Append("record one\r\n"));
    EXPECT_TRUE(sink.IsOpen());
    EXPECT_FALSE(sink.Append("record two\r\n"));

    EXPECT_FALSE(sink.Open(dir.path().toStdString() + "/no/such/r.txt"));
    EXPECT_FALSE(sink.IsOpen());
    EXPECT_FALSE(sink.Append("closed")) << "a closed sink refuses";
}

}  // namespace
}  // namespace lt::sim
