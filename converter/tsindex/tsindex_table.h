// The tsindex table of the archive database, kept as miniSEED day files are
// stored: every update replaces the rows of one file with the rows computed
// from the file as it now stands (tsindex_scan.h), in one transaction, in
// the text forms mseedindex writes to SQLite or to PostgreSQL, so that the
// readers of mseedindex's table work on it unchanged.
#pragma once

#include <cstdint>
#include <string>
#include <vector>

#include "common/result_codes.h"
#include "converter/archive/archive_database.h"
#include "converter/tsindex/tsindex_scan.h"

namespace tremcvt {

// How the table's values are written: SQLite keeps times and lists as
// text, PostgreSQL as timestamps, an hstore and arrays of ranges.
enum class TsindexDialect { kSqlite, kPostgres };

// The value of updated a section's earlier row keeps (when the section's
// records are unchanged), as it goes back into the insert.
struct TsindexUpdated {
    std::string network, station, location, channel;
    int version = 0;
    std::string hash;
    std::string value;  // an SQL expression
};

// The insert statements of a scanned file's rows: updated is filemodtime
// unless an earlier row of the same codes, version and hash is in previous;
// scanned is scanTime (seconds since 1970).
std::vector<std::string> tsindexInserts(TsindexDialect dialect, const TsindexScan& scan,
                                        const std::vector<TsindexUpdated>& previous, std::int64_t scanTime);

class TsindexTable {
public:
    // The database stays connected, and outlives this object.
    explicit TsindexTable(ArchiveDatabase& database) : database_(database) {}

    // Scans the file and replaces its rows: kResultOk, kResultFileOpenFailed
    // (the file cannot be read), kResultQueryFailed (no tsindex table, or a
    // query failed), kResultDeleteFailed or kResultInsertFailed. reason()
    // tells why.
    ResultCode update(const std::string& path);
    const std::string& reason() const { return reason_; }

private:
    ResultCode findDialect();
    ResultCode fail(ResultCode code, std::string reason);

    ArchiveDatabase& database_;
    bool dialectKnown_ = false;
    TsindexDialect dialect_ = TsindexDialect::kSqlite;
    std::string reason_;
};

}  // namespace tremcvt
