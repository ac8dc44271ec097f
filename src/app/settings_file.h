#pragma once

#include <cstddef>
#include <optional>
#include <string>
#include <string_view>

#include "engine/host.h"
#include "engine/types.h"

namespace lt {

// The settings file: six records of 500 bytes, little-endian. Record 1 the record folder,
// 2 to 4 the gap, poll and service intervals, 5 and 6 the identity "Linetap" / "v.2.01".
// A text is an unsigned 16-bit byte count and the bytes; an integer is 16-bit two's complement.
inline constexpr std::size_t kSettingsRecordSize = 500;
inline constexpr std::size_t kSettingsRecordCount = 6;
inline constexpr std::size_t kSettingsFileSize = kSettingsRecordSize * kSettingsRecordCount;
inline constexpr std::size_t kSettingsMaxText = kSettingsRecordSize - 2;  // 498

inline constexpr char kProductWord[] = "Linetap";
inline constexpr char kVersionWord[] = "v.2.01";

inline constexpr i16 kDefaultGapInterval = 10;
inline constexpr i16 kDefaultPollInterval = 100;
inline constexpr i16 kDefaultServiceDelay = 100;

// What the file holds: the four values and the identity pair.
struct StoredSettings {
    std::string Data_Path;
    i16 Gap_Interval = 0;
    i16 Poll_Interval = 0;
    i16 Service_Delay = 0;
    std::string Product;
    std::string Version;

    bool operator==(const StoredSettings&) const = default;
};

// Reads a file's bytes, of any size and content. Only the first six records count; a record
// that is missing, cut short, or whose length field runs past its record reads as empty text or 0.
StoredSettings Parse_Settings(std::string_view bytes);

// The 3000 bytes of a file, fillers zero. Nothing when a text does not fit its record.
std::optional<std::string> Serialize_Settings(const StoredSettings& s);

// Intervals 10 / 100 / 100 and the identity of this version; the folder is left as it is.
void Settings_Defaults(StoredSettings& s);

bool Identity_Matches(const StoredSettings& s);

// The program's own folder, ending with "/": $ProgramFiles (leading blanks removed) when set,
// else $XDG_CONFIG_HOME or $HOME/.config; then "Linetap v.2.01/".
std::string Program_Folder(const Host& host);

// The folder the program folder is made in, ending with "/", and whether it is the user's
// configuration folder (which the program may create) rather than a given one.
std::string Program_Base_Folder(const Host& host, bool* isConfigHome = nullptr);

// The settings file in `folder` (which ends with "/").
std::string Settings_File(const std::string& folder);

// A folder name as the program keeps it: ending with "/".
std::string With_Slash(std::string folder);

// True when a file or folder of that name exists; any error while looking counts as false.
bool Path_Exists(const std::string& path);

// Reads the settings file; nothing when it cannot be opened or read.
std::optional<StoredSettings> Settings_Read(const std::string& file);

// Writes the whole file through a temporary file in the same folder renamed over the old one,
// so the old file stays whole until the new one is complete. False when anything failed.
bool Settings_Write(const std::string& file, const StoredSettings& s);

}  // namespace lt
