#include "converter/archive/archive_database.h"

#include <string>

#include "common/paths.h"
#include "common/platform.h"

namespace tremcvt {

ArchiveDatabase::ArchiveDatabase(const ArchiveSettings& settings) { configure(settings); }

ArchiveDatabase::~ArchiveDatabase() { disconnect(); }

void ArchiveDatabase::configure(const ArchiveSettings& settings)
{
    settings_ = settings;
    for (std::string* credential : {&settings_.dataSource, &settings_.userName, &settings_.password})
        if (credential->size() > ArchiveSettings::kCredentialLength)
            credential->resize(ArchiveSettings::kCredentialLength);
    archiveRootConfirmed_ = false;
    if (!settings_.useTend) {
        useTend_ = false;
    } else if (isConnected()) {
        useTend_ = probeTendColumn();
    } else {
        useTend_ = true;
    }
}

bool ArchiveDatabase::connect()
{
    // A second connect starts from scratch rather than leaking the first.
    disconnect();
    if (!connection_.open(settings_.dataSource.c_str(), settings_.userName.c_str(), settings_.password.c_str())) {
        lastDiagnostics_ = connection_.diagnostics();
        return false;
    }
    lastDiagnostics_.clear();
    // A setting the data source refuses leaves its own wait: the statements
    // still run, they only fail sooner on a locked database.
    if (settings_.busyTimeoutMilliseconds > 0) connection_.waitForLockedDatabase(settings_.busyTimeoutMilliseconds);
    schemaNames_.verifySchema(connection_);
    if (useTend_) {
        useTend_ = false;
        useTend_ = probeTendColumn();
    }
    return true;
}

void ArchiveDatabase::disconnect() { connection_.close(); }

bool ArchiveDatabase::probeTendColumn()
{
    odbc::Statement statement = connection_.statement();
    if (statement.allocationResult() == SQL_ERROR || !statement.allocated()) return false;
    bool present = false;
    if (statement.columns(schemaNames_.filelist.table.c_str(), schemaNames_.filelist.tend.c_str()) != SQL_ERROR) {
        // Anything but "no such column", an error included, counts as present.
        present = statement.fetch() != SQL_NO_DATA;
        statement.closeCursor();
    }
    return present;
}

bool ArchiveDatabase::testConnection()
{
    const FilelistNames& names = schemaNames_.filelist;
    StatementText text;
    text.format("select max(%s) from %s", names.tbegin.c_str(), names.table.c_str());
    return execute(text, kResultQueryFailed, kResultQueryFailed) == kResultOk;
}

ResultCode ArchiveDatabase::checkSitechan(std::string_view station, std::string_view channel,
                                          std::string_view locationCode, double sampleRate)
{
    if (!testConnection()) return kResultConnectionTestFailed;
    const SitechanNames& names = schemaNames_.sitechan;
    StatementText text;
    if (isUnspecifiedLocation(locationCode)) {
        text.format("select %s from %s where %s='%s' and %s='%s' and (%s is null or %s='?\?')", names.sps.c_str(),
                    names.table.c_str(), names.sta.c_str(), sqlText(station).c_str(), names.chan.c_str(),
                    sqlText(channel).c_str(), names.lcode.c_str(), names.lcode.c_str());
    } else {
        text.format("select %s from %s where %s='%s' and %s='%s' and %s='%s'", names.sps.c_str(),
                    names.table.c_str(), names.sta.c_str(), sqlText(station).c_str(), names.chan.c_str(),
                    sqlText(channel).c_str(), names.lcode.c_str(), sqlText(locationCode).c_str());
    }
    odbc::DoubleColumn sps;
    const QueryEnd end = query(
        text, [&](odbc::Statement& statement) { statement.bind(1, sps); }, [] { return false; });
    if (end == QueryEnd::kAllRowsRead) return kResultAbsentFromSitechan;
    if (end != QueryEnd::kStopped) return kResultQueryFailed;
    // A row without a rate cannot confirm the channel's rate: report it.
    if (sps.isNull()) return kResultSitechanRateDiffers;
    return sps.value == sampleRate ? kResultOk : kResultSitechanRateDiffers;
}

void ArchiveDatabase::toForwardSlashes(std::string& text) { tremcvt::toForwardSlashes(text); }

void ArchiveDatabase::toBackslashes(std::string& text) { toNativeSeparators(text); }

void ArchiveDatabase::toArchiveRelative(std::string& text) const { text = archiveRelativePath(text, dataDir()); }

std::string ArchiveDatabase::absolutePath(std::string_view path) const
{
    return absoluteArchivePath(std::string(path), dataDir());
}

std::string ArchiveDatabase::cataloguePath(std::string_view path) const
{
    std::string text(path);
    toArchiveRelative(text);
    toForwardSlashes(text);
    return text;
}

odbc::Statement ArchiveDatabase::newStatement()
{
    odbc::Statement statement = connection_.statement();
    if (!statement.allocated()) lastDiagnostics_ = statement.diagnostics();
    return statement;
}

ResultCode ArchiveDatabase::execute(const StatementText& text, ResultCode failed, ResultCode noRows)
{
    odbc::Statement statement = newStatement();
    if (!statement.allocated()) return kResultQueryFailed;
    return execute(statement, text, failed, noRows);
}

ResultCode ArchiveDatabase::execute(odbc::Statement& statement, const StatementText& text, ResultCode failed,
                                    ResultCode noRows)
{
    const SQLRETURN rc = send(statement, text);
    statement.closeCursor();
    if (rc == SQL_NO_DATA) return noRows;
    return odbc::succeeded(rc) ? kResultOk : failed;
}

SQLRETURN ArchiveDatabase::send(odbc::Statement& statement, const StatementText& text)
{
    if (!text.fits()) {
        lastDiagnostics_ = "statement refused: its text does not fit " +
                           std::to_string(StatementText::kCapacity) + " bytes";
        return SQL_ERROR;
    }
    const SQLRETURN rc = statement.execute(text.c_str());
    if (!odbc::succeeded(rc) && rc != SQL_NO_DATA) lastDiagnostics_ = statement.diagnostics();
    return rc;
}

QueryEnd ArchiveDatabase::query(const StatementText& text, const BindColumns& bind, const ReadRow& readRow)
{
    odbc::Statement statement = newStatement();
    if (!statement.allocated()) return QueryEnd::kNoStatement;
    return query(statement, text, bind, readRow);
}

QueryEnd ArchiveDatabase::query(odbc::Statement& statement, const StatementText& text, const BindColumns& bind,
                                const ReadRow& readRow)
{
    if (!odbc::succeeded(send(statement, text))) return QueryEnd::kNotExecuted;
    bind(statement);
    QueryEnd end = QueryEnd::kAllRowsRead;
    for (;;) {
        const SQLRETURN rc = statement.fetch();
        if (rc == SQL_NO_DATA) break;
        if (!odbc::succeeded(rc)) {
            lastDiagnostics_ = statement.diagnostics();
            end = QueryEnd::kFetchFailed;
            break;
        }
        if (!readRow()) {
            end = QueryEnd::kStopped;
            break;
        }
    }
    statement.closeCursor();
    statement.unbind();
    return end;
}

}  // namespace tremcvt
