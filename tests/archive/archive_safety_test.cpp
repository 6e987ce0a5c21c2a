// What the real converter does when the archive around it is not as it
// should be: codes that cannot stand in a file name, an archive disk that is
// not mounted, a nearly full disk, a database that refuses or goes away. The
// archive must never lose or gain a wrong file, and every failure must be
// reported with its reason.
#include <gtest/gtest.h>

#include <cerrno>
#include <cmath>
#include <cstdint>
#include <cstring>
#include <filesystem>
#include <string>
#include <vector>

#include <sys/mount.h>

#include "converter/writers/trz_writer.h"
#include "tests/support/program_fixture.h"

namespace tremcvt {
namespace {

namespace fs = std::filesystem;
using test::Channel;
using test::kChannels;
using test::kHour;

class ArchiveSafetyTest : public test::ProgramFixture {
protected:
    ArchiveSafetyTest() { standardStations = true; }

    void TearDown() override
    {
        if (mounted) ::umount2(archiveDir.c_str(), MNT_DETACH);
        ProgramFixture::TearDown();
    }

    std::vector<std::string> archiveEntries() const
    {
        std::vector<std::string> entries;
        for (const auto& entry : fs::recursive_directory_iterator(archiveDir))
            entries.push_back(fs::relative(entry.path(), archiveDir).string());
        return entries;
    }

    // The channel's samples of [start, start + seconds) as the archive holds
    // them: found through the catalogue row that covers them, in a file whose
    // size is exactly what its row describes.
    void expectArchived(const std::string& station, const Channel& channel, std::int64_t start, int seconds,
                        int sps)
    {
        SCOPED_TRACE(station + "::" + channel.component + " from " + std::to_string(start - kHour));
        const auto rows = database->query("select TBEGIN,TQTY,SPS,CPATH from FILELIST where STA='" + station +
                                          "' and CH='" + channel.component + "' and TBEGIN<=" +
                                          std::to_string(start) + " and TBEGIN+TQTY>=" +
                                          std::to_string(start + seconds));
        ASSERT_TRUE(rows.has_value());
        ASSERT_EQ(rows->size(), 1u) << "no catalogued file holds these seconds";
        double begin = 0, qty = 0, rate = 0;
        char path[1024] = {};
        ASSERT_EQ(std::sscanf(rows->front().c_str(), "%lf|%lf|%lf|%1023[^\n]", &begin, &qty, &rate, path), 4)
            << rows->front();
        const fs::path file = archiveDir / path;
        ASSERT_EQ(fs::file_size(file), static_cast<std::uintmax_t>(512 + 4 * std::llround(qty * rate)));
        TrzHeader header;
        std::vector<float> samples;
        ASSERT_TRUE(readTrzFile(file.string(), header, samples));
        const auto first = static_cast<std::size_t>(std::llround((static_cast<double>(start) - begin) * rate));
        for (int sec = 0; sec < seconds; ++sec) {
            const std::vector<std::int32_t> expected = syntheticSecond(channel.id, 7, start + sec, sps, 30000);
            for (std::size_t i = 0; i < expected.size(); ++i)
                ASSERT_EQ(samples.at(first + static_cast<std::size_t>(sec * sps) + i),
                          static_cast<float>(expected[i]))
                    << "second " << sec << " sample " << i;
        }
    }

    bool mounted = false;
};

TEST_P(ArchiveSafetyTest, ChannelWithARefusedCodeFailsAloneAndTheArchiveRootSurvives)
{
    struct Case {
        const char* component;  // what the station list names channel c2
        const char* refused;    // the code the message names
    };
    for (const Case& c : {Case{"B/N", "B/N"}, Case{"..", ".."}, Case{"B\\\\N", "B\\\\N"}}) {
        SCOPED_TRACE(c.component);
        resetArchive();
        editStationList("c2=BHN\n", std::string("c2=") + c.component + "\n");
        const auto run = convert("KAM", writeRecording("m00", kHour, 60, 100));
        editStationList(std::string("c2=") + c.component + "\n", "c2=BHN\n");
        EXPECT_NE(run.output.find(std::string("Invalid file name (KAM::") + c.refused + ")\n"), std::string::npos)
            << run.output;
        EXPECT_NE(run.errorOutput.find("tremcvt: component code"), std::string::npos) << run.errorOutput;
        EXPECT_EQ(run.output.find("DB write error"), std::string::npos) << run.output;
        EXPECT_EQ(run.output.find("Delete error"), std::string::npos) << run.output;
        ASSERT_TRUE(fs::is_directory(archiveDir));
        expectArchived("KAM", kChannels[0], kHour, 60, 100);
        EXPECT_EQ(state().rows.size(), 1u);
    }

    // A station code that cannot stand in a file name refuses every channel
    // and leaves the empty archive root in place.
    resetArchive();
    const auto run = convert("K:M", writeRecording("m00", kHour, 60, 100));
    EXPECT_NE(run.output.find("Invalid file name (K:M::C1)\nInvalid file name (K:M::C2)\n"), std::string::npos)
        << run.output;
    EXPECT_NE(run.errorOutput.find("tremcvt: station code \"K:M\""), std::string::npos) << run.errorOutput;
    ASSERT_TRUE(fs::is_directory(archiveDir));
    EXPECT_TRUE(archiveEntries().empty());
    EXPECT_TRUE(state().rows.empty());
}

TEST_P(ArchiveSafetyTest, ArchiveRootWithoutItsDiskIsNeverWrittenInto)
{
    const std::string m00 = writeRecording("m00", kHour, 60, 100);
    const std::string m01 = writeRecording("m01", kHour + 60, 60, 100);
    const std::string m02 = writeRecording("m02", kHour + 120, 60, 100);
    const std::string h12 = writeRecording("h12", kHour + 3600, 60, 100);
    const std::string h13 = writeRecording("h13", kHour + 7200, 60, 100);

    // An empty archive with an empty catalogue starts normally and is marked.
    convertCleanly("KAM", m00, "first minute");
    EXPECT_TRUE(fs::is_regular_file(archiveDir / ".tremcvt-archive-root"));

    // The disk goes away; its mount point stays, empty.
    const fs::path disk = tempDir->path() / "disk";
    fs::rename(archiveDir, disk);
    fs::create_directory(archiveDir);
    for (const std::string& file : {m01, h12}) {
        const auto run = convert("KAM", file);
        EXPECT_NE(run.output.find("DB write error (KAM::BHZ::"), std::string::npos) << run.output;
        EXPECT_NE(run.output.find("DB write error (KAM::BHN::"), std::string::npos) << run.output;
        // Channels not stored: the run fails with -6 instead of ending with 0.
        EXPECT_EQ(run.exitStatus, 250);
        EXPECT_TRUE(archiveEntries().empty()) << "written into the mount point";
        if (file == h12)
            EXPECT_NE(run.errorOutput.find("the archive root looks unmounted"), std::string::npos) << run.errorOutput;
        else
            EXPECT_NE(run.errorOutput.find("No such file or directory"), std::string::npos) << run.errorOutput;
    }
    EXPECT_EQ(state().rows.size(), 2u);

    // Mounted again: both minutes go where they belong.
    fs::remove(archiveDir);
    fs::rename(disk, archiveDir);
    convertCleanly("KAM", m01, "after mounting");
    convertCleanly("KAM", h12, "after mounting");
    for (const Channel& c : kChannels) {
        expectArchived("KAM", c, kHour, 120, 100);
        expectArchived("KAM", c, kHour + 3600, 60, 100);
    }

    // An archive written before the marker existed keeps working: an append
    // or a new file whose newest catalogued file is on disk marks it.
    for (const std::string& file : {m02, h13}) {
        fs::remove(archiveDir / ".tremcvt-archive-root");
        convertCleanly("KAM", file, "archive without its marker");
        EXPECT_TRUE(fs::is_regular_file(archiveDir / ".tremcvt-archive-root"));
    }
    for (const Channel& c : kChannels) expectArchived("KAM", c, kHour + 7200, 60, 100);
}

TEST_P(ArchiveSafetyTest, FailuresArePrintedInOrderWithTheirReasonsOnStandardError)
{
    const std::string m00 = writeRecording("m00", kHour, 60, 100);
    const auto path = [&](const char* component) {
        return trzFilePath(archiveDir.string(), "KAM", component, static_cast<double>(kHour));
    };

    // The database goes away after the checks (the fifth statement on):
    // the removal and then the store of each channel fail.
    const auto gone = convert("KAM", m00,
                              {{"TREMCVT_FAULT_SITES", "execute"},
                               {"TREMCVT_FAULT_AT", "5"},
                               {"TREMCVT_FAULT_ACTION", "fail-onward"}});
    EXPECT_NE(gone.output.find("====\nDelete error (KAM::BHZ::" + path("BHZ") + ")DB write error (KAM::BHZ::" +
                               path("BHZ") + ")Delete error (KAM::BHN::" + path("BHN") +
                               ")DB write error (KAM::BHN::" + path("BHN") + ")"),
              std::string::npos)
        << gone.output;
    EXPECT_NE(gone.errorOutput.find("tremcvt: HY000: fault injected"), std::string::npos) << gone.errorOutput;
    EXPECT_TRUE(state().rows.empty());

    // A data source that does not exist.
    const auto missing = convert("KAM", m00, {}, 0, {"odbc=NO_SUCH_SOURCE"});
    EXPECT_EQ(missing.exitStatus, 255);
    EXPECT_EQ(missing.output, "Connection error (ODBC: NO_SUCH_SOURCE, USER: " + database->userName() + ").\n");
    EXPECT_NE(missing.errorOutput.find("tremcvt: IM002: "), std::string::npos) << missing.errorOutput;

    // A file-system error names the path and the system's reason: the hour
    // directory is a plain file.
    fs::create_directories(archiveDir / "KAM");
    ASSERT_TRUE(test::writeFile(archiveDir / "KAM" / "11", "not a directory"));
    const auto blocked = convert("KAM", m00);
    EXPECT_EQ(blocked.exitStatus, 250);
    EXPECT_NE(blocked.output.find("DB write error (KAM::BHZ::" + path("BHZ") + ")"), std::string::npos)
        << blocked.output;
    EXPECT_NE(blocked.errorOutput.find("tremcvt: " + path("BHZ") + ": open: Not a directory"), std::string::npos)
        << blocked.errorOutput;
    fs::remove(archiveDir / "KAM" / "11");

    if (GetParam() != test::DatabaseKind::PostgreSQL) return;
    const auto denied = convert("KAM", m00, {}, 0, {"password=wrong"});
    EXPECT_EQ(denied.exitStatus, 255);
    EXPECT_NE(denied.errorOutput.find("tremcvt: "), std::string::npos);
    EXPECT_NE(denied.errorOutput.find("password authentication failed"), std::string::npos) << denied.errorOutput;

    // A database that takes no writes.
    ASSERT_TRUE(database->execute("ALTER DATABASE " + database->databaseName() +
                                  " SET default_transaction_read_only = on"));
    const auto readOnly = convert("KAM", m00);
    EXPECT_EQ(readOnly.exitStatus, 250);
    EXPECT_NE(readOnly.output.find("DB write error (KAM::BHZ::"), std::string::npos) << readOnly.output;
    EXPECT_NE(readOnly.errorOutput.find("tremcvt: 25006: "), std::string::npos) << readOnly.errorOutput;
    ASSERT_TRUE(database->execute("SET SESSION CHARACTERISTICS AS TRANSACTION READ WRITE; ALTER DATABASE " +
                                  database->databaseName() + " SET default_transaction_read_only = off"));
    // The new files whose rows could not be inserted are gone again.
    const test::ArchiveState after = state();
    EXPECT_TRUE(after.rows.empty());
    EXPECT_EQ(after.files.size(), 1u);
    EXPECT_EQ(after.files.count(".tremcvt-archive-root"), 1u);
}

TEST_P(ArchiveSafetyTest, FileShorterThanItsRowIsCutBackAndTheStoreGoesOn)
{
    std::vector<std::string> minutes;
    for (int m = 0; m < 4; ++m) minutes.push_back(writeRecording("m0" + std::to_string(m), kHour + 60 * m, 60, 100));
    for (int m = 0; m < 3; ++m) convertCleanly("KAM", minutes[m], "before the damage");
    const test::ArchiveState undamaged = state();
    const fs::path bhz = trzFilePath(archiveDir.string(), "KAM", "BHZ", static_cast<double>(kHour));
    const auto lossLine = [&](int held, const char* from) {
        return "tremcvt: KAM::BHZ: " + bhz.string() + " holds " + std::to_string(held) +
               " samples, its catalogue row 18000: row and header cut back; lost " + from +
               " to 2009-09-14T11:03:00 (convert again)\n";
    };

    // The hour file restored from a copy made before its last minute: that
    // minute converted again continues the file where it really ends, and
    // the archive is as if nothing had happened.
    fs::resize_file(bhz, 512 + 4 * 12000);
    auto run = convert("KAM", minutes[2]);
    EXPECT_EQ(run.exitStatus, 0) << run.output << run.errorOutput;
    EXPECT_EQ(run.output.find("error"), std::string::npos) << run.output;
    EXPECT_EQ(run.errorOutput, lossLine(12000, "2009-09-14T11:02:00"));
    EXPECT_TRUE(state() == undamaged) << describeDifference(undamaged, state());

    // Torn within its 81st second (syncing off): the file, its row and its
    // header are cut back to the whole samples, and the next minute, after
    // the gap, starts a new file.
    fs::resize_file(bhz, 512 + 4 * 8050 + 2);
    run = convert("KAM", minutes[3], {}, 0, {"sync=0"});
    EXPECT_EQ(run.exitStatus, 0) << run.output << run.errorOutput;
    EXPECT_EQ(run.output.find("error"), std::string::npos) << run.output;
    EXPECT_EQ(run.errorOutput, lossLine(8050, "2009-09-14T11:01:20.500"));
    expectArchived("KAM", kChannels[0], kHour, 80, 100);
    expectArchived("KAM", kChannels[0], kHour + 180, 60, 100);
    expectArchived("KAM", kChannels[1], kHour, 240, 100);
    TrzHeader header;
    std::vector<float> samples;
    ASSERT_TRUE(readTrzFile(bhz.string(), header, samples));
    EXPECT_NE(header.text().find("Time duration=000 00 01 20\r\n"), std::string::npos) << header.text();
}

TEST_P(ArchiveSafetyTest, NearlyFullDiskLosesNoMinute)
{
    // A small disk of the archive's own, filled until a little more than the
    // free-space floor is left: a few minutes in, every store has to purge.
    if (::mount("tremcvt-test", archiveDir.c_str(), "tmpfs", 0, "size=12m") != 0)
        GTEST_SKIP() << "no tmpfs can be mounted here: " << std::strerror(errno);
    mounted = true;
    const std::uintmax_t floor = 10u << 20;
    const std::uintmax_t free = fs::space(archiveDir).available;
    ASSERT_GT(free, floor + (256u << 10));
    ASSERT_TRUE(test::writeFile(archiveDir / "ballast", std::string(free - floor - (160u << 10), 'x')));

    int purged = 0;
    for (int m = 0; m < 8; ++m) {
        const std::int64_t start = kHour + 60 * m;
        convertCleanly("KAM", writeRecording("m" + std::to_string(m), start, 60, 100), "minute");
        for (const Channel& c : kChannels) expectArchived("KAM", c, start, 60, 100);
        if (HasFatalFailure()) return;
        const auto rows = database->query("select min(TBEGIN) from FILELIST");
        if (rows && !rows->empty() && rows->front() != std::to_string(kHour)) ++purged;
    }
    EXPECT_GT(purged, 0) << "the disk never filled up";
    EXPECT_TRUE(fs::exists(archiveDir / "ballast"));
}

INSTANTIATE_TEST_SUITE_P(Databases, ArchiveSafetyTest, test::allDatabaseKinds(), test::databaseKindTestName);

}  // namespace
}  // namespace tremcvt
