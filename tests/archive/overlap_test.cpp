// Data that overlaps the archive, through the real converter over SQLite and
// PostgreSQL: minutes converted while still being written and again whole,
// repeated, or in any order, replace what the archive holds of them and
// store only what lies beyond, so that every sample is archived once at its
// time.
#include <gtest/gtest.h>

#include <algorithm>
#include <cmath>
#include <cstdint>
#include <filesystem>
#include <map>
#include <random>
#include <sstream>
#include <string>
#include <vector>

#include "converter/writers/trz_writer.h"
#include "tests/support/program_fixture.h"

namespace tremcvt {
namespace {

namespace fs = std::filesystem;
using test::kHour;

class OverlapTest : public test::ProgramFixture {
protected:
    OverlapTest() { standardStations = true; }

    // Every archived sample of every channel by its sample number since
    // kHour, read back by row (TBEGIN, SPS and the samples the row accounts
    // for in its file), and what contradicts a single timeline.
    struct Timeline {
        std::map<std::string, std::map<std::int64_t, float>> samples;
        std::vector<std::string> faults;
    };
    Timeline timeline() const
    {
        Timeline t;
        const auto rows = database->query("select STA,CH,TBEGIN,TQTY,SPS,CPATH from FILELIST order by STA,CH,TBEGIN");
        EXPECT_TRUE(rows.has_value());
        std::map<std::string, std::int64_t> channelEnd;
        for (const std::string& row : rows.value_or(std::vector<std::string>{})) {
            std::vector<std::string> field;
            std::istringstream in(row);
            for (std::string f; std::getline(in, f, '|');) field.push_back(f);
            if (field.size() != 6) {
                t.faults.push_back("unreadable row " + row);
                continue;
            }
            const std::string channel = field[0] + "::" + field[1];
            const double sps = std::stod(field[4]);
            const std::int64_t first = std::llround((std::stod(field[2]) - kHour) * sps);
            const std::int64_t count = std::llround(std::stod(field[3]) * sps);
            if (channelEnd.count(channel) && channelEnd[channel] > first) t.faults.push_back("rows overlap: " + row);
            channelEnd[channel] = first + count;
            TrzHeader header;
            std::vector<float> samples;
            if (!readTrzFile((archiveDir / field[5]).string(), header, samples) ||
                static_cast<std::int64_t>(samples.size()) < count) {
                t.faults.push_back("file does not hold its row's samples: " + row);
                continue;
            }
            for (std::int64_t i = 0; i < count; ++i)
                if (!t.samples[channel].emplace(first + i, samples[i]).second)
                    t.faults.push_back("sample " + std::to_string(first + i) + " stored twice: " + row);
        }
        return t;
    }

    void convertAll(const std::vector<std::string>& files, const std::string& when)
    {
        for (const std::string& file : files) convertCleanly("KAM", file, when + ", " + file);
    }
};

TEST_P(OverlapTest, PartialMinuteThenItsWholeEqualsTheInOrderConversion)
{
    struct Case {
        const char* what;
        std::vector<std::string> converted;
        std::vector<std::string> inOrder;
    };
    const std::string m00 = writeRecording("m00", kHour, 60, 100);
    const std::string m01 = writeRecording("m01", kHour + 60, 60, 100);
    const std::string m02 = writeRecording("m02", kHour + 120, 60, 100);
    const std::string hour = writeRecording("h11", kHour, 3600, 100);
    const std::string m60 = writeRecording("m60", kHour + 3600, 60, 100);
    const std::string m61 = writeRecording("m61", kHour + 3660, 60, 100);
    const Case cases[] = {
        {"inside the hour file", {m00, writeRecording("m01-30s", kHour + 60, 30, 100), m01, m02}, {m00, m01, m02}},
        {"the first minute of the archive",
         {writeRecording("m00-30s", kHour, 30, 100), m00, writeRecording("m01-10s", kHour + 60, 10, 100), m01},
         {m00, m01}},
        {"the first minute of the next file",
         {hour, writeRecording("m60-30s", kHour + 3600, 30, 100), m60, m61},
         {hour, m60, m61}},
    };
    for (const Case& c : cases) {
        resetArchive();
        convertAll(c.inOrder, c.what);
        const test::ArchiveState expected = state();
        resetArchive();
        convertAll(c.converted, c.what);
        const test::ArchiveState actual = state();
        EXPECT_TRUE(actual == expected) << c.what << ":\n" << test::describeDifference(expected, actual);
    }
}

TEST_P(OverlapTest, AnyOrderAndRepeatsLeaveEverySampleOnceAtItsTime)
{
    const std::vector<std::string> complete = {writeRecording("m00", kHour, 60, 100),
                                               writeRecording("m01", kHour + 60, 60, 100),
                                               writeRecording("m02", kHour + 120, 60, 100)};
    resetArchive();
    convertAll(complete, "in order");
    const Timeline expected = timeline();
    ASSERT_TRUE(expected.faults.empty()) << expected.faults.front();
    ASSERT_EQ(expected.samples.size(), 2u);

    // Partial minutes, a span across two minutes and one across all three,
    // each converted with the complete ones, some twice.
    std::vector<std::string> files = complete;
    files.insert(files.end(), {writeRecording("m00-30s", kHour, 30, 100),
                               writeRecording("m02-20s", kHour + 120, 20, 100),
                               writeRecording("m0030", kHour + 30, 60, 100),
                               writeRecording("m00-m02", kHour, 180, 100), complete[1], complete[2]});
    std::mt19937 random(20261210);
    for (int round = 0; round < 4; ++round) {
        std::shuffle(files.begin(), files.end(), random);
        resetArchive();
        convertAll(files, "round " + std::to_string(round));
        const Timeline actual = timeline();
        EXPECT_TRUE(actual.faults.empty()) << "round " << round << ": " << actual.faults.front();
        EXPECT_TRUE(actual.samples == expected.samples) << "round " << round << ": another sample timeline";
    }
}

INSTANTIATE_TEST_SUITE_P(Databases, OverlapTest, test::allDatabaseKinds(), test::databaseKindTestName);

}  // namespace
}  // namespace tremcvt
