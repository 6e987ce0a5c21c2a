// Internal steps of the archive catalogue: the FILELIST statements and the
// glue between the catalogue and the TRZ file writer. Each step takes what
// it needs (the store, a piece, a path) and returns what it decided; they
// are called only by the catalogue operations of ArchiveDatabase, and tests
// use them to look at the catalogue the way the converter does.
#pragma once

#include <cstdint>
#include <span>
#include <string>
#include <string_view>
#include <vector>

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

struct LatestFileLookup {
    ResultCode code = kResultOk;  // kResultOk (found or not) or kResultQueryFailed
    LatestFile file;
};
// Among the channel's rows that begin within one file period before
// pieceStart, the one that ends where the piece starts, else the newest of
// them: after a gap, the file before the gap is still the one a re-run of
// the minute before the gap continues, even when a file after the gap was
// catalogued later.
LatestFileLookup findLatestFile(ArchiveDatabase& db, const ChannelStore& store, double pieceStart);

// One piece of a store: at most one file period of its samples, from start
// on; `seconds` is what its catalogue row accounts for.
struct Piece {
    double start = 0.0;
    double seconds = 0.0;
    std::span<const float> samples;

    std::int32_t count() const { return static_cast<std::int32_t>(samples.size()); }
};

// Where a piece was written: the archive file's path (absolute, or as the
// catalogue lists it for a continued file).
struct WrittenPiece {
    ResultCode code = kResultOk;
    std::string path;
};

// The insert of the row of a new file: its columns and values in one order,
// TEND (start plus seconds) when useTend, LCODE when the store names a
// location code. cataloguePath and loadDate are written as given.
StatementText fileRowInsert(const FilelistNames& names, const ChannelStore& store, const Piece& piece,
                            std::string_view cataloguePath, std::string_view loadDate, std::int32_t foff,
                            bool useTend);

// Inserts the row of the new file at path holding the piece (TBEGIN its
// start, TQTY its seconds), loaded now. kResultOk, kResultQueryFailed or
// kResultInsertFailed.
ResultCode insertFileRow(ArchiveDatabase& db, const ChannelStore& store, const Piece& piece, std::string_view path,
                         std::int32_t foff);

// Grows the latest file's row, found again by its TBEGIN and TQTY, by the
// seconds of the piece just appended, refreshing TEND and LDDATE.
// kResultOk, kResultQueryFailed, kResultUpdateFailed or kResultNoRowUpdated.
ResultCode extendFileRow(ArchiveDatabase& db, const ChannelStore& store, const LatestFile& latest,
                         const Piece& piece);

// Writes the piece into a new file named from dataDir, station, channel and
// the piece's start (the one naming rule of the writer), with a header for
// the piece itself. A name that a catalogue row still refers to is never
// overwritten, and nothing is created below an archive root that looks
// unmounted (both kResultFileOpenFailed).
// kResultOk, kResultQueryFailed or kResultFileOpenFailed.
WrittenPiece createArchivePiece(ArchiveDatabase& db, const ChannelStore& store, const Piece& piece);

// Appends the piece to the latest file, right after the samples that its
// row accounts for. kResultOk, kResultFileOpenFailed or
// kResultPathOrMemoryFailed.
WrittenPiece appendArchivePiece(ArchiveDatabase& db, const Piece& piece, const LatestFile& latest);

// Rewrites the header of the file at path from its catalogue row.
// kResultOk, kResultQueryFailed (no row) or kResultFileOpenFailed.
ResultCode writeArchiveHeader(ArchiveDatabase& db, const ChannelStore& store, std::string_view path);

// What the in-place replacement found: whether the samples went into an
// archived file, and which.
struct Replacement {
    ResultCode code = kResultOk;  // kResultOk or kResultQueryFailed
    bool replaced = false;
    std::string path;  // as the catalogue lists it; empty when not replaced
    bool overlapsNothing = false;  // no catalogued row of the creator overlaps the samples
};

// When the samples from begin to end lie wholly within one catalogued file
// of the store's creator, overwrites them there in place and rewrites that
// file's header from its row (a store cut off after its row statement left
// it behind); the row stays as it is. Otherwise nothing is written.
Replacement replaceContainedSamples(ArchiveDatabase& db, const ChannelStore& store,
                                    std::span<const float> samples, double begin, double end);

// A catalogued file of the store's creator (FOFF 512, the store's rate)
// whose span overlaps a stretch of time.
struct CataloguedSpan {
    double begin = 0.0;   // TBEGIN
    double length = 0.0;  // TQTY
    std::string path;     // CPATH
};

// A catalogued file found shorter than its row (its writes lost to a power
// cut with syncing off, or the file damaged or restored from an older copy):
// the row is cut back to the whole samples on disk, the file to them and its
// header rewritten from the row; a file that holds none loses its row and is
// removed. A file that is not there at all changes nothing (the disk may not
// be mounted). One notice on the database names the span lost.
struct CutBack {
    ResultCode code = kResultOk;  // kResultOk, kResultUpdateFailed or kResultDeleteFailed
    bool cut = false;             // the row was changed or removed
    double length = 0.0;          // the row's TQTY now, 0 when it is gone
};
CutBack cutBackToFile(ArchiveDatabase& db, const ChannelStore& store, const CataloguedSpan& row, double rate);

// The rows that share more than half a sample interval with begin to end,
// newest first (one query; a row that only touches an end is not among
// them). code: kResultOk or kResultQueryFailed (no rows then).
std::vector<CataloguedSpan> findOverlappingRows(ArchiveDatabase& db, const ChannelStore& store, double begin,
                                                double end, ResultCode& code);

// What the catalogue already held of a piece: its samples were overwritten
// in place there, and `parts` are what lies before, between and after the
// catalogued files, in time order, still to be stored (the whole piece when
// nothing overlaps it, nothing when files held all of it).
struct Overlap {
    ResultCode code = kResultOk;  // kResultOk, kResultQueryFailed or kResultFileOpenFailed
    std::vector<Piece> parts;
};

// Overwrites the samples of the piece that the catalogued files overlapping
// it account for and hold on disk, in place, and rewrites each such file's
// header from its row; no row changes. A file that cannot be written fails
// the piece (its samples are never stored beside it).
Overlap replaceOverlappedSamples(ArchiveDatabase& db, const ChannelStore& store, const Piece& piece);

// Number of FILELIST rows of any station or creator whose CPATH is
// cataloguePath.
struct RowCount {
    ResultCode code = kResultOk;  // kResultOk or kResultQueryFailed
    std::int64_t rows = 0;
};
RowCount countRowsWithPath(ArchiveDatabase& db, std::string_view cataloguePath);

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
// disk looks unmounted and the answer is kResultFileOpenFailed. A confirmed
// root is kept in the database object for the rest of the run.
// kResultOk, kResultQueryFailed or kResultFileOpenFailed.
ResultCode confirmArchiveRoot(ArchiveDatabase& db, std::string_view creator);

// After a catalogued file was found on disk: marks an archive written
// before the marker existed.
void noteArchiveRootInUse(ArchiveDatabase& db);

}  // namespace tremcvt::catalogue
