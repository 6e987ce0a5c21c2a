#include "converter/writers/mseed_output.h"

#include <algorithm>
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

// The day files the writer stores the channel's segments in, each once: the
// UTC days of the segments' times less the WIN clock's offset from UTC, as
// the writer cuts them.
std::vector<std::string> dayFilesOf(const ChannelTrace& trace, const std::string& root, const std::string& network,
                                    int utcOffsetSeconds)
{
    const std::string_view station = trace.station.view(), channel = trace.component.view();
    std::vector<std::string> paths;
    for (const TraceSegment& segment : segmentsOf(trace))
        for (const SdsDayPiece& day : splitAtUtcMidnights(segment.startTime - utcOffsetSeconds, segment.sps,
                                                          segment.sampleCount)) {
            std::string path = joinPath(sdsChannelDirectory(root, network, station, channel, day.year),
                                        sdsDayFileName(network, station, channel, day.year, day.dayOfYear));
            if (std::find(paths.begin(), paths.end(), path) == paths.end()) paths.push_back(std::move(path));
        }
    return paths;
}

}  // namespace

MseedOutput::MseedOutput(std::string_view root, std::string_view dataDir, NetworkLookup networkOf,
                         UtcOffsetLookup utcOffsetOf, DayFileStored dayFileStored)
    : networkOf_(std::move(networkOf)),
      utcOffsetOf_(std::move(utcOffsetOf)),
      dayFileStored_(std::move(dayFileStored))
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
    OutputResults results;
    OutputResult stored = storeMseedChannel(trace, root_, network, utcOffset);
    if (stored.code != kResultOk) results.push_back(std::move(stored));
    if (!dayFileStored_) return results;
    for (const std::string& dayFile : dayFilesOf(trace, root_, network, utcOffset)) {
        OutputResult told = dayFileStored_(trace, dayFile);
        if (told.code == kResultOk) continue;
        if (!results.empty()) told.unstoredChannels = 0;  // the channel counts once
        results.push_back(std::move(told));
    }
    return results;
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
