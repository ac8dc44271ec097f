// The settings panel: showing and hiding, the folder picker, and "Сохранить" with its checks.
#include <gtest/gtest.h>

#include <array>

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
    void fill(const std::array<std::string, 4>& texts) {
        form.Text4.Text = texts[0];
        form.Text8.Text = texts[1];
        form.Text9.Text = texts[2];
        form.Text10.Text = texts[3];
    }
    std::tuple<std::string, std::string, std::string, std::string> fields() const {
        return {form.Text4.Text, form.Text8.Text, form.Text9.Text, form.Text10.Text};
    }
    std::string saved;
};

TEST_F(SettingsPanel, MenuSearchAndExitShowAndHideThePartsWithoutSaving) {
    EXPECT_TRUE(form.Frame7Visible);
    fill({"/typed", "1", "2", "3"});
    core.Command5_Click();
    EXPECT_TRUE(form.PickersVisible);
    EXPECT_EQ(form.Command5Caption, "закрыть");
    core.Command5_Click();
    EXPECT_FALSE(form.PickersVisible);
    EXPECT_EQ(form.Command5Caption, "поиск");
    core.Command5_Click();
    core.Dir_Change("/mnt/usb/logs");
    core.mnu_Prop_Click();  // hiding changes nothing else
    EXPECT_FALSE(form.Frame7Visible);
    EXPECT_TRUE(form.PickersVisible);
    EXPECT_EQ(fields(), std::tuple("/mnt/usb/logs", "1", "2", "3"));

    // Showing refills the folder, gap and poll fields from the values in force, not the delay.
    core.gapMs = -5;
    core.mnu_Prop_Click();
    EXPECT_TRUE(form.Frame7Visible);
    EXPECT_EQ(fields(), std::tuple(folder, "-5", "100", "3"));

    fill({"/typed", "55", "2", "3"});
    core.Command6_Click();
    EXPECT_FALSE(form.PickersVisible);
    EXPECT_FALSE(form.Frame7Visible);
    EXPECT_EQ(form.Command5Caption, "поиск");
    EXPECT_EQ(valuesOf(core), Values(folder, -5, 100, 100));
    EXPECT_EQ(readBytes(file), saved);
}

TEST_F(SettingsPanel,
       SaveTakesTheFolderWithASlashAndWholeNumbersInTheLocalesFormatAndWritesWhatItCan) {
    const std::string longest = "/" + std::string(496, 'p') + "/";  // 498 bytes: fits
    const std::tuple<QLocale, std::array<std::string, 4>, Values> cases[] = {
        // Halves round to even; a delay of 0 is taken (its timer then never fires).
        {QLocale::c(), {"/srv/data", "12.5", " 13.5 ", "0"}, {"/srv/data/", 12, 14, 0}},
        {QLocale(QLocale::German), {"/g/", "1.234", "7,5", "32767"}, {"/g/", 1234, 8, 32767}},
        {QLocale::c(), {"", "10", "100", "100"}, {"/", 10, 100, 100}},
        {QLocale::c(), {longest, "10", "100", "100"}, {longest, 10, 100, 100}},
    };
    for (const auto& [locale, texts, taken] : cases) {
        core.Locale = locale;
        fill(texts);
        core.Command4_Click();
        EXPECT_TRUE(rig.host.messages.empty());
        EXPECT_EQ(valuesOf(core), taken);
        const auto& [path, gap, poll, service] = taken;
        EXPECT_EQ(readBytes(file), goldenSettings(path, gap, poll, service));
        EXPECT_TRUE(form.Frame7Visible) << "the panel stays open";
        EXPECT_EQ(form.Text8.Text, texts[1]) << "fields keep what was typed";
    }
    // A file that cannot be written is not reported; the values stay in force, no folder is made.
    ASSERT_TRUE(QDir(QString::fromStdString(folder)).removeRecursively());
    fill({"/v", "20", "200", "300"});
    core.Command4_Click();
    EXPECT_TRUE(rig.host.messages.empty());
    EXPECT_EQ(valuesOf(core), Values("/v/", 20, 200, 300));
    EXPECT_FALSE(pathExists(folder));
}

TEST_F(SettingsPanel, RefusedInputGivesOneMessageTakesWhatItCanAndWritesNothing) {
    const std::string tooLong = "/" + std::string(497, 'p');  // 499 bytes with its slash
    const std::tuple<std::array<std::string, 4>, bool, Values> cases[] = {
        // The folder is taken before the checks, each interval on its own.
        {{"/new", "abc", "200", ""}, true, {"/new/", 1, 200, 3}},
        {{"/new", "40000", "1e2", "50"}, true, {"/new/", 1, 100, 50}},  // out of range; 1e2 reads
        {{"/n", "-1", "150", "-32768"}, false, {"/n/", 1, 150, 3}},
        {{"/n", "-1", "x", "5"}, true, {"/n/", 1, 2, 5}},  // whole numbers are asked for first
        {{tooLong, "11", "100", "100"}, false, {tooLong + "/", 11, 100, 100}},
    };
    for (const auto& [texts, wholeNumbers, taken] : cases) {
        SCOPED_TRACE(texts[1]);
        rig.host.messages.clear();
        core.gapMs = 1;
        core.pollMs = 2;
        core.lineDelayMs = 3;
        fill(texts);
        core.Command4_Click();
        ASSERT_EQ(rig.host.messages.size(), 1u);
        EXPECT_EQ(rig.host.messages[0] == kIntervals, wholeNumbers) << rig.host.messages[0];
        EXPECT_EQ(valuesOf(core), taken);
        EXPECT_EQ(readBytes(file), saved);
    }
}

}  // namespace
}  // namespace lt::sim
