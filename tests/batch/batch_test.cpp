// tremcvt_batch through the real programs: a batch leaves the archive that
// one tremcvt run per file leaves, prints the reports as the launcher merges
// them, lists missing minutes, survives a database that drops its
// connection, and refuses a bad command line without touching the archive.
#include <gtest/gtest.h>

#include <algorithm>
#include <chrono>
#include <cstdint>
#include <filesystem>
#include <future>
#include <string>
#include <thread>
#include <vector>

#include "common/batch/output_merger.h"
#include "common/batch/win_files.h"
#include "converter/batch/batch_options.h"
#include "converter/driver/settings.h"
#include "tests/support/program_fixture.h"

#ifndef TREMCVT_BATCH_BINARY
#error "TREMCVT_BATCH_BINARY must name the batch program"
#endif
#ifndef TREMCVT_SHARED_WIN_DIR
#error "TREMCVT_SHARED_WIN_DIR must name the folder of the real recordings"
#endif

namespace tremcvt {
namespace {

namespace fs = std::filesystem;
using test::ArchiveState;
using test::describeDifference;
using test::kHour;

std::string withoutCarriageReturns(std::string text)
{
    std::string out;
    for (std::size_t i = 0; i < text.size(); ++i)
        if (!(text[i] == '\r' && i + 1 < text.size() && text[i + 1] == '\n')) out += text[i];
    return out;
}

// What the batch prints before its summary.
std::string reportsOf(const std::string& output)
{
    const std::size_t summary = output.rfind("Batch: ");
    return summary == std::string::npos ? output : output.substr(0, summary);
}

TEST(BatchOptions, StartIntervalAndListForms)
{
    struct StartCase {
        const char* text;
        bool valid;
        StartTime expected;
    };
    const StartCase starts[] = {
        {"03/03/2010 02:00", true, {2010, 3, 3, 2, 0}},
        {"3/3/2010 2:05", true, {2010, 3, 3, 2, 5}},
        {"2010-03-03T02:00", true, {2010, 3, 3, 2, 0}},
        {"29/02/2008 23:59", true, {2008, 2, 29, 23, 59}},
        {"29/02/2009 23:59", false, {}},
        {"31/04/2010 00:00", false, {}},
        {"01/01/1969 00:00", false, {}},
        {"03/03/2010 24:00", false, {}},
        {"03/03/2010", false, {}},
        {"2010-03-03 02:00", false, {}},
        {"03/03/2010 02:00x", false, {}},
    };
    for (const StartCase& c : starts) {
        const std::optional<StartTime> parsed = parseBatchStart(c.text);
        ASSERT_EQ(parsed.has_value(), c.valid) << c.text;
        if (!parsed) continue;
        EXPECT_EQ(parsed->year, c.expected.year) << c.text;
        EXPECT_EQ(parsed->month, c.expected.month) << c.text;
        EXPECT_EQ(parsed->day, c.expected.day) << c.text;
        EXPECT_EQ(parsed->hour, c.expected.hour) << c.text;
        EXPECT_EQ(parsed->minute, c.expected.minute) << c.text;
    }
    for (const char* good : {"000 00:11", "1 0:0", "365 23:59", "000 99:99"}) EXPECT_TRUE(isIntervalText(good)) << good;
    for (const char* bad : {"", "000", "000 00", "0000 00:00", "a00 00:00", "000 00:00 ", "-1 00:00"})
        EXPECT_FALSE(isIntervalText(bad)) << bad;

    EXPECT_EQ(readFileList("a\r\n\n  \nb c\nlast"), (std::vector<std::string>{"a", "b c", "last"}));

    const auto parsed = parseBatchOptions({"KAM", "--files", "x", "y", "odbc=T", "--stop-on-error"});
    ASSERT_TRUE(parsed.options) << parsed.message;
    EXPECT_EQ(parsed.options->files, (std::vector<std::string>{"x", "y"}));
    EXPECT_EQ(parsed.options->converterOptions, std::vector<std::string>{"odbc=T"});
    EXPECT_TRUE(parsed.options->stopOnError);
}

TEST(BatchSettings, EachFileTakesTheGatheredSettingsWithItsOwnPath)
{
    // The batch gathers its options once; every file's settings must be what
    // tremcvt gathers from the same command line with that file's path.
    const auto gather = [](const std::string& path) {
        const char* argv[] = {"tremcvt", "KAM", path.c_str(), "odbc=ARC", "css=out/x.wfdisc"};
        return gatherSettings(5, argv);
    };
    const SettingsResult base = gather("-");
    ASSERT_EQ(base.status, SettingsStatus::kReady) << base.message;
    const std::string fits = "win/" + std::string(ConverterSettings{}.winPath.kMaxLength - 4, 'p');
    for (const std::string& path : {std::string("win/09091411.00"), fits, fits + "q"}) {
        const SettingsResult expected = gather(path);
        const SettingsResult derived = settingsForWinFile(base.settings, path);
        EXPECT_EQ(derived.status, expected.status) << path.size();
        EXPECT_EQ(derived.message, expected.message) << path.size();
        EXPECT_EQ(derived.exitCode, expected.exitCode) << path.size();
        if (expected.status != SettingsStatus::kReady) continue;
        EXPECT_EQ(derived.settings.winPath.view(), expected.settings.winPath.view());
        EXPECT_EQ(derived.settings.stationCode.view(), expected.settings.stationCode.view());
        EXPECT_EQ(derived.settings.odbc.view(), expected.settings.odbc.view());
        EXPECT_EQ(derived.settings.css.view(), expected.settings.css.view());
        EXPECT_EQ(derived.settings.cssOutput, expected.settings.cssOutput);
        EXPECT_EQ(derived.settings.data.view(), expected.settings.data.view());
    }
    EXPECT_EQ(settingsForWinFile(base.settings, fits + "q").status, SettingsStatus::kArgumentTooLong);
}

class BatchTest : public test::ProgramFixture {
protected:
    BatchTest() { standardStations = true; }

    test::ProcessResult batch(const std::vector<std::string>& arguments)
    {
        return run(TREMCVT_BATCH_BINARY, arguments);
    }

    // The archive and the launcher's merged text of one tremcvt run per file
    // over the interval's minutes below directory.
    std::pair<ArchiveState, std::string> onePerFile(const std::string& directory, double start, int minutes)
    {
        resetArchive();
        OutputMerger merger;
        std::string merged;
        for (int i = 0; i < minutes; ++i) {
            MinuteName name;
            EXPECT_TRUE(minuteName(start + 60.0 * i, name));
            const std::optional<std::string> path = FindWinFile(directory, name, merged, ReportLineEnd::kCrLf);
            if (!path) continue;
            const auto run = convert("KAM", *path);
            EXPECT_TRUE(run.exited) << run.errorOutput;
            merger.merge(run.output, merged);
        }
        return {state(), withoutCarriageReturns(merged)};
    }
};

TEST_P(BatchTest, RealMinutesLeaveTheArchiveOfOneRunPerFileAndTheLaunchersMergedReport)
{
    const fs::path real = TREMCVT_SHARED_WIN_DIR;
    if (!fs::exists(real / "10030302.00")) GTEST_SKIP() << "no WIN recordings in " << real;
    const double start = 1267581600.0;  // 2010-03-03 02:00 UTC
    const auto [expected, merged] = onePerFile(real.string(), start, 11);
    ASSERT_EQ(expected.rows.size(), 2u);

    resetArchive();
    const auto run = batch({"KAM", real.string(), "03/03/2010 02:00", "000 00:11"});
    EXPECT_EQ(run.exitStatus, 0) << run.output << run.errorOutput;
    EXPECT_EQ(reportsOf(run.output), merged);
    EXPECT_NE(run.output.find("Batch: 11 files, 11 converted, 0 missing, 0 failed"), std::string::npos)
        << run.output;
    const ArchiveState actual = state();
    EXPECT_TRUE(actual == expected) << describeDifference(expected, actual);

    // Converted again with every report whole: the archive stays as it is.
    const auto again = batch({"KAM", real.string(), "2010-03-03T02:00", "000 00:11", "--full-reports"});
    EXPECT_EQ(again.exitStatus, 0) << again.output << again.errorOutput;
    EXPECT_EQ(std::count(again.output.begin(), again.output.end(), '='), 11 * 3 * 60) << again.output;
    const ArchiveState reconverted = state();
    EXPECT_TRUE(reconverted == expected) << describeDifference(expected, reconverted);
}

TEST_P(BatchTest, DayWithGapsAndMissingMinutesMatchesOneRunPerFile)
{
    // Half an hour of minutes in the launcher's first layout, three of them
    // missing and one with a gap of twenty seconds inside.
    const std::vector<int> missing = {5, 6, 17};
    for (int m = 0; m < 30; ++m) {
        if (std::find(missing.begin(), missing.end(), m) != missing.end()) continue;
        MinuteName name;
        ASSERT_TRUE(minuteName(static_cast<double>(kHour + 60 * m), name));
        const std::string path = winFileLayouts(winDir.string(), name)[0];
        fs::create_directories(fs::path(path).parent_path());
        const std::string made = writeRecording("m" + std::to_string(m), kHour + 60 * m, m == 11 ? 40 : 60, 100);
        fs::rename(made, path);
    }
    const auto [expected, merged] = onePerFile(winDir.string(), static_cast<double>(kHour), 30);

    resetArchive();
    const auto run = batch({"KAM", winDir.string(), "14/09/2009 11:00", "000 00:30"});
    EXPECT_EQ(run.exitStatus, kBatchExitMissingFiles) << run.output << run.errorOutput;
    EXPECT_EQ(reportsOf(run.output), merged);
    EXPECT_NE(run.output.find("Batch: 30 files, 27 converted, 3 missing, 0 failed"), std::string::npos)
        << run.output;
    EXPECT_NE(run.output.find("Missing: 09091411.05\nMissing: 09091411.06\nMissing: 09091411.17\n"),
              std::string::npos)
        << run.output;
    const ArchiveState actual = state();
    EXPECT_TRUE(actual == expected) << describeDifference(expected, actual);
}

TEST_P(BatchTest, ChosenFilesGoInTimeOrderAndFailuresAreCountedByKind)
{
    const std::string m0 = writeRecording("09091411.00", kHour, 60, 100);
    const std::string m1 = writeRecording("09091411.01", kHour + 60, 60, 100);
    const std::string m2 = writeRecording("09091411.02", kHour + 120, 60, 100);
    // Named so that it falls between the first two minutes.
    const std::string absent = (winDir / "09091411.00a").string();

    // Given out of order, from a list: converted in name order, one file
    // per channel.
    ASSERT_TRUE(test::writeFile(tempDir->path() / "list", m2 + "\n" + m0 + "\r\n\n" + m1 + "\n"));
    const auto listed = batch({"KAM", "--files-from", (tempDir->path() / "list").string()});
    EXPECT_EQ(listed.exitStatus, 0) << listed.output << listed.errorOutput;
    EXPECT_EQ(state().rows.size(), 2u);
    const auto rows = database->query("select TQTY from FILELIST");
    ASSERT_TRUE(rows);
    EXPECT_EQ(rows->front().substr(0, 3), "180") << rows->front();

    // A file that cannot be opened fails; --stop-on-error ends the batch
    // there, the default goes on.
    resetArchive();
    const auto keptGoing = batch({"KAM", "--files", absent, m0});
    EXPECT_EQ(keptGoing.exitStatus, kBatchExitFailures) << keptGoing.output;
    EXPECT_NE(keptGoing.output.find("1 converted, 0 missing, 1 failed (connection 0, open 1,"), std::string::npos)
        << keptGoing.output;
    EXPECT_NE(keptGoing.output.find("Failed: " + absent + " (open)\n"), std::string::npos) << keptGoing.output;
    EXPECT_EQ(state().rows.size(), 2u);
    resetArchive();
    const auto stopped = batch({"KAM", "--files", m0, absent, m1, "--stop-on-error"});
    EXPECT_EQ(stopped.exitStatus, kBatchExitFailures);
    EXPECT_NE(stopped.output.find("Batch: 3 files, 1 converted, 0 missing, 1 failed"), std::string::npos)
        << stopped.output;
    EXPECT_NE(stopped.output.find("1 left undone"), std::string::npos) << stopped.output;

    // A channel that cannot be stored is a catalogue write failure.
    editStationList("c2=BHN\n", "c2=B/N\n");
    resetArchive();
    const auto refused = batch({"KAM", "--files", m0});
    EXPECT_EQ(refused.exitStatus, kBatchExitFailures);
    EXPECT_NE(refused.output.find("catalogue write 1"), std::string::npos) << refused.output;
    EXPECT_NE(refused.errorOutput.find("tremcvt_batch: " + m0 + ": component code \"B/N\""), std::string::npos)
        << refused.errorOutput;
}

TEST_P(BatchTest, BadCommandLinesAreRefusedWithoutTouchingTheArchive)
{
    const std::string m0 = writeRecording("09091411.00", kHour, 60, 100);
    const std::vector<std::vector<std::string>> refused = {
        {"KAM", winDir.string(), "14/09/2009", "000 00:01"},
        {"KAM", winDir.string(), "31/09/2009 11:00", "000 00:01"},
        {"KAM", winDir.string(), "14/09/2009 11:00", "1 day"},
        {"KAM", winDir.string(), "14/09/2009 11:00", "000 00:01", "--fast"},
        {"KAM", winDir.string(), "14/09/2009 11:00", "000 00:01", "odbcTRZ"},
        {"KAM", "--files-from", (tempDir->path() / "no-such-list").string()},
        {"KAM", "--files-from"},
        {"KAM", "--files"},
        {"KAM"},
        {"KAM", "--files", m0, "data=" + std::string(600, 'x')},
        {"KAM", winDir.string(), "--follow", "css=" + (outputDir / "x.wfdisc").string()},
        {"KAM", winDir.string(), "--follow", "--settle", "0"},
        {"KAM", winDir.string(), "14/09/2009 11:00", "000 00:01", "--settle", "5"},
        {"--stations", "all", "--follow", "-j", "2"},
    };
    for (const auto& arguments : refused) {
        const auto run = batch(arguments);
        EXPECT_EQ(run.exitStatus, kBatchExitUsage) << arguments.back() << "\n" << run.errorOutput;
        EXPECT_TRUE(run.output.empty()) << run.output;
        EXPECT_FALSE(run.errorOutput.empty());
    }
    const ArchiveState untouched = state();
    EXPECT_TRUE(untouched.rows.empty());
    EXPECT_TRUE(untouched.files.empty());
}

// SQL run in the test cluster's maintenance database, outside the archive's.
bool serverExecute(const std::string& sql)
{
    const auto env = [](const char* name) { return std::string(std::getenv(name)); };
    const auto run = test::runProgram("psql",
                                      {"-X", "-q", "-v", "ON_ERROR_STOP=1", "-h", env("TREMCVT_TEST_PG_HOST"), "-p",
                                       env("TREMCVT_TEST_PG_PORT"), "-U", env("TREMCVT_TEST_PG_USER"), "-d",
                                       "postgres", "-c", sql},
                                      {{{"PGPASSWORD", env("TREMCVT_TEST_PG_PASSWORD")}}, {}, {}, {}, 60});
    EXPECT_TRUE(run.exited && run.exitStatus == 0) << sql << "\n" << run.errorOutput;
    return run.exited && run.exitStatus == 0;
}

TEST_P(BatchTest, DatabaseThatDropsItsConnectionIsReconnectedOrEndsTheBatch)
{
    if (GetParam() != test::DatabaseKind::PostgreSQL) GTEST_SKIP() << "needs a database server";
    // Ten hours of minutes: long enough to cut the batch's connection while
    // it runs.
    const int minutes = 600;
    for (int m = 0; m < minutes; ++m) {
        MinuteName name;
        ASSERT_TRUE(minuteName(static_cast<double>(kHour + 60 * m), name));
        fs::rename(writeRecording("m", kHour + 60 * m, 60, 20), winDir / winFileName(name));
    }
    const std::vector<std::string> arguments = {"LNG", winDir.string(), "14/09/2009 11:00", "000 10:00"};
    resetArchive();
    const auto whole = batch(arguments);
    ASSERT_EQ(whole.exitStatus, 0) << whole.output << whole.errorOutput;
    const ArchiveState expected = state();

    const std::string name = database->databaseName();
    const std::string terminate = "select pg_terminate_backend(pid) from pg_stat_activity where datname='" + name +
                                  "' and pid <> pg_backend_pid()";
    // Runs the batch and cuts its connection once it has stored an hour.
    const auto cutOff = [&](const std::string& before) {
        resetArchive();
        auto running = std::async(std::launch::async, [&] { return batch(arguments); });
        bool cut = false;
        while (!cut && running.wait_for(std::chrono::milliseconds(5)) != std::future_status::ready) {
            const auto rows = database->query("select count(*) from FILELIST");
            if (rows && !rows->empty() && std::stoi(rows->front()) >= 4) cut = serverExecute(before + terminate);
        }
        EXPECT_TRUE(cut) << "the batch ended before its connection was cut";
        return running.get();
    };

    const auto reconnected = cutOff("");
    EXPECT_EQ(reconnected.exitStatus, 0) << reconnected.output << reconnected.errorOutput;
    EXPECT_NE(reconnected.output.find("600 converted, 0 missing, 0 failed"), std::string::npos) << reconnected.output;
    EXPECT_NE(reconnected.output.find(" 1 reconnections"), std::string::npos) << reconnected.output;
    EXPECT_EQ(reportsOf(reconnected.output), reportsOf(whole.output));
    ArchiveState actual = state();
    EXPECT_TRUE(actual == expected) << describeDifference(expected, actual);

    // No new connection is let in: the batch ends with the converter's
    // message and code; the next batch completes the archive exactly.
    const auto ended = cutOff("ALTER DATABASE " + name + " ALLOW_CONNECTIONS false; ");
    ASSERT_TRUE(serverExecute("ALTER DATABASE " + name + " ALLOW_CONNECTIONS true"));
    EXPECT_EQ(ended.exitStatus, 255) << ended.output << ended.errorOutput;
    EXPECT_NE(ended.output.find("Connection error (ODBC: " + database->dataSource() + ", USER: " +
                                database->userName() + ").\n"),
              std::string::npos)
        << ended.output;
    EXPECT_NE(ended.output.find("failed (connection 1,"), std::string::npos) << ended.output;
    EXPECT_NE(ended.errorOutput.find("tremcvt_batch: "), std::string::npos) << ended.errorOutput;
    const auto rerun = batch(arguments);
    EXPECT_EQ(rerun.exitStatus, 0) << rerun.output << rerun.errorOutput;
    actual = state();
    EXPECT_TRUE(actual == expected) << describeDifference(expected, actual);
}

INSTANTIATE_TEST_SUITE_P(Databases, BatchTest, test::allDatabaseKinds(), test::databaseKindTestName);

}  // namespace
}  // namespace tremcvt
