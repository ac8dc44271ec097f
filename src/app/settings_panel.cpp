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
    const std::optional<long> v = Convert_Whole_Number(text, core.Locale, -32768, 32767);
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
    form.Text4.Text = Data_Path;
    form.Text8.Text = std::to_string(Gap_Interval);
    form.Text9.Text = std::to_string(Poll_Interval);
}

// "Сохранить": the record folder is taken first, whatever follows; then the three intervals, each
// on its own; the file is written only when all three were taken and everything fits the file.
void Core::Command4_Click() {
    Data_Path = With_Slash(form.Text4.Text);

    const Conversion results[] = {
        convertInterval(*this, form.Text8.Text, Gap_Interval),
        convertInterval(*this, form.Text9.Text, Poll_Interval),
        convertInterval(*this, form.Text10.Text, Service_Delay),
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
    if (Data_Path.size() > kSettingsMaxText) {
        host.showMessage(kPathTooLongMessage);
        return;
    }

    StoredSettings s;
    s.Data_Path = Data_Path;
    s.Gap_Interval = Gap_Interval;
    s.Poll_Interval = Poll_Interval;
    s.Service_Delay = Service_Delay;
    s.Product = kProductWord;
    s.Version = kVersionWord;
    // A file that cannot be written is not reported; the values stay in force for this run.
    Settings_Write(Settings_File(Program_Folder(host)), s);
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
