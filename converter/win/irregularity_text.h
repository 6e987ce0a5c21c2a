// The report lines of a channel's irregularities, for the standard error of
// the programs that decode WIN files. Pure text; nothing is printed here.
#pragma once

#include <string>
#include <string_view>
#include <vector>

#include "converter/win/channel_table.h"

namespace tremcvt {

// At most this many irregularities of one kind are listed in its line; the
// count at its start still tells them all.
constexpr std::size_t kIrregularitiesListed = 10;

// One line (without a line end) per kind of irregularity that occurs, in the
// order gaps, repeated seconds, out-of-order blocks, rate changes; each lists
// its occurrences in time order, times as YYYY-MM-DDThh:mm:ss with no time
// zone. channelName is put first as given (for example "KAM::BHZ"):
//   KAM::BHZ: gap 2010-03-03T02:00:30 - 2010-03-03T02:00:31 (1 s)
//   KAM::BHZ: 2 gaps: 2010-03-03T02:00:20 - 2010-03-03T02:00:25 (5 s), 2010-03-03T02:00:30 - 2010-03-03T02:00:31 (1 s)
//   KAM::BHZ: repeated second 2010-03-03T02:00:12 (identical copy dropped)
//   KAM::BHZ: 2 repeated seconds: 2010-03-03T02:00:12 (identical copy dropped), 2010-03-03T02:00:13 (differing copy dropped)
//   KAM::BHZ: out-of-order block 2010-03-03T02:00:10 (put in its place)
//   KAM::BHZ: 3 out-of-order blocks: 2010-03-03T01:59:50, 2010-03-03T02:00:10, 2010-03-03T02:00:41 (put in their place)
//   KAM::BHZ: rate change 100 -> 50 sps at 2010-03-03T02:00:30
//   KAM::BHZ: 2 rate changes: 100 -> 50 sps at 2010-03-03T02:00:30, 50 -> 100 sps at 2010-03-03T02:00:31
// Beyond kIrregularitiesListed occurrences the list ends with ", ...".
std::vector<std::string> describeIrregularities(std::string_view channelName,
                                                const std::vector<TraceIrregularity>& irregularities);

// A time in whole seconds as YYYY-MM-DDThh:mm:ss, or its seconds since 1970
// when it has no calendar date.
std::string calendarText(double seconds);

}  // namespace tremcvt
