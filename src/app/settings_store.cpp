#include <sys/stat.h>

#include "app/settings_file.h"
#include "engine/core.h"

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

// Start-up load: the program folder is made when missing, the file read, a missing file or one
// of another version replaced by the defaults (a stored record folder survives). Nothing here
// stops the program: a folder or file that cannot be made or read leaves the defaults in force.
void Core::Settings_Load() {
    bool configHome = false;
    const std::string base = programBaseFolder(host, &configHome);
    const std::string folder = programFolder(host);
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

    recordFolder = withSlash(s.recordFolder.empty() ? folder : s.recordFolder);
    gapMs = intervalOrDefault(s.gapMs, kDefaultGapInterval);
    pollMs = intervalOrDefault(s.pollMs, kDefaultPollInterval);
    lineDelayMs = intervalOrDefault(s.lineDelayMs, kDefaultServiceDelay);
}

}  // namespace lt
