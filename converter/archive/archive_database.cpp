#include "converter/archive/archive_database.h"

#include <cctype>
#include <cerrno>
#include <climits>
#include <cstdlib>

#include "common/paths.h"
#include "common/platform.h"

namespace tremcvt {
namespace {

bool equalsIgnoringCase(std::string_view a, std::string_view b)
{
    return a.size() == b.size() && startsWithIgnoringCase(a, b);
}

// The C library's atoi on a text that need not be zero-terminated: leading
// blanks, an optional sign, digits; anything else reads as 0.
long readDecimal(std::string_view text)
{
    std::size_t i = 0;
    while (i < text.size() && std::isspace(static_cast<unsigned char>(text[i]))) ++i;
    bool negative = false;
    if (i < text.size() && (text[i] == '+' || text[i] == '-')) negative = text[i++] == '-';
    long value = 0;
    for (; i < text.size() && text[i] >= '0' && text[i] <= '9'; ++i) {
        // Saturate instead of overflowing; only zero versus non-zero matters.
        if (value < LONG_MAX / 10) value = value * 10 + (text[i] - '0');
    }
    return negative ? -value : value;
}

}  // namespace

ArchiveDatabase::ArchiveDatabase() : dataDir_(defaultDataDirectory()) {}

ArchiveDatabase::~ArchiveDatabase() { disconnect(); }

ResultCode ArchiveDatabase::setParameter(std::string_view key, std::string_view value)
{
    if (equalsIgnoringCase(key, "odbc")) {
        dataSource_.cut(value);
    } else if (equalsIgnoringCase(key, "user")) {
        userName_.cut(value);
    } else if (equalsIgnoringCase(key, "password")) {
        password_.cut(value);
    } else if (equalsIgnoringCase(key, "data")) {
        dataDir_.assign(value);
        archiveRootConfirmed = false;
    } else if (equalsIgnoringCase(key, "use_tend")) {
        if (readDecimal(value) == 0) {
            useTend_ = false;
        } else if (isConnected()) {
            useTend_ = probeTendColumn();
        } else {
            useTend_ = true;
        }
    } else {
        return kResultUnknownParameter;
    }
    return kResultOk;
}

bool ArchiveDatabase::connect()
{
    // A second connect starts from scratch rather than leaking the first.
    disconnect();
    if (!odbc::succeeded(environment_.allocate())) {
        lastDiagnostics_ = environment_.diagnostics();
        return false;
    }
    if (!odbc::succeeded(environment_.requestOdbc3())) {
        lastDiagnostics_ = environment_.diagnostics();
        environment_.release();
        return false;
    }
    if (!odbc::succeeded(connection_.allocate(environment_))) {
        lastDiagnostics_ = connection_.diagnostics();
        environment_.release();
        return false;
    }
    if (!odbc::succeeded(connection_.connect(dataSource_.c_str(), userName_.c_str(), password_.c_str()))) {
        lastDiagnostics_ = connection_.diagnostics();
        connection_.release();
        environment_.release();
        return false;
    }
    lastDiagnostics_.clear();
    schemaNames_.verifySchema(connection_);
    if (useTend_) {
        useTend_ = false;
        useTend_ = probeTendColumn();
    }
    return true;
}

void ArchiveDatabase::disconnect()
{
    connection_.release();
    environment_.release();
}

bool ArchiveDatabase::probeTendColumn()
{
    odbc::Statement statement(connection_);
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
    odbc::Statement statement(connection_);
    if (!statement.allocated()) {
        noteFailure(statement);
        return false;
    }
    const FilelistNames& names = schemaNames_.filelist;
    StatementText text;
    text.format("select max(%s) from %s", names.tbegin.c_str(), names.table.c_str());
    return odbc::succeeded(execute(statement, text));
}

ResultCode ArchiveDatabase::checkSitechan(std::string_view station, std::string_view channel,
                                          std::string_view locationCode, double sampleRate)
{
    if (!testConnection()) return kResultConnectionTestFailed;
    odbc::Statement statement(connection_);
    if (!statement.allocated()) {
        noteFailure(statement);
        return kResultQueryFailed;
    }
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
    if (!odbc::succeeded(execute(statement, text))) return kResultQueryFailed;
    odbc::DoubleColumn sps;
    statement.bind(1, sps);
    const SQLRETURN rc = fetch(statement);
    statement.closeCursor();
    if (rc == SQL_NO_DATA) return kResultAbsentFromSitechan;
    if (!odbc::succeeded(rc)) return kResultQueryFailed;
    // A row without a rate cannot confirm the channel's rate: report it.
    if (sps.isNull()) return kResultSitechanRateDiffers;
    return sps.value == sampleRate ? kResultOk : kResultSitechanRateDiffers;
}

void ArchiveDatabase::toForwardSlashes(std::string& text) { tremcvt::toForwardSlashes(text); }

void ArchiveDatabase::toBackslashes(std::string& text) { toNativeSeparators(text); }

void ArchiveDatabase::toArchiveRelative(std::string& text) const { text = archiveRelativePath(text, dataDir_); }

std::string ArchiveDatabase::absoluteCurrentPath() const { return absoluteArchivePath(currentPath, dataDir_); }

std::string ArchiveDatabase::catalogueCurrentPath() const
{
    std::string path = currentPath;
    toArchiveRelative(path);
    toForwardSlashes(path);
    return path;
}

SQLRETURN ArchiveDatabase::execute(odbc::Statement& statement, const StatementText& text)
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

SQLRETURN ArchiveDatabase::fetch(odbc::Statement& statement)
{
    const SQLRETURN rc = statement.fetch();
    if (!odbc::succeeded(rc) && rc != SQL_NO_DATA) lastDiagnostics_ = statement.diagnostics();
    return rc;
}

void ArchiveDatabase::noteFailure(const odbc::Statement& statement) { lastDiagnostics_ = statement.diagnostics(); }

std::string ArchiveDatabase::filelistLocationCondition() const
{
    return locationCondition(schemaNames_.filelist.lcode.view(), locationCode);
}

}  // namespace tremcvt
