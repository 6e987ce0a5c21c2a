// The FILELIST catalogue of the TRZ archive: cutting a channel into pieces of
// at most one file period, continuing the channel's latest file or starting
// a new one, the rows that record them, the removal of an earlier
// conversion, and the in-place replacement of data that is archived already.
#include <cmath>
#include <ctime>
#include <filesystem>
#include <new>
#include <string>
#include <system_error>
#include <vector>

#include "converter/archive/archive_database.h"
#include "converter/archive/catalogue_internal.h"
#include "converter/writers/trz_writer.h"
#include "converter/writers/writer_result.h"

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

std::string nowLoadDate() { return loadDateText(std::time(nullptr)); }

// The part of the current piece that a row statement accounts for: the rest
// of the data, at most one file period.
double pieceQuantity(const ArchiveDatabase& db)
{
    const double period = db.filePeriod();
    return period > db.duration ? db.duration : period;
}

void advanceAfterFullPiece(ArchiveDatabase& db, double qty)
{
    if (qty == static_cast<double>(db.filePeriod())) {
        db.duration -= qty;
        db.startTime += qty;
    }
}

}  // namespace

ResultCode countRowsWithPath(ArchiveDatabase& db, const std::string& cataloguePath, std::int64_t& rows)
{
    rows = 0;
    odbc::Statement statement(db.connection());
    if (!statement.allocated()) {
        db.noteFailure(statement);
        return kResultQueryFailed;
    }
    const FilelistNames& names = db.schemaNames().filelist;
    StatementText text;
    text.format("select count(*) from %s where %s='%s'", names.table.c_str(), names.cpath.c_str(),
                sqlText(cataloguePath).c_str());
    if (!odbc::succeeded(db.execute(statement, text))) return kResultQueryFailed;
    odbc::DoubleColumn count;
    statement.bind(1, count);
    const SQLRETURN rc = db.fetch(statement);
    statement.closeCursor();
    if (!odbc::succeeded(rc)) return kResultQueryFailed;
    rows = count.isNull() ? 0 : static_cast<std::int64_t>(count.value);
    return kResultOk;
}

ResultCode findLatestFile(ArchiveDatabase& db, LatestFile& latest)
{
    latest = LatestFile{};
    odbc::Statement statement(db.connection());
    if (!statement.allocated()) {
        db.noteFailure(statement);
        return kResultQueryFailed;
    }
    const FilelistNames& names = db.schemaNames().filelist;
    StatementText text;
    text.format("select %s,%s,%s,%s from %s where %s='%s' and %s='%s' and %s order by %s desc,%s desc",
                names.foff.c_str(), names.tbegin.c_str(), names.tqty.c_str(), names.cpath.c_str(),
                names.table.c_str(), names.sta.c_str(), sqlText(db.station).c_str(), names.ch.c_str(),
                sqlText(db.channel).c_str(), db.filelistLocationCondition().c_str(), names.lddate.c_str(),
                names.tbegin.c_str());
    if (!odbc::succeeded(db.execute(statement, text))) return kResultQueryFailed;

    odbc::IntegerColumn foff;
    odbc::DoubleColumn begin;
    odbc::DoubleColumn length;
    odbc::TextColumn<StatementText::kCapacity> path;
    statement.bind(1, foff);
    statement.bind(2, begin);
    statement.bind(3, length);
    statement.bind(4, path);

    SQLRETURN rc = db.fetch(statement);
    if (!odbc::succeeded(rc) && rc != SQL_NO_DATA) {
        statement.closeCursor();
        return kResultQueryFailed;
    }
    // Newest first, until a file with this program's header size; a failed
    // fetch in the walk ends it like the end of the rows.
    while (odbc::succeeded(rc)) {
        if (!foff.isNull() && foff.value == kTrzDataOffset) {
            latest.found = true;
            latest.begin = begin.isNull() ? 0.0 : begin.value;
            latest.length = length.isNull() ? 0.0 : length.value;
            latest.path.assign(path.view());
            break;
        }
        rc = db.fetch(statement);
    }
    statement.closeCursor();
    return kResultOk;
}

ResultCode insertFileRow(ArchiveDatabase& db, std::int32_t foff)
{
    odbc::Statement statement(db.connection());
    if (!statement.allocated()) {
        db.noteFailure(statement);
        return kResultQueryFailed;
    }
    const std::string loadDate = nowLoadDate();
    const std::string cataloguePath = sqlText(db.catalogueCurrentPath());
    const double qty = pieceQuantity(db);
    const FilelistNames& n = db.schemaNames().filelist;
    const std::string station = sqlText(db.station);
    const std::string channel = sqlText(db.channel);
    const std::string creator = sqlText(db.creator);
    const std::string location = sqlText(db.locationCode);
    const bool withLocation = !db.locationCode.empty();

    // Columns and values in one order; TEND and LCODE follow when they are
    // written at all.
    std::string columns = std::string(n.sta.c_str()) + "," + n.tbegin.c_str() + "," + n.tqty.c_str() + "," +
                          n.sps.c_str() + "," + n.gain.c_str() + "," + n.cpath.c_str() + "," +
                          n.datatype.c_str() + "," + n.ch.c_str() + "," + n.creater.c_str() + "," +
                          n.lddate.c_str() + "," + n.foff.c_str() + "," + n.calib.c_str() + "," +
                          n.calper.c_str();
    if (db.useTend()) columns += std::string(",") + n.tend.c_str();
    if (withLocation) columns += std::string(",") + n.lcode.c_str();

    StatementText text;
    if (db.useTend() && withLocation) {
        text.format("insert into %s(%s) values('%s',%0.4f,%0.2f,%0.2f,1,'%s',3,'%s','%s',{ts '%s'},%d,%0.2f,%0.2f,"
                    "%0.4f,'%s')",
                    n.table.c_str(), columns.c_str(), station.c_str(), db.startTime, qty, db.sampleRate,
                    cataloguePath.c_str(), channel.c_str(), creator.c_str(), loadDate.c_str(), foff, db.calib,
                    db.calper, db.startTime + qty, location.c_str());
    } else if (db.useTend()) {
        text.format("insert into %s(%s) values('%s',%0.4f,%0.2f,%0.2f,1,'%s',3,'%s','%s',{ts '%s'},%d,%0.2f,%0.2f,"
                    "%0.4f)",
                    n.table.c_str(), columns.c_str(), station.c_str(), db.startTime, qty, db.sampleRate,
                    cataloguePath.c_str(), channel.c_str(), creator.c_str(), loadDate.c_str(), foff, db.calib,
                    db.calper, db.startTime + qty);
    } else if (withLocation) {
        text.format("insert into %s(%s) values('%s',%0.4f,%0.2f,%0.2f,1,'%s',3,'%s','%s',{ts '%s'},%d,%0.2f,%0.2f,"
                    "'%s')",
                    n.table.c_str(), columns.c_str(), station.c_str(), db.startTime, qty, db.sampleRate,
                    cataloguePath.c_str(), channel.c_str(), creator.c_str(), loadDate.c_str(), foff, db.calib,
                    db.calper, location.c_str());
    } else {
        text.format("insert into %s(%s) values('%s',%0.4f,%0.2f,%0.2f,1,'%s',3,'%s','%s',{ts '%s'},%d,%0.2f,%0.2f)",
                    n.table.c_str(), columns.c_str(), station.c_str(), db.startTime, qty, db.sampleRate,
                    cataloguePath.c_str(), channel.c_str(), creator.c_str(), loadDate.c_str(), foff, db.calib,
                    db.calper);
    }
    if (!odbc::succeeded(db.execute(statement, text))) return kResultInsertFailed;
    advanceAfterFullPiece(db, qty);
    return kResultOk;
}

ResultCode extendFileRow(ArchiveDatabase& db, double latestBegin, double latestLength)
{
    odbc::Statement statement(db.connection());
    if (!statement.allocated()) {
        db.noteFailure(statement);
        return kResultQueryFailed;
    }
    const std::string loadDate = nowLoadDate();
    const double qty = pieceQuantity(db);
    const FilelistNames& n = db.schemaNames().filelist;
    StatementText text;
    // The row is found again by its TBEGIN and TQTY as they print; TEND is
    // refreshed whether or not inserts write it.
    text.format("update %s set %s=%0.2f,%s={ts '%s'},%s=%0.4f where %s='%s' and %s='%s' and %s and %s=%0.4f and "
                "%s=%0.2f",
                n.table.c_str(), n.tqty.c_str(), latestLength + qty, n.lddate.c_str(), loadDate.c_str(),
                n.tend.c_str(), latestBegin + latestLength + qty, n.sta.c_str(), sqlText(db.station).c_str(),
                n.ch.c_str(), sqlText(db.channel).c_str(), db.filelistLocationCondition().c_str(),
                n.tbegin.c_str(), latestBegin, n.tqty.c_str(), latestLength);
    const SQLRETURN rc = db.execute(statement, text);
    if (rc == SQL_NO_DATA) {
        // The samples are in the file all the same; the next piece still
        // starts after them.
        advanceAfterFullPiece(db, qty);
        return kResultNoRowUpdated;
    }
    if (!odbc::succeeded(rc)) return kResultUpdateFailed;
    advanceAfterFullPiece(db, qty);
    return kResultOk;
}

ResultCode writeArchivePiece(ArchiveDatabase& db, const float* samples, std::int32_t count, bool newFile,
                             std::string_view path)
{
    if (!newFile) {
        try {
            db.currentPath.assign(path);
        } catch (const std::bad_alloc&) {
            return kResultPathOrMemoryFailed;
        }
        return appendTrzSamples(db.absoluteCurrentPath(), samples, count) == kWriterSuccess
                   ? kResultOk
                   : kResultFileOpenFailed;
    }

    const std::string filePath = trzFilePath(db.dataDir(), db.station, db.channel, db.startTime);
    db.currentPath = filePath;
    if (filePath.empty()) return kResultFileOpenFailed;
    // A name that the catalogue still lists belongs to archived data: it is
    // never truncated for a new file.
    std::int64_t rows = 0;
    const ResultCode counted = countRowsWithPath(db, db.catalogueCurrentPath(), rows);
    if (counted != kResultOk) return counted;
    if (rows > 0) {
        db.noteFailure("a catalogued file has the name " + filePath);
        return kResultFileOpenFailed;
    }
    const double pieceSeconds = db.sampleRate > 0.0 ? count / db.sampleRate : 0.0;
    const TrzHeader header = formatTrzHeader(db.startTime, pieceSeconds, db.sampleRate, db.station, db.channel);
    return createTrzFile(db.absoluteCurrentPath(), samples, count, header) == kWriterSuccess
               ? kResultOk
               : kResultFileOpenFailed;
}

ResultCode writeArchiveHeader(ArchiveDatabase& db)
{
    const std::string cataloguePath = db.catalogueCurrentPath();
    odbc::Statement statement(db.connection());
    if (!statement.allocated()) {
        db.noteFailure(statement);
        return kResultQueryFailed;
    }
    const FilelistNames& n = db.schemaNames().filelist;
    StatementText text;
    text.format("select %s,%s,%s,%s from %s where %s='%s' and %s='%s' and %s and %s='%s' and %s='%s'",
                n.sps.c_str(), n.foff.c_str(), n.tbegin.c_str(), db.useTend() ? n.tend.c_str() : n.tqty.c_str(),
                n.table.c_str(), n.sta.c_str(), sqlText(db.station).c_str(), n.ch.c_str(),
                sqlText(db.channel).c_str(), db.filelistLocationCondition().c_str(), n.creater.c_str(),
                sqlText(db.creator).c_str(), n.cpath.c_str(), sqlText(cataloguePath).c_str());
    if (!odbc::succeeded(db.execute(statement, text))) return kResultQueryFailed;
    odbc::DoubleColumn sps;
    odbc::IntegerColumn foff;
    odbc::DoubleColumn begin;
    odbc::DoubleColumn last;
    statement.bind(1, sps);
    statement.bind(2, foff);
    statement.bind(3, begin);
    statement.bind(4, last);
    const SQLRETURN rc = db.fetch(statement);
    statement.closeCursor();
    // A row without its start or end cannot describe the file: the header
    // stays as it is.
    if (!odbc::succeeded(rc) || begin.isNull() || last.isNull()) return kResultQueryFailed;
    const double duration = db.useTend() ? last.value - begin.value : last.value;
    const TrzHeader header = formatTrzHeader(begin.value, duration, db.sampleRate, db.station, db.channel);
    return writeTrzHeader(db.absoluteCurrentPath(), header) == kWriterSuccess ? kResultOk : kResultFileOpenFailed;
}

ResultCode replaceContainedSamples(ArchiveDatabase& db, const float* samples, std::int32_t count, bool& replaced)
{
    replaced = false;
    if (count <= 0 || samples == nullptr || !(db.sampleRate > 0.0) || !std::isfinite(db.sampleRate) ||
        !(db.endTime > db.startTime))
        return kResultOk;
    const double tolerance = kContainmentIntervals / db.sampleRate;

    odbc::Statement statement(db.connection());
    if (!statement.allocated()) {
        db.noteFailure(statement);
        return kResultQueryFailed;
    }
    const FilelistNames& n = db.schemaNames().filelist;
    StatementText text;
    // The bounds in the statement only narrow the rows; the exact test is
    // made below on the values as read.
    text.format("select %s,%s,%s,%s from %s where %s='%s' and %s='%s' and %s and %s='%s' and %s=%d and %s<=%0.4f "
                "and %s+%s>=%0.4f order by %s desc,%s desc",
                n.tbegin.c_str(), n.tqty.c_str(), n.sps.c_str(), n.cpath.c_str(), n.table.c_str(), n.sta.c_str(),
                sqlText(db.station).c_str(), n.ch.c_str(), sqlText(db.channel).c_str(),
                db.filelistLocationCondition().c_str(), n.creater.c_str(), sqlText(db.creator).c_str(),
                n.foff.c_str(), kTrzDataOffset, n.tbegin.c_str(), db.startTime + tolerance + 1.0,
                n.tbegin.c_str(), n.tqty.c_str(), db.endTime - tolerance - 1.0, n.lddate.c_str(),
                n.tbegin.c_str());
    if (!odbc::succeeded(db.execute(statement, text))) return kResultQueryFailed;
    odbc::DoubleColumn begin;
    odbc::DoubleColumn length;
    odbc::DoubleColumn sps;
    odbc::TextColumn<StatementText::kCapacity> path;
    statement.bind(1, begin);
    statement.bind(2, length);
    statement.bind(3, sps);
    statement.bind(4, path);

    struct Candidate {
        double begin;
        std::string path;
    };
    std::vector<Candidate> candidates;
    SQLRETURN rc = db.fetch(statement);
    while (odbc::succeeded(rc)) {
        const bool usable = !begin.isNull() && !length.isNull() && !sps.isNull() && !path.isNull();
        if (usable && std::fabs(sps.value - db.sampleRate) < kRateTolerance &&
            db.startTime >= begin.value - tolerance && db.endTime <= begin.value + length.value + tolerance)
            candidates.push_back(Candidate{begin.value, std::string(path.view())});
        rc = db.fetch(statement);
    }
    statement.closeCursor();
    if (rc != SQL_NO_DATA) return kResultQueryFailed;

    const std::string savedPath = db.currentPath;
    for (const Candidate& candidate : candidates) {
        const double first = std::round((db.startTime - candidate.begin) * db.sampleRate);
        if (first < 0.0) continue;
        db.currentPath = candidate.path;
        const std::string filePath = db.absoluteCurrentPath();
        // The catalogue may claim more than the file holds (a write that
        // failed half-way); only samples already on disk are replaced.
        const std::int64_t onDisk = trzSampleCount(filePath);
        const auto sampleIndex = static_cast<std::int64_t>(first);
        if (onDisk < 0 || sampleIndex + count > onDisk) continue;
        if (overwriteTrzSamples(filePath, sampleIndex, samples, count) != kWriterSuccess) continue;
        replaced = true;
        return kResultOk;
    }
    db.currentPath = savedPath;
    return kResultOk;
}

}  // namespace catalogue

using namespace catalogue;

ResultCode ArchiveDatabase::replaceArchivedData(const float* samples, std::int32_t count, std::string_view station,
                                                std::string_view channel, std::string_view locationCode,
                                                std::string_view creator, double startTime, double endTime,
                                                double sampleRate, bool& replaced)
{
    replaced = false;
    this->station.assign(station);
    this->channel.assign(channel);
    this->locationCode.assign(locationCode);
    this->creator.assign(creator);
    this->startTime = startTime;
    this->endTime = endTime;
    this->duration = endTime - startTime;
    this->sampleRate = sampleRate;
    if (!(endTime > startTime) || count <= 0) return kResultOk;
    if (!testConnection()) return kResultConnectionTestFailed;
    return replaceContainedSamples(*this, samples, count, replaced);
}

ResultCode ArchiveDatabase::removeArchivedFile(std::string_view station, std::string_view channel,
                                               std::string_view locationCode, double startTime,
                                               std::string_view path)
{
    if (!testConnection()) return kResultConnectionTestFailed;
    odbc::Statement statement(connection());
    if (!statement.allocated()) {
        noteFailure(statement);
        return kResultQueryFailed;
    }
    currentPath.assign(path);
    const std::string cataloguePath = catalogueCurrentPath();
    const FilelistNames& n = schemaNames().filelist;
    StatementText text;
    text.format("delete from %s where %s='%s' and %s='%s' and %s and %s=%0.4f and %s='%s'", n.table.c_str(),
                n.sta.c_str(), sqlText(station).c_str(), n.ch.c_str(), sqlText(channel).c_str(),
                locationCondition(n.lcode.view(), locationCode).c_str(), n.tbegin.c_str(), startTime,
                n.cpath.c_str(), sqlText(cataloguePath).c_str());
    const SQLRETURN rc = execute(statement, text);
    if (!odbc::succeeded(rc) && rc != SQL_NO_DATA) return kResultDeleteFailed;

    // The file goes only when no row refers to it any more: a file that is
    // still catalogued (another start, creator or header size under the same
    // name) holds archived data.
    std::int64_t rows = 0;
    if (countRowsWithPath(*this, cataloguePath, rows) != kResultOk || rows > 0) return kResultOk;
    std::error_code error;
    std::filesystem::remove(absoluteCurrentPath(), error);
    return kResultOk;
}

ResultCode ArchiveDatabase::archiveChannel(const float* samples, std::int32_t count, std::string_view station,
                                           std::string_view channel, std::string_view locationCode,
                                           std::string_view path, std::string_view creator, double startTime,
                                           double endTime, double sampleRate, double calib, double calper)
{
    this->station.assign(station);
    this->channel.assign(channel);
    this->locationCode.assign(locationCode);
    this->creator.assign(creator);
    this->startTime = startTime;
    this->endTime = endTime;
    this->sampleRate = sampleRate;
    this->calib = calib;
    this->calper = calper;
    duration = endTime - startTime;
    currentPath.assign(path);
    currentPath = absoluteCurrentPath();

    if (!(endTime > startTime)) return kResultEmptyInterval;
    if (!testConnection()) return kResultConnectionTestFailed;

    const double span = static_cast<double>(filePeriod()) * sampleRate;
    const double quotient = std::ceil(static_cast<double>(count) / span);
    if (!std::isfinite(quotient) || quotient <= 0.0) return kResultOk;
    const auto pieces = static_cast<std::int32_t>(quotient);
    if (pieces <= 0 || samples == nullptr) return kResultOk;

    // Data that an earlier conversion archived already is replaced where it
    // lies, so that converting it again neither duplicates nor loses any.
    bool replaced = false;
    const ResultCode replacement = replaceContainedSamples(*this, samples, count, replaced);
    if (replacement != kResultOk) return replacement;
    if (replaced) return kResultOk;

    bool spaceWarning = false;
    for (std::int32_t i = 0; i < pieces; ++i) {
        auto n = static_cast<std::int32_t>(span);
        const double remaining = static_cast<double>(count) - span * i;
        if (n > remaining) n = static_cast<std::int32_t>(remaining);
        const auto offset = static_cast<std::int32_t>(i * span);
        if (n <= 0) break;

        LatestFile latest;
        ResultCode rc = findLatestFile(*this, latest);
        if (rc != kResultOk) return rc;

        rc = reclaimSpace(latest.length);
        if (rc == kResultSpaceWarning) {
            spaceWarning = true;
        } else if (rc != kResultOk) {
            return rc;
        }

        const bool continues = latest.found &&
                               std::fabs(latest.begin + latest.length - this->startTime) <
                                   kContinuationIntervals / sampleRate &&
                               latest.length < filePeriod();
        if (continues) {
            rc = writeArchivePiece(*this, samples + offset, n, false, latest.path);
            if (rc != kResultOk) return rc;
            rc = extendFileRow(*this, latest.begin, latest.length);
            if (rc != kResultOk && rc != kResultNoRowUpdated) return rc;
        } else {
            rc = writeArchivePiece(*this, samples + offset, n, true, std::string_view());
            if (rc != kResultOk) return rc;
            rc = insertFileRow(*this, kTrzDataOffset);
            if (rc != kResultOk) return rc;
        }
        // After the row statement, so that the header describes the file as
        // it is now catalogued; the piece is stored whatever this answers.
        writeArchiveHeader(*this);
    }
    return spaceWarning ? kResultSpaceWarning : kResultOk;
}

}  // namespace tremcvt
