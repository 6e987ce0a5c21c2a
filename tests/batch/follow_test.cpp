// tremcvt_batch --follow over a WIN directory that a writer fills in
// accelerated time: the follower converts each minute once it is complete,
// again only when its file changes, gives a missing minute up once, takes up
// where the archive stands after it was killed, ends with 0 on SIGTERM, and
// leaves the archive that one batch over the final files leaves.
#include <gtest/gtest.h>

#include <signal.h>

#include <algorithm>
#include <atomic>
#include <chrono>
#include <cstdint>
#include <filesystem>
#include <future>
#include <iostream>
#include <map>
#include <string>
#include <thread>
#include <vector>

#include "common/batch/win_files.h"
#include "converter/batch/batch_options.h"
#include "tests/support/program_fixture.h"

namespace tremcvt {
namespace {

namespace fs = std::filesystem;
using Clock = std::chrono::steady_clock;
using test::kHour;

std::size_t occurrences(const std::string& text, const std::string& part)
{
    std::size_t count = 0;
    for (std::size_t at = text.find(part); at != std::string::npos; at = text.find(part, at + 1)) ++count;
    return count;
}

class FollowTest : public test::ProgramFixture {
protected:
    FollowTest() { standardStations = true; }

    // The follower, run through a shell that leaves its process id behind.
    struct Follower {
        std::future<test::ProcessResult> result;
        pid_t pid = 0;
    };
    // options after "KAM winDir --follow", or the whole command line.
    Follower follow(const std::vector<std::string>& options, bool whole = false)
    {
        const fs::path pidFile = tempDir->path() / "follower.pid";
        fs::remove(pidFile);
        std::vector<std::string> arguments = {"-c", "echo $$ >\"$0\"; exec \"$@\"", pidFile.string(),
                                              TREMCVT_BATCH_BINARY};
        if (!whole) arguments.insert(arguments.end(), {"KAM", winDir.string(), "--follow"});
        arguments.insert(arguments.end(), options.begin(), options.end());
        Follower follower;
        follower.result = std::async(std::launch::async, [this, arguments] { return run("/bin/sh", arguments); });
        for (int i = 0; i < 500 && follower.pid == 0; ++i) {
            std::this_thread::sleep_for(std::chrono::milliseconds(10));
            const std::string text = test::readFile(pidFile);
            if (!text.empty() && text.back() == '\n') follower.pid = std::stoi(text);
        }
        EXPECT_NE(follower.pid, 0) << "the follower did not start";
        return follower;
    }

    // The minute's file in the first layout, made elsewhere and renamed into
    // place as an acquisition system does.
    void writeMinute(int m, int seconds = 60, int variant = 0, const fs::path& directory = {}, int sps = 100)
    {
        MinuteName name;
        ASSERT_TRUE(minuteName(static_cast<double>(kHour + 60 * m), name));
        const std::string path = winFileLayouts((directory.empty() ? winDir : directory).string(), name)[0];
        fs::create_directories(fs::path(path).parent_path());
        fs::rename(writeRecording("incoming", kHour + 60 * m, seconds, sps, variant), path);
    }

    // The latest end of the station's catalogue rows; 0 while there are none.
    double cataloguedEnd(const std::string& station = "KAM") const
    {
        const auto rows = database->query("select max(TBEGIN+TQTY) from FILELIST where STA='" + station + "'");
        return rows && !rows->empty() && !rows->front().empty() ? std::stod(rows->front()) : 0.0;
    }
};

TEST_P(FollowTest, ConvertsMinutesAsTheyArriveAndLeavesTheArchiveOfOneBatch)
{
    constexpr int kMinutes = 24, kKilledAfter = 7, kChanged = 9, kHalves = 12, kMissing = 16, kLate = 19;
    const std::vector<std::string> options = {"--settle", "1", "--status-every", "1"};

    // The writer: a minute every 0.3 s; minute kHalves first as its first
    // half, made whole before the next minute comes; minute kLate half a
    // second after the one that follows it; minute kChanged rewritten with
    // other samples five minutes later; minute kMissing never. It records
    // when each minute became complete (the next minute there, or for the
    // last one the settle time over).
    std::map<int, Clock::time_point> completed;
    std::atomic<int> written{-1};
    std::thread writer([&] {
        for (int m = 0; m < kMinutes; ++m) {
            std::this_thread::sleep_for(std::chrono::milliseconds(300));
            if (m == kMissing || m == kLate) {
                written = m;
                continue;
            }
            writeMinute(m, m == kHalves ? 30 : 60);
            if (m == kHalves) {
                std::this_thread::sleep_for(std::chrono::milliseconds(150));
                writeMinute(m);
            }
            if (m == kLate + 1) {
                std::this_thread::sleep_for(std::chrono::milliseconds(500));
                writeMinute(kLate);
            }
            if (m == kChanged + 5) writeMinute(kChanged, 60, 1);
            const Clock::time_point now = Clock::now();
            for (int earlier = m - 1; earlier >= 0 && !completed.count(earlier); --earlier)
                if (earlier != kMissing) completed[earlier] = now;
            if (m == kMinutes - 1) completed[m] = now + std::chrono::seconds(1);
            written = m;
        }
    });

    // The first follower starts from the earliest file and is killed once
    // minute kKilledAfter is written; the second takes up from the archive.
    while (written < 0) std::this_thread::sleep_for(std::chrono::milliseconds(5));
    Follower first = follow(options);
    while (written < kKilledAfter) std::this_thread::sleep_for(std::chrono::milliseconds(5));
    if (first.pid != 0) kill(first.pid, SIGKILL);
    const test::ProcessResult killed = first.result.get();
    EXPECT_EQ(killed.signal, SIGKILL) << killed.errorOutput;
    Follower second = follow(options);

    // When each minute's end reaches the catalogue, as seen from here.
    std::map<int, Clock::time_point> stored;
    const double lastEnd = static_cast<double>(kHour + 60 * kMinutes);
    const Clock::time_point deadline = Clock::now() + std::chrono::seconds(40);
    for (double end = 0.0; end < lastEnd - 0.5 && Clock::now() < deadline;) {
        end = cataloguedEnd();
        for (int m = 0; m < kMinutes && kHour + 60.0 * (m + 1) <= end + 0.5; ++m)
            stored.emplace(m, Clock::now());
        std::this_thread::sleep_for(std::chrono::milliseconds(20));
    }
    writer.join();
    std::this_thread::sleep_for(std::chrono::milliseconds(1500));  // minute kChanged settles again
    if (second.pid != 0) kill(second.pid, SIGTERM);
    const test::ProcessResult stopped = second.result.get();
    const test::ArchiveState followed = state();

    EXPECT_TRUE(stopped.exited && stopped.exitStatus == 0) << stopped.signal << "\n" << stopped.errorOutput;
    const std::string& log = stopped.errorOutput;
    EXPECT_EQ(occurrences(log, "KAM: no WIN file for 09091411.16; going on\n"), 1u) << log;
    EXPECT_EQ(occurrences(log, "no WIN file"), 1u) << log;
    EXPECT_EQ(occurrences(log, "KAM: 09091411.09 changed; converting it again\n"), 1u) << log;
    EXPECT_EQ(occurrences(log, "converting it again"), 1u) << log;
    EXPECT_NE(log.find("tremcvt_batch: following KAM: "), std::string::npos) << log;
    // Every minute from where it took up converted once, minute kChanged
    // twice: the summary counts each conversion.
    const std::size_t from = log.find(" from 2009-09-14T11:");
    ASSERT_NE(from, std::string::npos) << log;
    const int start = std::stoi(log.substr(from + 20, 2));
    EXPECT_LE(start, kKilledAfter + 1);
    const int conversions = kMinutes - start;  // less the missing minute, plus kChanged again
    EXPECT_NE(stopped.output.find("Batch: " + std::to_string(conversions + 1) + " files, " +
                                  std::to_string(conversions) + " converted, 1 missing, 0 failed"),
              std::string::npos)
        << stopped.output;

    // The delay from a minute's completion to its catalogue row, over the
    // minutes that the next one completed (or the settle time, the last).
    std::vector<std::pair<double, int>> delays;
    for (const auto& [m, at] : completed)
        if (m > start && m != kLate && m + 1 != kLate && m + 1 != kMissing && m != kChanged && stored.count(m))
            delays.emplace_back(std::chrono::duration<double>(stored[m] - at).count(), m);
    std::sort(delays.begin(), delays.end());
    ASSERT_FALSE(delays.empty());
    std::cout << "follow delay over " << delays.size() << " minutes: median " << delays[delays.size() / 2].first
              << " s, max " << delays.back().first << " s (minute " << delays.back().second << ")\n";

    resetArchive();
    const auto batch = run(TREMCVT_BATCH_BINARY, {"KAM", winDir.string(), "14/09/2009 11:00", "000 00:24"});
    EXPECT_EQ(batch.exitStatus, kBatchExitMissingFiles) << batch.output << batch.errorOutput;
    const test::ArchiveState expected = state();
    EXPECT_TRUE(followed == expected) << test::describeDifference(expected, followed);
}

TEST_P(FollowTest, StationsAreFollowedAtOnceEachOverItsDirectory)
{
    // KAM at 100 and LNG at 20 samples per second, three minutes each in
    // their own directories.
    const fs::path kam = tempDir->path() / "kam", lng = tempDir->path() / "lng";
    std::map<unsigned, std::string> channels;
    for (const test::Channel& c : test::kChannels) channels[c.id] = c.component;
    writeIni(stationSection(0, "KAM", channels, "dir=" + kam.string() + "\n") +
                 stationSection(1, "LNG", channels, "dir=" + lng.string() + "\n"),
             2, "USE_TEND=1\n");
    for (int m = 0; m < 3; ++m) {
        writeMinute(m, 60, 0, kam, 100);
        writeMinute(m, 60, 0, lng, 20);
    }
    Follower follower = follow({"--stations", "all", "--follow", "--settle", "1"}, true);
    const double end = static_cast<double>(kHour + 180);
    for (int i = 0; i < 1000 && (cataloguedEnd("KAM") < end - 0.5 || cataloguedEnd("LNG") < end - 0.5); ++i)
        std::this_thread::sleep_for(std::chrono::milliseconds(20));
    // SIGHUP: every follower reads tremcvt.ini again.
    if (follower.pid != 0) kill(follower.pid, SIGHUP);
    std::this_thread::sleep_for(std::chrono::milliseconds(800));
    if (follower.pid != 0) kill(follower.pid, SIGTERM);
    const test::ProcessResult stopped = follower.result.get();
    EXPECT_TRUE(stopped.exited && stopped.exitStatus == 0) << stopped.signal << "\n" << stopped.errorOutput;
    EXPECT_EQ(occurrences(stopped.errorOutput, "tremcvt.ini read again"), 2u) << stopped.errorOutput;
    EXPECT_NE(stopped.output.find("Stations: 2, 0 without a WIN directory\nBatch: 6 files, 6 converted, 0 missing"),
              std::string::npos)
        << stopped.output;
    const test::ArchiveState followed = state();

    resetArchive();
    const auto batch = run(TREMCVT_BATCH_BINARY, {"--stations", "all", "14/09/2009 11:00", "000 00:03"});
    EXPECT_EQ(batch.exitStatus, 0) << batch.output << batch.errorOutput;
    const test::ArchiveState expected = state();
    EXPECT_EQ(expected.rows.size(), 4u);
    EXPECT_TRUE(followed == expected) << test::describeDifference(expected, followed);
}

INSTANTIATE_TEST_SUITE_P(Databases, FollowTest, test::allDatabaseKinds(), test::databaseKindTestName);

}  // namespace
}  // namespace tremcvt
