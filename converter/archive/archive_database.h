// The converter's archive database: the ODBC connection to the data source
// that carries the archive catalogue (FILELIST) and the station tables
// (SITECHAN and the rest of the schema), its settings, the schema names and
// the diagnostics of the last failure. The channel being stored is handed to
// each operation as one ChannelStore value; nothing of it is kept here.
//
// One object lives for the whole run. It owns its handles and its texts;
// every operation allocates its own statement and releases it before it
// returns. Nothing here prints.
#pragma once

#include <cstdint>
#include <functional>
#include <span>
#include <string>
#include <string_view>
#include <utility>
#include <vector>

#include "converter/archive/archive_settings.h"
#include "converter/archive/odbc.h"
#include "common/result_codes.h"
#include "converter/archive/schema_names.h"
#include "converter/archive/statement_text.h"

namespace tremcvt {

// One channel's data as the catalogue stores it: whose it is, where it lies
// in time and its samples. Every catalogue step takes what it needs of it.
struct ChannelStore {
    std::string station;
    std::string channel;
    std::string locationCode;  // empty or "??": unspecified
    std::string creator;
    double startTime = 0.0;    // seconds since 1970
    double endTime = 0.0;      // seconds since 1970
    double sampleRate = 0.0;
    std::span<const float> samples;
    double calib = 0.0;
    double calper = 0.0;

    std::int32_t sampleCount() const { return static_cast<std::int32_t>(samples.size()); }
};

// How the rows of a query ended.
enum class QueryEnd {
    kNoStatement,  // no statement handle could be allocated
    kNotExecuted,  // the query failed (or its text did not fit)
    kFetchFailed,  // a fetch reported an error
    kAllRowsRead,  // the rows ran out (SQL_NO_DATA)
    kStopped,      // the row reader asked for no more rows
};

// What the space management did: its result, and how many catalogue rows
// the purge deleted (the latest file may have been among them).
struct SpaceReclaim {
    ResultCode code = kResultOk;
    std::int64_t purgedRows = 0;
};

class ArchiveDatabase {
public:
    static constexpr std::int32_t kFilePeriod = 3600;  // seconds per archive file
    static constexpr std::int32_t kQuotaMiB = 100;     // archive space per channel

    // Takes the settings (see configure); makes no ODBC call.
    explicit ArchiveDatabase(const ArchiveSettings& settings = ArchiveSettings());
    ~ArchiveDatabase();
    ArchiveDatabase(const ArchiveDatabase&) = delete;
    ArchiveDatabase& operator=(const ArchiveDatabase&) = delete;

    // Takes new settings: the data source, user name and password are cut
    // to ArchiveSettings::kCredentialLength characters, the archive root is
    // to be confirmed afresh, and TEND is used only when asked for: while
    // connected the data source is asked at once whether FILELIST has it,
    // otherwise it is asked at connect.
    void configure(const ArchiveSettings& settings);

    // Environment, ODBC 3, connection, SQLConnect, schema verification and
    // the TEND probe. False when any of the first four steps fails; no handle
    // is held then and the object may be destroyed at once.
    bool connect();
    // Disconnects and releases both handles; does nothing when none is held.
    void disconnect();
    // "select max(TBEGIN) from FILELIST" executes (its rows are not read).
    bool testConnection();

    // The channel's SITECHAN row (matched by station, channel and location
    // code) against sampleRate: kResultOk, kResultAbsentFromSitechan,
    // kResultSitechanRateDiffers (also for a row without SPS),
    // kResultConnectionTestFailed or kResultQueryFailed.
    ResultCode checkSitechan(std::string_view station, std::string_view channel, std::string_view locationCode,
                             double sampleRate);

    // Path conversions between archive paths and catalogue paths. The
    // catalogue keeps paths relative to the data directory with "/"
    // separators, so an archive can move between machines.
    static void toForwardSlashes(std::string& text);
    // To the platform's native separators ("\" on Windows, "/" elsewhere).
    static void toBackslashes(std::string& text);
    // Native separators; the part below dataDir when text lies below it.
    void toArchiveRelative(std::string& text) const;
    // path with native separators, put below dataDir unless it is absolute
    // or already begins with dataDir.
    std::string absolutePath(std::string_view path) const;
    // The catalogue form of path: archive-relative, "/" separators.
    std::string cataloguePath(std::string_view path) const;

    // Removes the catalogue row of the store's channel and start at path
    // (absolute), and the file there once no row refers to it.
    // kResultOk, kResultConnectionTestFailed, kResultQueryFailed or
    // kResultDeleteFailed.
    ResultCode removeArchivedFile(const ChannelStore& store, std::string_view path);
    // Stores the samples in pieces of at most one file period. What the
    // catalogue already holds of a piece (rows of this creator and rate) is
    // overwritten in place in those files; each part beyond them continues
    // the channel's latest file or starts a new one, with its catalogue row,
    // so that no two rows of the channel overlap.
    // overlapsNothing: replaceArchivedData has just found that no row of
    // this creator overlaps the store, so the pieces are not asked again.
    // kResultOk, kResultSpaceWarning or a failure code.
    ResultCode archiveChannel(const ChannelStore& store, bool overlapsNothing = false);
    // Re-conversion of archived data: when the samples lie wholly within one
    // catalogued file of this creator (both ends within half a sample
    // interval of its span, and the file holding them on disk), they are
    // overwritten there in place and `replaced` is set; the row and the
    // header stay as they are. Otherwise nothing changes and the caller
    // goes on with removeArchivedFile and archiveChannel. overlapsNothing,
    // when given, tells whether no row of this creator overlaps the samples.
    // kResultOk, kResultConnectionTestFailed or kResultQueryFailed.
    ResultCode replaceArchivedData(const ChannelStore& store, bool& replaced, bool* overlapsNothing = nullptr);
    // Makes room for one more file of latestLength seconds of the store's
    // channel: its oldest files of this creator go first until the quota and
    // the free-space floor hold. kResultOk, kResultSpaceWarning (a file could
    // not be removed from disk), kResultQueryFailed or kResultDeleteFailed.
    SpaceReclaim reclaimSpace(const ChannelStore& store, double latestLength);

    const ArchiveSettings& settings() const { return settings_; }
    const std::string& dataDir() const { return settings_.dataDir; }
    // Whether catalogue rows carry TEND: asked for, and (once connected)
    // present in the data source's FILELIST.
    bool useTend() const { return useTend_; }
    // Whether stores are synced to the disk before their catalogue rows.
    bool syncWrites() const { return settings_.sync; }
    std::int32_t filePeriod() const { return kFilePeriod; }
    std::int32_t quotaMiB() const { return kQuotaMiB; }
    const SchemaNameTable& schemaNames() const { return schemaNames_; }
    bool isConnected() const { return connection_.connected(); }

    // The archive root was found mounted (its marker is there) since the
    // settings were last taken; the archive's file steps keep it.
    bool archiveRootConfirmed() const { return archiveRootConfirmed_; }
    void noteArchiveRootConfirmed() { archiveRootConfirmed_ = true; }

    // Why the last operation failed: the driver's diagnostics of the last
    // failed ODBC call ("STATE: message" lines), the reason a statement was
    // refused, or the file-system error of an archive file ("<path>: <call>:
    // <message>").
    const std::string& lastDiagnostics() const { return lastDiagnostics_; }
    void clearDiagnostics() { lastDiagnostics_.clear(); }
    void noteFailure(std::string diagnostics) { lastDiagnostics_ = std::move(diagnostics); }
    // What a store changed on its own that the operator must know (a file
    // found shorter than its row and cut back), one line each, in order;
    // taking them empties the list.
    void noteNotice(std::string line) { notices_.push_back(std::move(line)); }
    std::vector<std::string> takeNotices() { return std::exchange(notices_, {}); }

    // Statement layer of the archive operations. Every statement is built in
    // one place, into a StatementText, and run through one of these; each
    // keeps the diagnostics of whatever fails. A text that did not fit its
    // buffer is refused as a failed statement (nothing is sent).
    using BindColumns = std::function<void(odbc::Statement&)>;
    // Called once per fetched row; false stops the fetching.
    using ReadRow = std::function<bool()>;

    // A statement handle for an operation that runs several statements on
    // one handle (check allocated(); a failure is noted).
    odbc::Statement newStatement();
    // Executes text on its own statement handle: kResultQueryFailed without
    // a handle, `noRows` when the driver answers SQL_NO_DATA (an UPDATE or
    // DELETE that matched nothing), `failed` when the statement fails,
    // kResultOk otherwise.
    ResultCode execute(const StatementText& text, ResultCode failed, ResultCode noRows);
    ResultCode execute(odbc::Statement& statement, const StatementText& text, ResultCode failed,
                       ResultCode noRows);
    // Executes a query on its own statement handle, binds its columns and
    // hands each fetched row to readRow until the rows end or it says stop;
    // then closes the cursor and unbinds.
    QueryEnd query(const StatementText& text, const BindColumns& bind, const ReadRow& readRow);
    QueryEnd query(odbc::Statement& statement, const StatementText& text, const BindColumns& bind,
                   const ReadRow& readRow);

private:
    // Executes the text, unless it did not fit its buffer (SQL_ERROR then);
    // keeps the diagnostics of a failure. SQL_NO_DATA is returned as it is.
    SQLRETURN send(odbc::Statement& statement, const StatementText& text);
    // Asks the data source whether FILELIST has the column TEND.
    bool probeTendColumn();

    ArchiveSettings settings_;
    bool useTend_ = true;
    bool archiveRootConfirmed_ = false;
    odbc::Connection connection_;
    SchemaNameTable schemaNames_;
    std::string lastDiagnostics_;
    std::vector<std::string> notices_;
};

}  // namespace tremcvt
