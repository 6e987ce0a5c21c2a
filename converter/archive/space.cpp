// Archive space management: before a piece is written, the files of the
// channel that this program wrote may take at most the quota together with
// one more file of the latest length, and the archive's file system keeps a
// free-space floor. The oldest files go first until both limits hold.
#include <cmath>
#include <cstdint>
#include <optional>
#include <string>
#include <vector>

#include "common/platform.h"
#include "converter/archive/archive_database.h"
#include "converter/archive/catalogue_internal.h"

namespace tremcvt {
namespace {

constexpr std::uint64_t kMebibyte = 1024 * 1024;
constexpr std::uint64_t kFreeSpaceFloor = 10 * kMebibyte;
constexpr double kSampleBytes = 4.0;

struct PurgeRecord {
    std::int32_t foff = 0;
    double tqty = 0.0;
    double sps = 0.0;
    std::string cpath;
};

// Whether both limits hold: the channel's files plus one more of the latest
// length stay below the quota and, where the free space is known, more than
// the floor is free.
bool limitsHold(double need, double quota, const std::optional<std::uint64_t>& free)
{
    if (need >= quota) return false;
    return !free || *free > kFreeSpaceFloor;
}

}  // namespace

ResultCode ArchiveDatabase::reclaimSpace(double latestLength, std::int64_t* purgedRows)
{
    if (purgedRows != nullptr) *purgedRows = 0;
    odbc::Statement statement(connection());
    if (!statement.allocated()) {
        noteFailure(statement);
        return kResultQueryFailed;
    }
    const FilelistNames& n = schemaNames().filelist;
    const std::string scope = std::string(n.sta.c_str()) + "='" + sqlText(station) + "' and " + n.ch.c_str() +
                              "='" + sqlText(channel) + "' and " + filelistLocationCondition() + " and " +
                              n.creater.c_str() + "='" + sqlText(creator) + "' and " + n.foff.c_str() + "=" +
                              std::to_string(catalogue::kTrzDataOffset);

    // The sum is read as a double and kept in 64 bits, so channels of more
    // than 2 GiB are accounted for; a NULL sum (no rows) is 0.
    StatementText text;
    text.format("select sum(%s+%s*%s*4) as SIZE from %s where %s", n.foff.c_str(), n.tqty.c_str(), n.sps.c_str(),
                n.table.c_str(), scope.c_str());
    if (!odbc::succeeded(execute(statement, text))) return kResultDeleteFailed;
    odbc::DoubleColumn sum;
    statement.bind(1, sum);
    const SQLRETURN fetched = fetch(statement);
    statement.closeCursor();
    statement.unbind();
    if (!odbc::succeeded(fetched)) return kResultDeleteFailed;
    std::int64_t size = sum.isNull() || !std::isfinite(sum.value) ? 0 : static_cast<std::int64_t>(sum.value);

    const double quota = static_cast<double>(quotaMiB()) * static_cast<double>(kMebibyte);
    const double latestBytes = latestLength * sampleRate * kSampleBytes;
    auto needFor = [&](std::int64_t bytes) { return static_cast<double>(bytes) + latestBytes; };

    // Free space is asked of the data directory (or its nearest existing
    // ancestor); where it is unknown only the quota decides.
    const std::optional<std::uint64_t> freeAtStart = freeSpace(dataDir());
    const bool diskLow = freeAtStart && *freeAtStart < kFreeSpaceFloor;
    if (!diskLow && needFor(size) < quota) return kResultOk;

    text.format("select %s,%s,%s,%s from %s where %s order by %s desc,%s desc", n.foff.c_str(), n.tqty.c_str(),
                n.sps.c_str(), n.cpath.c_str(), n.table.c_str(), scope.c_str(), n.lddate.c_str(),
                n.tbegin.c_str());
    if (!odbc::succeeded(execute(statement, text))) return kResultDeleteFailed;
    odbc::IntegerColumn foff;
    odbc::DoubleColumn tqty;
    odbc::DoubleColumn sps;
    odbc::TextColumn<StatementText::kCapacity> cpath;
    statement.bind(1, foff);
    statement.bind(2, tqty);
    statement.bind(3, sps);
    statement.bind(4, cpath);
    std::vector<PurgeRecord> purgeList;  // newest first
    while (odbc::succeeded(fetch(statement))) {
        purgeList.push_back(PurgeRecord{foff.value, tqty.isNull() ? 0.0 : tqty.value,
                                        sps.isNull() ? 0.0 : sps.value, std::string(cpath.view())});
    }
    statement.closeCursor();
    statement.unbind();

    // Oldest first, over the whole list if need be, re-evaluating both
    // limits after every file.
    bool removeFailed = false;
    while (!purgeList.empty()) {
        const PurgeRecord record = std::move(purgeList.back());
        purgeList.pop_back();

        // The file goes before its row: should the delete fail, what is left
        // is a row without a file, never a file that nothing accounts for.
        currentPath = record.cpath;
        const FileCallResult removed = catalogue::removeArchiveFile(*this, absoluteCurrentPath());
        if (!removed) {
            removeFailed = true;
            noteFailure(removed.reason);
        }

        text.format("delete from %s where %s='%s'", n.table.c_str(), n.cpath.c_str(), sqlText(record.cpath).c_str());
        const SQLRETURN deleted = execute(statement, text);
        if (!odbc::succeeded(deleted) && deleted != SQL_NO_DATA) return kResultDeleteFailed;
        statement.closeCursor();
        if (purgedRows != nullptr) ++*purgedRows;

        size -= static_cast<std::int64_t>(record.tqty * record.sps * kSampleBytes + record.foff);
        if (limitsHold(needFor(size), quota, freeSpace(dataDir()))) break;
    }
    return removeFailed ? kResultSpaceWarning : kResultOk;
}

}  // namespace tremcvt
