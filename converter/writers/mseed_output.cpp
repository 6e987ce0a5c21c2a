#include "converter/writers/mseed_output.h"

#include <cctype>
#include <utility>

#include "common/paths.h"
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

MseedOutput::MseedOutput(std::string_view root, std::string_view dataDir, NetworkLookup networkOf,
                         UtcOffsetLookup utcOffsetOf)
    : networkOf_(std::move(networkOf)), utcOffsetOf_(std::move(utcOffsetOf))
{
    // An empty value would put the day files among the TRZ archive's own
    // directories.
    if (!root.empty()) root_ = absoluteArchivePath(root, dataDir);
}

OutputResults MseedOutput::store(const ChannelTrace& trace)
{
    ++channelsTaken_;
    if (root_.empty()) return {};
    const std::string network = upperCase(networkOf_ ? networkOf_(trace.station.view()) : std::string());
    const MseedCodeCheck check = checkMseedCodes(network, trace.station.view(), trace.component.view());
    if (check != MseedCodeCheck::kValid) {
        OutputResult refused;
        refused.code = kResultPathOrMemoryFailed;
        refused.line = std::string(refusalText(check)) + " (" + trace.station.str() + "::" + trace.component.str() +
                       "::" + network + ")\n";
        refused.unstoredChannels = 1;
        return {refused};
    }
    const std::string offsetText = utcOffsetOf_ ? utcOffsetOf_(trace.station.view()) : std::string("+00:00");
    int utcOffset = 0;
    if (!parseUtcOffset(offsetText, utcOffset)) {
        OutputResult refused;
        refused.code = kResultPathOrMemoryFailed;
        refused.line = "UTC offset not valid for miniSEED (" + trace.station.str() + "::" + trace.component.str() +
                       "::" + offsetText + ")\n";
        refused.reason = "utc_offset=" + offsetText +
                         " is not an offset from UTC: +HH:MM or -HH:MM, at most 14:00, minutes 00, 15, 30 or 45";
        refused.unstoredChannels = 1;
        return {refused};
    }
    OutputResult stored = storeMseedChannel(trace, root_, network, utcOffset);
    if (stored.code == kResultOk) return {};
    return {std::move(stored)};
}

OutputResults MseedOutput::finish()
{
    if (!root_.empty()) return {};
    OutputResult nowhere;
    nowhere.code = kResultFileOpenFailed;
    nowhere.line = "miniSEED write error (mseed= names no directory)\n";
    nowhere.unstoredChannels = channelsTaken_;
    return {nowhere};
}

}  // namespace tremcvt
