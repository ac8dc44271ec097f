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
    EXPECT_EQ(readBytes(file), goldenSettings("", 10, 100, 100));
    EXPECT_EQ(valuesOf(core), Values(folder, 10, 100, 100));
    EXPECT_TRUE(rig.host.messages.empty());

    // Without ProgramFiles the user's configuration folder is used, and made when missing.
    rig.host.env.erase("ProgramFiles");
    rig.host.env["HOME"] = base + "home";
    ASSERT_TRUE(QDir().mkpath(QString::fromStdString(base + "home")));
    core.Settings_Load();
    const std::string config = base + "home/.config/Linetap v.2.01/";
    EXPECT_EQ(readBytes(config + "Linetap v.2.01.eng"), goldenSettings("", 10, 100, 100));
    EXPECT_EQ(core.recordFolder, config);
}

TEST_F(SettingsLoad, StoredValuesAreUsedAZeroOrNegativeOneStandsForTheDefaultTheFileIsKept) {
    // The slash is added in memory only.
    for (const auto& [stored, loaded] :
         {std::pair{goldenSettings("/srv/data", 25, 250, 7), Values("/srv/data/", 25, 250, 7)},
          {goldenSettings("/d/", 0, 0, 0), Values("/d/", 10, 100, 100)},
          {goldenSettings("/d/", -1, -32768, 40), Values("/d/", 10, 100, 40)}}) {
        putFile(stored);
        core.Settings_Load();
        EXPECT_EQ(valuesOf(core), loaded);
        EXPECT_EQ(readBytes(file), stored);
    }
}

TEST_F(SettingsLoad, OtherVersionOrDamagedFileIsRewrittenWithDefaultsKeepingAStoredFolder) {
    const std::pair<std::string, std::string> cases[] = {
        {goldenSettings("/srv/records/", 25, 250, 50, "Linetap", "v.2.00"), "/srv/records/"},
        // The identity is compared exactly, case and all.
        {goldenSettings("/x/", 1, 2, 3, "linetap", "v.2.01"), "/x/"},
        {goldenSettings("/x/", 1, 2, 3, "Linetap", "V.2.01"), "/x/"},
        {goldenSettings("/x/", 1, 2, 3, "Linetap ", "v.2.01"), "/x/"},
        {goldenSettings("/x/", 1, 2, 3, "", ""), "/x/"},
        {"", ""},
        {"\x07", ""},
        {goldenSettings("/kept/", 5, 5, 5).substr(0, 1200), "/kept/"},
        {std::string(3000, '\xff'), ""},
    };
    for (std::size_t i = 0; i < std::size(cases); ++i) {
        SCOPED_TRACE(i);
        const auto& [bytes, kept] = cases[i];
        putFile(bytes);
        core.Settings_Load();
        EXPECT_EQ(readBytes(file), goldenSettings(kept, 10, 100, 100));
        EXPECT_EQ(valuesOf(core), Values(kept.empty() ? folder : kept, 10, 100, 100));
    }
}

TEST_F(SettingsLoad, FolderOrFileThatCannotBeMadeOrReadLeavesTheDefaults) {
    rig.host.env["ProgramFiles"] = base + "absent/deeper";
    core.gapMs = 33;
    core.Settings_Load();
    EXPECT_FALSE(pathExists(base + "absent")) << "only one folder level is made";
    EXPECT_EQ(valuesOf(core), Values(base + "absent/deeper/Linetap v.2.01/", 10, 100, 100));

    // A folder where the file should be: it exists but cannot be read, and is not overwritten.
    rig.host.env["ProgramFiles"] = dir.path().toStdString();
    ASSERT_TRUE(QDir().mkpath(QString::fromStdString(file)));
    core.gapMs = 33;
    core.Settings_Load();
    EXPECT_EQ(valuesOf(core), Values(folder, 10, 100, 100));
    EXPECT_TRUE(QFileInfo(QString::fromStdString(file)).isDir());
}

}  // namespace
}  // namespace lt::sim
