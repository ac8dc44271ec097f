// The start-up load: defaults, a file of another version, zeros standing for defaults, and a
// folder or file that cannot be made or read.
#include <gtest/gtest.h>

#include "app/settings_file.h"
#include "settings_test_support.h"

namespace lt::sim {
namespace {

using SettingsLoad = SettingsRig;

TEST_F(SettingsLoad, FirstStartMakesTheFolderAndAFileOfDefaults) {
    core.Settings_Load();
    EXPECT_TRUE(QDir(QString::fromStdString(folder)).exists());
    EXPECT_EQ(readBytes(file), goldenSettings("", 10, 100, 100));
    EXPECT_EQ(core.Data_Path, folder);
    EXPECT_EQ(core.Gap_Interval, 10);
    EXPECT_EQ(core.Poll_Interval, 100);
    EXPECT_EQ(core.Service_Delay, 100);
    EXPECT_TRUE(rig.host.messages.empty());
}

TEST_F(SettingsLoad, StoredValuesAreUsedAndTheFileIsLeftAsItIs) {
    const std::string stored = goldenSettings("/srv/data", 25, 250, 7);
    putFile(stored);
    core.Settings_Load();
    EXPECT_EQ(core.Data_Path, "/srv/data/") << "the slash is added in memory only";
    EXPECT_EQ(core.Gap_Interval, 25);
    EXPECT_EQ(core.Poll_Interval, 250);
    EXPECT_EQ(core.Service_Delay, 7);
    EXPECT_EQ(readBytes(file), stored);
}

TEST_F(SettingsLoad, OlderVersionIsRewrittenWithDefaultsKeepingItsFolder) {
    putFile(goldenSettings("/srv/records/", 25, 250, 50, "Linetap", "v.2.00"));
    core.Settings_Load();
    EXPECT_EQ(readBytes(file), goldenSettings("/srv/records/", 10, 100, 100));
    EXPECT_EQ(core.Data_Path, "/srv/records/");
    EXPECT_EQ(core.Gap_Interval, 10);
    EXPECT_EQ(core.Poll_Interval, 100);
    EXPECT_EQ(core.Service_Delay, 100);
}

TEST_F(SettingsLoad, IdentityComparisonIsExactAndCaseSensitive) {
    for (const auto& [product, version] : {std::pair{"linetap", "v.2.01"},
                                           {"Linetap", "V.2.01"},
                                           {"Linetap ", "v.2.01"},
                                           {"", ""}}) {
        SCOPED_TRACE(std::string(product) + "/" + version);
        putFile(goldenSettings("/x/", 1, 2, 3, product, version));
        core.Settings_Load();
        EXPECT_EQ(readBytes(file), goldenSettings("/x/", 10, 100, 100));
    }
}

TEST_F(SettingsLoad, StoredZeroLoadsAsTheDefaultWhileTheFileKeepsIt) {
    const std::string stored = goldenSettings("/d/", 0, 0, 0);
    putFile(stored);
    core.Settings_Load();
    EXPECT_EQ(core.Gap_Interval, 10);
    EXPECT_EQ(core.Poll_Interval, 100);
    EXPECT_EQ(core.Service_Delay, 100);
    EXPECT_EQ(readBytes(file), stored);
}

TEST_F(SettingsLoad, StoredNegativeIntervalLoadsAsTheDefaultToo) {
    const std::string stored = goldenSettings("/d/", -1, -32768, 40);
    putFile(stored);
    core.Settings_Load();
    EXPECT_EQ(core.Gap_Interval, 10);
    EXPECT_EQ(core.Poll_Interval, 100);
    EXPECT_EQ(core.Service_Delay, 40);
    EXPECT_EQ(readBytes(file), stored);
}

TEST_F(SettingsLoad, DamagedFilesGiveDefaultsAndAreRewritten) {
    for (const std::string& bytes :
         {std::string(), std::string("\x07"), goldenSettings("/kept/", 5, 5, 5).substr(0, 1200),
          std::string(3000, '\xff')}) {
        SCOPED_TRACE(bytes.size());
        putFile(bytes);
        core.Settings_Load();
        const std::string keptPath = bytes.size() == 1200 ? "/kept/" : "";
        EXPECT_EQ(readBytes(file), goldenSettings(keptPath, 10, 100, 100));
        EXPECT_EQ(core.Data_Path, keptPath.empty() ? folder : keptPath);
        EXPECT_EQ(core.Gap_Interval, 10);
    }
}

TEST_F(SettingsLoad, FolderThatCannotBeMadeLeavesTheDefaults) {
    rig.host.env["ProgramFiles"] = base + "absent/deeper";
    core.Settings_Load();
    EXPECT_FALSE(Path_Exists(base + "absent")) << "only one folder level is made";
    EXPECT_EQ(core.Data_Path, base + "absent/deeper/Linetap v.2.01/");
    EXPECT_EQ(core.Gap_Interval, 10);
    EXPECT_EQ(core.Poll_Interval, 100);
    EXPECT_EQ(core.Service_Delay, 100);
}

TEST_F(SettingsLoad, UnreadableFileLeavesTheDefaultsAndIsNotOverwritten) {
    // A folder where the file should be: it exists but cannot be read as a file.
    ASSERT_TRUE(QDir().mkpath(QString::fromStdString(file)));
    core.Gap_Interval = 33;
    core.Settings_Load();
    EXPECT_EQ(core.Gap_Interval, 10);
    EXPECT_EQ(core.Data_Path, folder);
    EXPECT_TRUE(QFileInfo(QString::fromStdString(file)).isDir());
}

TEST_F(SettingsLoad, WithoutProgramFilesTheUsersConfigurationFolderIsUsedAndMade) {
    rig.host.env.erase("ProgramFiles");
    rig.host.env["HOME"] = base + "home";
    ASSERT_TRUE(QDir().mkpath(QString::fromStdString(base + "home")));
    core.Settings_Load();
    const std::string expected = base + "home/.config/Linetap v.2.01/";
    EXPECT_EQ(core.Data_Path, expected);
    EXPECT_EQ(readBytes(expected + "Linetap v.2.01.eng"), goldenSettings("", 10, 100, 100));
}

}  // namespace
}  // namespace lt::sim
