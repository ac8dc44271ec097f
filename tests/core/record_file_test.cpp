// "Запись": the record file and its records, in memory and on real files.
#include <gtest/gtest.h>

#include <cerrno>
#include <cstring>

#include "record/file_record_sink.h"
#include "record/pcapng_writer.h"
#include "settings_test_support.h"
#include "sim/rig.h"
#include "support/pcapng_reader.h"

namespace lt::sim {
namespace {

// A record of COM1 and COM2 both on (RTS and DTR on), spelt out apart from the program's writer.
std::string recordOf(const std::string& stamp, const std::string& hex1, const std::string& hex2) {
    return stamp + "  COM1:  RTS=1 DTR=1 DCD=0 DSR=0 CTS=0   Data=" + hex1 +
           "\r\n             COM2:  RTS=1 DTR=1 DCD=0 DSR=0 CTS=0   Data=" + hex2 + "\r\n\r\n";
}

// A record the sink refuses (a full disk) is dropped; the row is shown and the next is recorded.
TEST(RecordingCapture, ARefusedRecordIsDroppedWhileCaptureAndRecordingGoOn) {
    Rig rig;
    rig.switchBothOn();
    rig.runAuto();
    rig.core.setRecording(true);
    rig.records.failing = true;
    rig.line2.peerSend("lost");
    rig.runMs(100);
    rig.records.failing = false;
    rig.line2.peerSend("ok");
    rig.runMs(100);
    EXPECT_EQ(rig.cells(0) + " " + rig.cells(1), "||lost|4 ||ok|2");
    EXPECT_TRUE(rig.core.recording());
    EXPECT_NE(rig.records.text.find("Data= 6F 6B\r\n\r\n"), std::string::npos);
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
    core.load();  // makes the folder the saves below write in
    core.switchPort(1, true);
    core.switchPort(2, true);
    core.setAutoFraming(true);
    core.start();
    const auto recordFolder = [&](const std::string& path) {
        core.typeSetting(SettingField::RecordFolder, path);
        core.saveSettings();
    };
    // A one-byte packet at 1200 baud with parity ends 9.17 ms + the 10 ms gap after it is sent.
    const auto packet = [&](SimLine& line, const std::string& byte) {
        line.peerSend(byte);
        loop.runFor(ms(100));
    };

    // A file that cannot be created: one message naming it, the box cleared, no folder made.
    recordFolder(folder + "absent/");
    core.setRecording(true);
    EXPECT_FALSE(core.view().recording);
    ASSERT_EQ(host.messages.size(), 1u);
    EXPECT_NE(host.messages[0].find(folder + "absent/Linetap"), std::string::npos);
    EXPECT_FALSE(pathExists(folder + "absent"));

    recordFolder(folder);
    core.setRecording(true);
    packet(line1, "A");  // recorded at 14:05:09.389
    core.setRecording(false);
    packet(line1, "X");    // the box is clear: no record
    loop.runFor(ms(300));  // 14:05:09.870: the same file goes on
    core.setRecording(true);
    recordFolder(folder + "elsewhere");  // saving touches the settings only, not the open file
    ASSERT_EQ(core.settings().recordFolder, folder + "elsewhere/");
    EXPECT_TRUE(core.recording());
    packet(line2, "B");  // recorded at 14:05:09.889
    core.setRecording(false);
    loop.runFor(ms(100));  // 14:05:10.070: a new file
    recordFolder(folder);
    core.setRecording(true);
    packet(line1, "C");  // recorded at 14:05:10.089

    const QStringList files = QDir(dir.path()).entryList(QDir::Files, QDir::Name);
    ASSERT_EQ(files,
              (QStringList{"Linetap 6 Dec 2026 14_05_09.txt", "Linetap 6 Dec 2026 14_05_10.txt"}));
    EXPECT_EQ(readBytes(folder + files[0].toStdString()),
              recordOf("14:05:09,39", " 41", "") + recordOf("14:05:09,89", "", " 42"));
    // Each record is on disk as soon as it is written, while the file is still open.
    EXPECT_EQ(readBytes(folder + files[1].toStdString()), recordOf("14:05:10,09", " 43", ""));
    EXPECT_EQ(host.messages.size(), 1u);
}

TEST(CaptureFile, BesideTheRecordOrToldAndItsTickClearedAndKeptWithinTheSecond) {
    QTemporaryDir dir;
    ASSERT_TRUE(dir.isValid());
    const std::string folder = dir.path().toStdString() + "/";
    Rig rig;
    Core& core = rig.core;
    rig.host.env["ProgramFiles"] = dir.path().toStdString();  // where the choice is kept
    Settings settings = core.settings();
    settings.recordFolder = folder + "absent/";
    core.useSettings(settings);
    rig.switchBothOn();
    rig.runAuto();

    core.setCaptureBesideRecord(true);
    core.setRecording(true);
    ASSERT_EQ(rig.host.messages.size(), 1u);
    EXPECT_TRUE(rig.host.messages[0].starts_with("Не удалось")) << rig.host.messages[0];
    EXPECT_TRUE(core.recording());
    EXPECT_FALSE(core.view().captureBesideRecord);
    core.setRecording(false);
    settings.recordFolder = folder;
    core.useSettings(settings);

    core.setCaptureBesideRecord(true);
    for (const auto& [line, bytes] : {std::pair{&rig.line1, "A"}, {&rig.line2, "B"}}) {
        core.setRecording(true);
        line->peerSend(bytes);
        rig.runMs(100);
        core.setRecording(false);
    }
    const std::string capture = captureFileBeside(rig.records.path);
    EXPECT_EQ(capture, folder + "Linetap 6 Dec 2026 14_05_09.pcapng");
    const test::PcapngFile f = test::readPcapng(readBytes(capture));
    ASSERT_TRUE(f.ok()) << f.error;
    EXPECT_EQ(f.ofType(pcapng::kSectionHeaderType).size(), 2u);
    std::string payloads;  // the ends of the runs carry none
    for (const auto& p : f.ofType(pcapng::kEnhancedPacketType)) payloads += p.rtac->payload;
    EXPECT_EQ(payloads, "AB");
    EXPECT_EQ(rig.host.messages.size(), 1u);
}

TEST(FileRecordSink, WritesRecordsWholeOrNotAtAllAndTriesTheNextAgain) {
    QTemporaryDir dir;
    ASSERT_TRUE(dir.isValid());
    const std::string path = dir.path().toStdString() + "/r.txt";
    FileRecordSink sink;
    ASSERT_TRUE(sink.open(path));
    // A size limit lets the second record through only in part; that part is cut off again.
    EXPECT_TRUE(sink.append(std::string(60, 'a')));
    EXPECT_FALSE(withFileSizeLimit(100, [&] { return sink.append(std::string(60, 'b')); }));
    EXPECT_TRUE(sink.append("c"));
    EXPECT_EQ(readBytes(path), std::string(60, 'a') + "c");

    EXPECT_TRUE(sink.isOpen()) << "a refused record leaves the file open for the next";

    // Opening it again to append: what open() tries and takes back leaves the file as it was.
    ASSERT_TRUE(sink.open(path));
    EXPECT_EQ(readBytes(path), std::string(60, 'a') + "c");
    // A place that takes no record (a full disk) is refused at the opening, with the reason.
    EXPECT_FALSE(sink.open("/dev/full"));
    EXPECT_EQ(sink.problem(), std::strerror(ENOSPC));
    EXPECT_FALSE(withFileSizeLimit(1000, [&] { return sink.open(path); }));
    EXPECT_EQ(readBytes(path), std::string(60, 'a') + "c");

    EXPECT_FALSE(sink.open(dir.path().toStdString() + "/no/such/r.txt"));
    EXPECT_FALSE(sink.isOpen());
    EXPECT_FALSE(sink.append("closed")) << "a closed sink refuses";
}

}  // namespace
}  // namespace lt::sim
