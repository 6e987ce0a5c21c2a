// Internal operations of the archive catalogue: the FILELIST statements and
// the glue between the catalogue and the TRZ file writer. They work on the
// channel in hand of an ArchiveDatabase (station, channel, location code,
// creator, startTime, duration, sampleRate, currentPath) and are called only
// by the catalogue operations of ArchiveDatabase; tests use them to look at
// the catalogue the way the converter does.
#pragma once

#include <cstdint>
#include <string>
#include <string_view>

#include "common/platform.h"
#include "converter/archive/archive_database.h"
#include "common/result_codes.h"

namespace tremcvt::catalogue {

// Header size of the files this program writes; rows with another FOFF
// belong to other files and are passed over.
inline constexpr std::int32_t kTrzDataOffset = 512;

// The channel's latest TRZ file: the FOFF 512 row loaded or extended last
// (ties broken by the later TBEGIN).
struct LatestFile {
    bool found = false;
    double begin = 0.0;   // TBEGIN
    double length = 0.0;  // TQTY
    double rate = 0.0;    // SPS
    std::string path;     // CPATH

    // The samples the row accounts for: TQTY seconds at SPS, to the nearest
    // whole sample (the row keeps both with two decimals).
    std::int64_t cataloguedSamples() const;
};

// kResultOk (found or not) or kResultQueryFailed.
ResultCode findLatestFile(ArchiveDatabase& db, LatestFile& latest);

// Inserts the row of a new file at currentPath starting at startTime, with
// TQTY the smaller of duration and the file period. After a full period
// startTime and duration advance by it, so the next piece starts where this
// one ended. kResultOk, kResultQueryFailed or kResultInsertFailed.
ResultCode insertFileRow(ArchiveDatabase& db, std::int32_t foff);

// Grows the row found again by latestBegin/latestLength by the smaller of
// duration and the file period (the piece just appended), refreshing TEND
// and LDDATE. Like insertFileRow, a full period advances startTime and
// duration, also when no row matched. kResultOk, kResultQueryFailed,
// kResultUpdateFailed or kResultNoRowUpdated.
ResultCode extendFileRow(ArchiveDatabase& db, double latestBegin, double latestLength);

// Writes the piece into a new file named from dataDir, station, channel and
// startTime (the one naming rule of the writer), which becomes currentPath,
// with a header for the piece itself. A name that a catalogue row still
// refers to is never overwritten, and nothing is created below an archive
// root that looks unmounted (both kResultFileOpenFailed).
// kResultOk, kResultQueryFailed or kResultFileOpenFailed.
ResultCode createArchivePiece(ArchiveDatabase& db, const float* samples, std::int32_t count);

// Appends the piece to the latest file (its CPATH becomes currentPath),
// right after the samples that its row accounts for.
// kResultOk, kResultFileOpenFailed or kResultPathOrMemoryFailed.
ResultCode appendArchivePiece(ArchiveDatabase& db, const float* samples, std::int32_t count,
                              const LatestFile& latest);

// Rewrites the header of the file at currentPath from its catalogue row.
// kResultOk, kResultQueryFailed (no row) or kResultFileOpenFailed.
ResultCode writeArchiveHeader(ArchiveDatabase& db);

// When count samples from begin to end lie wholly within one catalogued
// file of this creator, overwrites them there in place, rewrites that
// file's header from its row (a store cut off after its row statement left
// it behind) and sets replaced; the row stays as it is. Otherwise replaced
// stays false and nothing is written. currentPath is left at the file
// written. kResultOk or kResultQueryFailed.
ResultCode replaceContainedSamples(ArchiveDatabase& db, const float* samples, std::int32_t count, double begin,
                                   double end, bool& replaced);

// Number of FILELIST rows of any station or creator whose CPATH is
// cataloguePath. kResultOk or kResultQueryFailed.
ResultCode countRowsWithPath(ArchiveDatabase& db, const std::string& cataloguePath, std::int64_t& rows);

// The archive root's marker file: created with the first file of an
// archive, it tells a mounted archive disk from the empty directory that the
// disk is mounted on.
inline constexpr const char* kArchiveMarkerName = ".tremcvt-archive-root";
std::string archiveMarkerPath(const ArchiveDatabase& db);

// path with native separators.
std::string nativePath(std::string_view path);

// Removes one archive file at path (absolute). Only a regular file strictly
// below the data directory is ever removed: an empty path, the data
// directory itself, any directory, or a path outside it is refused. A file
// that does not exist gives a failure with error ENOENT.
FileCallResult removeArchiveFile(const ArchiveDatabase& db, const std::string& path);

// Before a new file is created: the archive root must carry its marker. A
// root without it is accepted, and marked, only when the catalogue lists no
// file of this creator or the newest one it lists is on disk; otherwise the
// disk looks unmounted and the answer is kResultFileOpenFailed.
// kResultOk, kResultQueryFailed or kResultFileOpenFailed.
ResultCode confirmArchiveRoot(ArchiveDatabase& db);

// After a catalogued file was found on disk: marks an archive written
// before the marker existed.
void noteArchiveRootInUse(ArchiveDatabase& db);

}  // namespace tremcvt::catalogue
