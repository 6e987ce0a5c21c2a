// What the launcher reads from tremcvt.ini at start: the station list with
// each station's data directory, the start time and the interval. The
// launcher never writes the file.
#pragma once

#include <optional>
#include <string>
#include <vector>

#include "common/batch/time_texts.h"

namespace tremcvt {

inline constexpr const char* kSettingsFileName = "tremcvt.ini";

// Buffer sizes of the profile reads; a longer value is cut one short of them.
inline constexpr std::size_t kStationNameBuffer = 8;
inline constexpr std::size_t kStationDirBuffer = 128;
inline constexpr std::size_t kStartTimeBuffer = 32;
inline constexpr std::size_t kIntervalBuffer = 16;
inline constexpr std::size_t kArchiveDirBuffer = 1024;

// One station of the settings file, kept in file order whether its name is
// empty or not.
struct StationEntry {
    std::string name;
    std::string dataDirectory;
};

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

// The names the station list offers: upper-cased, sorted, empty names left
// out, equal names kept as often as they occur.
std::vector<std::string> stationListNames(const std::vector<StationEntry>& stations);

// The data directory for a selected name: that of the last entry, in file
// order, whose name equals it without regard to case; nothing when none does.
std::optional<std::string> stationDirectory(const std::vector<StationEntry>& stations,
                                            const std::string& selectedName);

// The archive directory handed to the converter for chosen files ("data" /
// "dir"), read afresh for every file.
std::string archiveDirectory(const std::string& settingsPath);

}  // namespace tremcvt
