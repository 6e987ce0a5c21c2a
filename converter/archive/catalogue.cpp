// The FILELIST catalogue of the TRZ archive: cutting a channel into pieces of
// at most one file period, continuing the channel's latest file or starting
// a new one, the rows that record them, the removal of an earlier
// conversion, and the in-place replacement of data that is archived already.
#include <cerrno>
#include <cmath>
#include <ctime>
#include <new>
#include <string>
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

std::int64_t LatestFile::cataloguedSamples() const
{
    const double samples = std::round(length * rate);
    if (!std::isfinite(samples) || samples < 0.0) return 0;
    return static_cast<std::int64_t>(samples);
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
    // SPS comes along so that a file is continued only at its own rate and
    // its catalogued length is known in samples.
    text.format("select %s,%s,%s,%s,%s from %s where %s='%s' and %s='%s' and %s order by %s desc,%s desc",
                names.foff.c_str(), names.tbegin.c_str(), names.tqty.c_str(), names.cpath.c_str(),
                names.sps.c_str(), names.table.c_str(), names.sta.c_str(), sqlText(db.station).c_str(),
                names.ch.c_str(),
                sqlText(db.channel).c_str(), db.filelistLocationCondition().c_str(), names.lddate.c_str(),
                names.tbegin.c_str());
    if (!odbc::succeeded(db.execute(statement, text))) return kResultQueryFailed;

    odbc::IntegerColumn foff;
    odbc::DoubleColumn begin;
    odbc::DoubleColumn length;
    odbc::TextColumn<StatementText::kCapacity> path;
    odbc::DoubleColumn rate;
    statement.bind(1, foff);
    statement.bind(2, begin);
    statement.bind(3, length);
    statement.bind(4, path);
    statement.bind(5, rate);

    SQLRETURN rc = db.fetch(statement);
    if (!odbc::succeeded(rc) && rc != SQL_NO_DATA) {
        statement.closeCursor();
        return kResultQueryFailed;
    }
    // Newest first, until a file with this program's header size. A failed
    // fetch is a failure: taken for the end of the rows, it would start a new
    // file beside the one the piece continues.
    while (odbc::succeeded(rc)) {
        if (!foff.isNull() && foff.value == kTrzDataOffset) {
            latest.found = true;
            latest.begin = begin.isNull() ? 0.0 : begin.value;
            latest.length = length.isNull() ? 0.0 : length.value;
            latest.rate = rate.isNull() ? 0.0 : rate.value;
            latest.path.assign(path.view());
            break;
        }
        rc = db.fetch(statement);
    }
    statement.closeCursor();
    if (!latest.found && rc != SQL_NO_DATA) {
        latest = LatestFile{};
        return kResultQueryFailed;
    }
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

ResultCode appendArchivePiece(ArchiveDatabase& db, const float* samples, std::int32_t count,
                              const LatestFile& latest)
{
    try {
        db.currentPath.assign(latest.path);
    } catch (const std::bad_alloc&) {
        return kResultPathOrMemoryFailed;
    }
    std::string reason;
    if (appendTrzSamples(db.absoluteCurrentPath(), latest.cataloguedSamples(), samples, count, &reason) !=
        kResultOk) {
        db.noteFailure(reason);
        return kResultFileOpenFailed;
    }
    noteArchiveRootInUse(db);
    return kResultOk;
}

ResultCode createArchivePiece(ArchiveDatabase& db, const float* samples, std::int32_t count)
{
    const std::string filePath = trzFilePath(db.dataDir(), db.station, db.channel, db.startTime);
    db.currentPath = filePath;
    if (filePath.empty()) {
        db.noteFailure("no archive file name can be formed for " + db.station + "::" + db.channel);
        return kResultFileOpenFailed;
    }
    // A name that the catalogue still lists belongs to archived data: it is
    // never truncated for a new file.
    std::int64_t rows = 0;
    const ResultCode counted = countRowsWithPath(db, db.catalogueCurrentPath(), rows);
    if (counted != kResultOk) return counted;
    if (rows > 0) {
        db.noteFailure(filePath + ": a catalogued file has this name");
        return kResultFileOpenFailed;
    }
    const ResultCode root = confirmArchiveRoot(db);
    if (root != kResultOk) return root;
    const double pieceSeconds = db.sampleRate > 0.0 ? count / db.sampleRate : 0.0;
    const TrzHeader header = formatTrzHeader(db.startTime, pieceSeconds, db.sampleRate, db.station, db.channel);
    std::string reason;
    if (createTrzFile(db.absoluteCurrentPath(), samples, count, header, &reason) != kResultOk) {
        db.noteFailure(reason);
        return kResultFileOpenFailed;
    }
    return kResultOk;
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
    std::string reason;
    if (writeTrzHeader(db.absoluteCurrentPath(), header, &reason) == kResultOk) return kResultOk;
    db.noteFailure(reason);
    return kResultFileOpenFailed;
}

ResultCode replaceContainedSamples(ArchiveDatabase& db, const float* samples, std::int32_t count, double begin,
                                   double end, bool& replaced)
{
    replaced = false;
    if (count <= 0 || samples == nullptr || !(db.sampleRate > 0.0) || !std::isfinite(db.sampleRate) ||
        !(end > begin))
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
                n.foff.c_str(), kTrzDataOffset, n.tbegin.c_str(), begin + tolerance + 1.0, n.tbegin.c_str(),
                n.tqty.c_str(), end - tolerance - 1.0, n.lddate.c_str(), n.tbegin.c_str());
    if (!odbc::succeeded(db.execute(statement, text))) return kResultQueryFailed;
    odbc::DoubleColumn rowBegin;
    odbc::DoubleColumn length;
    odbc::DoubleColumn sps;
    odbc::TextColumn<StatementText::kCapacity> path;
    statement.bind(1, rowBegin);
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
        const bool usable = !rowBegin.isNull() && !length.isNull() && !sps.isNull() && !path.isNull();
        if (usable && std::fabs(sps.value - db.sampleRate) < kRateTolerance && begin >= rowBegin.value - tolerance &&
            end <= rowBegin.value + length.value + tolerance)
            candidates.push_back(Candidate{rowBegin.value, std::string(path.view())});
        rc = db.fetch(statement);
    }
    statement.closeCursor();
    if (rc != SQL_NO_DATA) return kResultQueryFailed;

    const std::string savedPath = db.currentPath;
    for (const Candidate& candidate : candidates) {
        const double first = std::round((begin - candidate.begin) * db.sampleRate);
        if (first < 0.0) continue;
        db.currentPath = candidate.path;
        // The catalogue may claim more than the file holds (a write that
        // failed half-way); only samples already on disk are replaced, and a
        // file that does not hold them is passed over.
        std::string reason;
        if (overwriteTrzSamples(db.absoluteCurrentPath(), static_cast<std::int64_t>(first), samples, count,
                                &reason) != kResultOk) {
            db.noteFailure(reason);
            continue;
        }
        replaced = true;
        noteArchiveRootInUse(db);
        // The header as the row describes the file; the samples are stored
        // whatever this answers.
        writeArchiveHeader(db);
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
    return replaceContainedSamples(*this, samples, count, startTime, endTime, replaced);
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
    const ResultCode counted = countRowsWithPath(*this, cataloguePath, rows);
    if (counted != kResultOk) return counted;
    if (rows > 0) return kResultOk;
    // A file that is not there is what the removal wants; one that cannot be
    // removed, or a path that names no archive file, is a failure.
    const FileCallResult removed = removeArchiveFile(*this, absoluteCurrentPath());
    if (removed || removed.error == ENOENT) return kResultOk;
    noteFailure(removed.reason);
    return kResultDeleteFailed;
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

    bool spaceWarning = false;
    for (std::int32_t i = 0; i < pieces; ++i) {
        auto n = static_cast<std::int32_t>(span);
        const double remaining = static_cast<double>(count) - span * i;
        if (n > remaining) n = static_cast<std::int32_t>(remaining);
        const auto offset = static_cast<std::int32_t>(i * span);
        if (n <= 0) break;

        // A piece that an earlier conversion archived already is replaced
        // where it lies, so that converting it again (also after a store
        // that was cut off half-way) neither duplicates nor loses any.
        bool replaced = false;
        ResultCode rc = replaceContainedSamples(*this, samples + offset, n, this->startTime,
                                                this->startTime + pieceQuantity(*this), replaced);
        if (rc != kResultOk) return rc;
        if (replaced) {
            advanceAfterFullPiece(*this, pieceQuantity(*this));
            continue;
        }

        LatestFile latest;
        rc = findLatestFile(*this, latest);
        if (rc != kResultOk) return rc;

        std::int64_t purgedRows = 0;
        rc = reclaimSpace(latest.length, &purgedRows);
        if (rc == kResultSpaceWarning) {
            spaceWarning = true;
        } else if (rc != kResultOk) {
            return rc;
        }
        // The purge may have taken the very file the piece would continue:
        // the piece then continues whatever is latest now, or starts a file.
        if (purgedRows > 0) {
            rc = findLatestFile(*this, latest);
            if (rc != kResultOk) return rc;
        }

        // A file is continued only at its own rate: samples at another rate
        // would shift every later time in it.
        const bool continues = latest.found &&
                               std::fabs(latest.begin + latest.length - this->startTime) <
                                   kContinuationIntervals / sampleRate &&
                               latest.length < filePeriod() && std::fabs(latest.rate - sampleRate) < kRateTolerance;
        if (continues) {
            rc = appendArchivePiece(*this, samples + offset, n, latest);
            if (rc != kResultOk) return rc;
            rc = extendFileRow(*this, latest.begin, latest.length);
            if (rc != kResultOk && rc != kResultNoRowUpdated) return rc;
        } else {
            rc = createArchivePiece(*this, samples + offset, n);
            if (rc != kResultOk) return rc;
            rc = insertFileRow(*this, kTrzDataOffset);
            if (rc != kResultOk) {
                // A file that no row accounts for would only shadow the next
                // store of the same start.
                const std::string diagnostics = lastDiagnostics();
                removeArchiveFile(*this, absoluteCurrentPath());
                noteFailure(diagnostics);
                return rc;
            }
        }
        // After the row statement, so that the header describes the file as
        // it is now catalogued; the piece is stored whatever this answers.
        writeArchiveHeader(*this);
    }
    return spaceWarning ? kResultSpaceWarning : kResultOk;
}

}  // namespace tremcvt
