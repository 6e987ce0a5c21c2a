// The archive's own files on disk, apart from their contents: which paths
// the catalogue may remove, and the marker that tells a mounted archive disk
// from the empty directory it is mounted on.
#include <cerrno>
#include <filesystem>
#include <string>
#include <system_error>

#include "common/paths.h"
#include "common/platform.h"
#include "converter/archive/archive_database.h"
#include "converter/archive/catalogue_internal.h"
#include "converter/writers/output_file.h"

namespace tremcvt::catalogue {
namespace {

namespace fs = std::filesystem;

FileCallResult refusedRemoval(const std::string& path, const std::string& why)
{
    FileCallResult result;
    result.ok = false;
    result.reason = (path.empty() ? std::string("(no path)") : path) + ": not removed: " + why;
    return result;
}

// Whether path names something strictly below root, judged on the texts
// alone (".." climbing out of root counts as outside).
bool liesBelow(const std::string& path, const std::string& root)
{
    if (root.empty()) return false;
    const fs::path relative = fs::path(path).lexically_normal().lexically_relative(fs::path(root).lexically_normal());
    if (relative.empty() || relative == ".") return false;
    return *relative.begin() != "..";
}

bool markerPresent(const ArchiveDatabase& db)
{
    std::error_code error;
    return fs::is_regular_file(archiveMarkerPath(db), error);
}

// The marker is an empty file: only that it is there counts, so no store
// cut off while it is made can leave a marker that differs from another.
bool writeMarker(const ArchiveDatabase& db, std::string* reason)
{
    detail::OutputFile marker(archiveMarkerPath(db), detail::OutputFile::Mode::CreateTruncate);
    if (!marker.isOpen() || !marker.close()) {
        if (reason != nullptr) *reason = marker.failure();
        return false;
    }
    // Synced whatever the settings say (it is made once per archive): lost
    // to a power cut, it would make the archive look unmounted.
    const FileCallResult synced = syncDirectory(nativePath(db.dataDir()));
    if (!synced && reason != nullptr) *reason = synced.reason;
    return synced.ok;
}

// The newest catalogued file of this creator, in catalogue form; empty when
// the catalogue lists none.
struct NewestFile {
    ResultCode code = kResultOk;  // kResultOk or kResultQueryFailed
    std::string cataloguePath;
};

NewestFile newestCataloguedFile(ArchiveDatabase& db, std::string_view creator)
{
    const FilelistNames& n = db.schemaNames().filelist;
    StatementText text;
    text.format("select %s from %s where %s='%s' and %s=%d order by %s desc,%s desc", n.cpath.c_str(),
                n.table.c_str(), n.creater.c_str(), sqlText(creator).c_str(), n.foff.c_str(), kTrzDataOffset,
                n.lddate.c_str(), n.tbegin.c_str());
    odbc::TextColumn<StatementText::kCapacity> path;
    const QueryEnd end = db.query(
        text, [&](odbc::Statement& statement) { statement.bind(1, path); }, [] { return false; });
    if (end == QueryEnd::kAllRowsRead) return NewestFile{};
    if (end != QueryEnd::kStopped) return NewestFile{kResultQueryFailed, {}};
    return NewestFile{kResultOk, std::string(path.view())};
}

}  // namespace

std::string archiveMarkerPath(const ArchiveDatabase& db) { return joinPath(nativePath(db.dataDir()), kArchiveMarkerName); }

std::string nativePath(std::string_view path)
{
    std::string text(path);
    toNativeSeparators(text);
    return text;
}

FileCallResult removeArchiveFile(const ArchiveDatabase& db, const std::string& path)
{
    if (path.empty()) return refusedRemoval(path, "empty path");
    if (!liesBelow(nativePath(path), nativePath(db.dataDir())))
        return refusedRemoval(path, "outside the archive directory " + db.dataDir());
    std::error_code error;
    const fs::file_status status = fs::symlink_status(path, error);
    if (status.type() == fs::file_type::not_found) {
        FileCallResult missing;
        missing.ok = false;
        missing.error = ENOENT;
        missing.reason = path + ": not removed: no such file";
        return missing;
    }
    if (status.type() != fs::file_type::regular) return refusedRemoval(path, "not a regular file");
    return removeFile(path);
}

ResultCode confirmArchiveRoot(ArchiveDatabase& db, std::string_view creator)
{
    if (db.archiveRootConfirmed()) return kResultOk;
    if (markerPresent(db)) {
        db.noteArchiveRootConfirmed();
        return kResultOk;
    }
    std::error_code error;
    if (!fs::is_directory(nativePath(db.dataDir()), error)) {
        db.noteFailure(db.dataDir() + ": the archive directory does not exist");
        return kResultFileOpenFailed;
    }
    // No marker: either a new archive, an archive written before the marker
    // existed, or the empty directory of a disk that is not mounted. The
    // catalogue tells them apart: the newest file it lists must be on disk.
    const NewestFile newest = newestCataloguedFile(db, creator);
    if (newest.code != kResultOk) return newest.code;
    if (!newest.cataloguePath.empty()) {
        const std::string onDisk = db.absolutePath(newest.cataloguePath);
        if (!fs::is_regular_file(onDisk, error)) {
            db.noteFailure(db.dataDir() + ": the archive root looks unmounted: it lacks " + kArchiveMarkerName +
                           " and the newest catalogued file " + onDisk +
                           " is not there (mount the archive disk, or create the marker file if the archive"
                           " really is here)");
            return kResultFileOpenFailed;
        }
    }
    std::string reason;
    if (!writeMarker(db, &reason)) {
        db.noteFailure(reason);
        return kResultFileOpenFailed;
    }
    db.noteArchiveRootConfirmed();
    return kResultOk;
}

void noteArchiveRootInUse(ArchiveDatabase& db)
{
    if (db.archiveRootConfirmed()) return;
    // A catalogued file was found where the catalogue says: the disk is
    // mounted. An archive from before the marker gets its marker here.
    if (markerPresent(db) || writeMarker(db, nullptr)) db.noteArchiveRootConfirmed();
}

}  // namespace tremcvt::catalogue
