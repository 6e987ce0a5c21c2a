// tremcvt_batch --stations: the stations of tremcvt.ini, each over its own
// WIN directory, one or several at a time or in shares run at once, leave
// the archive and the summary counts of one batch per station; a locked
// SQLite database is waited for.
#include <gtest/gtest.h>

#include <chrono>
#include <cstdio>
#include <filesystem>
#include <future>
#include <set>
#include <string>
#include <thread>
#include <vector>

#include "common/batch/win_files.h"
#include "converter/batch/batch_job.h"
#include "converter/batch/batch_options.h"
#include "tests/support/program_fixture.h"

namespace tremcvt {
namespace {

namespace fs = std::filesystem;
using test::ArchiveState;
using test::describeDifference;
using test::kHour;

TEST(StationChoice, ListOrderNamesSharesAndBadShares)
{
    const std::vector<StationEntry> entries = {
        {"kam", "/w/kam"}, {"", "/w/none"}, {"LNG", "/w/lng1"}, {"ABC", ""}, {"Lng", "/w/lng2"}, {"XYZ", "/w/xyz"},
    };
    const auto codes = [](const std::vector<StationChoice>& chosen) {
        std::vector<std::string> out;
        for (const StationChoice& c : chosen) out.push_back(c.code + "=" + c.directory.value_or("?"));
        return out;
    };
    // List order, upper-cased, each name once with the directory of its
    // last section (as the launcher shows it), empty names left out.
    EXPECT_EQ(codes(chooseStations(entries, {}, std::nullopt)),
              (std::vector<std::string>{"KAM=/w/kam", "LNG=/w/lng2", "ABC=", "XYZ=/w/xyz"}));
    EXPECT_EQ(codes(chooseStations(entries, {"xyz", "NONE", "Kam"}, std::nullopt)),
              (std::vector<std::string>{"KAM=/w/kam", "XYZ=/w/xyz", "NONE=?"}));

    // For every N, the shares 1..N together hold every station exactly once,
    // each share in list order.
    for (int count = 1; count <= 6; ++count) {
        std::multiset<std::string> seen;
        for (int index = 1; index <= count; ++index) {
            const auto share = chooseStations(entries, {}, Shard{index, count});
            EXPECT_LE(share.size(), 4u / count + 1) << index << "/" << count;
            for (const StationChoice& c : share) seen.insert(c.code);
        }
        EXPECT_EQ(seen, (std::multiset<std::string>{"ABC", "KAM", "LNG", "XYZ"})) << count;
    }
    EXPECT_EQ(codes(chooseStations(entries, {}, Shard{2, 3})), (std::vector<std::string>{"LNG=/w/lng2"}));

    for (const char* good : {"1/1", "2/3", "8/8"}) EXPECT_TRUE(parseShard(good)) << good;
    for (const char* bad : {"", "0/2", "3/2", "1/0", "1", "/2", "1/", "a/2", "1/2/3", "-1/2", "1/2x"})
        EXPECT_FALSE(parseShard(bad)) << bad;
}

constexpr int kStations = 8;
const std::string kStart = "14/09/2009 11:00";
const std::string kInterval = "000 00:05";
constexpr int kMinutes = 5;

// The counts of a batch's summary line.
struct Counts {
    int files = -1, converted = -1, missing = -1, failed = -1;
    bool operator==(const Counts&) const = default;
};

Counts countsOf(const std::string& output)
{
    Counts c;
    const std::size_t at = output.rfind("Batch: ");
    if (at != std::string::npos)
        std::sscanf(output.c_str() + at, "Batch: %d files, %d converted, %d missing, %d failed", &c.files,
                    &c.converted, &c.missing, &c.failed);
    return c;
}

std::ostream& operator<<(std::ostream& out, const Counts& c)
{
    return out << c.files << " files, " << c.converted << " converted, " << c.missing << " missing, " << c.failed
               << " failed";
}

// What a batch prints before its summary.
std::string reportsOf(const std::string& output)
{
    std::size_t summary = output.rfind("Stations: ");
    if (summary == std::string::npos) summary = output.rfind("Batch: ");
    return summary == std::string::npos ? output : output.substr(0, summary);
}

std::multiset<std::string> linesOf(const std::string& text)
{
    std::multiset<std::string> lines;
    std::size_t start = 0;
    while (start < text.size()) {
        const std::size_t end = std::min(text.find('\n', start), text.size());
        lines.insert(text.substr(start, end - start));
        start = end + 1;
    }
    return lines;
}

// Eight stations ST1..ST8 at 20 samples per second: ST2 names no directory
// and takes [system] dir, ST3 is written in lower case, ST8's directory does
// not exist, and the odd stations lack one minute of the five.
class StationsTest : public test::ProgramFixture {
protected:
    void SetUp() override
    {
        ProgramFixture::SetUp();
        if (IsSkipped() || HasFatalFailure()) return;
        std::string sections;
        std::vector<test::SitechanRow> rows;
        const fs::path shared = winDir / "shared";
        for (int i = 0; i < kStations; ++i) {
            const std::string code = "ST" + std::to_string(i + 1);
            const fs::path directory = i == 1 ? shared : winDir / code;
            const std::string lines = i == 1 ? "" : "dir=" + directory.string() + "\n";
            sections += stationSection(i, i == 2 ? "st3" : code, {{0xc1, "BHZ"}, {0xc2, "BHN"}}, lines);
            for (const char* channel : {"BHZ", "BHN"}) rows.push_back({code, channel, 20});
            if (i == kStations - 1) {
                absentCode = code;
                continue;
            }
            stations.emplace_back(code, directory);
            fs::create_directories(directory);
            for (int m = 0; m < kMinutes; ++m) {
                if (i % 2 == 1 && m == i % kMinutes) continue;
                MinuteName name;
                ASSERT_TRUE(minuteName(static_cast<double>(kHour + 60 * m), name));
                fs::rename(writeRecording("m", kHour + 60 * m, 60, 20), winFileLayouts(directory.string(), name)[2]);
            }
        }
        writeIni(sections, kStations, "USE_TEND=1\n", "dir=" + shared.string() + "\n");
        addSitechan(rows);
    }

    test::ProcessResult batch(const std::vector<std::string>& arguments) const
    {
        return run(TREMCVT_BATCH_BINARY, arguments);
    }

    // The archive, the reports in station order and the summed counts of
    // one batch per station whose directory exists.
    struct Expected {
        ArchiveState archive;
        std::string reports;
        Counts counts{0, 0, 0, 0};
    };
    Expected onePerStation()
    {
        resetArchive();
        Expected expected;
        for (const auto& [code, directory] : stations) {
            const auto run = batch({code, directory.string(), kStart, kInterval});
            EXPECT_TRUE(run.exited) << run.errorOutput;
            expected.reports += reportsOf(run.output);
            const Counts c = countsOf(run.output);
            expected.counts.files += c.files;
            expected.counts.converted += c.converted;
            expected.counts.missing += c.missing;
            expected.counts.failed += c.failed;
        }
        expected.archive = state();
        return expected;
    }

    std::vector<std::pair<std::string, fs::path>> stations;  // those with a directory
    std::string absentCode;
};

TEST_P(StationsTest, OneOrThreeAtATimeLeaveTheArchiveOfOneBatchPerStation)
{
    const Expected expected = onePerStation();
    ASSERT_EQ(expected.counts, (Counts{35, 32, 3, 0}));
    ASSERT_EQ(expected.archive.rows.size(), 18u);  // a missing minute inside starts new files

    for (const char* jobs : {"1", "3"}) {
        SCOPED_TRACE(std::string("-j ") + jobs);
        resetArchive();
        const auto run = batch({"--stations", "all", kStart, kInterval, "-j", jobs});
        EXPECT_EQ(run.exitStatus, kBatchExitMissingFiles) << run.output << run.errorOutput;
        EXPECT_EQ(countsOf(run.output), expected.counts) << run.output;
        EXPECT_NE(run.output.find("Stations: 8, 1 without a WIN directory\n"), std::string::npos) << run.output;
        EXPECT_NE(run.output.find("Missing: ST2 09091411.01\n"), std::string::npos) << run.output;
        EXPECT_NE(run.output.find("Not converted: " + absentCode + " (WIN directory "), std::string::npos);
        EXPECT_NE(run.errorOutput.find("tremcvt_batch: station " + absentCode + ": WIN directory "),
                  std::string::npos)
            << run.errorOutput;
        // One at a time the reports are those of the stations' batches in
        // list order; three at a time the same reports, whole, in any order.
        if (std::string(jobs) == "1")
            EXPECT_EQ(reportsOf(run.output), expected.reports);
        else
            EXPECT_EQ(linesOf(reportsOf(run.output)), linesOf(expected.reports));
        const ArchiveState actual = state();
        EXPECT_TRUE(actual == expected.archive) << describeDifference(expected.archive, actual);
    }

    // Named stations only: the others stay untouched.
    resetArchive();
    const auto named = batch({"--stations", "st1,ST4", kStart, kInterval, "-j", "0"});
    EXPECT_EQ(named.exitStatus, kBatchExitMissingFiles) << named.output << named.errorOutput;
    EXPECT_EQ(countsOf(named.output), (Counts{10, 9, 1, 0})) << named.output;
    EXPECT_NE(named.output.find("Stations: 2, 0 without"), std::string::npos) << named.output;

    // A share beyond the stations converts nothing, and says so.
    const auto none = batch({"--stations", "all", kStart, kInterval, "--shard", "9/9"});
    EXPECT_EQ(none.exitStatus, kBatchExitOk) << none.output << none.errorOutput;
    EXPECT_NE(none.output.find("Stations: 0, 0 without a WIN directory\nBatch: 0 files"), std::string::npos)
        << none.output;
    EXPECT_NE(none.errorOutput.find("no station"), std::string::npos) << none.errorOutput;
}

TEST_P(StationsTest, SharesRunAtOnceConvertEveryStationOnce)
{
    const Expected expected = onePerStation();
    for (int count : {2, 3}) {
        SCOPED_TRACE(count);
        resetArchive();
        std::vector<std::future<test::ProcessResult>> shares;
        for (int index = 1; index <= count; ++index) {
            const std::string shard = std::to_string(index) + "/" + std::to_string(count);
            shares.push_back(std::async(std::launch::async, [this, shard] {
                return batch({"--stations", "all", kStart, kInterval, "-j", "2", "--shard", shard});
            }));
        }
        Counts sum{0, 0, 0, 0};
        int stationsSeen = 0;
        for (auto& share : shares) {
            const auto run = share.get();
            EXPECT_TRUE(run.exited && run.exitStatus <= kBatchExitMissingFiles) << run.output << run.errorOutput;
            const Counts c = countsOf(run.output);
            sum.files += c.files;
            sum.converted += c.converted;
            sum.missing += c.missing;
            sum.failed += c.failed;
            int taken = 0;
            std::sscanf(run.output.c_str() + run.output.find("Stations: "), "Stations: %d", &taken);
            stationsSeen += taken;
        }
        EXPECT_EQ(sum, expected.counts);
        EXPECT_EQ(stationsSeen, kStations);
        const ArchiveState actual = state();
        EXPECT_TRUE(actual == expected.archive) << describeDifference(expected.archive, actual);
    }

    const std::vector<std::vector<std::string>> refused = {
        {"--stations", "all", kStart, kInterval, "--shard", "3/2"},
        {"--stations", "all", kStart, kInterval, "--shard", "0/2"},
        {"--stations", "all", kStart, kInterval, "--shard"},
        {"--stations", "all", kStart, kInterval, "-j", "x"},
        {"--stations", "a,,b", kStart, kInterval},
        {"ST1", stations.front().second.string(), kStart, kInterval, "--shard", "1/2"},
        {"--stations", "all", kStart, kInterval, "-j", "2", "css=" + (outputDir / "w.wfdisc").string()},
    };
    for (const auto& arguments : refused) {
        const auto run = batch(arguments);
        EXPECT_EQ(run.exitStatus, kBatchExitUsage) << arguments.back() << "\n" << run.errorOutput;
        EXPECT_TRUE(run.output.empty()) << run.output;
    }
    EXPECT_NE(batch(refused.front()).errorOutput.find("bad --shard \"3/2\""), std::string::npos);
}

TEST_P(StationsTest, LockedSqliteDatabaseIsWaitedFor)
{
    if (GetParam() != test::DatabaseKind::SQLite) GTEST_SKIP() << "a lock held by another SQLite connection";
    const Expected expected = onePerStation();
    resetArchive();
    // The data source waits a fifth of a second for a lock; another
    // connection holds the database locked for eight seconds.
    const std::string odbcIni = test::readFile(database->odbcIni());
    const std::size_t timeout = odbcIni.find("Timeout=2000");
    ASSERT_NE(timeout, std::string::npos) << odbcIni;
    ASSERT_TRUE(test::writeFile(database->odbcIni(), odbcIni.substr(0, timeout) + "Timeout=200" +
                                                         odbcIni.substr(timeout + 12)));
    const fs::path held = tempDir->path() / "held";
    auto lock = std::async(std::launch::async, [&] {
        return test::runProgram("sqlite3", {database->databaseName()},
                                {{}, {}, {}, "BEGIN EXCLUSIVE;\n.shell touch " + held.string() +
                                               "\n.shell sleep 8\nCOMMIT;\n", 60});
    });
    while (!fs::exists(held) && lock.wait_for(std::chrono::milliseconds(20)) != std::future_status::ready) {
    }
    ASSERT_TRUE(fs::exists(held));
    const auto run = batch({"--stations", "all", kStart, kInterval, "-j", "3"});
    EXPECT_EQ(lock.get().exitStatus, 0);
    EXPECT_EQ(run.exitStatus, kBatchExitMissingFiles) << run.output << run.errorOutput;
    EXPECT_EQ(countsOf(run.output), expected.counts) << run.output;
    EXPECT_NE(run.output.find(" 0 reconnections"), std::string::npos) << run.output;
    const ArchiveState actual = state();
    EXPECT_TRUE(actual == expected.archive) << describeDifference(expected.archive, actual);
}

INSTANTIATE_TEST_SUITE_P(Databases, StationsTest, test::allDatabaseKinds(), test::databaseKindTestName);

}  // namespace
}  // namespace tremcvt
