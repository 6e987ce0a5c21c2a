#include "converter/driver/mseed_output.h"

#include <cctype>
#include <string>

#include "common/paths.h"
#include "converter/driver/station_list.h"
#include "converter/writers/mseed_writer.h"

namespace tremcvt {
namespace {

const char* refusalText(MseedCodeCheck check)
{
    switch (check) {
    case MseedCodeCheck::kNetworkTooLong: return "Network code too long for miniSEED";
    case MseedCodeCheck::kStationTooLong: return "Station code too long for miniSEED";
    case MseedCodeCheck::kChannelTooLong: return "Component code too long for miniSEED";
    case MseedCodeCheck::kNotValid: return "Code not valid for miniSEED";
    case MseedCodeCheck::kValid: break;
    }
    return "";
}

std::string upperCase(std::string text)
{
    for (char& c : text) c = static_cast<char>(std::toupper(static_cast<unsigned char>(c)));
    return text;
}

}  // namespace

int writeMseedOutput(const ChannelTable& table, const ConverterSettings& settings, RunReport& report)
{
    if (settings.mseed.empty()) {
        // An empty value would put the day files among the TRZ archive's
        // own directories.
        report.write("miniSEED write error (mseed= names no directory)\n");
        return static_cast<int>(table.size());
    }
    int unstored = 0;
    const std::string root = absoluteArchivePath(settings.mseed.view(), settings.data.view());
    for (const ChannelTrace& trace : table) {
        const std::string network = upperCase(lookupNetwork(settings.iniPath, trace.station.view()));
        const MseedCodeCheck check = checkMseedCodes(network, trace.station.view(), trace.component.view());
        if (check != MseedCodeCheck::kValid) {
            report.print("%s (%s::%s::%s)\n", refusalText(check), trace.station.c_str(), trace.component.c_str(),
                         network.c_str());
            ++unstored;
            continue;
        }
        const MseedStoreResult stored = storeMseedChannel(trace, root, network);
        if (stored.code == kResultOk) continue;
        report.print("miniSEED write error (%s::%s::%s)\n", trace.station.c_str(), trace.component.c_str(),
                     stored.dayFilePath.empty() ? root.c_str() : stored.dayFilePath.c_str());
        report.addReasons(stored.reason);
        ++unstored;
    }
    return unstored;
}

}  // namespace tremcvt
