// What the launcher reads from tremcvt.ini at start: the station list with
// each station's data directory, the start time and the interval. The
// launcher never writes the file.
#pragma once

#include <optional>
#include <string>
#include <vector>

#include "common/batch/station_entries.h"
#include "common/batch/time_texts.h"

namespace tremcvt {

inline constexpr const char* kSettingsFileName = "tremcvt.ini";

// Buffer sizes of the profile reads (the station list's are with it); a
// longer value is cut one short of them.
inline constexpr std::size_t kStartTimeBuffer = 32;
inline constexpr std::size_t kIntervalBuffer = 16;
inline constexpr std::size_t kArchiveDirBuffer = 1024;

struct LauncherSettings {
    std::vector<StationEntry> stations;
    std::optional<StartTime> startTime;  // nothing when "time" is not a valid date
    std::string intervalText;            // "DDD HH:MM"
};

// "<directory>/tremcvt.ini".
std::string settingsFilePath(const std::string& directory);

// Everything the dialog shows at start, from the settings file at path. A
// missing file gives one station with an empty name, no start time and the
// interval "000 00:00".
LauncherSettings readLauncherSettings(const std::string& path);

// The archive directory handed to the converter for chosen files ("data" /
// "dir"), read afresh for every file.
std::string archiveDirectory(const std::string& settingsPath);

}  // namespace tremcvt
