#include "settings/settings_store.h"

#include <sys/stat.h>

#include <QSettings>
#include <QString>

#include "settings/settings_file.h"

namespace lt {

namespace {

// Makes one folder level; its parent must exist. A failure is left for the file steps to meet.
void makeFolder(const std::string& folder, mode_t mode) {
    if (!pathExists(folder)) ::mkdir(folder.c_str(), mode);
}

// A stored interval that is 0 (or negative, which no timer can run) stands for the default.
i16 intervalOrDefault(i16 stored, i16 fallback) {
    return stored > 0 ? stored : fallback;
}

}  // namespace

void SettingsStore::load() {
    bool configHome = false;
    const std::string base = programBaseFolder(host_, &configHome);
    const std::string folder = programFolder(host_);
    // The user's configuration folder may be missing on a fresh account; it is made private.
    if (configHome) makeFolder(base, 0700);
    makeFolder(folder, 0777);

    const std::string file = settingsFile(folder);
    StoredSettings s;
    if (pathExists(file)) {
        if (auto read = readSettings(file)) {
            s = *read;
            if (!identityMatches(s)) {
                setDefaults(s);
                writeSettings(file, s);
            }
        } else {
            // Unreadable: the defaults serve, and the file is left alone rather than overwritten.
            setDefaults(s);
        }
    } else {
        setDefaults(s);
        writeSettings(file, s);
    }

    values_.recordFolder = withSlash(s.recordFolder.empty() ? folder : s.recordFolder);
    values_.gapMs = intervalOrDefault(s.gapMs, kDefaultGapInterval);
    values_.pollMs = intervalOrDefault(s.pollMs, kDefaultPollInterval);
    values_.lineDelayMs = intervalOrDefault(s.lineDelayMs, kDefaultServiceDelay);

    const QSettings prefs(QString::fromLocal8Bit(preferencesFile().c_str()), QSettings::IniFormat);
    captureBesideRecord_ = prefs.value("record/pcapng", false).toBool();
}

std::string SettingsStore::preferencesFile() const {
    return programFolder(host_) + "linetap.ini";
}

void SettingsStore::setCaptureBesideRecord(bool on) {
    captureBesideRecord_ = on;
    if (!keepPreferences_) return;
    QSettings prefs(QString::fromLocal8Bit(preferencesFile().c_str()), QSettings::IniFormat);
    prefs.setValue("record/pcapng", on);
}

bool SettingsStore::save() const {
    StoredSettings s;
    s.recordFolder = values_.recordFolder;
    s.gapMs = values_.gapMs;
    s.pollMs = values_.pollMs;
    s.lineDelayMs = values_.lineDelayMs;
    s.product = kProductWord;
    s.version = kVersionWord;
    return writeSettings(settingsFile(programFolder(host_)), s);
}

}  // namespace lt
