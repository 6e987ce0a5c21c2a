// The tremcvt program converting consecutive minute WIN files into the TRZ
// archive over real SQLite and PostgreSQL data sources: one hour file per
// channel, samples read back bit for bit, and re-conversion of any minute
// leaving the archive exactly as one conversion left it.
#include <gtest/gtest.h>

#include <cstdint>
#include <cstdio>
#include <cstring>
#include <filesystem>
#include <map>
#include <string>
#include <vector>

#include "converter/writers/trz_writer.h"
#include "tests/support/irregular_minutes.h"
#include "tests/support/program_fixture.h"
#include "tools/winwriter/win_writer.h"

namespace tremcvt {
namespace {

namespace fs = std::filesystem;

using test::kHour;
constexpr int kSps = 100;
constexpr int kMinutes = 4;

struct StationCase {
    std::string station;
    std::map<unsigned, std::string> channels;  // WIN channel, component
};

class TrzRunTest : public test::ProgramFixture {
protected:
    void SetUp() override
    {
        ProgramFixture::SetUp();
        if (IsSkipped() || HasFatalFailure()) return;
        std::string stations;
        std::vector<test::SitechanRow> rows;
        for (std::size_t i = 0; i < std::size(kStations); ++i) {
            for (const auto& [id, component] : kStations[i].channels)
                rows.push_back({kStations[i].station, component, 100});
            stations += stationSection(static_cast<int>(i), kStations[i].station, kStations[i].channels);
        }
        writeIni(stations, static_cast<int>(std::size(kStations)), "USE_TEND=1\n");
        addSitechan(rows);
    }

    // One minute's WIN file of the station; `changed` alters one sample.
    std::string writeMinute(const StationCase& s, int minute, bool changed = false)
    {
        std::vector<WinSecond> seconds;
        for (int sec = 0; sec < 60; ++sec) {
            const std::int64_t t = kHour + 60 * minute + sec;
            WinSecond second;
            EXPECT_TRUE(setSecondTime(second, static_cast<double>(t)));
            for (const auto& [id, component] : s.channels) {
                WinChannelSecond channel;
                channel.channelId = static_cast<std::uint16_t>(id);
                channel.samples = syntheticSecond(id, 7, t, kSps, 30000);
                if (changed && sec == 17) channel.samples[42] += 1001;
                second.channels.push_back(channel);
            }
            seconds.push_back(second);
        }
        const fs::path path = winDir / (s.station + "-" + std::to_string(minute) + (changed ? "x" : ""));
        EXPECT_TRUE(writeWinFile(path.string(), seconds));
        return path.string();
    }

    test::ProcessResult convert(const StationCase& s, const std::string& winFile)
    {
        return ProgramFixture::convert(s.station, winFile);
    }

    std::map<std::string, std::string> snapshot()
    {
        std::map<std::string, std::string> state;
        for (const auto& entry : fs::recursive_directory_iterator(archiveDir))
            if (entry.is_regular_file()) state[entry.path().string()] = test::readFile(entry.path());
        const auto rows = database->query("select * from FILELIST order by NINDEX");
        EXPECT_TRUE(rows.has_value());
        if (rows)
            for (std::size_t i = 0; i < rows->size(); ++i) state["row " + std::to_string(i)] = (*rows)[i];
        return state;
    }

    static constexpr auto& differences = test::treeDifferences;

    static inline const StationCase kStations[] = {
        {"KAM", {{0x00c1, "BHZ"}, {0x00c2, "BHN"}}},
        {"AB", {{0x1a2b, "EW"}}},
    };
};

TEST_P(TrzRunTest, MinuteFilesContinueOneHourFilePerChannelAndReconvertIdentically)
{
    std::map<std::string, std::vector<std::string>> files;
    for (const StationCase& s : kStations) {
        for (int m = 0; m < kMinutes; ++m) {
            files[s.station].push_back(writeMinute(s, m));
            const auto run = convert(s, files[s.station].back());
            ASSERT_TRUE(run.exited) << run.errorOutput;
            EXPECT_EQ(run.exitStatus, 0) << run.output;
            EXPECT_EQ(run.output.find("error"), std::string::npos) << run.output;
        }
    }

    for (const StationCase& s : kStations) {
        for (const auto& [id, component] : s.channels) {
            SCOPED_TRACE(s.station + "::" + component);
            const auto rows = database->query("select TBEGIN,TQTY,TEND,CPATH from FILELIST where STA='" + s.station +
                                              "' and CH='" + component + "'");
            ASSERT_TRUE(rows.has_value());
            ASSERT_EQ(rows->size(), 1u);
            const std::string name = "14092009-110000-" + std::string(3 - std::min<std::size_t>(3, component.size()), ' ') +
                                     component + "." +
                                     std::string(3 - std::min<std::size_t>(3, s.station.size()), ' ') + s.station;
            const std::string cpath = s.station + "/11/" + name;
            EXPECT_NE(rows->front().find("|" + cpath), std::string::npos) << rows->front();
            EXPECT_NE(rows->front().find("|240"), std::string::npos) << "TQTY " << rows->front();

            TrzHeader header;
            std::vector<float> samples;
            ASSERT_TRUE(readTrzFile((archiveDir / cpath).string(), header, samples));
            EXPECT_EQ(fs::file_size(archiveDir / cpath), 512u + 4u * kSps * 60 * kMinutes);
            EXPECT_NE(header.text().find("Start time=11:00:00\r\nStart date=14-09-2009\r\n"
                                         "Time duration=000 00 04 00\r\n"),
                      std::string_view::npos)
                << header.text();
            std::vector<float> expected;
            for (std::int64_t t = kHour; t < kHour + 60 * kMinutes; ++t)
                for (const std::int32_t v : syntheticSecond(id, 7, t, kSps, 30000))
                    expected.push_back(static_cast<float>(v));
            ASSERT_EQ(samples.size(), expected.size());
            EXPECT_EQ(std::memcmp(samples.data(), expected.data(), 4 * expected.size()), 0);
        }
    }

    const auto once = snapshot();
    for (const StationCase& s : kStations) {
        for (int m : {0, 2, kMinutes - 1}) {
            SCOPED_TRACE(s.station + " minute " + std::to_string(m));
            const auto run = convert(s, files[s.station][static_cast<std::size_t>(m)]);
            EXPECT_EQ(run.exitStatus, 0) << run.output;
            EXPECT_EQ(differences(once, snapshot()), std::vector<std::string>{});
        }
    }

    // One changed sample changes exactly those four bytes of the file.
    const StationCase& kam = kStations[0];
    const auto run = convert(kam, writeMinute(kam, 1, true));
    EXPECT_EQ(run.exitStatus, 0) << run.output;
    auto after = snapshot();
    for (const auto& [id, component] : kam.channels) {
        const std::string path = (archiveDir / ("KAM/11/14092009-110000-" + component + ".KAM")).string();
        std::string& bytes = after[path];
        const std::size_t at = 512 + 4 * (static_cast<std::size_t>(kSps) * (60 + 17) + 42);
        ASSERT_GT(bytes.size(), at + 4);
        float value;
        std::memcpy(&value, bytes.data() + at, 4);
        EXPECT_EQ(value, static_cast<float>(syntheticSecond(id, 7, kHour + 77, kSps, 30000)[42] + 1001));
        bytes.replace(at, 4, once.at(path).substr(at, 4));
    }
    EXPECT_EQ(differences(once, after), std::vector<std::string>{});
}

// Irregular minute files, each followed by the next regular minute, at
// three rates and within an hour, at an hour's end and at midnight: every
// sample at its true time, every second once, each row telling its file
// (TBEGIN, TQTY and SPS against the file's size and samples), no two rows of
// a channel overlapping, and the irregularities reported on standard error.
TEST_P(TrzRunTest, IrregularMinutesStoreEverySampleOnceAtItsTime)
{
    for (const test::IrregularPlacement& at : test::irregularPlacements()) {
        test::setSitechanRate(*database, "KAM", at.rate);
        for (const test::IrregularCase& c : test::irregularCases()) {
            SCOPED_TRACE(c.name + ", " + at.name);
            resetArchive();
            const fs::path irregular = winDir / "irregular";
            const std::vector<test::IrregularBlock> next = test::secondsFrom(60, 120);
            ASSERT_TRUE(writeWinFile(irregular.string(), test::irregularSeconds(c.blocks, at.minute, at.rate)));
            ASSERT_TRUE(writeWinFile((winDir / "next").string(), test::irregularSeconds(next, at.minute, at.rate)));
            const auto run = convert(kStations[0], irregular.string());
            EXPECT_EQ(run.exitStatus, 0) << run.output << run.errorOutput;
            EXPECT_NE(run.errorOutput.find("tremcvt: KAM::BHZ: "), std::string::npos) << run.errorOutput;
            EXPECT_EQ(run.output.find("error"), std::string::npos) << run.output;
            const auto following = convert(kStations[0], (winDir / "next").string());
            EXPECT_EQ(following.exitStatus, 0) << following.output << following.errorOutput;

            for (const test::Channel& channel : test::kChannels) {
                SCOPED_TRACE(channel.component);
                std::vector<test::IrregularBlock> all = c.blocks;
                all.insert(all.end(), next.begin(), next.end());
                const auto rows = database->query("select TBEGIN,TQTY,SPS,CPATH from FILELIST where STA='KAM' and "
                                                  "CH='" + std::string(channel.component) + "' order by TBEGIN");
                ASSERT_TRUE(rows.has_value());
                test::TimedSamples stored;
                double lastEnd = 0.0;
                for (const std::string& row : *rows) {
                    double begin = 0.0, seconds = 0.0, sps = 0.0;
                    char cpath[256] = {};
                    ASSERT_EQ(std::sscanf(row.c_str(), "%lf|%lf|%lf|%255[^\n]", &begin, &seconds, &sps, cpath), 4)
                        << row;
                    EXPECT_GE(begin, lastEnd - 1e-6) << "overlapping rows, " << row;
                    lastEnd = begin + seconds;
                    TrzHeader header;
                    std::vector<float> samples;
                    ASSERT_TRUE(readTrzFile((archiveDir / cpath).string(), header, samples)) << row;
                    EXPECT_NEAR(static_cast<double>(samples.size()), seconds * sps, 1e-6) << row;
                    EXPECT_EQ(test::addStored(stored, static_cast<double>(at.minute), begin, sps, samples.data(),
                                              samples.size()),
                              0)
                        << row;
                }
                EXPECT_EQ(stored, test::expectedSamples(all, channel.id, at.rate));
            }
        }
    }
}

INSTANTIATE_TEST_SUITE_P(Databases, TrzRunTest, test::allDatabaseKinds(), test::databaseKindTestName);

}  // namespace
}  // namespace tremcvt
