// miniSEED output into an SDS archive, the layout that SeisComP archives and
// ObsPy's SDS client read. Below the archive directory every channel has one
// day file per UTC day:
//   <root>/<YEAR>/<NET>/<STA>/<CHAN>.D/<NET>.<STA>.<LOC>.<CHAN>.D.<YEAR>.<DOY>
// with an empty location code (the converter's "??") and the day of the year
// in three digits. A day file holds 512-byte miniSEED 2 records, big-endian,
// quality code D, with the channel's integer samples Steim-2 compressed (or,
// where two consecutive samples differ by more than Steim-2's 30 bits, the
// records of that store as plain 32-bit integers, exact all the same).
//
// A day file is kept as this writer leaves it: records in time order with
// sequence numbers 1, 2, ... in file order, each store's samples in records
// of their own (a store never fills up the last record of an earlier one).
// Data after the file's last sample is appended in place: only the last
// record is read, and the new records are written after it, so an
// interrupted append leaves the old file with at most a torn tail (part of a
// record, or whole records of the new data), which the next store of the day
// cuts off or replaces. A new day file, and a store that overlaps the file or
// comes before its end, build the whole new file in a temporary file beside
// it and rename that over the old one, so an interrupted store leaves either
// the old or the new day file.
#pragma once

#include <cstddef>
#include <cstdint>
#include <string>
#include <string_view>
#include <vector>

#include "converter/win/channel_table.h"
#include "common/result_codes.h"
#include "converter/writers/channel_output.h"

namespace tremcvt {

// The code fields of a miniSEED 2 record header.
inline constexpr std::size_t kMseedNetworkMaxLength = 2;
inline constexpr std::size_t kMseedStationMaxLength = 5;
inline constexpr std::size_t kMseedChannelMaxLength = 3;
inline constexpr std::size_t kMseedRecordLength = 512;

enum class MseedCodeCheck {
    kValid,
    kNetworkTooLong,
    kStationTooLong,
    kChannelTooLong,
    kNotValid,  // empty, or a character other than A-Z and 0-9
};

// Whether network, station and channel codes can stand in a record header and
// in the SDS path. Lengths are checked first, network before station before
// channel, so an over-long code is reported as such whatever it holds.
MseedCodeCheck checkMseedCodes(std::string_view network, std::string_view station, std::string_view channel);

// A stretch of a channel's samples within one UTC day.
struct SdsDayPiece {
    std::size_t firstSample = 0;
    std::size_t sampleCount = 0;
    std::int64_t startMicroseconds = 0;  // time of its first sample since 1970
    int year = 0;
    int dayOfYear = 0;  // 1 to 366
};

// Cuts sampleCount samples, sps per second from startTime, at every UTC
// midnight; a sample at midnight itself opens the new day. Empty when there is
// no sample, when sps is not between 1 and kMaxMseedRate, or when a sample
// would lie outside the years 1970 to 2099.
inline constexpr int kMaxMseedRate = 1000000;
std::vector<SdsDayPiece> splitAtUtcMidnights(double startTime, int sps, std::size_t sampleCount);

// The offset of a WIN clock from UTC, "+HH:MM" or "-HH:MM" (sign, two digits,
// colon, two digits), in seconds: the hours 00 to 14, the minutes 00, 15, 30
// or 45, at most 14:00 either way. False for anything else. miniSEED times
// are the WIN times minus the offset.
inline constexpr int kMaxUtcOffsetSeconds = 14 * 3600;
bool parseUtcOffset(std::string_view text, int& seconds);

// "<root>/<YEAR>/<NET>/<STA>/<CHAN>.D" and the day file in it, with native
// separators; the location code is empty.
std::string sdsChannelDirectory(std::string_view root, std::string_view network, std::string_view station,
                                std::string_view channel, int year);
std::string sdsDayFileName(std::string_view network, std::string_view station, std::string_view channel, int year,
                           int dayOfYear);

// Whether this build writes miniSEED (the writer needs libmseed).
bool mseedOutputAvailable();

// What a run that asks for miniSEED output from a build without it prints
// before it ends with kExitMseedUnavailable.
inline constexpr const char* kMseedUnavailableText = "miniSEED output (mseed=) is not available in this build.\n";

// Stores every sample of the channel into its day files below root (which
// must exist; the year, network, station and channel directories are made as
// needed), as network.station..channel with the channel's start time and rate.
// Samples are written as the integers they are (a float beyond the 32-bit
// range as the nearest 32-bit integer).
//
// Into an existing day file: data that starts more than half a sample interval
// after the file's last sample is appended in place as new records, with
// sequence numbers continuing the file's (after cutting off a torn tail); data that overlaps what the file holds, or
// comes before it, replaces every stored sample within half a sample interval
// of its own span, and the records of the day are put back into time order and
// renumbered. Records that the new data does not touch keep their bytes but
// for the sequence number, so converting a minute again leaves the file
// byte-identical, and minutes converted out of order give the file that
// conversion in order gives. A day file this writer cannot read is left alone
// and reported. The channel's codes must pass checkMseedCodes.
//
// kResultOk, or kResultFileOpenFailed or kResultPathOrMemoryFailed with the
// line "miniSEED write error (STA::CMP::<path>)" (the day file the failure
// concerns, else root) and the reason: "<path>: <call>: <system message>" or
// what was refused.
// Every segment of the channel (segmentsOf) is stored at its own start and
// rate, as storeMseedSegment does, each start moved back by the WIN clock's
// offset from UTC (utcOffsetSeconds, see parseUtcOffset); the first failure
// ends the store.
OutputResult storeMseedChannel(const ChannelTrace& trace, std::string_view root, std::string_view network,
                               int utcOffsetSeconds = 0);

// One segment of the channel: its samples from its start at its rate.
OutputResult storeMseedSegment(const ChannelTrace& trace, const TraceSegment& segment, std::string_view root,
                               std::string_view network);

}  // namespace tremcvt
