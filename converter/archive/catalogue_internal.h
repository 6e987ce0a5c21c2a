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

#include "converter/archive/archive_database.h"
#include "converter/archive/result_codes.h"

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
    std::string path;     // CPATH
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

// Writes one piece. A new file is named from dataDir, station, channel and
// startTime (the one naming rule of the writer), becomes currentPath and is
// created with a header for the piece itself; a name that a catalogue row
// still refers to is never overwritten (kResultFileOpenFailed). An append
// makes path (a catalogue path) the currentPath and appends to that file.
// kResultOk, kResultQueryFailed, kResultFileOpenFailed or
// kResultPathOrMemoryFailed.
ResultCode writeArchivePiece(ArchiveDatabase& db, const float* samples, std::int32_t count, bool newFile,
                             std::string_view path);

// Rewrites the header of the file at currentPath from its catalogue row.
// kResultOk, kResultQueryFailed (no row) or kResultFileOpenFailed.
ResultCode writeArchiveHeader(ArchiveDatabase& db);

// When the samples (startTime to endTime of the channel in hand) lie wholly
// within one catalogued file of this creator, overwrites them there in place
// and sets replaced; the row and the header stay as they are. Otherwise
// replaced stays false and nothing is written. kResultOk or
// kResultQueryFailed.
ResultCode replaceContainedSamples(ArchiveDatabase& db, const float* samples, std::int32_t count, bool& replaced);

// Number of FILELIST rows of any station or creator whose CPATH is
// cataloguePath. kResultOk or kResultQueryFailed.
ResultCode countRowsWithPath(ArchiveDatabase& db, const std::string& cataloguePath, std::int64_t& rows);

}  // namespace tremcvt::catalogue
