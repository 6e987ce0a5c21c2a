// The converter's archive database: the ODBC connection to the data source
// that carries the archive catalogue (FILELIST) and the station tables
// (SITECHAN and the rest of the schema), the root directory of the TRZ
// archive, and the values of the channel being archived at the moment.
//
// One object lives for the whole run. It owns its handles and its texts;
// every operation allocates its own statement and releases it before it
// returns. Nothing here prints.
#pragma once

#include <cstdint>
#include <span>
#include <string>
#include <string_view>
#include <utility>

#include "common/fixed_text.h"
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

class ArchiveDatabase {
public:
    static constexpr std::int32_t kFilePeriod = 3600;  // seconds per archive file
    static constexpr std::int32_t kQuotaMiB = 100;     // archive space per channel
    static constexpr double kInitialSampleRate = 20.0;

    // Sets the initial values; makes no ODBC call. The data directory starts
    // as the platform's built-in archive directory (the driver always hands
    // over its own "data" setting before connecting).
    ArchiveDatabase();
    ~ArchiveDatabase();
    ArchiveDatabase(const ArchiveDatabase&) = delete;
    ArchiveDatabase& operator=(const ArchiveDatabase&) = delete;

    // Keys, compared without regard to case: "odbc", "user", "password"
    // (values longer than 31 characters are cut), "data", "use_tend" (read
    // like atoi; 0 turns the TEND column off, anything else asks for it and
    // probes at once when connected). kResultOk, or kResultUnknownParameter
    // for any other key (nothing changes then).
    ResultCode setParameter(std::string_view key, std::string_view value);

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
    // currentPath with native separators, put below dataDir unless it is
    // absolute or already begins with dataDir.
    std::string absoluteCurrentPath() const;
    // The catalogue form of currentPath: archive-relative, "/" separators.
    std::string catalogueCurrentPath() const;

    // Catalogue and space management (file catalogue and archive space).
    ResultCode removeArchivedFile(std::string_view station, std::string_view channel,
                                  std::string_view locationCode, double startTime, std::string_view path);
    ResultCode archiveChannel(const float* samples, std::int32_t count, std::string_view station,
                              std::string_view channel, std::string_view locationCode, std::string_view path,
                              std::string_view creator, double startTime, double endTime, double sampleRate,
                              double calib, double calper);
    // purgedRows, when given, receives the number of catalogue rows that
    // the purge deleted.
    ResultCode reclaimSpace(double latestLength, std::int64_t* purgedRows = nullptr);
    // Re-conversion of archived data: when the samples lie wholly within one
    // catalogued file of this creator (both ends within half a sample
    // interval of its span, and the file holding them on disk), they are
    // overwritten there in place and `replaced` is set; the row and the
    // header stay as they are. Otherwise nothing changes and the caller
    // goes on with removeArchivedFile and archiveChannel.
    // kResultOk, kResultConnectionTestFailed or kResultQueryFailed.
    ResultCode replaceArchivedData(const float* samples, std::int32_t count, std::string_view station,
                                   std::string_view channel, std::string_view locationCode,
                                   std::string_view creator, double startTime, double endTime,
                                   double sampleRate, bool& replaced);

    // The same operations on one value that describes the channel's store.
    ResultCode removeArchivedFile(const ChannelStore& store, std::string_view path)
    {
        return removeArchivedFile(store.station, store.channel, store.locationCode, store.startTime, path);
    }
    ResultCode archiveChannel(const ChannelStore& store)
    {
        return archiveChannel(store.samples.data(), store.sampleCount(), store.station, store.channel,
                              store.locationCode, std::string_view(), store.creator, store.startTime,
                              store.endTime, store.sampleRate, store.calib, store.calper);
    }
    ResultCode replaceArchivedData(const ChannelStore& store, bool& replaced)
    {
        return replaceArchivedData(store.samples.data(), store.sampleCount(), store.station, store.channel,
                                   store.locationCode, store.creator, store.startTime, store.endTime,
                                   store.sampleRate, replaced);
    }

    const char* dataSource() const { return dataSource_.c_str(); }
    const char* userName() const { return userName_.c_str(); }
    const char* password() const { return password_.c_str(); }
    const std::string& dataDir() const { return dataDir_; }
    bool useTend() const { return useTend_; }
    std::int32_t filePeriod() const { return kFilePeriod; }
    std::int32_t quotaMiB() const { return kQuotaMiB; }
    const SchemaNameTable& schemaNames() const { return schemaNames_; }
    bool isConnected() const { return connection_.connected(); }
    // Why the last operation failed: the driver's diagnostics of the last
    // failed ODBC call ("STATE: message" lines), the reason a statement was
    // refused, or the file-system error of an archive file ("<path>: <call>:
    // <message>").
    const std::string& lastDiagnostics() const { return lastDiagnostics_; }
    void clearDiagnostics() { lastDiagnostics_.clear(); }

    // The channel in hand: set by the catalogue operations at their start,
    // read by the catalogue, the space management and the TRZ writer.
    std::string station;
    std::string channel;
    std::string locationCode;  // empty or "??": unspecified
    std::string currentPath;   // absolute, or relative to dataDir
    std::string creator;
    double startTime = 0.0;    // seconds since 1970
    double duration = 0.0;     // seconds not yet catalogued
    double endTime = 0.0;      // seconds since 1970
    double sampleRate = kInitialSampleRate;
    double calib = 0.0;
    double calper = 0.0;
    // The archive root was found mounted (its marker is there) during this
    // connection to it; cleared when the data directory changes.
    bool archiveRootConfirmed = false;

    // Statement layer for the operations of the archive subsystem and the
    // TRZ writer. A Statement made on connection() must not outlive this
    // object's connection (keep it local to one operation).
    odbc::Connection& connection() { return connection_; }
    // Executes a built statement. A text that did not fit its buffer is
    // refused (SQL_ERROR, nothing sent). Diagnostics of a failure are kept
    // in lastDiagnostics. SQL_NO_DATA is returned as it is.
    SQLRETURN execute(odbc::Statement& statement, const StatementText& text);
    // Fetches one row into the bound columns; keeps diagnostics of an error.
    SQLRETURN fetch(odbc::Statement& statement);
    // Keeps the diagnostics of a statement whose allocation failed.
    void noteFailure(const odbc::Statement& statement);
    void noteFailure(std::string diagnostics) { lastDiagnostics_ = std::move(diagnostics); }

    // The LCODE condition of the catalogue statements for locationCode
    // ("(LCODE='??' or LCODE is null)" when unspecified, else LCODE='code'),
    // with the resolved FILELIST name of LCODE.
    std::string filelistLocationCondition() const;

private:
    // Asks the data source whether FILELIST has the column TEND.
    bool probeTendColumn();

    FixedText<32> dataSource_{"trz"};
    FixedText<32> userName_{"trz"};
    FixedText<32> password_{"kpv"};
    std::string dataDir_;
    bool useTend_ = true;
    // Declared in this order so that the connection goes before the
    // environment it was allocated on.
    odbc::Environment environment_;
    odbc::Connection connection_;
    SchemaNameTable schemaNames_;
    std::string lastDiagnostics_;
};

}  // namespace tremcvt
