#include "converter/driver/station_list.h"

#include <cctype>

#include "common/profile.h"

namespace tremcvt {
namespace {

// The station list is read with buffers of this size.
constexpr std::size_t kStationListBuffer = 1024;

// Network codes and UTC offsets are read into a buffer far longer than any
// valid value, so that an over-long one is refused rather than cut to a
// valid-looking length.
constexpr std::size_t kNetworkBuffer = 64;

constexpr std::size_t kComponentMaxLength = decltype(ChannelTrace::component)::kMaxLength;

bool equalsIgnoringCase(std::string_view a, std::string_view b)
{
    if (a.size() != b.size()) return false;
    for (std::size_t i = 0; i < a.size(); ++i) {
        if (std::tolower(static_cast<unsigned char>(a[i])) !=
            std::tolower(static_cast<unsigned char>(b[i])))
            return false;
    }
    return true;
}

// The section "sta%d" of the first station whose name equals stationCode,
// empty when none does. Later sections of the same name are never consulted.
std::string stationSection(const std::string& iniPath, std::string_view stationCode)
{
    const int stationCount = readProfileInt("system", "nsta", 1, iniPath);
    for (int j = 0; j < stationCount; ++j) {
        std::string section = "sta" + std::to_string(j);
        const std::string name = readProfileString(section, "name", "", kStationListBuffer, iniPath);
        if (equalsIgnoringCase(name, stationCode)) return section;
    }
    return std::string();
}

// A station's value of key: in its section, else in [system], else fallback.
std::string stationSetting(const std::string& iniPath, std::string_view stationCode, const char* key,
                           const char* fallback)
{
    const std::string section = stationSection(iniPath, stationCode);
    std::string value;
    if (!section.empty()) value = readProfileString(section, key, "", kNetworkBuffer, iniPath);
    if (value.empty()) value = readProfileString("system", key, "", kNetworkBuffer, iniPath);
    return value.empty() ? std::string(fallback) : value;
}

}  // namespace

std::string channelKey(std::uint16_t channelId)
{
    char text[8];
    std::snprintf(text, sizeof text, "%x", static_cast<unsigned>(channelId));
    return text;
}

ComponentLookup lookupComponent(const std::string& iniPath, std::string_view stationCode,
                                std::uint16_t channelId)
{
    ComponentLookup result;
    const std::string key = channelKey(channelId);
    result.component = key;

    // The first section of the station decides, whether it has the key or not.
    const std::string section = stationSection(iniPath, stationCode);
    if (section.empty()) return result;
    std::string value = readProfileString(section, key, "", kStationListBuffer, iniPath);
    if (value.empty()) return result;
    if (value.size() > kComponentMaxLength) {
        result.tooLong = true;
        return result;
    }
    result.component = std::move(value);
    result.found = true;
    return result;
}

std::string lookupNetwork(const std::string& iniPath, std::string_view stationCode)
{
    return stationSetting(iniPath, stationCode, "net", kDefaultNetworkCode);
}

std::string lookupUtcOffset(const std::string& iniPath, std::string_view stationCode)
{
    return stationSetting(iniPath, stationCode, "utc_offset", kDefaultUtcOffset);
}

int runIniCheck(ChannelTable& table, std::string_view stationCode, const std::string& iniPath, RunReport& out)
{
    const std::string station(stationCode);
    out.write("============================================================\nChecking INI-file\n");
    int problems = 0;
    for (ChannelTrace& record : table) {
        record.station.cut(stationCode);
        const ComponentLookup lookup = lookupComponent(iniPath, stationCode, record.channelId);
        if (lookup.tooLong) {
            out.print("Component name too long (%s::%s::%d)\n", station.c_str(),
                         lookup.component.c_str(), static_cast<int>(record.sps));
            ++problems;
        } else if (!lookup.found) {
            out.print("Not found (%s::%s::%d)\n", station.c_str(),
                         lookup.component.c_str(), static_cast<int>(record.sps));
            ++problems;
        }
        record.component.assign(lookup.component);
    }
    return problems;
}

}  // namespace tremcvt
