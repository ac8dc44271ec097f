// The settings file: its exact bytes, reading files of any size and content, the replacing write.
#include <gtest/gtest.h>
#include <sys/stat.h>
#include <unistd.h>

#include "settings/settings_file.h"
#include "settings_test_support.h"

namespace lt::sim {
namespace {

StoredSettings settings(std::string path, i16 gap, i16 poll, i16 lineDelay,
                        std::string product = kStoredProduct,
                        std::string version = kStoredVersion) {
    return {std::move(path), gap, poll, lineDelay, std::move(product), std::move(version)};
}

TEST(SettingsBytes, TheRecordLayoutWrittenAndReadWhateverTheFileHolds) {
    const std::string longest = "/" + std::string(497, 'p');
    for (const StoredSettings& s :
         {settings("/home/u/data/", 10, 100, 100), settings(longest, -2, 32767, -32768),
          settings(std::string("/d\xe0\xff\x01/", 6), 0, -7, 1)}) {
        const auto out = serializeSettings(s);
        ASSERT_TRUE(out);
        EXPECT_EQ(*out, goldenSettings(s.recordFolder, s.gapMs, s.pollMs, s.lineDelayMs));
        EXPECT_EQ(parseSettings(*out), s);
    }
    EXPECT_FALSE(serializeSettings(settings(longest + "/", 1, 2, 3)));
    EXPECT_FALSE(serializeSettings(settings("", 1, 2, 3, std::string(499, 'L'))));

    // Missing, cut or broken records read as empty text or zero.
    const std::string good = goldenSettings("/data/", 25, 250, 50);
    std::string bad = good;
    bad.replace(0, 2, "\xf3\x01");  // 499: runs one byte into record 2
    bad.replace(2000, 2, "\xff\xff");
    const std::pair<std::string, StoredSettings> cases[] = {
        {"", settings("", 0, 0, 0, "", "")},
        {good.substr(0, 1), settings("", 0, 0, 0, "", "")},
        {good.substr(0, 501), settings("/data/", 0, 0, 0, "", "")},
        {good.substr(0, 2000), settings("/data/", 25, 250, 50, "", "")},
        {good.substr(0, 2005), settings("/data/", 25, 250, 50, "", "")},  // product cut short
        {good.substr(0, 2508), settings("/data/", 25, 250, 50)},  // the last filler is missing
        {good + std::string(5000, '\x55'), settings("/data/", 25, 250, 50)},  // beyond: ignored
        {bad, settings("", 25, 250, 50, "", kStoredVersion)},
    };
    for (const auto& [bytes, expected] : cases) EXPECT_EQ(parseSettings(bytes), expected);
}

TEST(SettingsFiles, ReadingTakesOnlyRegularFilesAndAFailedWriteKeepsTheOldFileWhole) {
    QTemporaryDir dir;
    ASSERT_TRUE(dir.isValid());
    const std::string path = dir.path().toStdString() + "/s.eng";
    EXPECT_FALSE(readSettings(path).has_value()) << "missing";
    EXPECT_FALSE(readSettings(dir.path().toStdString()).has_value()) << "a folder";
    ASSERT_EQ(mkfifo(path.c_str(), 0600), 0);
    EXPECT_FALSE(readSettings(path).has_value()) << "a FIFO must not hang the reader";
    ASSERT_EQ(::unlink(path.c_str()), 0);

    std::string huge = goldenSettings("/data/", 25, 250, 50);
    huge.resize(16 * 1024 * 1024, '\x42');
    ASSERT_TRUE(writeBytes(path, huge));
    EXPECT_EQ(readSettings(path), settings("/data/", 25, 250, 50));

    // The write replaces the whole file; what fails leaves it whole. No temporary stays behind.
    ASSERT_TRUE(writeSettings(path, settings("/a/", 1, 2, 3)));
    EXPECT_FALSE(writeSettings(path, settings(std::string(499, 'p'), 1, 2, 3)));
    EXPECT_FALSE(writeSettings(dir.path().toStdString() + "/absent/s.eng", settings("", 1, 2, 3)));
    EXPECT_EQ(readBytes(path), goldenSettings("/a/", 1, 2, 3));
    EXPECT_EQ(QDir(dir.path()).entryList(QDir::AllEntries | QDir::NoDotAndDotDot),
              QStringList{"s.eng"});
}

}  // namespace
}  // namespace lt::sim
