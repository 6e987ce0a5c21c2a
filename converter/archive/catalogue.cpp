// The FILELIST catalogue of the TRZ archive: cutting a channel into pieces of
// at most one file period, continuing the channel's latest file or starting
// a new one, the rows that record them, the removal of an earlier
// conversion, and the in-place replacement of data that is archived already.
#include <algorithm>
#include <cerrno>
#include <cmath>
#include <cstdio>
#include <ctime>
#include <new>
#include <string>
#include <utility>
#include <vector>

#include "converter/archive/archive_database.h"
#include "converter/archive/catalogue_internal.h"
#include "converter/writers/trz_writer.h"
#include "common/result_codes.h"

namespace tremcvt {
namespace catalogue {
namespace {

// A piece continues the latest file when it starts within this many sample
// intervals of the file's end.
constexpr double kContinuationIntervals = 1.5;
// Data counts as lying within a file when its ends are within half a sample
// interval of the file's span.
constexpr double kContainmentIntervals = 0.5;
// Catalogue rates are written with two decimals.
constexpr double kRateTolerance = 0.005;
// Latest files cut back before one store gives up looking further back.
constexpr int kMaxCutBacks = 64;

std::string nowLoadDate() { return loadDateText(std::time(nullptr)); }

// A value as printf writes it with one conversion: the insert's values are
// printed one by one, exactly as one format with all of them would.
template <typename T>
std::string printed(const char* format, T value)
{
    char text[StatementText::kCapacity];
    const int length = std::snprintf(text, sizeof text, format, value);
    return length < 0 ? std::string() : std::string(text, std::min<std::size_t>(length, sizeof text - 1));
}

std::string quoted(std::string_view value) { return "'" + sqlText(value) + "'"; }

// Samples written for a row are synced before the row statement, unless
// the settings turn syncing off. A new file's name is synced either way
// (once per file, not per store): a row then never names a file that a
// power cut took away, only one that holds less than the row says.
TrzDurability durability(const ArchiveDatabase& db)
{
    return db.syncWrites() ? TrzDurability::kSynced : TrzDurability::kNamesSynced;
}

}  // namespace

RowCount countRowsWithPath(ArchiveDatabase& db, std::string_view cataloguePath)
{
    const FilelistNames& names = db.schemaNames().filelist;
    StatementText text;
    text.format("select count(*) from %s where %s='%s'", names.table.c_str(), names.cpath.c_str(),
                sqlText(cataloguePath).c_str());
    odbc::DoubleColumn count;
    const QueryEnd end = db.query(
        text, [&](odbc::Statement& statement) { statement.bind(1, count); }, [] { return false; });
    if (end != QueryEnd::kStopped) return RowCount{kResultQueryFailed, 0};
    return RowCount{kResultOk, count.isNull() ? 0 : static_cast<std::int64_t>(count.value)};
}

std::int64_t LatestFile::cataloguedSamples() const
{
    const double samples = std::round(length * rate);
    if (!std::isfinite(samples) || samples < 0.0) return 0;
    return static_cast<std::int64_t>(samples);
}

LatestFileLookup findLatestFile(ArchiveDatabase& db, const ChannelStore& store, double pieceStart)
{
    const FilelistNames& names = db.schemaNames().filelist;
    // A file that the piece continues holds less than a file period, so it
    // begins within one period (and a second's margin) before the piece.
    const double earliestBegin = pieceStart - static_cast<double>(db.filePeriod()) - 1.0;
    StatementText text;
    // SPS comes along so that a file is continued only at its own rate and
    // its catalogued length is known in samples.
    text.format("select %s,%s,%s,%s,%s from %s where %s='%s' and %s='%s' and %s and %s>=%0.4f and %s<=%0.4f "
                "order by %s desc,%s desc",
                names.foff.c_str(), names.tbegin.c_str(), names.tqty.c_str(), names.cpath.c_str(),
                names.sps.c_str(), names.table.c_str(), names.sta.c_str(), sqlText(store.station).c_str(),
                names.ch.c_str(), sqlText(store.channel).c_str(),
                locationCondition(names.lcode.view(), store.locationCode).c_str(), names.tbegin.c_str(),
                earliestBegin, names.tbegin.c_str(), pieceStart, names.lddate.c_str(), names.tbegin.c_str());

    odbc::IntegerColumn foff;
    odbc::DoubleColumn begin;
    odbc::DoubleColumn length;
    odbc::TextColumn<StatementText::kCapacity> path;
    odbc::DoubleColumn rate;
    LatestFileLookup lookup;
    // Newest first, only files with this program's header size; the first
    // that ends at the piece's start ends the search. A failed fetch is a
    // failure: taken for the end of the rows, it would start a new file
    // beside the one the piece continues.
    const QueryEnd end = db.query(
        text,
        [&](odbc::Statement& statement) {
            statement.bind(1, foff);
            statement.bind(2, begin);
            statement.bind(3, length);
            statement.bind(4, path);
            statement.bind(5, rate);
        },
        [&] {
            if (foff.isNull() || foff.value != kTrzDataOffset) return true;
            LatestFile row;
            row.found = true;
            row.begin = begin.isNull() ? 0.0 : begin.value;
            row.length = length.isNull() ? 0.0 : length.value;
            row.rate = rate.isNull() ? 0.0 : rate.value;
            row.path.assign(path.view());
            const bool endsAtPiece =
                row.rate > 0.0 && std::fabs(row.begin + row.length - pieceStart) < kContinuationIntervals / row.rate;
            if (endsAtPiece || !lookup.file.found) lookup.file = std::move(row);
            return !endsAtPiece;
        });
    if (end != QueryEnd::kStopped && end != QueryEnd::kAllRowsRead) return LatestFileLookup{kResultQueryFailed, {}};
    return lookup;
}

StatementText fileRowInsert(const FilelistNames& n, const ChannelStore& store, const Piece& piece,
                            std::string_view cataloguePath, std::string_view loadDate, std::int32_t foff,
                            bool useTend)
{
    std::vector<std::pair<const char*, std::string>> row = {
        {n.sta.c_str(), quoted(store.station)},
        {n.tbegin.c_str(), printed("%0.4f", piece.start)},
        {n.tqty.c_str(), printed("%0.2f", piece.seconds)},
        {n.sps.c_str(), printed("%0.2f", store.sampleRate)},
        {n.gain.c_str(), "1"},
        {n.cpath.c_str(), quoted(cataloguePath)},
        {n.datatype.c_str(), "3"},
        {n.ch.c_str(), quoted(store.channel)},
        {n.creater.c_str(), quoted(store.creator)},
        {n.lddate.c_str(), "{ts '" + std::string(loadDate) + "'}"},
        {n.foff.c_str(), printed("%d", foff)},
        {n.calib.c_str(), printed("%0.2f", store.calib)},
        {n.calper.c_str(), printed("%0.2f", store.calper)},
    };
    if (useTend) row.emplace_back(n.tend.c_str(), printed("%0.4f", piece.start + piece.seconds));
    if (!store.locationCode.empty()) row.emplace_back(n.lcode.c_str(), quoted(store.locationCode));

    std::string columns;
    std::string values;
    for (const auto& [column, value] : row) {
        if (!columns.empty()) {
            columns += ',';
            values += ',';
        }
        columns += column;
        values += value;
    }
    StatementText text;
    text.format("insert into %s(%s) values(%s)", n.table.c_str(), columns.c_str(), values.c_str());
    return text;
}

ResultCode insertFileRow(ArchiveDatabase& db, const ChannelStore& store, const Piece& piece, std::string_view path,
                         std::int32_t foff)
{
    const StatementText text = fileRowInsert(db.schemaNames().filelist, store, piece, db.cataloguePath(path),
                                             nowLoadDate(), foff, db.useTend());
    return db.execute(text, kResultInsertFailed, kResultInsertFailed);
}

ResultCode extendFileRow(ArchiveDatabase& db, const ChannelStore& store, const LatestFile& latest,
                         const Piece& piece)
{
    const std::string loadDate = nowLoadDate();
    const FilelistNames& n = db.schemaNames().filelist;
    StatementText text;
    // The row is found again by its TBEGIN and TQTY as they print; TEND is
    // refreshed whether or not inserts write it.
    text.format("update %s set %s=%0.2f,%s={ts '%s'},%s=%0.4f where %s='%s' and %s='%s' and %s and %s=%0.4f and "
                "%s=%0.2f",
                n.table.c_str(), n.tqty.c_str(), latest.length + piece.seconds, n.lddate.c_str(), loadDate.c_str(),
                n.tend.c_str(), latest.begin + latest.length + piece.seconds, n.sta.c_str(),
                sqlText(store.station).c_str(), n.ch.c_str(), sqlText(store.channel).c_str(),
                locationCondition(n.lcode.view(), store.locationCode).c_str(), n.tbegin.c_str(), latest.begin,
                n.tqty.c_str(), latest.length);
    return db.execute(text, kResultUpdateFailed, kResultNoRowUpdated);
}

WrittenPiece appendArchivePiece(ArchiveDatabase& db, const Piece& piece, const LatestFile& latest)
{
    WrittenPiece written;
    try {
        written.path.assign(latest.path);
    } catch (const std::bad_alloc&) {
        return WrittenPiece{kResultPathOrMemoryFailed, {}};
    }
    std::string reason;
    if (appendTrzSamples(db.absolutePath(written.path), latest.cataloguedSamples(), piece.samples.data(),
                         piece.count(), &reason, durability(db)) != kResultOk) {
        db.noteFailure(reason);
        written.code = kResultFileOpenFailed;
        return written;
    }
    noteArchiveRootInUse(db);
    return written;
}

WrittenPiece createArchivePiece(ArchiveDatabase& db, const ChannelStore& store, const Piece& piece)
{
    WrittenPiece written{kResultOk, trzFilePath(db.dataDir(), store.station, store.channel, piece.start)};
    if (written.path.empty()) {
        db.noteFailure("no archive file name can be formed for " + store.station + "::" + store.channel);
        written.code = kResultFileOpenFailed;
        return written;
    }
    // A name that the catalogue still lists belongs to archived data: it is
    // never truncated for a new file.
    const RowCount counted = countRowsWithPath(db, db.cataloguePath(written.path));
    if (counted.code != kResultOk) {
        written.code = counted.code;
        return written;
    }
    if (counted.rows > 0) {
        db.noteFailure(written.path + ": a catalogued file has this name");
        written.code = kResultFileOpenFailed;
        return written;
    }
    written.code = confirmArchiveRoot(db, store.creator);
    if (written.code != kResultOk) return written;
    const double pieceSeconds = store.sampleRate > 0.0 ? piece.count() / store.sampleRate : 0.0;
    const TrzHeader header =
        formatTrzHeader(piece.start, pieceSeconds, store.sampleRate, store.station, store.channel);
    std::string reason;
    if (createTrzFile(db.absolutePath(written.path), piece.samples.data(), piece.count(), header, &reason,
                      durability(db)) != kResultOk) {
        db.noteFailure(reason);
        written.code = kResultFileOpenFailed;
    }
    return written;
}

ResultCode writeArchiveHeader(ArchiveDatabase& db, const ChannelStore& store, std::string_view path)
{
    const std::string cataloguePath = db.cataloguePath(path);
    const FilelistNames& n = db.schemaNames().filelist;
    StatementText text;
    text.format("select %s,%s,%s,%s from %s where %s='%s' and %s='%s' and %s and %s='%s' and %s='%s'",
                n.sps.c_str(), n.foff.c_str(), n.tbegin.c_str(), db.useTend() ? n.tend.c_str() : n.tqty.c_str(),
                n.table.c_str(), n.sta.c_str(), sqlText(store.station).c_str(), n.ch.c_str(),
                sqlText(store.channel).c_str(), locationCondition(n.lcode.view(), store.locationCode).c_str(),
                n.creater.c_str(), sqlText(store.creator).c_str(), n.cpath.c_str(), sqlText(cataloguePath).c_str());
    odbc::DoubleColumn sps;
    odbc::IntegerColumn foff;
    odbc::DoubleColumn begin;
    odbc::DoubleColumn last;
    const QueryEnd end = db.query(
        text,
        [&](odbc::Statement& statement) {
            statement.bind(1, sps);
            statement.bind(2, foff);
            statement.bind(3, begin);
            statement.bind(4, last);
        },
        [] { return false; });
    // A row without its start or end cannot describe the file: the header
    // stays as it is.
    if (end != QueryEnd::kStopped || begin.isNull() || last.isNull()) return kResultQueryFailed;
    const double duration = db.useTend() ? last.value - begin.value : last.value;
    const TrzHeader header = formatTrzHeader(begin.value, duration, store.sampleRate, store.station, store.channel);
    std::string reason;
    if (writeTrzHeader(db.absolutePath(path), header, &reason) == kResultOk) return kResultOk;
    db.noteFailure(reason);
    return kResultFileOpenFailed;
}

std::vector<CataloguedSpan> findOverlappingRows(ArchiveDatabase& db, const ChannelStore& store, double begin,
                                                double end, ResultCode& code)
{
    code = kResultOk;
    std::vector<CataloguedSpan> spans;
    const double rate = store.sampleRate;
    if (!(rate > 0.0) || !std::isfinite(rate) || !(end > begin)) return spans;
    const double tolerance = kContainmentIntervals / rate;

    const FilelistNames& n = db.schemaNames().filelist;
    StatementText text;
    // The bounds in the statement only narrow the rows to those that may
    // touch the span; the exact test is made below on the values as read.
    // A row of this program spans less than two file periods (a file is
    // continued only while it holds less than one, by at most one more), so
    // only rows that begin within two periods before the span can reach it:
    // the lower bound keeps the channel's older history out of the answer.
    const double earliestBegin = begin - tolerance - 1.0 - 2.0 * static_cast<double>(db.filePeriod());
    text.format("select %s,%s,%s,%s from %s where %s='%s' and %s='%s' and %s and %s='%s' and %s=%d and %s>=%0.4f "
                "and %s<=%0.4f and %s+%s>=%0.4f order by %s desc,%s desc",
                n.tbegin.c_str(), n.tqty.c_str(), n.sps.c_str(), n.cpath.c_str(), n.table.c_str(), n.sta.c_str(),
                sqlText(store.station).c_str(), n.ch.c_str(), sqlText(store.channel).c_str(),
                locationCondition(n.lcode.view(), store.locationCode).c_str(), n.creater.c_str(),
                sqlText(store.creator).c_str(), n.foff.c_str(), kTrzDataOffset, n.tbegin.c_str(), earliestBegin,
                n.tbegin.c_str(), end + tolerance + 1.0, n.tbegin.c_str(), n.tqty.c_str(), begin - tolerance - 1.0,
                n.lddate.c_str(), n.tbegin.c_str());
    odbc::DoubleColumn rowBegin;
    odbc::DoubleColumn length;
    odbc::DoubleColumn sps;
    odbc::TextColumn<StatementText::kCapacity> path;
    const QueryEnd rows = db.query(
        text,
        [&](odbc::Statement& statement) {
            statement.bind(1, rowBegin);
            statement.bind(2, length);
            statement.bind(3, sps);
            statement.bind(4, path);
        },
        [&] {
            const bool usable = !rowBegin.isNull() && !length.isNull() && !sps.isNull() && !path.isNull();
            // A row overlaps when it shares more than half a sample interval
            // with the span; one that only ends where the span begins (the
            // file the data continues) does not.
            if (usable && std::fabs(sps.value - rate) < kRateTolerance &&
                rowBegin.value < end - tolerance && rowBegin.value + length.value > begin + tolerance)
                spans.push_back(CataloguedSpan{rowBegin.value, length.value, std::string(path.view())});
            return true;
        });
    if (rows != QueryEnd::kAllRowsRead) {
        code = kResultQueryFailed;
        spans.clear();
    }
    return spans;
}

Replacement replaceContainedSamples(ArchiveDatabase& db, const ChannelStore& store,
                                    std::span<const float> samples, double begin, double end)
{
    const double rate = store.sampleRate;
    if (samples.empty() || samples.data() == nullptr || !(rate > 0.0) || !std::isfinite(rate) || !(end > begin))
        return Replacement{};
    const double tolerance = kContainmentIntervals / rate;
    ResultCode code = kResultOk;
    const std::vector<CataloguedSpan> spans = findOverlappingRows(db, store, begin, end, code);
    if (code != kResultOk) return Replacement{code, false, {}};
    if (spans.empty()) return Replacement{kResultOk, false, {}, true};

    for (const CataloguedSpan& span : spans) {
        if (begin < span.begin - tolerance || end > span.begin + span.length + tolerance) continue;
        const double first = std::round((begin - span.begin) * rate);
        if (first < 0.0) continue;
        // The catalogue may claim more than the file holds (a write that
        // failed half-way); only samples already on disk are replaced, and a
        // file that does not hold them is passed over.
        std::string reason;
        if (overwriteTrzSamples(db.absolutePath(span.path), static_cast<std::int64_t>(first), samples.data(),
                                static_cast<std::int32_t>(samples.size()), &reason) != kResultOk) {
            db.noteFailure(reason);
            continue;
        }
        noteArchiveRootInUse(db);
        // The header as the row describes the file; the samples are stored
        // whatever this answers.
        writeArchiveHeader(db, store, span.path);
        return Replacement{kResultOk, true, span.path};
    }
    return Replacement{};
}

Overlap replaceOverlappedSamples(ArchiveDatabase& db, const ChannelStore& store, const Piece& piece)
{
    Overlap overlap;
    const double rate = store.sampleRate;
    const std::int64_t count = piece.count();
    if (count <= 0 || piece.samples.data() == nullptr || !(rate > 0.0) || !std::isfinite(rate)) return overlap;
    const std::vector<CataloguedSpan> spans =
        findOverlappingRows(db, store, piece.start, piece.start + piece.seconds, overlap.code);
    if (overlap.code != kResultOk) return overlap;

    // Sample numbers of the piece that a catalogued file holds, as
    // [first, last) ranges: none of them is stored anew. Only samples that
    // the row accounts for and the file holds on disk count: what a row
    // claims beyond its file (a write that failed half-way, a file gone) is
    // in no file and is stored as new data.
    std::vector<std::pair<std::int64_t, std::int64_t>> covered;
    for (CataloguedSpan span : spans) {
        const CutBack cut = cutBackToFile(db, store, span, rate);
        if (cut.code != kResultOk) {
            overlap.code = cut.code;
            return overlap;
        }
        if (cut.cut && !(cut.length > 0.0)) continue;
        span.length = cut.length;
        const auto offset = static_cast<std::int64_t>(std::round((span.begin - piece.start) * rate));
        const double catalogued = std::round(span.length * rate);
        if (!std::isfinite(catalogued) || catalogued <= 0.0) continue;
        const std::int64_t held =
            std::min<std::int64_t>(static_cast<std::int64_t>(catalogued), trzSampleCount(db.absolutePath(span.path)));
        const std::int64_t first = std::max<std::int64_t>(offset, 0);
        const std::int64_t last = std::min<std::int64_t>(offset + held, count);
        if (last <= first) continue;
        covered.emplace_back(first, last);
        std::string reason;
        if (overwriteTrzSamples(db.absolutePath(span.path), first - offset, piece.samples.data() + first,
                                static_cast<std::int32_t>(last - first), &reason) != kResultOk) {
            // Stored elsewhere, these samples would lie twice in the archive.
            db.noteFailure(reason);
            overlap.code = kResultFileOpenFailed;
            return overlap;
        }
        noteArchiveRootInUse(db);
        // The header as the row describes the file (a store cut off after
        // its row statement left it behind); the samples are stored whatever
        // this answers.
        writeArchiveHeader(db, store, span.path);
    }

    // What lies before, between and after the covered ranges.
    std::sort(covered.begin(), covered.end());
    std::int64_t next = 0;
    const auto addPart = [&](std::int64_t first, std::int64_t last) {
        if (last <= first) return;
        const double start = piece.start + static_cast<double>(first) / rate;
        // The part that ends the piece keeps the piece's own end, so that its
        // row accounts for the seconds a conversion without overlap would.
        const double seconds = last == count ? piece.start + piece.seconds - start
                                             : static_cast<double>(last - first) / rate;
        overlap.parts.push_back(Piece{start, seconds,
                                      piece.samples.subspan(static_cast<std::size_t>(first),
                                                            static_cast<std::size_t>(last - first))});
    };
    for (const auto& [first, last] : covered) {
        addPart(next, first);
        next = std::max(next, last);
    }
    addPart(next, count);
    return overlap;
}

}  // namespace catalogue

using namespace catalogue;

namespace {

// Stores one part of a piece that no catalogued file holds: it continues
// the channel's file that ends where it starts (same rate, file not full),
// otherwise it starts a new file named by its start.
ResultCode storePiece(ArchiveDatabase& db, const ChannelStore& store, const Piece& part)
{
    const double sampleRate = store.sampleRate;
    bool spaceWarning = false;
    LatestFileLookup latest = findLatestFile(db, store, part.start);
    if (latest.code != kResultOk) return latest.code;

    const SpaceReclaim reclaimed = db.reclaimSpace(store, latest.file.length);
    if (reclaimed.code == kResultSpaceWarning) {
        spaceWarning = true;
    } else if (reclaimed.code != kResultOk) {
        return reclaimed.code;
    }
    // The purge may have taken the very file the part would continue:
    // the part then continues whatever is latest now, or starts a file.
    if (reclaimed.purgedRows > 0) {
        latest = findLatestFile(db, store, part.start);
        if (latest.code != kResultOk) return latest.code;
    }

    // A file is continued only at its own rate: samples at another rate
    // would shift every later time in it.
    const auto continuesLatest = [&](const LatestFile& file) {
        return file.found && std::fabs(file.begin + file.length - part.start) < kContinuationIntervals / sampleRate &&
               file.length < db.filePeriod() && std::fabs(file.rate - sampleRate) < kRateTolerance;
    };
    // A latest file shorter than its row is cut back before it is
    // continued: the part then continues it where it really ends, or
    // whatever is latest now, or starts a new file.
    bool continues = continuesLatest(latest.file);
    for (int rounds = 0; continues && rounds < kMaxCutBacks; ++rounds) {
        const CutBack cut = cutBackToFile(
            db, store, CataloguedSpan{latest.file.begin, latest.file.length, latest.file.path}, latest.file.rate);
        if (cut.code != kResultOk) return cut.code;
        if (!cut.cut) break;
        latest = findLatestFile(db, store, part.start);
        if (latest.code != kResultOk) return latest.code;
        continues = continuesLatest(latest.file);
    }
    const LatestFile& file = latest.file;
    WrittenPiece written;
    if (continues) {
        written = appendArchivePiece(db, part, file);
        if (written.code != kResultOk) return written.code;
        const ResultCode rc = extendFileRow(db, store, file, part);
        if (rc != kResultOk && rc != kResultNoRowUpdated) return rc;
    } else {
        written = createArchivePiece(db, store, part);
        if (written.code != kResultOk) return written.code;
        const ResultCode rc = insertFileRow(db, store, part, written.path, kTrzDataOffset);
        if (rc != kResultOk) {
            // A file that no row accounts for would only shadow the next
            // store of the same start.
            const std::string diagnostics = db.lastDiagnostics();
            removeArchiveFile(db, db.absolutePath(written.path));
            db.noteFailure(diagnostics);
            return rc;
        }
    }
    // After the row statement, so that the header describes the file as
    // it is now catalogued; the part is stored whatever this answers.
    writeArchiveHeader(db, store, written.path);
    return spaceWarning ? kResultSpaceWarning : kResultOk;
}

}  // namespace


ResultCode ArchiveDatabase::replaceArchivedData(const ChannelStore& store, bool& replaced, bool* overlapsNothing)
{
    replaced = false;
    if (overlapsNothing != nullptr) *overlapsNothing = false;
    if (!(store.endTime > store.startTime) || store.sampleCount() <= 0) return kResultOk;
    if (!testConnection()) return kResultConnectionTestFailed;
    const Replacement replacement =
        replaceContainedSamples(*this, store, store.samples, store.startTime, store.endTime);
    replaced = replacement.replaced;
    if (overlapsNothing != nullptr) *overlapsNothing = replacement.overlapsNothing;
    return replacement.code;
}

ResultCode ArchiveDatabase::removeArchivedFile(const ChannelStore& store, std::string_view path)
{
    if (!testConnection()) return kResultConnectionTestFailed;
    const std::string cataloguePath = this->cataloguePath(path);
    const FilelistNames& n = schemaNames().filelist;
    StatementText text;
    text.format("delete from %s where %s='%s' and %s='%s' and %s and %s=%0.4f and %s='%s'", n.table.c_str(),
                n.sta.c_str(), sqlText(store.station).c_str(), n.ch.c_str(), sqlText(store.channel).c_str(),
                locationCondition(n.lcode.view(), store.locationCode).c_str(), n.tbegin.c_str(), store.startTime,
                n.cpath.c_str(), sqlText(cataloguePath).c_str());
    const ResultCode deleted = execute(text, kResultDeleteFailed, kResultOk);
    if (deleted != kResultOk) return deleted;

    // The file goes only when no row refers to it any more: a file that is
    // still catalogued (another start, creator or header size under the same
    // name) holds archived data.
    const RowCount counted = countRowsWithPath(*this, cataloguePath);
    if (counted.code != kResultOk) return counted.code;
    if (counted.rows > 0) return kResultOk;
    // A file that is not there is what the removal wants; one that cannot be
    // removed, or a path that names no archive file, is a failure.
    const FileCallResult removed = removeArchiveFile(*this, absolutePath(path));
    if (removed || removed.error == ENOENT) return kResultOk;
    noteFailure(removed.reason);
    return kResultDeleteFailed;
}

ResultCode ArchiveDatabase::archiveChannel(const ChannelStore& store, bool overlapsNothing)
{
    if (!(store.endTime > store.startTime)) return kResultEmptyInterval;
    if (!testConnection()) return kResultConnectionTestFailed;

    const std::int32_t count = store.sampleCount();
    const double sampleRate = store.sampleRate;
    const double span = static_cast<double>(filePeriod()) * sampleRate;
    const double quotient = std::ceil(static_cast<double>(count) / span);
    if (!std::isfinite(quotient) || quotient <= 0.0) return kResultOk;
    const auto pieces = static_cast<std::int32_t>(quotient);
    if (pieces <= 0 || store.samples.data() == nullptr) return kResultOk;

    // Where the next piece starts and the seconds not yet stored: both move
    // on by a full period after each full piece.
    double startTime = store.startTime;
    double duration = store.endTime - store.startTime;
    bool spaceWarning = false;
    for (std::int32_t i = 0; i < pieces; ++i) {
        auto n = static_cast<std::int32_t>(span);
        const double remaining = static_cast<double>(count) - span * i;
        if (n > remaining) n = static_cast<std::int32_t>(remaining);
        const auto offset = static_cast<std::int32_t>(i * span);
        if (n <= 0) break;
        const double period = filePeriod();
        const Piece piece{startTime, period > duration ? duration : period,
                          store.samples.subspan(static_cast<std::size_t>(offset), static_cast<std::size_t>(n))};
        const auto advance = [&] {
            if (piece.seconds == period) {
                duration -= piece.seconds;
                startTime += piece.seconds;
            }
        };

        // What earlier conversions archived of the piece is replaced where it
        // lies, so that converting it again (also after a store that was cut
        // off half-way, or once incomplete and again whole) neither
        // duplicates nor loses any; only what lies beyond is stored.
        // The caller may just have found that nothing catalogued overlaps
        // the store: the piece is then stored whole without asking again.
        const Overlap overlap = overlapsNothing ? Overlap{kResultOk, {piece}}
                                                : replaceOverlappedSamples(*this, store, piece);
        if (overlap.code != kResultOk) return overlap.code;
        for (const Piece& part : overlap.parts) {
            const ResultCode rc = storePiece(*this, store, part);
            if (rc == kResultSpaceWarning) {
                spaceWarning = true;
            } else if (rc != kResultOk) {
                return rc;
            }
        }
        advance();
    }
    return spaceWarning ? kResultSpaceWarning : kResultOk;
}

}  // namespace tremcvt
