// Stores cut off at every call: the real converter, over real SQLite and
// PostgreSQL data sources, is made to fail (or is killed right before) each
// file-system call and each statement of one conversion in turn; then that
// conversion and the following ones run normally. The archive that results,
// catalogue rows and every file's bytes, must equal the archive of the same
// conversions without any interruption. Also with SIGKILL at random moments,
// and with a power cut at every call, which also takes back whatever was not
// synced to the disk.
#include <gtest/gtest.h>

#include <algorithm>
#include <chrono>
#include <cmath>
#include <cstdint>
#include <cstring>
#include <filesystem>
#include <map>
#include <random>
#include <sstream>
#include <string>
#include <vector>

#include "tests/support/irregular_minutes.h"
#include "tests/support/program_fixture.h"

namespace tremcvt {
namespace {

namespace fs = std::filesystem;
using test::ArchiveState;
using test::describeDifference;
using test::kHour;

class InterruptionTest : public test::ProgramFixture {
protected:
    InterruptionTest() { standardStations = true; }

    struct Step {
        std::string station;
        std::string winFile;
    };
    struct Scenario {
        std::vector<Step> before;     // converted first, without faults
        Step target;                  // the conversion that is cut off
        std::vector<Step> following;  // converted after the target's re-run
    };

    // The fault points that the target conversion passes, by kind.
    std::vector<std::string> tracePoints(const Scenario& scenario)
    {
        resetArchive();
        for (const Step& step : scenario.before) convertCleanly(step.station, step.winFile, "before");
        const fs::path trace = tempDir->path() / "fault-trace";
        fs::remove(trace);
        const auto run = convert(scenario.target.station, scenario.target.winFile,
                                 {{"TREMCVT_FAULT_TRACE", trace.string()}});
        EXPECT_TRUE(run.exited && run.exitStatus == 0) << run.output << run.errorOutput;
        std::vector<std::string> sites;
        std::istringstream lines(test::readFile(trace));
        std::string number, site;
        while (lines >> number >> site) sites.push_back(site);
        return sites;
    }

    ArchiveState reference(const Scenario& scenario)
    {
        resetArchive();
        for (const Step& step : scenario.before) convertCleanly(step.station, step.winFile, "before");
        convertCleanly(scenario.target.station, scenario.target.winFile, "target");
        for (const Step& step : scenario.following) convertCleanly(step.station, step.winFile, "following");
        return state();
    }

    // Cuts the target conversion off at every fault point, with both
    // actions, and checks that the conversions after it repair the archive.
    void interruptEverywhere(const Scenario& scenario)
    {
        const ArchiveState expected = reference(scenario);
        ASSERT_FALSE(expected.files.empty());
        const std::vector<std::string> sites = tracePoints(scenario);
        ASSERT_GT(sites.size(), 10u) << "the fault points were not counted";
        const int stride = test::crashPointStride();
        int tried = 0;
        for (const char* action : {"fail", "crash"}) {
            for (std::size_t point = 1; point <= sites.size(); ++point) {
                if ((point - 1) % static_cast<std::size_t>(stride) != 0 && point != sites.size()) continue;
                const std::string where = std::string(action) + " at point " + std::to_string(point) + " (" +
                                          sites[point - 1] + ")";
                resetArchive();
                for (const Step& step : scenario.before) convertCleanly(step.station, step.winFile, where);
                const auto cut = convert(scenario.target.station, scenario.target.winFile,
                                         {{"TREMCVT_FAULT_AT", std::to_string(point)},
                                          {"TREMCVT_FAULT_ACTION", action}});
                if (std::string(action) == "crash")
                    EXPECT_EQ(cut.signal, SIGKILL) << where << ": the converter was not cut off";
                else
                    EXPECT_TRUE(cut.exited) << where;
                convertCleanly(scenario.target.station, scenario.target.winFile, where + ", re-run");
                for (const Step& step : scenario.following) convertCleanly(step.station, step.winFile, where);
                const ArchiveState actual = state();
                EXPECT_TRUE(actual == expected) << where << ":\n"
                                                << describeDifference(expected, actual) << cut.output
                                                << cut.errorOutput;
                ++tried;
                if (HasFailure()) return;  // the first broken point tells enough
            }
        }
        std::printf("%zu fault points, each failed and crashed at: %d interrupted conversions\n", sites.size(), tried);
    }

    // The archive sample by sample: per channel, each sample number since
    // 1970 at the row's rate with the bits stored for it; and every sample a
    // row promises that its file lacks, or that two rows hold.
    struct Holdings {
        std::map<std::string, std::map<std::int64_t, std::uint32_t>> samples;
        std::vector<std::string> faults;
    };
    static Holdings holdings(const ArchiveState& archive)
    {
        Holdings held;
        for (const std::string& row : archive.rows) {
            // STA|CH|LCODE|TBEGIN|TQTY|TEND|SPS|GAIN|DATATYPE|FOFF|CPATH|...
            std::vector<std::string> field;
            std::istringstream columns(row);
            for (std::string value; std::getline(columns, value, '|');) field.push_back(value);
            if (field.size() < 11) {
                held.faults.push_back("unreadable row " + row);
                continue;
            }
            const double rate = std::stod(field[6]);
            const std::int64_t first = std::llround(std::stod(field[3]) * rate);
            const std::int64_t promised = std::llround(std::stod(field[4]) * rate);
            const auto file = archive.files.find(field[10]);
            const std::int64_t onDisk =
                file == archive.files.end() || file->second.size() < 512
                    ? 0
                    : static_cast<std::int64_t>((file->second.size() - 512) / 4);
            if (onDisk < promised)
                held.faults.push_back(row + ": its file holds " + std::to_string(onDisk) + " of " +
                                      std::to_string(promised) + " samples");
            auto& channel = held.samples[field[0] + "::" + field[1]];
            for (std::int64_t i = 0; i < std::min(promised, onDisk); ++i) {
                std::uint32_t bits;
                std::memcpy(&bits, file->second.data() + 512 + 4 * i, sizeof bits);
                if (!channel.emplace(first + i, bits).second) {
                    held.faults.push_back(row + ": sample " + std::to_string(i) + " is held by another row too");
                    break;
                }
            }
        }
        return held;
    }

    // Cuts the power at every fault point of the target conversion, with
    // syncing on and off. Syncing on, no row may promise a sample its file
    // lacks right after the cut, and converting the same minutes again gives
    // the uninterrupted archive; syncing off, the cut may lose samples, and
    // converting again must still store every sample at its true time
    // exactly once, with no row promising more than its file holds.
    void powerCutEverywhere(const Scenario& scenario)
    {
        const ArchiveState expected = reference(scenario);
        const Holdings expectedSamples = holdings(expected);
        ASSERT_TRUE(expectedSamples.faults.empty()) << expectedSamples.faults.front();
        const std::vector<std::string> syncedSites = tracePoints(scenario);
        const auto syncs = [](const std::vector<std::string>& sites) {
            return std::count(sites.begin(), sites.end(), std::string("sync"));
        };
        EXPECT_GT(syncs(syncedSites), 0) << "the store synced nothing";
        const int stride = test::crashPointStride();
        for (const bool sync : {true, false}) {
            if (!sync) editStationList("USE_TEND=1\n", "USE_TEND=1\nSYNC=0\n");
            const std::vector<std::string> sites = sync ? syncedSites : tracePoints(scenario);
            if (!sync) {
                EXPECT_LT(syncs(sites), syncs(syncedSites)) << "SYNC=0 did not turn syncing off";
            }
            int damaged = 0;
            for (std::size_t point = 1; point <= sites.size(); ++point) {
                if ((point - 1) % static_cast<std::size_t>(stride) != 0 && point != sites.size()) continue;
                const std::string where = std::string(sync ? "syncing" : "not syncing") + ", power cut at point " +
                                          std::to_string(point) + " (" + sites[point - 1] + ")";
                resetArchive();
                for (const Step& step : scenario.before) convertCleanly(step.station, step.winFile, where);
                const auto cut = convert(scenario.target.station, scenario.target.winFile,
                                         {{"TREMCVT_FAULT_AT", std::to_string(point)},
                                          {"TREMCVT_FAULT_ACTION", "power-cut"}});
                EXPECT_EQ(cut.signal, SIGKILL) << where << ": the converter was not cut off";
                const Holdings afterCut = holdings(state());
                if (sync) {
                    EXPECT_TRUE(afterCut.faults.empty()) << where << ": " << afterCut.faults.front();
                }
                damaged += afterCut.faults.empty() ? 0 : 1;
                convertCleanly(scenario.target.station, scenario.target.winFile, where + ", re-run");
                for (const Step& step : scenario.following) convertCleanly(step.station, step.winFile, where);
                const ArchiveState actual = state();
                if (sync) {
                    EXPECT_TRUE(actual == expected) << where << ":\n" << describeDifference(expected, actual);
                } else {
                    const Holdings found = holdings(actual);
                    EXPECT_TRUE(found.faults.empty()) << where << ": " << found.faults.front();
                    EXPECT_TRUE(found.samples == expectedSamples.samples)
                        << where << ": the samples differ from the uninterrupted archive\n"
                        << describeDifference(expected, actual);
                }
                if (HasFailure()) return;  // the first broken point tells enough
            }
            if (!sync) {
                EXPECT_GT(damaged, 0) << "no power cut lost a write that was not synced";
            }
            std::printf("%s: %zu fault points, %d left rows beyond their files\n", sync ? "syncing" : "not syncing",
                        sites.size(), damaged);
        }
    }

    Scenario newHourFile() const
    {
        Scenario s;
        s.target = {"KAM", writeRecording("m00", kHour, 60, 100)};
        s.following = {{"KAM", writeRecording("m01", kHour + 60, 60, 100)}};
        return s;
    }
    Scenario appendedMinute() const
    {
        Scenario s;
        s.before = {{"KAM", writeRecording("m00", kHour, 60, 100)}};
        s.target = {"KAM", writeRecording("m01", kHour + 60, 60, 100)};
        s.following = {{"KAM", writeRecording("m02", kHour + 120, 60, 100)}};
        return s;
    }
    // Half an hour, then 90 minutes: the first hour of them continues the
    // first file, the rest starts a new one, which the next minute continues.
    Scenario multiPeriodStore() const
    {
        Scenario s;
        s.before = {{"LNG", writeRecording("h1000", kHour, 1800, 20)}};
        s.target = {"LNG", writeRecording("h1030", kHour + 1800, 5400, 20)};
        s.following = {{"LNG", writeRecording("m1200", kHour + 7200, 60, 20)}};
        return s;
    }
};

TEST_P(InterruptionTest, NewHourFileIsRepairedWhereverItsStoreIsCutOff) { interruptEverywhere(newHourFile()); }

TEST_P(InterruptionTest, AppendedMinuteIsRepairedWhereverItsStoreIsCutOff) { interruptEverywhere(appendedMinute()); }

TEST_P(InterruptionTest, InPlaceReconversionIsRepairedWhereverItIsCutOff)
{
    Scenario s;
    s.before = {{"KAM", writeRecording("m00", kHour, 60, 100)},
                {"KAM", writeRecording("m01", kHour + 60, 60, 100)},
                {"KAM", writeRecording("m02", kHour + 120, 60, 100)}};
    // A corrected recording of the middle minute replaces it in place.
    s.target = {"KAM", writeRecording("m01-corrected", kHour + 60, 60, 100, 1)};
    s.following = {{"KAM", writeRecording("m03", kHour + 180, 60, 100)}};
    interruptEverywhere(s);
}

TEST_P(InterruptionTest, CompletedPartialMinuteIsRepairedWhereverItIsCutOff)
{
    // The minute was converted while half written: its whole overwrites the
    // first 30 s in the hour file and continues it with the rest.
    Scenario s;
    s.before = {{"KAM", writeRecording("m00", kHour, 60, 100)},
                {"KAM", writeRecording("m01-part", kHour + 60, 30, 100)}};
    s.target = {"KAM", writeRecording("m01", kHour + 60, 60, 100)};
    s.following = {{"KAM", writeRecording("m02", kHour + 120, 60, 100)}};
    interruptEverywhere(s);
}

TEST_P(InterruptionTest, MinuteWithAGapIsRepairedWhereverItsStoreIsCutOff)
{
    // Second 30 is missing: the first segment continues the hour file, the
    // second starts a new file at :30 that the next minute continues.
    std::vector<test::IrregularBlock> blocks = test::secondsFrom(0, 60);
    blocks.erase(blocks.begin() + 30);
    const fs::path gap = winDir / "m01-gap";
    ASSERT_TRUE(writeWinFile(gap.string(), test::irregularSeconds(blocks, kHour + 60, 100)));
    Scenario s;
    s.before = {{"KAM", writeRecording("m00", kHour, 60, 100)}};
    s.target = {"KAM", gap.string()};
    s.following = {{"KAM", writeRecording("m02", kHour + 120, 60, 100)}};
    interruptEverywhere(s);
}

TEST_P(InterruptionTest, MultiPeriodStoreIsRepairedWhereverItIsCutOff) { interruptEverywhere(multiPeriodStore()); }

TEST_P(InterruptionTest, NewHourFileSurvivesAPowerCutAnywhere) { powerCutEverywhere(newHourFile()); }

TEST_P(InterruptionTest, AppendedMinuteSurvivesAPowerCutAnywhere) { powerCutEverywhere(appendedMinute()); }

TEST_P(InterruptionTest, MultiPeriodStoreSurvivesAPowerCutAnywhere) { powerCutEverywhere(multiPeriodStore()); }

TEST_P(InterruptionTest, MinuteAppendedToSdsDayFilesIsRepairedWhereverItsStoreIsCutOff)
{
    // miniSEED into an SDS tree in the data directory: the minute is
    // appended in place to both channels' day files.
    programOptions = {"mseed=" + archiveDir.string()};
    Scenario s;
    s.before = {{"KAM", writeRecording("m00", kHour, 60, 100)}};
    s.target = {"KAM", writeRecording("m01", kHour + 60, 60, 100)};
    s.following = {{"KAM", writeRecording("m02", kHour + 120, 60, 100)}};
    interruptEverywhere(s);
}

TEST_P(InterruptionTest, RandomKillsDuringMinuteConversionsLeaveTheUninterruptedArchive)
{
    std::vector<std::string> minutes;
    for (int m = 0; m < 5; ++m) minutes.push_back(writeRecording("k" + std::to_string(m), kHour + 60 * m, 60, 100));
    resetArchive();
    const auto started = std::chrono::steady_clock::now();
    for (const std::string& file : minutes) convertCleanly("KAM", file, "reference");
    const auto perRun = std::chrono::duration_cast<std::chrono::microseconds>(std::chrono::steady_clock::now() -
                                                                              started) /
                        minutes.size();
    const ArchiveState expected = state();

    // Kills at uniformly random moments within about one run's time, a
    // bounded number of rounds and never more than about 20 seconds.
    std::mt19937 random(20091409);
    std::uniform_int_distribution<long> moment(1, std::max<long>(2, 1.5 * perRun.count()));
    const auto deadline = std::chrono::steady_clock::now() + std::chrono::seconds(20);
    int kills = 0;
    int rounds = 0;
    for (; rounds < 12 && std::chrono::steady_clock::now() < deadline; ++rounds) {
        resetArchive();
        for (const std::string& file : minutes) {
            const auto run = convert("KAM", file, {}, moment(random));
            if (run.signal == SIGKILL) {
                ++kills;
                convertCleanly("KAM", file, "after a kill");
            } else {
                EXPECT_TRUE(run.exited && run.exitStatus == 0) << run.output << run.errorOutput;
            }
        }
        const ArchiveState actual = state();
        ASSERT_TRUE(actual == expected) << "round " << rounds << ":\n" << describeDifference(expected, actual);
    }
    EXPECT_GT(kills, 0) << "no conversion was killed";
    std::printf("%d rounds, %d conversions killed\n", rounds, kills);
}

INSTANTIATE_TEST_SUITE_P(Databases, InterruptionTest, test::allDatabaseKinds(), test::databaseKindTestName);

}  // namespace
}  // namespace tremcvt
