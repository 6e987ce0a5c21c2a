// The rows of the time-series index (the tsindex table that EarthScope's
// mseedindex keeps, and that ObsPy's tsindex client and web services read)
// for one miniSEED file, as mseedindex computes them: the file read record
// by record, one section per run of consecutive records of the same
// network, station, location, channel and publication version, each with
// its earliest and latest sample time, its byte range and the MD5 of its
// records, a time index every hour of data, and its continuous time spans.
#pragma once

#include <cstdint>
#include <string>
#include <vector>

#include "common/result_codes.h"

namespace tremcvt {

// Times are nanoseconds since 1970, as mseedindex keeps them.
struct TsindexSpan {
    std::int64_t start = 0;
    std::int64_t end = 0;  // time of the last sample
    double rate = 0.0;
};

struct TsindexTimeMark {
    std::int64_t time = 0;        // start of the record
    std::int64_t byteOffset = 0;  // where the record begins in the file
};

struct TsindexSection {
    std::string network, station, location, channel;
    // The publication version: the record's quality code R 1, D 2, Q 3, M 4,
    // any other 0.
    int version = 0;
    std::int64_t earliest = 0;
    std::int64_t latest = 0;
    // The rate of the section's first record; rateMismatch when a later
    // record's rate is not within 0.01 % of it.
    double nominalRate = 0.0;
    bool rateMismatch = false;
    std::int64_t byteOffset = 0;
    std::int64_t bytes = 0;
    std::string hash;  // MD5 of the section's record bytes, hexadecimal
    // A mark at the first record, then at every record that reaches past
    // the next full hour counted from the section's earliest time.
    std::vector<TsindexTimeMark> timeIndex;
    // No record started at or before the record read before it.
    bool timeOrdered = true;
    // Continuous coverage: records joined within half a sample interval
    // (records without a rate add none).
    std::vector<TsindexSpan> spans;
};

struct TsindexScan {
    ResultCode code = kResultOk;  // kResultFileOpenFailed when the file cannot be read as miniSEED
    std::string reason;
    std::string filename;          // the file's absolute, resolved path
    std::int64_t fileModTime = 0;  // seconds since 1970
    std::vector<TsindexSection> sections;
};

// Reads the file and computes its sections. A file that is not there is
// no failure: it has no sections (its rows are to go).
TsindexScan scanMseedFile(const std::string& path);

}  // namespace tremcvt
