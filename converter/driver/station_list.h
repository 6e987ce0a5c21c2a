// The station list of tremcvt.ini: which component name each WIN channel
// number stands for at a station, and the "Checking INI-file" report of the
// first second block.
//
// tremcvt.ini holds [system] nsta=<count> and sections [sta0], [sta1], ...
// each with name=<station code> and one key per channel: the channel number
// in lower-case hexadecimal without leading zeros (0x00C1 is "c1"), whose
// value is the component name. The list is read afresh on every lookup.
#pragma once

#include <cstdint>
#include <string>
#include <string_view>

#include "converter/driver/run_report.h"
#include "converter/win/channel_table.h"

namespace tremcvt {

struct ComponentLookup {
    // The component name when found; otherwise the channel key itself, which
    // always fits a record's component field.
    std::string component;
    bool found = false;
    // The list names a component that does not fit a record's component
    // field (more than 7 characters). Such a name is refused rather than cut,
    // since cut names of two channels could coincide and mix their archives;
    // the channel falls back to its key, as when nothing is found.
    bool tooLong = false;
};

// The network code of miniSEED output when the station list names none.
inline constexpr const char* kDefaultNetworkCode = "XX";

// The network code of a station for miniSEED output: "net" in the first
// section whose name equals stationCode (ignoring case), else "net" in
// [system], else kDefaultNetworkCode. An empty value counts as not given.
// The value comes as written (up to 63 characters); whether it fits a record
// is the caller's check.
std::string lookupNetwork(const std::string& iniPath, std::string_view stationCode);

// The offset of a station's WIN clock from UTC for miniSEED output, as
// written: "utc_offset" looked up as "net" is, else kDefaultUtcOffset.
inline constexpr const char* kDefaultUtcOffset = "+00:00";
std::string lookupUtcOffset(const std::string& iniPath, std::string_view stationCode);

// The key of a channel number: lower-case hexadecimal, no leading zeros.
std::string channelKey(std::uint16_t channelId);

// The component of channelId at the station stationCode. Only the first
// section whose name equals stationCode (ignoring case) is consulted.
ComponentLookup lookupComponent(const std::string& iniPath, std::string_view stationCode,
                                std::uint16_t channelId);

// The INI check run after the first second block: prints its header, stores
// the station code and the component into every record of table, prints one
// line per channel without a usable component, and returns the number of
// such problems. A station code longer than a record's station field (11
// characters) is cut to the field; the converter's command line admits at
// most 7 characters, so a run never reaches that case.
int runIniCheck(ChannelTable& table, std::string_view stationCode, const std::string& iniPath, RunReport& out);

}  // namespace tremcvt
