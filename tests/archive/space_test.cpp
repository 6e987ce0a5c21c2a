// Archive space management against real SQLite and PostgreSQL data sources:
// the quota per channel, the free-space floor (simulated through the
// platform's free-space seam) and the order in which files go.
#include <gtest/gtest.h>

#include <cstdint>
#include <cstdlib>
#include <ctime>
#include <filesystem>
#include <optional>
#include <set>
#include <string>
#include <vector>

#include "common/platform.h"
#include "converter/writers/trz_writer.h"
#include "converter/archive/archive_database.h"
#include "tests/archive/archive_test_settings.h"
#include "tests/support/test_support.h"

namespace tremcvt {
namespace {

namespace fs = std::filesystem;
using test::ArchiveDatabaseFixture;

constexpr std::uint64_t kMiB = 1024 * 1024;
constexpr double kHour = 1252926000.0;  // 2009-09-14 11:00:00 UTC

struct CatalogueRow {
    std::string cpath;
    double tqty = 60;
    std::string lddate = "2009-01-01 00:00:00";
    double tbegin = kHour;
    std::string creator = "tremcvt";
    int foff = 512;
    std::string channel = "BHZ";
    bool onDisk = true;
};

class SpaceTest : public ArchiveDatabaseFixture {
protected:
    void SetUp() override
    {
        setenv("TZ", "UTC", 1);
        tzset();
        ArchiveDatabaseFixture::SetUp();
        if (IsSkipped() || HasFatalFailure()) return;
        dataDir = (tempDir->path() / "data").string();
        fs::create_directories(dataDir);
        setFreeSpaceSource([](const std::string&) { return std::optional<std::uint64_t>(1024 * kMiB); });
        archive.configure(test::archiveSettingsFor(*database, dataDir));
        ASSERT_TRUE(archive.connect()) << archive.lastDiagnostics();
    }

    void TearDown() override
    {
        setFreeSpaceSource({});
        ArchiveDatabaseFixture::TearDown();
    }

    void add(const CatalogueRow& row)
    {
        std::string error;
        ASSERT_TRUE(database->execute(
            "insert into FILELIST(STA,CH,LCODE,TBEGIN,TQTY,SPS,CPATH,CREATER,FOFF,LDDATE) values ('KAM','" +
                row.channel + "','?\?'," + std::to_string(row.tbegin) + "," + std::to_string(row.tqty) + ",100,'" +
                row.cpath + "','" + row.creator + "'," + std::to_string(row.foff) + ",'" + row.lddate + "')",
            &error))
            << error;
        if (row.onDisk) {
            ASSERT_TRUE(test::writeFile(fs::path(dataDir) / row.cpath, std::string(512, 'h')));
        }
    }

    std::set<std::string> catalogued()
    {
        const auto lines = database->query("select CPATH from FILELIST");
        EXPECT_TRUE(lines.has_value());
        return lines ? std::set<std::string>(lines->begin(), lines->end()) : std::set<std::string>{};
    }

    bool onDisk(const std::string& cpath) const { return fs::exists(fs::path(dataDir) / cpath); }

    // The channel whose space is managed; its times and samples play no part.
    ResultCode reclaim(double latestLength) { return archive.reclaimSpace(channel, latestLength).code; }

    ChannelStore channel{"KAM", "BHZ", "??", "tremcvt", 0.0, 0.0, 100.0, {}, 0.0, 0.0};
    std::string dataDir;
    ArchiveDatabase archive;
};

// A minute of samples of KAM BHZ at 100 sps from start on.
ChannelStore minuteFrom(double start, const std::vector<float>& minute)
{
    return ChannelStore{"KAM", "BHZ", "??", "tremcvt", start, start + 60, 100.0, minute, 0.0, 0.0};
}

TEST_P(SpaceTest, QuotaPurgesOldestFilesOfTheChannelFirst)
{
    // Ten hours at 100 sps claim 14 400 512 bytes per row; eight of them
    // exceed the quota of 100 MiB.
    constexpr double kTenHours = 36000;
    add({"a", kTenHours, "2009-01-01 00:00:00", kHour});
    add({"b", kTenHours, "2009-01-02 00:00:00", kHour + 300});
    add({"c", kTenHours, "2009-01-02 00:00:00", kHour + 200});  // same load date, earlier start
    for (int day = 3; day <= 7; ++day)
        add({"later" + std::to_string(day), kTenHours, "2009-01-0" + std::to_string(day) + " 00:00:00", kHour});
    // Older, but not this program's files of the channel.
    add({"other-creator", kTenHours * 10, "2000-01-01 00:00:00", kHour, "someone"});
    add({"other-header", kTenHours * 10, "2000-01-01 00:00:00", kHour, "tremcvt", 1024});
    add({"other-channel", kTenHours * 10, "2000-01-01 00:00:00", kHour, "tremcvt", 512, "BHN"});

    // With one more file of ten hours to come, two files must go.
    const SpaceReclaim purged = archive.reclaimSpace(channel, kTenHours);
    EXPECT_EQ(purged.code, kResultOk) << archive.lastDiagnostics();
    EXPECT_EQ(purged.purgedRows, 2);
    const std::set<std::string> expected = {"b",       "later3",        "later4",       "later5",       "later6",
                                            "later7",  "other-creator", "other-header", "other-channel"};
    EXPECT_EQ(catalogued(), expected);
    for (const char* gone : {"a", "c"}) EXPECT_FALSE(onDisk(gone)) << gone;
    for (const auto& kept : expected) EXPECT_TRUE(onDisk(kept)) << kept;

    // Within the quota nothing more goes.
    EXPECT_EQ(reclaim(0), kResultOk);
    EXPECT_EQ(catalogued(), expected);

    // A channel whose rows sum beyond 32 bits: the huge oldest file goes,
    // and the purge stops as soon as the quota holds.
    channel.channel = "BHN";
    add({"huge", 1.0e7, "1999-01-01 00:00:00", kHour, "tremcvt", 512, "BHN"});
    add({"small", 60, "2009-02-01 00:00:00", kHour, "tremcvt", 512, "BHN"});
    EXPECT_EQ(reclaim(60), kResultOk) << archive.lastDiagnostics();
    const auto rest = catalogued();
    EXPECT_EQ(rest.count("huge"), 0u);
    EXPECT_EQ(rest.count("other-channel"), 0u) << "the next oldest BHN file was needed too";
    EXPECT_EQ(rest.count("small"), 1u);
    EXPECT_TRUE(onDisk("small"));
}

TEST_P(SpaceTest, MissingFileIsReportedAndItsRowDeleted)
{
    add({"gone", 400000, "2009-01-01 00:00:00", kHour, "tremcvt", 512, "BHZ", false});
    add({"present", 60, "2009-01-02 00:00:00", kHour});
    EXPECT_EQ(reclaim(0), kResultSpaceWarning);
    EXPECT_EQ(catalogued(), std::set<std::string>{"present"});
    EXPECT_TRUE(onDisk("present"));

    // Through the store: the warning comes back after the piece is stored.
    add({"gone2", 400000, "2009-01-01 00:00:00", kHour, "tremcvt", 512, "BHZ", false});
    std::vector<float> minute(6000, 1.5f);
    EXPECT_EQ(archive.archiveChannel(minuteFrom(kHour + 7200, minute)), kResultSpaceWarning);
    EXPECT_EQ(catalogued(), (std::set<std::string>{"present", "KAM/13/14092009-130000-BHZ.KAM"}));
    EXPECT_EQ(fs::file_size(fs::path(dataDir) / "KAM/13/14092009-130000-BHZ.KAM"), 512u + 4u * 6000u);
}

TEST_P(SpaceTest, NearlyFullDiskPurgesUntilFloorIsClear)
{
    const std::vector<std::string> files = {"f1", "f2", "f3", "f4"};
    for (std::size_t i = 0; i < files.size(); ++i)
        add({files[i], 60, "2009-01-0" + std::to_string(i + 1) + " 00:00:00", kHour});

    // 5 MiB free, 3 MiB more for every file removed.
    std::vector<std::string> askedFor;
    setFreeSpaceSource([&](const std::string& path) {
        askedFor.push_back(path);
        std::uint64_t free = 5 * kMiB;
        for (const auto& f : files)
            if (!onDisk(f)) free += 3 * kMiB;
        return std::optional<std::uint64_t>(free);
    });
    EXPECT_EQ(reclaim(60), kResultOk);
    EXPECT_EQ(catalogued(), (std::set<std::string>{"f3", "f4"}));
    ASSERT_FALSE(askedFor.empty());
    EXPECT_EQ(askedFor.front(), dataDir);

    // Exactly the floor free, or free space unknown: only the quota decides.
    for (const std::optional<std::uint64_t> free : {std::optional<std::uint64_t>(10 * kMiB),
                                                    std::optional<std::uint64_t>()}) {
        setFreeSpaceSource([free](const std::string&) { return free; });
        EXPECT_EQ(reclaim(60), kResultOk);
        EXPECT_EQ(catalogued(), (std::set<std::string>{"f3", "f4"}));
    }

    // A disk that stays full takes every file of the channel, the latest
    // one too. The piece that would have continued it is not lost: it
    // starts a file of its own, stored whole.
    setFreeSpaceSource([](const std::string&) { return std::optional<std::uint64_t>(kMiB); });
    ASSERT_TRUE(database->execute("delete from FILELIST"));
    std::vector<float> minute(6000, 2.5f);
    ASSERT_EQ(archive.archiveChannel(minuteFrom(kHour, minute)), kResultOk);
    EXPECT_EQ(archive.archiveChannel(minuteFrom(kHour + 60, minute)), kResultOk)
        << archive.lastDiagnostics();
    const std::string second = "KAM/11/14092009-110100-BHZ.KAM";
    EXPECT_EQ(catalogued(), std::set<std::string>{second});
    EXPECT_FALSE(fs::exists(fs::path(dataDir) / "KAM/11/14092009-110000-BHZ.KAM"));
    TrzHeader header;
    std::vector<float> samples;
    ASSERT_TRUE(readTrzFile((fs::path(dataDir) / second).string(), header, samples));
    EXPECT_EQ(samples, minute);
}

INSTANTIATE_TEST_SUITE_P(Databases, SpaceTest, test::allDatabaseKinds(), test::databaseKindTestName);

}  // namespace
}  // namespace tremcvt
