#pragma once

#include <QLocale>
#include <string>

#include "base/host.h"
#include "settings/settings_store.h"

namespace lt {

// The fields of the settings panel, in their order on it.
enum class SettingField { PollInterval, Gap, LineDelay, RecordFolder };

struct SettingsPanelView {
    bool visible = false;
    bool pickerVisible = false;
    std::string pollInterval, gap, lineDelay;
    std::string recordFolder;  // the bytes of the path as the file system names it
    std::string browseCaption = "поиск";
};

// The settings panel: shown and hidden from the menu, its fields filled from the settings in
// force, and "Сохранить", which takes the fields into the settings and writes the file.
class SettingsPanel {
public:
    SettingsPanel(Host& host, const QLocale& locale) : host_(host), locale_(locale) {}

    const SettingsPanelView& view() const { return view_; }

    // Start-up fills every field.
    void fill(const Settings& s);
    // "Настройка": hides the panel, or shows it with the fields refilled from the values in force
    // (unsaved edits are dropped).
    void toggle(const Settings& s);
    // "поиск" / "закрыть": shows or hides the folder picker.
    void togglePicker();
    // "Выйти": hides the picker and the panel; nothing is saved.
    void close();
    void type(SettingField field, const std::string& text);
    // The folder picker moved: its path goes into the record-folder field.
    void chooseFolder(const std::string& path) { view_.recordFolder = path; }

    // "Сохранить": the record folder is taken first, whatever follows; then the three intervals,
    // each on its own; the file is written only when all three were taken and everything fits.
    void save(SettingsStore& store);

private:
    Host& host_;
    const QLocale& locale_;
    SettingsPanelView view_;
};

}  // namespace lt
