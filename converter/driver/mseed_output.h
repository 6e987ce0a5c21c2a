// The miniSEED output of a run ("mseed="): every channel into its day files
// of the SDS archive, with the run's report of channels that are refused or
// cannot be stored.
#pragma once

#include "common/exit_codes.h"
#include "converter/driver/run_report.h"
#include "converter/driver/settings.h"
#include "converter/win/channel_table.h"

namespace tremcvt {

// What a run that asks for miniSEED output from a build without it prints
// before it ends with kExitMseedUnavailable.
inline constexpr const char* kMseedUnavailableText = "miniSEED output (mseed=) is not available in this build.\n";

// Writes every channel of the table, its station and component completed and
// upper-cased, below the SDS root: the mseed= directory, taken below the data
// directory when relative. Reports one line for each channel refused (a code
// that does not fit or is not valid) or not stored, with the reason of a
// failed store. Returns the number of channels not stored.
int writeMseedOutput(const ChannelTable& table, const ConverterSettings& settings, RunReport& report);

}  // namespace tremcvt
