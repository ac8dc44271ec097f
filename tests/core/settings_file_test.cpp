// The settings file: its exact bytes, reading files of any size and content, the program folder,
// and the replace-by-rename write.
#include <gtest/gtest.h>
#include <sys/stat.h>

#include <filesystem>

#include "app/settings_file.h"
#include "settings_test_support.h"

namespace lt::sim {
namespace {

StoredSettings settings(std::string path, i16 gap, i16 poll, i16 service,
                        std::string product = "Linetap", std::string version = "v.2.01") {
    return StoredSettings{std::move(path),   gap, poll, service, std::move(product),
                          std::move(version)};
}

TEST(SettingsBytes, WrittenFileMatchesTheRecordLayoutByteForByte) {
    const auto out = Serialize_Settings(settings("/home/u/data/", 10, 100, 100));
    ASSERT_TRUE(out);
    EXPECT_EQ(*out, goldenSettings("/home/u/data/", 10, 100, 100));
    // Spot checks against literal bytes: little-endian lengths and two's complement integers.
    const auto neg = *Serialize_Settings(settings("", -2, 32767, -32768));
    EXPECT_EQ(neg.size(), 3000u);
    EXPECT_EQ(neg.substr(0, 2), std::string("\0\0", 2));
    EXPECT_EQ(neg.substr(500, 2), "\xfe\xff");
    EXPECT_EQ(neg.substr(1000, 2), "\xff\x7f");
    EXPECT_EQ(neg.substr(1500, 2), std::string("\x00\x80", 2));
    EXPECT_EQ(neg.substr(2000, 9), std::string("\x07\x00Linetap", 9));
    EXPECT_EQ(neg.substr(2500, 8), std::string("\x06\x00v.2.01", 8));
    EXPECT_EQ(neg.find_first_not_of('\0', 2508), std::string::npos) << "fillers are zero";
}

TEST(SettingsBytes, TextsUpTo498BytesFitAndLongerOnesAreRefused) {
    const std::string longest = "/" + std::string(497, 'p');
    const auto out = Serialize_Settings(settings(longest, 1, 2, 3));
    ASSERT_TRUE(out);
    EXPECT_EQ(*out, goldenSettings(longest, 1, 2, 3));
    EXPECT_EQ(out->substr(0, 2), "\xf2\x01");
    EXPECT_FALSE(Serialize_Settings(settings(longest + "/", 1, 2, 3)));
    EXPECT_FALSE(Serialize_Settings(settings("", 1, 2, 3, std::string(499, 'L'))));
}

TEST(SettingsBytes, ReadingGivesBackWhatWasWritten) {
    const StoredSettings s = settings(std::string("/d\xe0\xff\x01/", 6), -7, 0, 32767);
    EXPECT_EQ(Parse_Settings(*Serialize_Settings(s)), s);
}

TEST(SettingsBytes, MissingOrBrokenRecordsReadAsEmptyTextOrZero) {
    const std::string good = goldenSettings("/data/", 25, 250, 50);
    EXPECT_EQ(Parse_Settings(""), settings("", 0, 0, 0, "", ""));
    EXPECT_EQ(Parse_Settings(good.substr(0, 1)), settings("", 0, 0, 0, "", ""));
    EXPECT_EQ(Parse_Settings(good.substr(0, 501)), settings("/data/", 0, 0, 0, "", ""));
    EXPECT_EQ(Parse_Settings(good.substr(0, 2000)), settings("/data/", 25, 250, 50, "", ""));
    // The product text is cut by the end of the file: it does not count.
    EXPECT_EQ(Parse_Settings(good.substr(0, 2005)), settings("/data/", 25, 250, 50, "", ""));
    // Filler past the last value may be missing.
    EXPECT_EQ(Parse_Settings(good.substr(0, 2508)), settings("/data/", 25, 250, 50));
    // Whatever follows the six records is not part of the settings.
    EXPECT_EQ(Parse_Settings(good + std::string(5000, '\x55')), settings("/data/", 25, 250, 50));

    std::string bad = good;
    bad[0] = static_cast<char>(499 % 256);  // runs one byte into record 2
    bad[1] = static_cast<char>(499 / 256);
    bad[2000] = '\xff';
    bad[2001] = '\xff';
    EXPECT_EQ(Parse_Settings(bad), settings("", 25, 250, 50, "", "v.2.01"));
}

TEST(SettingsBytes, EveryCorpusFileReadsSafelyAndWritesBackUnchanged) {
    const auto corpus = std::filesystem::path(__FILE__).parent_path().parent_path() / "fuzz/corpus";
    ASSERT_TRUE(std::filesystem::is_directory(corpus)) << corpus;
    int count = 0;
    for (const auto& entry : std::filesystem::directory_iterator(corpus)) {
        SCOPED_TRACE(entry.path().filename().string());
        const auto read = Settings_Read(entry.path().string());
        ASSERT_TRUE(read.has_value());
        EXPECT_EQ(*read, Parse_Settings(readBytes(entry.path().string())));
        EXPECT_LE(read->Data_Path.size(), kSettingsMaxText);
        const auto written = Serialize_Settings(*read);
        ASSERT_TRUE(written.has_value());
        EXPECT_EQ(Parse_Settings(*written), *read);
        ++count;
    }
    EXPECT_GE(count, 10);

    auto at = [&corpus](const char* name) { return *Settings_Read((corpus / name).string()); };
    EXPECT_EQ(at("length_past_record.eng").Data_Path, "");
    EXPECT_EQ(at("length_ffff.eng"), settings("", 10, 100, 100, "", ""));
    EXPECT_EQ(at("version_v200.eng"), settings("/srv/records/", 25, 250, 50, "Linetap", "v.2.00"));
    EXPECT_EQ(at("negative_intervals.eng"), settings("/data/", -1, -32768, -100));
    EXPECT_EQ(at("trailing_junk.eng"), settings("/data/", 12, 120, 30));
    EXPECT_EQ(at("one_short.eng"), settings("/data/", 10, 100, 100));
    EXPECT_EQ(at("cut_inside_product.eng"), settings("/data/", 10, 100, 100, "", ""));
    EXPECT_EQ(at("longest_path.eng").Data_Path, "/" + std::string(497, 'p'));
    EXPECT_FALSE(Identity_Matches(at("product_lowercase.eng")));
    EXPECT_FALSE(Identity_Matches(at("garbage.eng")));
}

class SettingsFiles : public ::testing::Test {
  protected:
    void SetUp() override {
        ASSERT_TRUE(dir.isValid());
        path = dir.path().toStdString() + "/s.eng";
    }
    QTemporaryDir dir;
    std::string path;
};

TEST_F(SettingsFiles, HugeFileIsReadOnlyAsFarAsTheSixRecords) {
    std::string huge = goldenSettings("/data/", 25, 250, 50);
    huge.resize(16 * 1024 * 1024, '\x42');
    ASSERT_TRUE(writeBytes(path, huge));
    EXPECT_EQ(Settings_Read(path), settings("/data/", 25, 250, 50));
}

TEST_F(SettingsFiles, WhatIsNoReadableFileGivesNothing) {
    EXPECT_FALSE(Settings_Read(path).has_value()) << "missing";
    EXPECT_FALSE(Settings_Read(dir.path().toStdString()).has_value()) << "a folder";
    ASSERT_EQ(mkfifo(path.c_str(), 0600), 0);
    EXPECT_FALSE(Settings_Read(path).has_value()) << "a FIFO must not hang the reader";
    EXPECT_FALSE(Settings_Read("").has_value());
}

TEST_F(SettingsFiles, WriteReplacesTheWholeFileAndLeavesNoTemporaryBehind) {
    ASSERT_TRUE(writeBytes(path, std::string(7000, 'x')));
    ASSERT_TRUE(Settings_Write(path, settings("/a/", 1, 2, 3)));
    EXPECT_EQ(readBytes(path), goldenSettings("/a/", 1, 2, 3));
    EXPECT_EQ(QDir(dir.path()).entryList(QDir::AllEntries | QDir::NoDotAndDotDot),
              QStringList{"s.eng"});
}

TEST_F(SettingsFiles, FailedWriteKeepsTheOldFileWhole) {
    const std::string old = goldenSettings("/old/", 10, 100, 100);
    ASSERT_TRUE(writeBytes(path, old));
    EXPECT_FALSE(Settings_Write(path, settings(std::string(499, 'p'), 1, 2, 3)));
    EXPECT_FALSE(Settings_Write(dir.path().toStdString() + "/absent/s.eng", settings("", 1, 2, 3)));
    EXPECT_EQ(readBytes(path), old);
    EXPECT_EQ(QDir(dir.path()).entryList(QDir::AllEntries | QDir::NoDotAndDotDot),
              QStringList{"s.eng"});
}

TEST_F(SettingsFiles, PathExistsForFilesAndFoldersWithOrWithoutSlash) {
    ASSERT_TRUE(writeBytes(path, "x"));
    EXPECT_TRUE(Path_Exists(path));
    EXPECT_TRUE(Path_Exists(dir.path().toStdString()));
    EXPECT_TRUE(Path_Exists(dir.path().toStdString() + "/"));
    EXPECT_FALSE(Path_Exists(path + "/"));  // a file is no folder
    EXPECT_FALSE(Path_Exists(dir.path().toStdString() + "/absent"));
    EXPECT_FALSE(Path_Exists(""));
    EXPECT_FALSE(Path_Exists(std::string("/tm\0p", 5)));
}

TEST(ProgramFolder, ProgramFilesFirstThenTheUsersConfigurationFolder) {
    VirtualLoop loop;
    TestHost host(loop);
    host.env["HOME"] = "/home/ann";
    EXPECT_EQ(Program_Folder(host), "/home/ann/.config/Linetap v.2.01/");
    host.env["XDG_CONFIG_HOME"] = "relative/cfg";  // not absolute: ignored
    EXPECT_EQ(Program_Folder(host), "/home/ann/.config/Linetap v.2.01/");
    host.env["XDG_CONFIG_HOME"] = "/cfg";
    EXPECT_EQ(Program_Folder(host), "/cfg/Linetap v.2.01/");
    host.env["ProgramFiles"] = "   ";
    EXPECT_EQ(Program_Folder(host), "/cfg/Linetap v.2.01/");
    host.env["ProgramFiles"] = "  /opt/programs";
    EXPECT_EQ(Program_Folder(host), "/opt/programs/Linetap v.2.01/");
    host.env["ProgramFiles"] = "/opt/programs/";
    EXPECT_EQ(Program_Folder(host), "/opt/programs/Linetap v.2.01/");
    EXPECT_EQ(Settings_File(Program_Folder(host)),
              "/opt/programs/Linetap v.2.01/Linetap v.2.01.eng");
}

}  // namespace
}  // namespace lt::sim
