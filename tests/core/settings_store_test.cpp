// The start-up load of the settings store: defaults, stored, foreign or damaged files.
#include <gtest/gtest.h>

#include "settings/settings_file.h"
#include "settings_test_support.h"

namespace lt::sim {
namespace {

using SettingsLoad = SettingsFolder;

TEST_F(SettingsLoad, FirstStartMakesTheFolderAndAFileOfDefaults) {
    store.load();
    EXPECT_EQ(readBytes(file), goldenSettings("", 10, 100, 100));
    EXPECT_EQ(valuesOf(store.values()), Values(folder, 10, 100, 100));
    EXPECT_TRUE(host.messages.empty());

    // Without ProgramFiles the user's configuration folder is used, and made when missing.
    host.env.erase("ProgramFiles");
    host.env["HOME"] = base + "home";
    ASSERT_TRUE(QDir().mkpath(QString::fromStdString(base + "home")));
    store.load();
    const std::string config = base + "home/.config/" + kProgramFolderName + "/";
    EXPECT_EQ(readBytes(config + kProgramFolderName + ".eng"), goldenSettings("", 10, 100, 100));
    EXPECT_EQ(store.values().recordFolder, config);
}

TEST_F(SettingsLoad, StoredValuesAreUsedAndAFileOfAnotherVersionIsRewrittenKeepingItsFolder) {
    // The slash is added in memory only; a 0 or negative interval stands for the default.
    for (const auto& [stored, loaded] :
         {std::pair{goldenSettings("/srv/data", 25, 250, 7), Values("/srv/data/", 25, 250, 7)},
          {goldenSettings("/d/", 0, 0, 0), Values("/d/", 10, 100, 100)},
          {goldenSettings("/d/", -1, -32768, 40), Values("/d/", 10, 100, 40)}}) {
        putFile(stored);
        store.load();
        EXPECT_EQ(valuesOf(store.values()), loaded);
        EXPECT_EQ(readBytes(file), stored) << "the file is kept";
    }
    // Stored bytes and the folder that survives their replacement by the defaults.
    const std::pair<std::string, std::string> replaced[] = {
        {goldenSettings("/srv/records/", 25, 250, 50, "Linetap", "v.2.00"), "/srv/records/"},
        // The identity is compared exactly, case and all.
        {goldenSettings("/x/", 1, 2, 3, "linetap", kStoredVersion), "/x/"},
        {goldenSettings("/x/", 1, 2, 3, "Linetap", "V.2.01"), "/x/"},
        {"", ""},
        {goldenSettings("/kept/", 5, 5, 5).substr(0, 1200), "/kept/"},
        {std::string(3000, '\xff'), ""},
    };
    for (const auto& [stored, kept] : replaced) {
        SCOPED_TRACE(kept);
        putFile(stored);
        store.load();
        EXPECT_EQ(readBytes(file), goldenSettings(kept, 10, 100, 100));
        EXPECT_EQ(valuesOf(store.values()), Values(kept.empty() ? folder : kept, 10, 100, 100));
    }
}

}  // namespace
}  // namespace lt::sim
