// The stations of tremcvt.ini as the launcher and the batch program see
// them: [system] nsta, and for every station number n the section sta<n>
// with its name and its WIN directory ("dir" of the section, else "dir" of
// [system]). The converter's own view of the same sections (channel keys) is
// converter/driver/station_list.
#pragma once

#include <cstddef>
#include <optional>
#include <string>
#include <vector>

namespace tremcvt {

// Buffer sizes of the profile reads; a longer value is cut one short of them.
inline constexpr std::size_t kStationNameBuffer = 8;
inline constexpr std::size_t kStationDirBuffer = 128;

// One station of the settings file, kept in file order whether its name is
// empty or not.
struct StationEntry {
    std::string name;
    std::string dataDirectory;
};

// Every station number from 0 to nsta - 1 of the settings file at path, in
// file order. A missing file gives one station with an empty name.
std::vector<StationEntry> readStationEntries(const std::string& path);

// A station name as the station list shows it and hands it on: upper-cased.
std::string stationCodeOf(const std::string& name);

// The names the station list offers: upper-cased, sorted, empty names left
// out, equal names kept as often as they occur.
std::vector<std::string> stationListNames(const std::vector<StationEntry>& stations);

// The data directory for a selected name: that of the last entry, in file
// order, whose name equals it without regard to case; nothing when none does.
std::optional<std::string> stationDirectory(const std::vector<StationEntry>& stations,
                                            const std::string& selectedName);

}  // namespace tremcvt
