// Verifying the TRZ archive against its catalogue: every FILELIST row
// against its file, rows of a channel that overlap, files that no row names.
//
// The comparisons are plain functions on plain data (a row, what was found
// on disk); verifyTrzArchive gathers those facts with one walk of the
// archive directory and one small read per file.
#pragma once

#include <cstdint>
#include <string>
#include <string_view>
#include <vector>

#include "converter/check/check_model.h"

namespace tremcvt::check {

// The fields of a TRZ header text, as the archive writer lays them out.
// A field the text lacks stays empty.
struct TrzHeaderFields {
    bool signature = false;  // the text begins with "[TRZ5.x]"
    std::string dataOffset;  // "Data offset="
    std::string startTime;   // "Start time=HH:MM:SS" (local time)
    std::string startDate;   // "Start date=DD-MM-YYYY"
    std::string duration;    // "Time duration=DDD HH MM SS"
    std::string dataType;    // "Data type="
    std::string rate;        // "SpS=" with two decimals
    std::string station;     // "Station="
    std::string channel;     // "Channel="
};

// Parses the header area (the text ends at the first zero byte).
TrzHeaderFields parseTrzHeader(std::string_view area);

// What the header of the row's file should say; the duration may also be
// the one of TEND - TBEGIN (alternativeDuration), which the writer uses when
// the catalogue keeps TEND.
struct ExpectedHeader {
    TrzHeaderFields fields;
    std::string alternativeDuration;
};
ExpectedHeader expectedTrzHeader(const CatalogueRow& row);

// The header fields that differ from the row's, as "field: header 'x', row 'y'"
// parts joined by "; ". Empty when they agree.
std::string headerDifferences(const TrzHeaderFields& found, const ExpectedHeader& expected);

// Whether a catalogue path names a file strictly below the archive root:
// relative, not empty, no "." or ".." part.
bool pathBelowRoot(std::string_view cataloguePath);

// What the archive directory holds under a catalogue path.
struct FileFacts {
    enum class State { kMissing, kNotRegular, kRegular, kUnreadable };
    State state = State::kMissing;
    std::int64_t size = 0;
    // The first bytes of the file up to the row's data offset (at most 512);
    // empty when not read.
    std::string header;
    // With --read-data: samples that are not finite numbers among those the
    // row accounts for, and the index of the first; -1 when none.
    std::int64_t badSamples = 0;
    std::int64_t firstBadSample = -1;
    bool samplesRead = false;
};

// Every difference between a row and its file, one finding each.
std::vector<Finding> compareRowWithFile(const CatalogueRow& row, const FileFacts& facts);

// Rows of one channel (station, channel, location code) whose samples
// overlap the samples of an earlier row of that channel by more than half a
// sample interval; one finding per overlapping row, naming both files.
std::vector<Finding> findOverlappingRows(const std::vector<CatalogueRow>& rows);

// Rows that share one catalogue path: one finding per path.
std::vector<Finding> findSharedPaths(const std::vector<CatalogueRow>& rows);

// One file found below the archive root, by its path relative to the root
// with "/" separators.
struct ArchiveEntry {
    std::string path;
    bool regular = false;
    std::int64_t size = 0;
};

// Files below the root that no catalogue path names; the root's marker file
// is not one. One finding each, in path order.
std::vector<Finding> findOrphans(const std::vector<ArchiveEntry>& entries,
                                 const std::vector<CatalogueRow>& allRows);

struct VerifyTotals {
    std::int64_t rows = 0;         // selected rows checked
    std::int64_t filesSeen = 0;    // files found below the walked directories
    std::int64_t samplesRead = 0;  // with --read-data
};

// The whole verify of the TRZ archive below root: the selected rows against
// their files, overlaps among the selected rows, shared paths, and orphans
// among the files of the selected stations and channels (the time window
// does not narrow the orphan search). allRows is the whole catalogue.
std::vector<Finding> verifyTrzArchive(const std::vector<CatalogueRow>& allRows, const std::string& root,
                                      const Selection& selection, bool readData, VerifyTotals& totals);

// The rows of the selection (pointing into rows), in order of station,
// channel, location code and start.
std::vector<const CatalogueRow*> selectRows(const std::vector<CatalogueRow>& rows, const Selection& selection);

}  // namespace tremcvt::check
