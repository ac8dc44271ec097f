// The settings panel: showing and hiding, the folder picker, and "Сохранить" with its checks.
#include <gtest/gtest.h>

#include "app/settings_file.h"
#include "settings_test_support.h"

namespace lt::sim {
namespace {

const std::string kIntervals = "Интервалы должны быть целыми числами";

class SettingsPanel : public SettingsRig {
  protected:
    void SetUp() override {
        SettingsRig::SetUp();
        core.Settings_Load();
        saved = readBytes(file);
        core.mnu_Prop_Click();
        form.Text10.Text = "100";  // start-up fills it; the menu does not
    }
    void fill(const std::string& path, const std::string& gap, const std::string& poll,
              const std::string& service) {
        form.Text4.Text = path;
        form.Text8.Text = gap;
        form.Text9.Text = poll;
        form.Text10.Text = service;
    }
    std::string saved;
};

TEST_F(SettingsPanel, MenuTogglesThePanelAndShowingRefillsThreeFields) {
    EXPECT_TRUE(form.Frame7Visible);
    EXPECT_EQ(form.Text4.Text, folder);
    EXPECT_EQ(form.Text8.Text, "10");
    EXPECT_EQ(form.Text9.Text, "100");

    fill("/typed", "1", "2", "3");
    core.Command5_Click();
    core.mnu_Prop_Click();  // hiding changes nothing else
    EXPECT_FALSE(form.Frame7Visible);
    EXPECT_TRUE(form.PickersVisible);
    EXPECT_EQ(form.Command5Caption, "закрыть");
    EXPECT_EQ(form.Text4.Text, "/typed");

    core.Gap_Interval = -5;
    core.mnu_Prop_Click();
    EXPECT_TRUE(form.Frame7Visible);
    EXPECT_EQ(form.Text4.Text, folder);
    EXPECT_EQ(form.Text8.Text, "-5");
    EXPECT_EQ(form.Text9.Text, "100");
    EXPECT_EQ(form.Text10.Text, "3") << "the service delay field is not refilled";
}

TEST_F(SettingsPanel, SearchTogglesThePickersAndExitHidesEverythingWithoutSaving) {
    core.Command5_Click();
    EXPECT_TRUE(form.PickersVisible);
    EXPECT_EQ(form.Command5Caption, "закрыть");
    core.Command5_Click();
    EXPECT_FALSE(form.PickersVisible);
    EXPECT_EQ(form.Command5Caption, "поиск");

    core.Command5_Click();
    core.Dir_Change("/mnt/usb/logs");
    EXPECT_EQ(form.Text4.Text, "/mnt/usb/logs");
    form.Text8.Text = "55";
    core.Command6_Click();
    EXPECT_FALSE(form.PickersVisible);
    EXPECT_FALSE(form.Frame7Visible);
    EXPECT_EQ(form.Command5Caption, "поиск");
    EXPECT_EQ(core.Gap_Interval, 10);
    EXPECT_EQ(core.Data_Path, folder);
    EXPECT_EQ(readBytes(file), saved);

    core.mnu_Prop_Click();  // reopening discards the unsaved edits
    EXPECT_EQ(form.Text4.Text, folder);
    EXPECT_EQ(form.Text8.Text, "10");
}

TEST_F(SettingsPanel, SaveTakesThePickedFolderWithASlashAndRoundsHalvesToEven) {
    core.Dir_Change("/srv/data");
    form.Text8.Text = "12.5";
    form.Text9.Text = " 13.5 ";
    form.Text10.Text = "0";  // accepted: the delay timer then never fires
    core.Command4_Click();
    EXPECT_TRUE(rig.host.messages.empty());
    EXPECT_EQ(core.Data_Path, "/srv/data/");
    EXPECT_EQ(core.Gap_Interval, 12);
    EXPECT_EQ(core.Poll_Interval, 14);
    EXPECT_EQ(core.Service_Delay, 0);
    EXPECT_EQ(readBytes(file), goldenSettings("/srv/data/", 12, 14, 0));
    EXPECT_TRUE(form.Frame7Visible) << "the panel stays open";
    EXPECT_EQ(form.Text8.Text, "12.5") << "fields keep what was typed";
}

TEST_F(SettingsPanel, SaveReadsNumbersInTheLocalesFormat) {
    core.Locale = QLocale(QLocale::German);
    fill("/g/", "1.234", "7,5", "32767");
    core.Command4_Click();
    EXPECT_TRUE(rig.host.messages.empty());
    EXPECT_EQ(readBytes(file), goldenSettings("/g/", 1234, 8, 32767));
}

TEST_F(SettingsPanel, EmptyFolderFieldStoresTheRoot) {
    fill("", "10", "100", "100");
    core.Command4_Click();
    EXPECT_EQ(core.Data_Path, "/");
    EXPECT_EQ(readBytes(file), goldenSettings("/", 10, 100, 100));
}

TEST_F(SettingsPanel, TextThatIsNoNumberKeepsItsValueTheOthersAreTakenNothingIsWritten) {
    fill("/new", "abc", "200", "");
    core.Command4_Click();
    EXPECT_EQ(rig.host.messages, std::vector<std::string>{kIntervals});
    EXPECT_EQ(core.Data_Path, "/new/") << "the folder is taken before the checks";
    EXPECT_EQ(core.Gap_Interval, 10);
    EXPECT_EQ(core.Poll_Interval, 200);
    EXPECT_EQ(core.Service_Delay, 100);
    EXPECT_EQ(readBytes(file), saved);

    fill("/new", "40000", "1e2", "50");  // out of range, then a number the locale reads
    rig.host.messages.clear();
    core.Command4_Click();
    EXPECT_EQ(rig.host.messages, std::vector<std::string>{kIntervals});
    EXPECT_EQ(core.Gap_Interval, 10);
    EXPECT_EQ(core.Poll_Interval, 100);
    EXPECT_EQ(core.Service_Delay, 50);
    EXPECT_EQ(readBytes(file), saved);
}

TEST_F(SettingsPanel, NegativeIntervalIsRefusedAndNothingIsWritten) {
    fill("/n", "-1", "150", "-32768");
    core.Command4_Click();
    ASSERT_EQ(rig.host.messages.size(), 1u);
    EXPECT_NE(rig.host.messages[0], kIntervals);
    EXPECT_EQ(core.Gap_Interval, 10);
    EXPECT_EQ(core.Poll_Interval, 150);
    EXPECT_EQ(core.Service_Delay, 100);
    EXPECT_EQ(readBytes(file), saved);

    // A text that is no number as well: the message about whole numbers comes first.
    fill("/n", "-1", "x", "5");
    rig.host.messages.clear();
    core.Command4_Click();
    EXPECT_EQ(rig.host.messages, std::vector<std::string>{kIntervals});
    EXPECT_EQ(readBytes(file), saved);
}

TEST_F(SettingsPanel, FolderTooLongForItsRecordIsRefusedAndTheFileStaysWhole) {
    const std::string longest = "/" + std::string(496, 'p') + "/";  // 498 bytes: fits
    fill(longest, "10", "100", "100");
    core.Command4_Click();
    EXPECT_TRUE(rig.host.messages.empty());
    const std::string written = readBytes(file);
    EXPECT_EQ(written, goldenSettings(longest, 10, 100, 100));

    fill("/" + std::string(497, 'p'), "11", "100", "100");  // 499 with its slash
    core.Command4_Click();
    EXPECT_EQ(rig.host.messages.size(), 1u);
    EXPECT_EQ(readBytes(file), written);
}

TEST_F(SettingsPanel, SaveThatCannotWriteSaysNothingAndKeepsTheValues) {
    ASSERT_TRUE(QDir(QString::fromStdString(folder)).removeRecursively());
    fill("/v", "20", "200", "300");
    core.Command4_Click();
    EXPECT_TRUE(rig.host.messages.empty());
    EXPECT_EQ(core.Gap_Interval, 20);
    EXPECT_EQ(core.Service_Delay, 300);
    EXPECT_FALSE(Path_Exists(folder)) << "saving makes no folder";
}

TEST_F(SettingsPanel, SavedValuesAreWhatTheNextStartLoads) {
    fill("/next", "0", "250", "60");
    core.Command4_Click();
    Rig next;
    next.host.env = rig.host.env;
    next.core.Settings_Load();
    EXPECT_EQ(next.core.Data_Path, "/next/");
    EXPECT_EQ(next.core.Gap_Interval, 10) << "a saved 0 loads as the default";
    EXPECT_EQ(next.core.Poll_Interval, 250);
    EXPECT_EQ(next.core.Service_Delay, 60);
    EXPECT_EQ(readBytes(file), goldenSettings("/next/", 0, 250, 60));
}

}  // namespace
}  // namespace lt::sim
