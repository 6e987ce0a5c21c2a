#include "common/batch/station_entries.h"

#include <algorithm>
#include <cctype>

#include "common/profile.h"

namespace tremcvt {

std::vector<StationEntry> readStationEntries(const std::string& path)
{
    std::vector<StationEntry> stations;
    const int stationCount = readProfileInt("system", "nsta", 1, path);
    const std::string systemDir = readProfileString("system", "dir", "", kStationDirBuffer, path);
    for (int n = 0; n < stationCount; ++n) {
        const std::string section = "sta" + std::to_string(n);
        StationEntry entry;
        entry.name = readProfileString(section, "name", "", kStationNameBuffer, path);
        entry.dataDirectory = readProfileString(section, "dir", systemDir, kStationDirBuffer, path);
        stations.push_back(std::move(entry));
    }
    return stations;
}

std::string stationCodeOf(const std::string& name)
{
    std::string code = name;
    for (char& c : code) c = static_cast<char>(std::toupper(static_cast<unsigned char>(c)));
    return code;
}

std::vector<std::string> stationListNames(const std::vector<StationEntry>& stations)
{
    std::vector<std::string> names;
    for (const StationEntry& entry : stations) {
        if (!entry.name.empty()) names.push_back(stationCodeOf(entry.name));
    }
    std::sort(names.begin(), names.end());
    return names;
}

std::optional<std::string> stationDirectory(const std::vector<StationEntry>& stations,
                                            const std::string& selectedName)
{
    std::optional<std::string> directory;
    if (selectedName.empty()) return directory;
    const std::string wanted = stationCodeOf(selectedName);
    for (const StationEntry& entry : stations) {
        if (stationCodeOf(entry.name) == wanted) directory = entry.dataDirectory;
    }
    return directory;
}

}  // namespace tremcvt
