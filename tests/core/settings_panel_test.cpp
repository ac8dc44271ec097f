// The settings panel: "Сохранить" with its checks.
#include <gtest/gtest.h>

#include <array>

#include "panels/settings_panel.h"
#include "settings/settings_file.h"
#include "settings_test_support.h"

namespace lt::sim {
namespace {

const std::string kNotWhole = "Интервалы должны быть целыми числами";
const std::string kNegative = "Интервалы не могут быть отрицательными";
const std::string kTooLong =
    "Путь для хранения данных слишком длинный: в файле настроек помещается не более 498 байт";

// The panel over a store loaded from a fresh program folder, filled and shown as at start-up.
class SettingsPanelTest : public SettingsFolder {
protected:
    void SetUp() override {
        SettingsFolder::SetUp();
        store.load();
        saved = readBytes(file);
        panel.fill(store.values());
        panel.toggle(store.values());
    }
    void type(const std::array<std::string, 4>& texts) {
        panel.type(SettingField::RecordFolder, texts[0]);
        panel.type(SettingField::Gap, texts[1]);
        panel.type(SettingField::PollInterval, texts[2]);
        panel.type(SettingField::LineDelay, texts[3]);
    }
    std::tuple<std::string, std::string, std::string, std::string> fields() const {
        const SettingsPanelView& v = panel.view();
        return {v.recordFolder, v.gap, v.pollInterval, v.lineDelay};
    }

    QLocale locale = QLocale::c();
    SettingsPanel panel{host, locale};
    std::string saved;
};

TEST_F(SettingsPanelTest, SaveTakesTheFolderWithASlashAndWholeNumbersInTheLocalesFormat) {
    const std::string longest = "/" + std::string(496, 'p') + "/";  // 498 bytes: fits
    const std::tuple<QLocale, std::array<std::string, 4>, Values> cases[] = {
        // Halves round to even; a delay of 0 is taken (its timer then never fires).
        {QLocale::c(), {"/srv/data", "12.5", " 13.5 ", "0"}, {"/srv/data/", 12, 14, 0}},
        {QLocale(QLocale::German), {"/g/", "1.234", "7,5", "32767"}, {"/g/", 1234, 8, 32767}},
        {QLocale::c(), {"", "10", "100", "100"}, {"/", 10, 100, 100}},
        {QLocale::c(), {longest, "10", "100", "100"}, {longest, 10, 100, 100}},
    };
    for (const auto& [caseLocale, texts, taken] : cases) {
        locale = caseLocale;
        type(texts);
        panel.save(store);
        EXPECT_TRUE(host.messages.empty());
        EXPECT_EQ(valuesOf(store.values()), taken);
        const auto& [path, gap, poll, lineDelay] = taken;
        EXPECT_EQ(readBytes(file), goldenSettings(path, gap, poll, lineDelay));
        EXPECT_TRUE(panel.view().visible) << "the panel stays open";
        EXPECT_EQ(panel.view().gap, texts[1]) << "fields keep what was typed";
    }
    // A file that cannot be written is not reported; the values stay in force, no folder is made.
    ASSERT_TRUE(QDir(QString::fromStdString(folder)).removeRecursively());
    type({"/v", "20", "200", "300"});
    panel.save(store);
    EXPECT_TRUE(host.messages.empty());
    EXPECT_EQ(valuesOf(store.values()), Values("/v/", 20, 200, 300));
    EXPECT_FALSE(pathExists(folder));
}

TEST_F(SettingsPanelTest, RefusedInputGivesOneMessageTakesWhatItCanAndWritesNothing) {
    const std::string tooLong = "/" + std::string(497, 'p');  // 499 bytes with its slash
    const std::tuple<std::array<std::string, 4>, std::string, Values> cases[] = {
        // The folder is taken before the checks, each interval on its own.
        {{"/new", "abc", "200", ""}, kNotWhole, {"/new/", 1, 200, 3}},
        {{"/new", "40000", "1e2", "50"}, kNotWhole, {"/new/", 1, 100, 50}},  // out of range
        {{"/n", "-1", "150", "-32768"}, kNegative, {"/n/", 1, 150, 3}},
        {{"/n", "-1", "x", "5"}, kNotWhole, {"/n/", 1, 2, 5}},  // whole numbers are asked first
        {{tooLong, "11", "100", "100"}, kTooLong, {tooLong + "/", 11, 100, 100}},
    };
    for (const auto& [texts, message, taken] : cases) {
        SCOPED_TRACE(texts[1]);
        host.messages.clear();
        const Settings s = with(with(store.values(), &Settings::gapMs, 1), &Settings::pollMs, 2);
        store.use(with(s, &Settings::lineDelayMs, 3));
        type(texts);
        panel.save(store);
        EXPECT_EQ(host.messages, std::vector{message});
        EXPECT_EQ(valuesOf(store.values()), taken);
        EXPECT_EQ(readBytes(file), saved);
    }
}

}  // namespace
}  // namespace lt::sim
