#include "tests/support/test_support.h"

#include <fcntl.h>
#include <poll.h>
#include <signal.h>
#include <sys/wait.h>
#include <unistd.h>

#include <algorithm>
#include <atomic>
#include <cerrno>
#include <chrono>
#include <cstdlib>
#include <cstring>
#include <ctime>
#include <fstream>
#include <random>
#include <sstream>
#include <system_error>

extern char** environ;

namespace tremcvt::test {
namespace {

std::string uniqueSuffix()
{
    static std::atomic<unsigned> counter{0};
    std::random_device device;
    std::ostringstream text;
    text << ::getpid() << '_' << counter++ << '_' << (device() % 1000000u);
    return text.str();
}

const char* environmentValue(const char* name)
{
    const char* value = std::getenv(name);
    return value != nullptr && *value != '\0' ? value : nullptr;
}

void closeIfOpen(int& fd)
{
    if (fd >= 0) ::close(fd);
    fd = -1;
}

}  // namespace

std::filesystem::path sourceDirectory() { return std::filesystem::path(TREMCVT_SOURCE_DIR); }

TempDir::TempDir()
{
    std::string pattern = (std::filesystem::temp_directory_path() / "tremcvt-test-XXXXXX").string();
    if (::mkdtemp(pattern.data()) == nullptr)
        throw std::system_error(errno, std::generic_category(), "mkdtemp");
    path_ = pattern;
}

TempDir::~TempDir()
{
    std::error_code error;
    std::filesystem::remove_all(path_, error);
}

std::string TempDir::file(std::string_view name) const { return (path_ / std::string(name)).string(); }

double utc(int year, int month, int day, int hour, int minute, int second)
{
    std::tm tm{};
    tm.tm_year = year - 1900;
    tm.tm_mon = month - 1;
    tm.tm_mday = day;
    tm.tm_hour = hour;
    tm.tm_min = minute;
    tm.tm_sec = second;
    return static_cast<double>(::timegm(&tm));
}

bool writeFile(const std::filesystem::path& path, std::string_view contents)
{
    std::ofstream out(path, std::ios::binary | std::ios::trunc);
    if (!out) return false;
    out.write(contents.data(), static_cast<std::streamsize>(contents.size()));
    out.close();
    return !out.fail();
}

std::string readFile(const std::filesystem::path& path)
{
    std::ifstream in(path, std::ios::binary);
    if (!in) return std::string();
    std::ostringstream text;
    text << in.rdbuf();
    return text.str();
}

int crashPointStride()
{
    const char* text = std::getenv("TREMCVT_CRASH_POINT_STRIDE");
    const int stride = text != nullptr ? std::atoi(text) : 1;
    return stride > 0 ? stride : 1;
}

Tree treeOf(const std::filesystem::path& dir)
{
    Tree tree;
    if (!std::filesystem::exists(dir)) return tree;
    for (const auto& entry : std::filesystem::recursive_directory_iterator(dir)) {
        const std::string name = std::filesystem::relative(entry.path(), dir).generic_string();
        if (entry.is_directory())
            tree[name + "/"];
        else
            tree[name] = readFile(entry.path());
    }
    return tree;
}

std::vector<std::string> treeDifferences(const Tree& expected, const Tree& actual)
{
    std::vector<std::string> result;
    for (const auto& [name, bytes] : expected) {
        const auto other = actual.find(name);
        if (other == actual.end()) {
            result.push_back("missing: " + name);
        } else if (other->second != bytes) {
            std::size_t at = 0;
            while (at < bytes.size() && at < other->second.size() && bytes[at] == other->second[at]) ++at;
            result.push_back(name + " differs from byte " + std::to_string(at) + " (expected " +
                             std::to_string(bytes.size()) + " bytes, found " + std::to_string(other->second.size()) +
                             ")");
        }
    }
    for (const auto& [name, bytes] : actual)
        if (expected.find(name) == expected.end()) result.push_back("unexpected: " + name);
    return result;
}

ProcessResult runProgram(const std::string& program, const std::vector<std::string>& arguments,
                         const ProcessOptions& options)
{
    ProcessResult result;

    // Everything the child needs is prepared before fork: after it only
    // async-signal-safe calls are made.
    std::vector<std::string> environment;
    for (char** entry = environ; *entry != nullptr; ++entry) {
        const std::string_view text(*entry);
        const std::string_view name = text.substr(0, text.find('='));
        bool replaced = false;
        for (const auto& [key, value] : options.environment) replaced = replaced || key == name;
        for (const std::string& key : options.unset) replaced = replaced || key == name;
        if (!replaced) environment.emplace_back(text);
    }
    for (const auto& [key, value] : options.environment) environment.push_back(key + "=" + value);
    std::vector<char*> envp;
    for (std::string& entry : environment) envp.push_back(entry.data());
    envp.push_back(nullptr);

    std::vector<std::string> argumentTexts;
    argumentTexts.push_back(program);
    argumentTexts.insert(argumentTexts.end(), arguments.begin(), arguments.end());
    std::vector<char*> argv;
    for (std::string& argument : argumentTexts) argv.push_back(argument.data());
    argv.push_back(nullptr);
    const std::string directory = options.workingDirectory.string();

    int outPipe[2] = {-1, -1};
    int errPipe[2] = {-1, -1};
    int inPipe[2] = {-1, -1};
    if (::pipe2(outPipe, O_CLOEXEC) != 0 || ::pipe2(errPipe, O_CLOEXEC) != 0 || ::pipe2(inPipe, O_CLOEXEC) != 0) {
        for (int* fds : {outPipe, errPipe, inPipe}) {
            closeIfOpen(fds[0]);
            closeIfOpen(fds[1]);
        }
        return result;
    }

    const pid_t child = ::fork();
    if (child == 0) {
        ::dup2(inPipe[0], STDIN_FILENO);
        ::dup2(outPipe[1], STDOUT_FILENO);
        ::dup2(errPipe[1], STDERR_FILENO);
        if (!directory.empty() && ::chdir(directory.c_str()) != 0) ::_exit(127);
        ::execvpe(argv[0], argv.data(), envp.data());
        ::_exit(127);
    }
    closeIfOpen(inPipe[0]);
    closeIfOpen(outPipe[1]);
    closeIfOpen(errPipe[1]);
    if (child < 0) {
        closeIfOpen(inPipe[1]);
        closeIfOpen(outPipe[0]);
        closeIfOpen(errPipe[0]);
        return result;
    }
    result.started = true;

    // Feed standard input and drain both outputs together, so that neither
    // side blocks on a full pipe.
    std::size_t written = 0;
    if (options.input.empty()) closeIfOpen(inPipe[1]);
    const auto started = std::chrono::steady_clock::now();
    const auto deadline = started + std::chrono::seconds(options.timeoutSeconds);
    const auto killAt = started + std::chrono::microseconds(options.killAfterMicroseconds);
    bool killPending = options.killAfterMicroseconds > 0;
    ::signal(SIGPIPE, SIG_IGN);
    while (outPipe[0] >= 0 || errPipe[0] >= 0) {
        const auto now = std::chrono::steady_clock::now();
        if (killPending && now >= killAt) {
            ::kill(child, SIGKILL);
            killPending = false;
        }
        const auto left = std::chrono::duration_cast<std::chrono::milliseconds>(deadline - now);
        if (left.count() <= 0) {
            result.timedOut = true;
            ::kill(child, SIGKILL);
            break;
        }
        int wait = static_cast<int>(left.count());
        if (killPending) {
            const auto untilKill = std::chrono::duration_cast<std::chrono::milliseconds>(killAt - now).count();
            wait = static_cast<int>(std::min<long long>(wait, untilKill));
        }
        pollfd fds[3] = {{outPipe[0], POLLIN, 0}, {errPipe[0], POLLIN, 0}, {inPipe[1], POLLOUT, 0}};
        const int ready = ::poll(fds, 3, wait);
        if (ready < 0 && errno != EINTR) break;
        for (int index = 0; index < 2; ++index) {
            if (fds[index].fd < 0 || fds[index].revents == 0) continue;
            char buffer[4096];
            const ssize_t count = ::read(fds[index].fd, buffer, sizeof buffer);
            if (count > 0) {
                (index == 0 ? result.output : result.errorOutput).append(buffer, static_cast<std::size_t>(count));
            } else if (count == 0 || errno != EINTR) {
                closeIfOpen(index == 0 ? outPipe[0] : errPipe[0]);
            }
        }
        if (fds[2].fd >= 0 && fds[2].revents != 0) {
            const ssize_t count =
                ::write(inPipe[1], options.input.data() + written, options.input.size() - written);
            if (count > 0) written += static_cast<std::size_t>(count);
            if (count < 0 || written >= options.input.size()) closeIfOpen(inPipe[1]);
        }
    }
    closeIfOpen(inPipe[1]);
    closeIfOpen(outPipe[0]);
    closeIfOpen(errPipe[0]);

    int status = 0;
    while (::waitpid(child, &status, 0) < 0 && errno == EINTR) {
    }
    if (WIFEXITED(status)) {
        result.exited = !result.timedOut;
        result.exitStatus = WEXITSTATUS(status);
    } else if (WIFSIGNALED(status)) {
        result.signal = WTERMSIG(status);
    }
    return result;
}

const char* databaseKindName(DatabaseKind kind) { return kind == DatabaseKind::SQLite ? "SQLite" : "PostgreSQL"; }

void PrintTo(DatabaseKind kind, std::ostream* out) { *out << databaseKindName(kind); }

std::string databaseKindTestName(const ::testing::TestParamInfo<DatabaseKind>& info)
{
    return databaseKindName(info.param);
}

bool postgresAvailable()
{
    return environmentValue("TREMCVT_TEST_PG_HOST") != nullptr && environmentValue("TREMCVT_TEST_PG_PORT") != nullptr &&
           environmentValue("TREMCVT_TEST_PG_USER") != nullptr &&
           environmentValue("TREMCVT_TEST_PG_PASSWORD") != nullptr;
}

const char* postgresSkipReason()
{
    return "PostgreSQL test cluster not configured: start it with scripts/pg-test-cluster.sh start <dir> and "
           "load <dir>/env (TREMCVT_TEST_PG_HOST, _PORT, _USER, _PASSWORD)";
}

std::unique_ptr<ArchiveTestDatabase> ArchiveTestDatabase::create(DatabaseKind kind,
                                                                 const std::filesystem::path& directory,
                                                                 const DatabaseSetup& setup, std::string* error)
{
    auto fail = [error](std::string reason) -> std::unique_ptr<ArchiveTestDatabase> {
        if (error != nullptr) *error = std::move(reason);
        return nullptr;
    };
    std::unique_ptr<ArchiveTestDatabase> database(new ArchiveTestDatabase());
    database->kind_ = kind;
    database->dataSource_ = setup.dataSource;
    database->odbcIni_ = directory / "odbc.ini";

    std::string section = "[" + setup.dataSource + "]\n";
    if (kind == DatabaseKind::SQLite) {
        database->databaseName_ = (directory / ("archive-" + uniqueSuffix() + ".db")).string();
        section += "Driver=SQLite3\nDatabase=" + database->databaseName_ + "\nTimeout=2000\n";
    } else {
        if (!postgresAvailable()) return fail(postgresSkipReason());
        database->host_ = environmentValue("TREMCVT_TEST_PG_HOST");
        database->port_ = environmentValue("TREMCVT_TEST_PG_PORT");
        database->userName_ = environmentValue("TREMCVT_TEST_PG_USER");
        database->password_ = environmentValue("TREMCVT_TEST_PG_PASSWORD");
        database->databaseName_ = "tremcvt_test_" + uniqueSuffix();
        const ProcessResult created = runProgram(
            "psql",
            {"-X", "-q", "-v", "ON_ERROR_STOP=1", "-h", database->host_, "-p", database->port_, "-U",
             database->userName_, "-d", "postgres", "-c", "CREATE DATABASE " + database->databaseName_},
            {{{"PGPASSWORD", database->password_}}, {}, {}, {}, 60});
        if (!created.exited || created.exitStatus != 0) {
            database->databaseName_.clear();  // nothing to drop
            return fail("CREATE DATABASE failed: " + created.errorOutput);
        }
        section += "Driver=PostgreSQL Unicode\nServername=" + database->host_ + "\nPort=" + database->port_ +
                   "\nDatabase=" + database->databaseName_ + "\nCommLog=0\nDebug=0\n";
    }
    if (!writeFile(database->odbcIni_, section)) return fail("odbc.ini could not be written");

    if (!setup.emptyDatabase) {
        const char* file = kind == DatabaseKind::SQLite ? "sqlite.sql" : "postgresql.sql";
        const std::string schema =
            setup.schemaSql.empty() ? readFile(sourceDirectory() / "schema" / file) : setup.schemaSql;
        if (schema.empty()) return fail(std::string("cannot read schema/") + file);
        const ProcessResult applied = database->runClient(schema, false);
        if (!applied.exited || applied.exitStatus != 0) return fail("schema not applied: " + applied.errorOutput);
    } else if (kind == DatabaseKind::SQLite) {
        // An empty but existing database file.
        const ProcessResult made = database->runClient("PRAGMA user_version=0;", false);
        if (!made.exited || made.exitStatus != 0) return fail("database file not created: " + made.errorOutput);
    }

    if (setup.setOdbcIni) {
        if (const char* previous = std::getenv("ODBCINI")) database->previousOdbcIni_ = previous;
        ::setenv("ODBCINI", database->odbcIni_.c_str(), 1);
        database->restoreOdbcIni_ = true;
    }
    return database;
}

ArchiveTestDatabase::~ArchiveTestDatabase()
{
    if (restoreOdbcIni_) {
        if (previousOdbcIni_) {
            ::setenv("ODBCINI", previousOdbcIni_->c_str(), 1);
        } else {
            ::unsetenv("ODBCINI");
        }
    }
    if (kind_ == DatabaseKind::PostgreSQL && !databaseName_.empty()) {
        runProgram("psql",
                   {"-X", "-q", "-h", host_, "-p", port_, "-U", userName_, "-d", "postgres", "-c",
                    "DROP DATABASE IF EXISTS " + databaseName_ + " WITH (FORCE)"},
                   {{{"PGPASSWORD", password_}}, {}, {}, {}, 60});
    }
}

ProcessResult ArchiveTestDatabase::runClient(std::string_view sql, bool tuplesOnly) const
{
    if (kind_ == DatabaseKind::SQLite) {
        std::vector<std::string> arguments = {"-bail", "-batch"};
        if (tuplesOnly) arguments.insert(arguments.end(), {"-noheader", "-separator", "|", "-nullvalue", ""});
        arguments.push_back(databaseName_);
        return runProgram("sqlite3", arguments, {{}, {}, {}, std::string(sql), 60});
    }
    std::vector<std::string> arguments = {"-X", "-q", "-v", "ON_ERROR_STOP=1", "-h", host_, "-p", port_,
                                          "-U", userName_, "-d", databaseName_};
    if (tuplesOnly) arguments.insert(arguments.end(), {"-A", "-t", "-F", "|"});
    return runProgram("psql", arguments, {{{"PGPASSWORD", password_}}, {}, {}, std::string(sql), 60});
}

bool ArchiveTestDatabase::execute(std::string_view sql, std::string* error) const
{
    const ProcessResult result = runClient(sql, false);
    const bool ok = result.exited && result.exitStatus == 0;
    if (!ok && error != nullptr) *error = result.errorOutput;
    return ok;
}

std::optional<std::vector<std::string>> ArchiveTestDatabase::query(std::string_view sql, std::string* error) const
{
    const ProcessResult result = runClient(sql, true);
    if (!result.exited || result.exitStatus != 0) {
        if (error != nullptr) *error = result.errorOutput;
        return std::nullopt;
    }
    std::vector<std::string> rows;
    std::istringstream lines(result.output);
    for (std::string line; std::getline(lines, line);) rows.push_back(line);
    return rows;
}

std::size_t ArchiveTestDatabase::filelistRows() const
{
    const auto rows = query("select count(*) from FILELIST");
    EXPECT_TRUE(rows.has_value() && rows->size() == 1);
    return rows && rows->size() == 1 ? std::stoul(rows->front()) : 9999;
}

std::vector<std::pair<std::string, std::string>> ArchiveTestDatabase::environment() const
{
    return {{"ODBCINI", odbcIni_.string()}};
}

void ArchiveDatabaseFixture::SetUp()
{
    if (GetParam() == DatabaseKind::PostgreSQL && !postgresAvailable()) GTEST_SKIP() << postgresSkipReason();
    tempDir = std::make_unique<TempDir>();
    std::string error;
    database = ArchiveTestDatabase::create(GetParam(), tempDir->path(), databaseSetup(), &error);
    ASSERT_NE(database, nullptr) << error;
}

void ArchiveDatabaseFixture::TearDown()
{
    database.reset();
    tempDir.reset();
}

}  // namespace tremcvt::test
