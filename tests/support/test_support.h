// Helpers shared by the test suites: temporary directories, files, fresh
// archive databases (SQLite files or databases in the PostgreSQL test
// cluster) with a private odbc.ini, SQL run through the database's own
// client, and running a program with its output captured.
#pragma once

#include <gtest/gtest.h>

#include <filesystem>
#include <map>
#include <memory>
#include <optional>
#include <ostream>
#include <string>
#include <string_view>
#include <utility>
#include <vector>

namespace tremcvt::test {

// The project's source directory (schema files, scripts).
std::filesystem::path sourceDirectory();

// A fresh directory below the system's temporary directory, removed with
// everything in it when the object goes.
class TempDir {
public:
    TempDir();
    ~TempDir();
    TempDir(const TempDir&) = delete;
    TempDir& operator=(const TempDir&) = delete;

    const std::filesystem::path& path() const { return path_; }
    // path() / name as text.
    std::string file(std::string_view name) const;

private:
    std::filesystem::path path_;
};

// Seconds since 1970 of a UTC calendar time.
double utc(int year, int month, int day, int hour, int minute, int second);

// Writes (replaces) a file; false when it cannot be written completely.
bool writeFile(const std::filesystem::path& path, std::string_view contents);
// The whole file; empty when it cannot be read.
std::string readFile(const std::filesystem::path& path);

// Every entry below a directory by its path relative to it ("/" separators):
// a regular file with its bytes, a directory as a name ending in "/" with no
// contents. Empty when the directory does not exist.
using Tree = std::map<std::string, std::string>;
Tree treeOf(const std::filesystem::path& dir);

// The entries that differ between two trees, each named with the first
// differing byte, so that a failure says what is wrong without printing
// binary files. Empty when the trees are equal.
std::vector<std::string> treeDifferences(const Tree& expected, const Tree& actual);

// Crash-point tests try every fault point of a run once per action; a stride
// above 1 (TREMCVT_CRASH_POINT_STRIDE, for slow sanitizer builds) tries every
// n-th point, always including the first and the last.
int crashPointStride();

struct ProcessResult {
    bool started = false;      // false: the program could not be run at all
    bool exited = false;       // ended by exit (not by a signal or the time limit)
    int exitStatus = -1;       // 0..255 when exited
    int signal = 0;            // the signal that ended it, otherwise 0
    bool timedOut = false;     // killed after the time limit
    std::string output;        // everything written to standard output
    std::string errorOutput;   // everything written to standard error
};

struct ProcessOptions {
    // Variables set (or replaced) in the child's environment, on top of
    // this process's environment.
    std::vector<std::pair<std::string, std::string>> environment;
    // Variables removed from the child's environment.
    std::vector<std::string> unset;
    // The child's working directory; empty keeps this process's.
    std::filesystem::path workingDirectory;
    // Standard input; the child reads end-of-file when it is empty.
    std::string input;
    int timeoutSeconds = 60;
    // When above 0: the child is killed with SIGKILL this many microseconds
    // after it was started, unless it has ended by then.
    long killAfterMicroseconds = 0;
};

// Runs program (looked up on PATH when it has no "/") with arguments and
// waits for it, capturing standard output and standard error.
ProcessResult runProgram(const std::string& program, const std::vector<std::string>& arguments,
                         const ProcessOptions& options = {});

enum class DatabaseKind { SQLite, PostgreSQL };

const char* databaseKindName(DatabaseKind kind);
// Shows the kind by name in test output.
void PrintTo(DatabaseKind kind, std::ostream* out);
// For INSTANTIATE_TEST_SUITE_P: names the instances "SQLite"/"PostgreSQL".
std::string databaseKindTestName(const ::testing::TestParamInfo<DatabaseKind>& info);
// Whether the PostgreSQL test cluster's settings (TREMCVT_TEST_PG_HOST,
// _PORT, _USER, _PASSWORD) are in the environment.
bool postgresAvailable();
// Why PostgreSQL tests are skipped, for GTEST_SKIP.
const char* postgresSkipReason();

struct DatabaseSetup {
    // The data source written into the private odbc.ini.
    std::string dataSource = "TRZ";
    // The DDL to apply; empty: the project's schema for the database kind.
    std::string schemaSql;
    // Apply no DDL at all (an empty database).
    bool emptyDatabase = false;
    // Point ODBCINI of this process at the private odbc.ini (restored when
    // the database object goes).
    bool setOdbcIni = true;
};

// A fresh archive database for one test and a private odbc.ini with a data
// source for it. SQLite: a new file in the given directory. PostgreSQL: a
// new, uniquely named database in the test cluster, dropped again when the
// object goes. The data source carries no password: the converter passes
// user name and password itself when it connects (userName(), password()).
class ArchiveTestDatabase {
public:
    // Nothing (and the reason in *error) when the database cannot be made.
    static std::unique_ptr<ArchiveTestDatabase> create(DatabaseKind kind, const std::filesystem::path& directory,
                                                       const DatabaseSetup& setup = {},
                                                       std::string* error = nullptr);
    ~ArchiveTestDatabase();
    ArchiveTestDatabase(const ArchiveTestDatabase&) = delete;
    ArchiveTestDatabase& operator=(const ArchiveTestDatabase&) = delete;

    DatabaseKind kind() const { return kind_; }
    const std::string& dataSource() const { return dataSource_; }
    const std::string& userName() const { return userName_; }
    const std::string& password() const { return password_; }
    const std::filesystem::path& odbcIni() const { return odbcIni_; }
    // The SQLite file, or the PostgreSQL database name.
    const std::string& databaseName() const { return databaseName_; }

    // Runs SQL (one or more statements) through sqlite3 or psql; false with
    // the client's message in *error when it fails.
    bool execute(std::string_view sql, std::string* error = nullptr) const;
    // Runs a query through the client: one line per row, columns joined by
    // "|", NULL as an empty field, no header. Nothing when the query fails.
    std::optional<std::vector<std::string>> query(std::string_view sql, std::string* error = nullptr) const;

    // The number of FILELIST rows, as the client counts them (9999 when the
    // query fails, with a test failure).
    std::size_t filelistRows() const;

    // Variables a child process needs to find the data source (ODBCINI).
    std::vector<std::pair<std::string, std::string>> environment() const;

private:
    ArchiveTestDatabase() = default;
    ProcessResult runClient(std::string_view sql, bool tuplesOnly) const;

    DatabaseKind kind_ = DatabaseKind::SQLite;
    std::string dataSource_;
    std::string userName_ = "trz";
    std::string password_ = "kpv";
    std::filesystem::path odbcIni_;
    std::string databaseName_;
    std::string host_;
    std::string port_;
    bool restoreOdbcIni_ = false;
    std::optional<std::string> previousOdbcIni_;
};

// A test over both databases: each instance gets its own temporary
// directory and a fresh archive database with the project's schema and the
// data source "TRZ" (ODBCINI pointed at it). PostgreSQL instances skip when
// the test cluster is not running.
//   INSTANTIATE_TEST_SUITE_P(Databases, MyTest, allDatabaseKinds(), databaseKindTestName);
class ArchiveDatabaseFixture : public ::testing::TestWithParam<DatabaseKind> {
protected:
    void SetUp() override;
    void TearDown() override;
    // Override to give the database another schema or data source.
    virtual DatabaseSetup databaseSetup() const { return {}; }

    std::unique_ptr<TempDir> tempDir;
    std::unique_ptr<ArchiveTestDatabase> database;
};

inline auto allDatabaseKinds() { return ::testing::Values(DatabaseKind::SQLite, DatabaseKind::PostgreSQL); }

}  // namespace tremcvt::test
