#include <optional>

#include "app/number_conversion.h"
#include "app/settings_file.h"
#include "engine/core.h"

namespace lt {

namespace {

constexpr char kIntervalsMessage[] = "Интервалы должны быть целыми числами";
constexpr char kNegativeMessage[] = "Интервалы не могут быть отрицательными";
constexpr char kPathTooLongMessage[] =
    "Путь для хранения данных слишком длинный: в файле настроек помещается не более 498 байт";

enum class Conversion { Taken, NotANumber, Negative };

// One field into one interval: a whole number in the locale's format within the 16-bit range.
// A negative interval is refused too: no timer can run it. A refused text leaves the value.
Conversion convertInterval(const Core& core, const std::string& text, i16& value) {
    const std::optional<long> v = convertWholeNumber(text, core.Locale, -32768, 32767);
    if (!v) return Conversion::NotANumber;
    if (*v < 0) return Conversion::Negative;
    value = static_cast<i16>(*v);
    return Conversion::Taken;
}

}  // namespace

// "Настройка": shows or hides the panel; showing it refills the fields from the present values.
void Core::mnu_Prop_Click() {
    if (form.Frame7Visible) {
        form.Frame7Visible = false;
        return;
    }
    form.Frame7Visible = true;
    form.Text4.Text = recordFolder;
    form.Text8.Text = std::to_string(gapMs);
    form.Text9.Text = std::to_string(pollMs);
}

// "Сохранить": the record folder is taken first, whatever follows; then the three intervals, each
// on its own; the file is written only when all three were taken and everything fits the file.
void Core::Command4_Click() {
    recordFolder = withSlash(form.Text4.Text);

    const Conversion results[] = {
        convertInterval(*this, form.Text8.Text, gapMs),
        convertInterval(*this, form.Text9.Text, pollMs),
        convertInterval(*this, form.Text10.Text, lineDelayMs),
    };
    bool notANumber = false, negative = false;
    for (Conversion r : results) {
        notANumber |= r == Conversion::NotANumber;
        negative |= r == Conversion::Negative;
    }
    if (notANumber) {
        host.showMessage(kIntervalsMessage);
        return;
    }
    if (negative) {
        host.showMessage(kNegativeMessage);
        return;
    }
    if (recordFolder.size() > kSettingsMaxText) {
        host.showMessage(kPathTooLongMessage);
        return;
    }

    StoredSettings s;
    s.recordFolder = recordFolder;
    s.gapMs = gapMs;
    s.pollMs = pollMs;
    s.lineDelayMs = lineDelayMs;
    s.product = kProductWord;
    s.version = kVersionWord;
    // A file that cannot be written is not reported; the values stay in force for this run.
    writeSettings(settingsFile(programFolder(host)), s);
}

// "поиск" / "закрыть": shows or hides the folder picker.
void Core::Command5_Click() {
    form.PickersVisible = !form.PickersVisible;
    form.Command5Caption = form.PickersVisible ? "закрыть" : "поиск";
}

// "Выйти": hides the pickers and the panel; nothing is saved.
void Core::Command6_Click() {
    form.PickersVisible = false;
    form.Command5Caption = "поиск";
    form.Frame7Visible = false;
}

// The folder picker moved: its path goes into the record-folder field.
void Core::Dir_Change(const std::string& path) {
    form.Text4.Text = path;
}

}  // namespace lt
