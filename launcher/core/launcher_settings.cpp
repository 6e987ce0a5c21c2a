#include "launcher/core/launcher_settings.h"

#include "common/paths.h"
#include "common/platform.h"
#include "common/profile.h"

namespace tremcvt {

std::string settingsFilePath(const std::string& directory)
{
    return joinPath(directory, kSettingsFileName);
}

LauncherSettings readLauncherSettings(const std::string& path)
{
    LauncherSettings settings;
    settings.stations = readStationEntries(path);
    settings.startTime =
        parseStartTime(readProfileString("system", "time", "00/00/0000 00:00", kStartTimeBuffer, path));
    settings.intervalText =
        formatIntervalText(readProfileString("system", "timeqty", "000 00:00", kIntervalBuffer, path));
    return settings;
}

std::string archiveDirectory(const std::string& settingsPath)
{
    return readProfileString("data", "dir", defaultDataDirectory(), kArchiveDirBuffer, settingsPath);
}

}  // namespace tremcvt
