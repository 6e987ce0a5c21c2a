// Catalogued files that hold fewer samples than their rows promise: a store
// whose file writes a power cut took back (syncing off), or a file damaged or
// restored from an older copy. The samples are gone either way; the row and
// the header are cut back to what the file holds, so that the catalogue says
// so and the next store continues the file where it really ends.
#include <cmath>
#include <filesystem>
#include <string>
#include <system_error>

#include "common/calendar/calendar.h"
#include "converter/archive/archive_database.h"
#include "converter/archive/catalogue_internal.h"
#include "converter/writers/trz_writer.h"

namespace tremcvt::catalogue {
namespace {

namespace fs = std::filesystem;

constexpr std::int64_t kSampleBytes = 4;

// Whole samples of the file on disk (0 for a file shorter than its header
// area); -1 when there is no file.
std::int64_t heldSamples(const std::string& onDisk)
{
    std::error_code error;
    if (!fs::is_regular_file(onDisk, error)) return -1;
    const std::uintmax_t size = fs::file_size(onDisk, error);
    if (error) return -1;
    if (size <= kTrzHeaderSize) return 0;
    return static_cast<std::int64_t>((size - kTrzHeaderSize) / kSampleBytes);
}

std::string rowCondition(const FilelistNames& n, const ChannelStore& store, double begin,
                         std::string_view cataloguePath)
{
    StatementText text;
    text.format("%s='%s' and %s='%s' and %s and %s=%0.4f and %s='%s'", n.sta.c_str(), sqlText(store.station).c_str(),
                n.ch.c_str(), sqlText(store.channel).c_str(),
                locationCondition(n.lcode.view(), store.locationCode).c_str(), n.tbegin.c_str(), begin,
                n.cpath.c_str(), sqlText(cataloguePath).c_str());
    return std::string(text.view());
}

}  // namespace

CutBack cutBackToFile(ArchiveDatabase& db, const ChannelStore& store, const CataloguedSpan& row, double rate)
{
    CutBack result;
    result.length = row.length;
    const double promised = std::round(row.length * rate);
    if (!(rate > 0.0) || !std::isfinite(promised) || promised <= 0.0) return result;
    const auto catalogued = static_cast<std::int64_t>(promised);
    const std::string onDisk = db.absolutePath(row.path);
    const std::int64_t held = heldSamples(onDisk);
    // A file that is not there at all is left to the failure it makes: the
    // disk may not be mounted, or the file moved away.
    if (held < 0 || held >= catalogued) return result;

    const double keptSeconds = static_cast<double>(held) / rate;
    const FilelistNames& n = db.schemaNames().filelist;
    const std::string where = rowCondition(n, store, row.begin, row.path);
    StatementText text;
    if (held == 0) {
        text.format("delete from %s where %s", n.table.c_str(), where.c_str());
    } else {
        text.format("update %s set %s=%0.2f,%s=%0.4f where %s", n.table.c_str(), n.tqty.c_str(), keptSeconds,
                    n.tend.c_str(), row.begin + keptSeconds, where.c_str());
    }
    const ResultCode changed = held == 0 ? db.execute(text, kResultDeleteFailed, kResultOk)
                                         : db.execute(text, kResultUpdateFailed, kResultOk);
    if (changed != kResultOk) {
        result.code = changed;
        return result;
    }
    result.cut = true;
    result.length = keptSeconds;
    // The file to its whole samples (a torn last one goes) and its header
    // as the row now describes it; a file without samples goes with its
    // row, unless another row still names it.
    if (held == 0) {
        const RowCount others = countRowsWithPath(db, row.path);
        if (others.code == kResultOk && others.rows == 0) removeArchiveFile(db, onDisk);
    } else {
        cutTrzFile(onDisk, held);
        writeArchiveHeader(db, store, row.path);
    }
    const std::string what = onDisk + " holds " + std::to_string(held) + " samples, its catalogue row " +
                             std::to_string(catalogued) +
                             (held == 0 ? ": row and file removed" : ": row and header cut back");
    db.noteNotice(store.station + "::" + store.channel + ": " + what + "; lost " + utcText(row.begin + keptSeconds) +
                  " to " + utcText(row.begin + row.length) + " (convert again)");
    return result;
}

}  // namespace tremcvt::catalogue
