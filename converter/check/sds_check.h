// Verifying an SDS tree of miniSEED day files and gathering its records for
// the availability report. The per-file logic works on plain facts (the
// records as parsed); the walk reads each day file once.
#pragma once

#include <cstdint>
#include <string>
#include <string_view>
#include <vector>

#include "converter/check/availability.h"
#include "converter/check/check_model.h"

namespace tremcvt::check {

// A day file's name "NET.STA.LOC.CHAN.D.YEAR.DOY", split.
struct SdsDayName {
    std::string network;
    std::string station;
    std::string location;
    std::string channel;
    int year = 0;
    int dayOfYear = 0;
    double dayBegin = 0.0;  // UTC midnight that opens the day, seconds since 1970
};
bool parseSdsDayName(std::string_view name, SdsDayName& out);

// A leftover of an interrupted store: the writer's temporary file
// ".<day file name>.tmp".
bool isSdsLeftover(std::string_view name);

// One record of a day file as parsed.
struct SdsRecord {
    std::int64_t offset = 0;       // byte offset in the file
    std::string network, station, location, channel;
    double begin = 0.0;            // first sample, seconds since 1970
    double rate = 0.0;
    std::int64_t sampleCount = 0;
    double last() const;           // time of the last sample
    double end() const;            // time just after it
};

// The order, overlap and identity findings of one day file's records (all
// parsed), in file order.
std::vector<Finding> checkSdsRecords(const std::string& file, const SdsDayName& name,
                                     const std::vector<SdsRecord>& records);

// Whether this build reads miniSEED (it needs libmseed).
bool sdsCheckAvailable();

struct SdsScan {
    std::vector<Finding> findings;
    std::vector<ChannelPieces> channels;  // "NET.STA.LOC.CHAN", records as pieces
    std::int64_t dayFiles = 0;
    std::int64_t records = 0;
};

// Walks the SDS tree below root: every selected day file parsed record by
// record (with readData every record's samples decoded too), leftovers of
// interrupted stores found. Paths in findings are relative to root.
SdsScan scanSdsTree(const std::string& root, const Selection& selection, bool readData);

}  // namespace tremcvt::check
