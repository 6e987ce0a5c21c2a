#include "launcher/core/launcher_settings.h"

#include <algorithm>
#include <cctype>

#include "common/paths.h"
#include "common/platform.h"
#include "common/profile.h"

namespace tremcvt {
namespace {

std::string upperCased(std::string text)
{
    for (char& c : text) c = static_cast<char>(std::toupper(static_cast<unsigned char>(c)));
    return text;
}

}  // namespace

std::string settingsFilePath(const std::string& directory)
{
    return joinPath(directory, kSettingsFileName);
}

LauncherSettings readLauncherSettings(const std::string& path)
{
    LauncherSettings settings;
    const int stationCount = readProfileInt("system", "nsta", 1, path);
    const std::string systemDir = readProfileString("system", "dir", "", kStationDirBuffer, path);
    for (int n = 0; n < stationCount; ++n) {
        const std::string section = "sta" + std::to_string(n);
        StationEntry entry;
        entry.name = readProfileString(section, "name", "", kStationNameBuffer, path);
        entry.dataDirectory = readProfileString(section, "dir", systemDir, kStationDirBuffer, path);
        settings.stations.push_back(std::move(entry));
    }
    settings.startTime =
        parseStartTime(readProfileString("system", "time", "00/00/0000 00:00", kStartTimeBuffer, path));
    settings.intervalText =
        formatIntervalText(readProfileString("system", "timeqty", "000 00:00", kIntervalBuffer, path));
    return settings;
}

std::vector<std::string> stationListNames(const std::vector<StationEntry>& stations)
{
    std::vector<std::string> names;
    for (const StationEntry& entry : stations) {
        if (!entry.name.empty()) names.push_back(upperCased(entry.name));
    }
    std::sort(names.begin(), names.end());
    return names;
}

std::optional<std::string> stationDirectory(const std::vector<StationEntry>& stations,
                                            const std::string& selectedName)
{
    std::optional<std::string> directory;
    if (selectedName.empty()) return directory;
    const std::string wanted = upperCased(selectedName);
    for (const StationEntry& entry : stations) {
        if (upperCased(entry.name) == wanted) directory = entry.dataDirectory;
    }
    return directory;
}

std::string archiveDirectory(const std::string& settingsPath)
{
    return readProfileString("data", "dir", defaultDataDirectory(), kArchiveDirBuffer, settingsPath);
}

}  // namespace tremcvt
