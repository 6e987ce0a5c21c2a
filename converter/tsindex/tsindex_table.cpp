#include "converter/tsindex/tsindex_table.h"

#include <algorithm>
#include <cinttypes>
#include <cstdlib>
#include <cstdio>
#include <ctime>
#include <utility>

#include "common/calendar/calendar.h"
#include "converter/archive/statement_text.h"

namespace tremcvt {
namespace {

constexpr std::int64_t kNanosecondsPerSecond = 1000000000;
constexpr const char* kTable = "tsindex";

template <typename... Values>
std::string printed(const char* format, Values... values)
{
    char text[128];
    const int length = std::snprintf(text, sizeof text, format, values...);
    return length < 0 ? std::string() : std::string(text, std::min<std::size_t>(length, sizeof text - 1));
}

// Whole seconds as mseedindex writes epoch times into lists and into
// PostgreSQL: the nanoseconds divided by 10^9 in integers (so cut, not
// rounded), printed with six decimals.
std::string epochText(std::int64_t nanoseconds)
{
    return printed("%.6f", static_cast<double>(nanoseconds / kNanosecondsPerSecond));
}

// "YYYY-MM-DDThh:mm:ss", with ".ffffff" when the time has microseconds and
// ".fffffffff" when it has nanoseconds below them (subseconds false: never).
std::string isoText(std::int64_t nanoseconds, bool subseconds)
{
    std::int64_t seconds = nanoseconds / kNanosecondsPerSecond;
    std::int64_t fraction = nanoseconds % kNanosecondsPerSecond;
    if (fraction < 0) {
        fraction += kNanosecondsPerSecond;
        --seconds;
    }
    CivilTime civil;
    const std::int64_t dayStart = seconds - ((seconds % 86400) + 86400) % 86400;
    civilFromSeconds(static_cast<double>(dayStart), civil);
    const std::int64_t inDay = seconds - dayStart;
    std::string text = printed("%04d-%02d-%02dT%02d:%02d:%02d", civil.year, civil.month, civil.day,
                               static_cast<int>(inDay / 3600), static_cast<int>(inDay / 60 % 60),
                               static_cast<int>(inDay % 60));
    if (!subseconds || fraction == 0) return text;
    if (fraction % 1000 == 0) return text + printed(".%06d", static_cast<int>(fraction / 1000));
    return text + printed(".%09d", static_cast<int>(fraction));
}

std::string timeValue(TsindexDialect dialect, std::int64_t nanoseconds)
{
    if (dialect == TsindexDialect::kPostgres) return "to_timestamp(" + epochText(nanoseconds) + ")";
    return "'" + isoText(nanoseconds, true) + "'";
}

std::string secondsValue(TsindexDialect dialect, std::int64_t seconds)
{
    if (dialect == TsindexDialect::kPostgres) return printed("to_timestamp(%" PRId64 ")", seconds);
    return "'" + isoText(seconds * kNanosecondsPerSecond, false) + "'";
}

std::string joined(const std::vector<std::string>& parts)
{
    std::string text;
    for (const std::string& part : parts) {
        if (!text.empty()) text += ',';
        text += part;
    }
    return text;
}

// 'time=>offset,...,latest=>0|1', or NULL when the first mark is not the
// section's earliest time (the index would not cover all of it).
std::string timeIndexValue(TsindexDialect dialect, const TsindexSection& section)
{
    if (section.timeIndex.empty() || section.timeIndex.front().time != section.earliest) return "NULL";
    const bool pg = dialect == TsindexDialect::kPostgres;
    std::vector<std::string> parts;
    for (const TsindexTimeMark& mark : section.timeIndex)
        parts.push_back(pg ? "\"" + epochText(mark.time) + "\"=>\"" + printed("%" PRId64, mark.byteOffset) + "\""
                           : epochText(mark.time) + "=>" + printed("%" PRId64, mark.byteOffset));
    parts.push_back(pg ? printed("\"latest\"=>\"%d\"", section.timeOrdered ? 1 : 0)
                       : printed("latest=>%d", section.timeOrdered ? 1 : 0));
    return "'" + joined(parts) + "'";
}

std::string timeSpansValue(TsindexDialect dialect, const TsindexSection& section)
{
    if (section.spans.empty()) return "NULL";
    std::vector<std::string> parts;
    for (const TsindexSpan& span : section.spans)
        parts.push_back(dialect == TsindexDialect::kPostgres
                            ? "numrange(" + epochText(span.start) + "," + epochText(span.end) + ",'[]')"
                            : "[" + epochText(span.start) + ":" + epochText(span.end) + "]");
    return dialect == TsindexDialect::kPostgres ? "ARRAY[" + joined(parts) + "]" : "'" + joined(parts) + "'";
}

// The rate of every span, only when the section's rates differ.
std::string timeRatesValue(TsindexDialect dialect, const TsindexSection& section)
{
    if (!section.rateMismatch || section.spans.empty()) return "NULL";
    std::vector<std::string> parts;
    for (const TsindexSpan& span : section.spans) parts.push_back(printed("%.6g", span.rate));
    return dialect == TsindexDialect::kPostgres ? "ARRAY[" + joined(parts) + "]" : "'" + joined(parts) + "'";
}

std::string quoted(const std::string& value) { return "'" + sqlText(value) + "'"; }

// Rolls back an open transaction unless it was committed.
class Transaction {
public:
    explicit Transaction(odbc::Statement& statement) : statement_(statement) {}
    ~Transaction()
    {
        if (open_) {
            statement_.closeCursor();
            statement_.execute("ROLLBACK");
        }
    }
    bool begin() { return open_ = odbc::succeeded(statement_.execute("BEGIN")); }
    bool commit()
    {
        statement_.closeCursor();
        const bool done = odbc::succeeded(statement_.execute("COMMIT"));
        if (done) open_ = false;
        return done;
    }

private:
    odbc::Statement& statement_;
    bool open_ = false;
};

}  // namespace

std::vector<std::string> tsindexInserts(TsindexDialect dialect, const TsindexScan& scan,
                                        const std::vector<TsindexUpdated>& previous, std::int64_t scanTime)
{
    std::vector<std::string> inserts;
    for (const TsindexSection& s : scan.sections) {
        std::string updated = secondsValue(dialect, scan.fileModTime);
        for (const TsindexUpdated& row : previous)
            if (row.hash == s.hash && row.version == s.version && row.channel == s.channel &&
                row.location == s.location && row.station == s.station && row.network == s.network)
                updated = row.value;
        inserts.push_back(
            std::string("INSERT INTO ") + kTable +
            " (network,station,location,channel,version,starttime,endtime,samplerate,filename,byteoffset,bytes,hash,"
            "timeindex,timespans,timerates,format,filemodtime,updated,scanned) VALUES (" +
            quoted(s.network) + "," + quoted(s.station) + "," + quoted(s.location) + "," + quoted(s.channel) + "," +
            printed("%d", s.version) + "," + timeValue(dialect, s.earliest) + "," + timeValue(dialect, s.latest) +
            "," + printed("%.6g", s.nominalRate) + "," + quoted(scan.filename) + "," +
            printed("%" PRId64, s.byteOffset) + "," + printed("%" PRId64, s.bytes) + "," + quoted(s.hash) + "," +
            timeIndexValue(dialect, s) + "," + timeSpansValue(dialect, s) + "," + timeRatesValue(dialect, s) +
            ",NULL," + secondsValue(dialect, scan.fileModTime) + "," + updated + "," +
            secondsValue(dialect, scanTime) + ")");
    }
    return inserts;
}

ResultCode TsindexTable::fail(ResultCode code, std::string reason)
{
    reason_ = std::move(reason);
    database_.noteFailure(reason_);
    return code;
}

// The table's timespans column tells the dialect: PostgreSQL's is an array
// of ranges, SQLite's is text. No such column: no tsindex table.
ResultCode TsindexTable::findDialect()
{
    if (dialectKnown_) return kResultOk;
    odbc::Statement statement = database_.newStatement();
    if (!statement.allocated()) return fail(kResultQueryFailed, "tsindex: " + statement.diagnostics());
    if (!odbc::succeeded(statement.columns(kTable, "timespans")))
        return fail(kResultQueryFailed, "tsindex: " + statement.diagnostics());
    odbc::TextColumn<64> typeName;
    statement.bind(6, typeName);
    if (!odbc::succeeded(statement.fetch()))
        return fail(kResultQueryFailed,
                    "the archive database has no tsindex table (schema/sqlite.sql or schema/postgresql.sql "
                    "creates it)");
    const std::string type(typeName.view());
    dialect_ = type.find("range") != std::string::npos || (!type.empty() && type[0] == '_')
                   ? TsindexDialect::kPostgres
                   : TsindexDialect::kSqlite;
    dialectKnown_ = true;
    return kResultOk;
}

ResultCode TsindexTable::update(const std::string& path)
{
    reason_.clear();
    const TsindexScan scan = scanMseedFile(path);
    if (scan.code != kResultOk) return fail(scan.code, "tsindex: " + scan.reason);
    const std::int64_t scanTime = static_cast<std::int64_t>(std::time(nullptr));
    if (const ResultCode found = findDialect(); found != kResultOk) return found;

    odbc::Statement statement = database_.newStatement();
    if (!statement.allocated()) return fail(kResultQueryFailed, "tsindex: " + statement.diagnostics());
    const std::string where = std::string(" FROM ") + kTable + " WHERE filename=" + quoted(scan.filename);
    auto failed = [&](ResultCode code, const char* what) {
        return fail(code, std::string("tsindex: ") + what + " of the rows of " + scan.filename + " failed: " +
                              statement.diagnostics());
    };

    // What an unchanged section keeps of its earlier row: its updated time.
    std::vector<TsindexUpdated> previous;
    const std::string updatedColumn =
        dialect_ == TsindexDialect::kPostgres ? "cast(extract(epoch from updated) as bigint)" : "updated";
    const std::string select =
        "SELECT network,station,location,channel,version,hash," + updatedColumn + where;
    if (!odbc::succeeded(statement.execute(select.c_str()))) return failed(kResultQueryFailed, "the query");
    odbc::TextColumn<64> network, station, location, channel, version, hash, updated;
    odbc::TextColumn<64>* columns[] = {&network, &station, &location, &channel, &version, &hash, &updated};
    for (SQLUSMALLINT i = 0; i < 7; ++i) statement.bind(i + 1, *columns[i]);
    for (SQLRETURN rc = statement.fetch(); rc != SQL_NO_DATA; rc = statement.fetch()) {
        if (!odbc::succeeded(rc)) return failed(kResultQueryFailed, "the query");
        const std::string value(updated.view());
        previous.push_back({std::string(network.view()), std::string(station.view()), std::string(location.view()),
                            std::string(channel.view()), std::atoi(std::string(version.view()).c_str()),
                            std::string(hash.view()),
                            dialect_ == TsindexDialect::kPostgres ? "to_timestamp(" + value + ")"
                                                                  : quoted(value)});
    }
    statement.closeCursor();
    statement.unbind();

    Transaction transaction(statement);
    if (!transaction.begin()) return failed(kResultQueryFailed, "the transaction");
    const std::string remove = "DELETE" + where;
    const SQLRETURN removed = statement.execute(remove.c_str());
    if (!odbc::succeeded(removed) && removed != SQL_NO_DATA) return failed(kResultDeleteFailed, "the removal");
    for (const std::string& insert : tsindexInserts(dialect_, scan, previous, scanTime)) {
        statement.closeCursor();
        if (!odbc::succeeded(statement.execute(insert.c_str()))) return failed(kResultInsertFailed, "the insert");
    }
    if (!transaction.commit()) return failed(kResultInsertFailed, "the commit");
    return kResultOk;
}

}  // namespace tremcvt
