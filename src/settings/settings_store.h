#pragma once

#include <string>

#include "base/host.h"
#include "base/types.h"
#include "settings/settings_file.h"

namespace lt {

// The four settings kept between runs.
struct Settings {
    std::string recordFolder;           // where record files go; ends with "/" once loaded or saved
    i16 gapMs = kDefaultGapInterval;    // the minimum pause that ends a packet
    i16 pollMs = kDefaultPollInterval;  // the default poll period
    i16 lineDelayMs = kDefaultServiceDelay;  // how long relayed line states follow their data
};

// The settings in force and the settings file behind them: loaded once at start-up, written only
// by "Сохранить".
class SettingsStore {
public:
    explicit SettingsStore(const Host& host) : host_(host) {}

    const Settings& values() const { return values_; }
    // New values take effect at once, whether or not they are saved.
    void use(const Settings& values) { values_ = values; }

    // The program folder is made when missing, the file read, a missing file or one of another
    // version replaced by the defaults (a stored record folder survives). Nothing here stops the
    // program: a folder or file that cannot be made or read leaves the defaults in force.
    void load();
    // Writes the values in force; false when the file could not be written.
    bool save() const;

    // Whether "Запись" also writes a pcapng capture; kept in an INI file beside the settings file
    // (the settings file's layout stays as it is).
    bool captureBesideRecord() const { return captureBesideRecord_; }
    void setCaptureBesideRecord(bool on);
    // The choice for this run only (a front end's options): the kept one is set aside, and the
    // INI file is not written again by this store.
    void useCaptureBesideRecord(bool on) {
        captureBesideRecord_ = on;
        keepPreferences_ = false;
    }

private:
    const Host& host_;
    std::string preferencesFile() const;

    Settings values_;
    bool captureBesideRecord_ = false;
    bool keepPreferences_ = true;
};

}  // namespace lt
