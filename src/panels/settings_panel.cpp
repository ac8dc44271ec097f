#include "panels/settings_panel.h"

#include <optional>

#include "base/number_conversion.h"
#include "settings/settings_file.h"

namespace lt {

namespace {

constexpr char kIntervalsMessage[] = "Интервалы должны быть целыми числами";
constexpr char kNegativeMessage[] = "Интервалы не могут быть отрицательными";

enum class Conversion { Taken, NotANumber, Negative };

// One field into one interval: a whole number in the locale's format within the 16-bit range.
// A negative interval is refused too: no timer can run it. A refused text leaves the value.
Conversion convertInterval(const QLocale& locale, const std::string& text, i16& value) {
    const std::optional<long> v = convertWholeNumber(text, locale, -32768, 32767);
    if (!v) return Conversion::NotANumber;
    if (*v < 0) return Conversion::Negative;
    value = static_cast<i16>(*v);
    return Conversion::Taken;
}

}  // namespace

void SettingsPanel::fill(const Settings& s) {
    view_.recordFolder = s.recordFolder;
    view_.gap = std::to_string(s.gapMs);
    view_.pollInterval = std::to_string(s.pollMs);
    view_.lineDelay = std::to_string(s.lineDelayMs);
}

void SettingsPanel::toggle(const Settings& s) {
    if (view_.visible) {
        view_.visible = false;
        return;
    }
    view_.visible = true;
    // The delay field keeps what it holds: only the folder, gap and poll fields are refilled.
    view_.recordFolder = s.recordFolder;
    view_.gap = std::to_string(s.gapMs);
    view_.pollInterval = std::to_string(s.pollMs);
}

void SettingsPanel::togglePicker() {
    view_.pickerVisible = !view_.pickerVisible;
    view_.browseCaption = view_.pickerVisible ? "закрыть" : "поиск";
}

void SettingsPanel::close() {
    view_.pickerVisible = false;
    view_.browseCaption = "поиск";
    view_.visible = false;
}

void SettingsPanel::type(SettingField field, const std::string& text) {
    switch (field) {
        case SettingField::PollInterval:
            view_.pollInterval = text;
            break;
        case SettingField::Gap:
            view_.gap = text;
            break;
        case SettingField::LineDelay:
            view_.lineDelay = text;
            break;
        case SettingField::RecordFolder:
            view_.recordFolder = text;
            break;
    }
}

void SettingsPanel::save(SettingsStore& store) {
    Settings s = store.values();
    s.recordFolder = withSlash(view_.recordFolder);

    const Conversion results[] = {
        convertInterval(locale_, view_.gap, s.gapMs),
        convertInterval(locale_, view_.pollInterval, s.pollMs),
        convertInterval(locale_, view_.lineDelay, s.lineDelayMs),
    };
    // What was taken stays in force, whatever is refused below.
    store.use(s);
    bool notANumber = false, negative = false;
    for (Conversion r : results) {
        notANumber |= r == Conversion::NotANumber;
        negative |= r == Conversion::Negative;
    }
    if (notANumber) {
        host_.showMessage(kIntervalsMessage);
        return;
    }
    if (negative) {
        host_.showMessage(kNegativeMessage);
        return;
    }
    if (s.recordFolder.size() > kSettingsMaxText) {
        host_.showMessage(
            "Путь для хранения данных слишком длинный: в файле настроек помещается не более " +
            std::to_string(kSettingsMaxText) + " байт");
        return;
    }
    // A file that cannot be written is not reported; the values stay in force for this run.
    (void)store.save();
}

}  // namespace lt
