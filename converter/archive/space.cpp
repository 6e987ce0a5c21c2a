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

SpaceReclaim ArchiveDatabase::reclaimSpace(const ChannelStore& store, double latestLength)
{
    SpaceReclaim result;
    // One handle for every statement of the operation.
    odbc::Statement statement = newStatement();
    if (!statement.allocated()) return SpaceReclaim{kResultQueryFailed, 0};
    const FilelistNames& n = schemaNames().filelist;
    const std::string scope = std::string(n.sta.c_str()) + "='" + sqlText(store.station) + "' and " +
                              n.ch.c_str() + "='" + sqlText(store.channel) + "' and " +
                              locationCondition(n.lcode.view(), store.locationCode) + " and " + n.creater.c_str() +
                              "='" + sqlText(store.creator) + "' and " + n.foff.c_str() + "=" +
                              std::to_string(catalogue::kTrzDataOffset);

    // The sum is read as a double and kept in 64 bits, so channels of more
    // than 2 GiB are accounted for; a NULL sum (no rows) is 0.
    StatementText text;
    text.format("select sum(%s+%s*%s*4) as SIZE from %s where %s", n.foff.c_str(), n.tqty.c_str(), n.sps.c_str(),
                n.table.c_str(), scope.c_str());
    odbc::DoubleColumn sum;
    const QueryEnd summed = query(
        statement, text, [&](odbc::Statement& s) { s.bind(1, sum); }, [] { return false; });
    if (summed != QueryEnd::kStopped) return SpaceReclaim{kResultDeleteFailed, 0};
    std::int64_t size = sum.isNull() || !std::isfinite(sum.value) ? 0 : static_cast<std::int64_t>(sum.value);

    const double quota = static_cast<double>(quotaMiB()) * static_cast<double>(kMebibyte);
    const double latestBytes = latestLength * store.sampleRate * kSampleBytes;
    auto needFor = [&](std::int64_t bytes) { return static_cast<double>(bytes) + latestBytes; };

    // Free space is asked of the data directory (or its nearest existing
    // ancestor); where it is unknown only the quota decides.
    const std::optional<std::uint64_t> freeAtStart = freeSpace(dataDir());
    const bool diskLow = freeAtStart && *freeAtStart < kFreeSpaceFloor;
    if (!diskLow && needFor(size) < quota) return result;

    text.format("select %s,%s,%s,%s from %s where %s order by %s desc,%s desc", n.foff.c_str(), n.tqty.c_str(),
                n.sps.c_str(), n.cpath.c_str(), n.table.c_str(), scope.c_str(), n.lddate.c_str(),
                n.tbegin.c_str());
    odbc::IntegerColumn foff;
    odbc::DoubleColumn tqty;
    odbc::DoubleColumn sps;
    odbc::TextColumn<StatementText::kCapacity> cpath;
    std::vector<PurgeRecord> purgeList;  // newest first
    // A fetch that fails ends the list like its last row.
    const QueryEnd listed = query(
        statement, text,
        [&](odbc::Statement& s) {
            s.bind(1, foff);
            s.bind(2, tqty);
            s.bind(3, sps);
            s.bind(4, cpath);
        },
        [&] {
            purgeList.push_back(PurgeRecord{foff.value, tqty.isNull() ? 0.0 : tqty.value,
                                            sps.isNull() ? 0.0 : sps.value, std::string(cpath.view())});
            return true;
        });
    if (listed == QueryEnd::kNotExecuted) return SpaceReclaim{kResultDeleteFailed, 0};

    // Oldest first, over the whole list if need be, re-evaluating both
    // limits after every file.
    bool removeFailed = false;
    while (!purgeList.empty()) {
        const PurgeRecord record = std::move(purgeList.back());
        purgeList.pop_back();

        // The file goes before its row: should the delete fail, what is left
        // is a row without a file, never a file that nothing accounts for.
        const FileCallResult removed = catalogue::removeArchiveFile(*this, absolutePath(record.cpath));
        if (!removed) {
            removeFailed = true;
            noteFailure(removed.reason);
        }

        text.format("delete from %s where %s='%s'", n.table.c_str(), n.cpath.c_str(), sqlText(record.cpath).c_str());
        if (execute(statement, text, kResultDeleteFailed, kResultOk) != kResultOk)
            return SpaceReclaim{kResultDeleteFailed, result.purgedRows};
        ++result.purgedRows;

        size -= static_cast<std::int64_t>(record.tqty * record.sps * kSampleBytes + record.foff);
        if (limitsHold(needFor(size), quota, freeSpace(dataDir()))) break;
    }
    result.code = removeFailed ? kResultSpaceWarning : kResultOk;
    return result;
}

}  // namespace tremcvt
