#pragma once

#include <cstddef>
#include <optional>
#include <string>
#include <string_view>

#include "base/host.h"
#include "base/types.h"
#include "base/version.h"

namespace lt {

// The settings file: six records of 500 bytes, little-endian. Record 1 the record folder,
// 2 to 4 the gap, poll and service intervals, 5 and 6 the identity "Linetap" / "v.2.01".
// A text is an unsigned 16-bit byte count and the bytes; an integer is 16-bit two's complement.
inline constexpr std::size_t kSettingsRecordSize = 500;
inline constexpr std::size_t kSettingsRecordCount = 6;
inline constexpr std::size_t kSettingsFileSize = kSettingsRecordSize * kSettingsRecordCount;
inline constexpr std::size_t kSettingsMaxText = kSettingsRecordSize - 2;  // 498

// The identity pair; it also names the program folder and the settings file.
inline constexpr const char* kProductWord = kProductName;
inline const std::string kVersionWord = versionWord();

// The intervals in force until a settings file gives others, in milliseconds.
inline constexpr i16 kDefaultGapInterval = 10;
inline constexpr i16 kDefaultPollInterval = 100;
inline constexpr i16 kDefaultServiceDelay = 100;

// What the file holds: the four values and the identity pair.
struct StoredSettings {
    std::string recordFolder;
    i16 gapMs = 0;
    i16 pollMs = 0;
    i16 lineDelayMs = 0;
    std::string product;
    std::string version;

    bool operator==(const StoredSettings&) const = default;
};

// Reads a file's bytes, of any size and content. Only the first six records count; a record
// that is missing, cut short, or whose length field runs past its record reads as empty text or 0.
StoredSettings parseSettings(std::string_view bytes);

// The 3000 bytes of a file, fillers zero. Nothing when a text does not fit its record.
std::optional<std::string> serializeSettings(const StoredSettings& s);

// The default intervals and the identity of this version; the folder is left as it is.
void setDefaults(StoredSettings& s);

bool identityMatches(const StoredSettings& s);

// The program's own folder, ending with "/": $ProgramFiles (leading blanks removed) when set,
// else $XDG_CONFIG_HOME or $HOME/.config; then "Linetap v.2.01/".
std::string programFolder(const Host& host);

// The folder the program folder is made in, ending with "/", and whether it is the user's
// configuration folder (which the program may create) rather than a given one.
std::string programBaseFolder(const Host& host, bool* isConfigHome = nullptr);

// The settings file in `folder` (which ends with "/").
std::string settingsFile(const std::string& folder);

// A folder name as the program keeps it: ending with "/".
std::string withSlash(std::string folder);

// True when a file or folder of that name exists; any error while looking counts as false.
bool pathExists(const std::string& path);

// Reads the settings file; nothing when it cannot be opened or read.
std::optional<StoredSettings> readSettings(const std::string& file);

// Writes the whole file through a temporary file in the same folder renamed over the old one,
// so the old file stays whole until the new one is complete. False when anything failed.
bool writeSettings(const std::string& file, const StoredSettings& s);

}  // namespace lt
