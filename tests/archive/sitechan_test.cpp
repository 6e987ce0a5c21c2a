#include <gtest/gtest.h>

#include <string>

#include "converter/archive/archive_database.h"
#include "tests/archive/archive_test_settings.h"
#include "tests/support/test_support.h"

namespace tremcvt {
namespace {

using test::ArchiveDatabaseFixture;
using test::DatabaseKind;

class SitechanTest : public ArchiveDatabaseFixture {
protected:
    void SetUp() override
    {
        ArchiveDatabaseFixture::SetUp();
        if (IsSkipped() || HasFatalFailure()) return;
        std::string error;
        ASSERT_TRUE(database->execute(
            "INSERT INTO SITECHAN (STA, CHAN, LCODE, SPS) VALUES "
            "('KAM', 'BHZ', NULL, 100.0), "
            "('KAM', 'BHN', '?\?', 99.99), "
            "('KAM', 'BHE', '00', 100.0), "
            "('KAM', 'HHZ', NULL, NULL), "
            "('O''K', 'BHZ', NULL, 20.0), "
            "('kam', 'SHZ', NULL, 40.0);",
            &error))
            << error;
    }

    bool connect()
    {
        archive.configure(test::archiveSettingsFor(*database));
        return archive.connect();
    }

    ArchiveDatabase archive;
};

TEST_P(SitechanTest, AnswersByRowAndRate)
{
    ASSERT_TRUE(connect()) << archive.lastDiagnostics();
    const struct {
        const char* station;
        const char* channel;
        const char* location;
        double rate;
        ResultCode expected;
    } cases[] = {
        {"KAM", "BHZ", "??", 100.0, kResultOk},
        {"KAM", "BHZ", "", 100.0, kResultOk},
        {"KAM", "BHZ", "??", 50.0, kResultSitechanRateDiffers},
        {"KAM", "BHZ", "??", 100.0000001, kResultSitechanRateDiffers},  // no tolerance
        {"KAM", "BHN", "??", 100.0, kResultSitechanRateDiffers},
        {"KAM", "BHN", "??", 99.99, kResultOk},
        {"KAM", "BHE", "??", 100.0, kResultAbsentFromSitechan},  // only under '00'
        {"KAM", "BHE", "00", 100.0, kResultOk},
        {"KAM", "BHZ", "00", 100.0, kResultAbsentFromSitechan},
        {"KAM", "HHZ", "??", 100.0, kResultSitechanRateDiffers},  // a row without a rate
        {"KAM", "LHZ", "??", 1.0, kResultAbsentFromSitechan},
        {"ABC", "BHZ", "??", 100.0, kResultAbsentFromSitechan},
        {"O'K", "BHZ", "??", 20.0, kResultOk},  // a quote in the station code
        {"KAM' or '1'='1", "BHZ", "??", 100.0, kResultAbsentFromSitechan},
        {"KAM", "BHZ' --", "??", 100.0, kResultAbsentFromSitechan},
        {"KAM", "BHE", "0'", 100.0, kResultAbsentFromSitechan},
    };
    for (const auto& c : cases) {
        EXPECT_EQ(archive.checkSitechan(c.station, c.channel, c.location, c.rate), c.expected)
            << c.station << "::" << c.channel << "::" << c.location << " at " << c.rate << ": "
            << archive.lastDiagnostics();
    }
    // Nothing was changed by the checks.
    const auto rows = database->query("SELECT count(*) FROM SITECHAN");
    ASSERT_TRUE(rows.has_value());
    EXPECT_EQ(*rows, std::vector<std::string>{"6"});
}

TEST_P(SitechanTest, StationIsComparedAsTheDataSourceComparesText)
{
    ASSERT_TRUE(connect());
    // Both databases compare '=' on text with regard to case.
    EXPECT_EQ(archive.checkSitechan("KAM", "SHZ", "??", 40.0), kResultAbsentFromSitechan);
    EXPECT_EQ(archive.checkSitechan("kam", "SHZ", "??", 40.0), kResultOk);
}

TEST_P(SitechanTest, FailedConnectionTestAndMissingTableAreReportedByTheirCodes)
{
    ASSERT_TRUE(database->execute("DROP TABLE SITECHAN;"));
    ASSERT_TRUE(connect());
    EXPECT_EQ(archive.checkSitechan("KAM", "BHZ", "??", 100.0), kResultQueryFailed);
    EXPECT_FALSE(archive.lastDiagnostics().empty());

    ASSERT_TRUE(database->execute("DROP TABLE FILELIST;"));
    EXPECT_EQ(archive.checkSitechan("KAM", "BHZ", "??", 100.0), kResultConnectionTestFailed);
    archive.disconnect();
    EXPECT_EQ(archive.checkSitechan("KAM", "BHZ", "??", 100.0), kResultConnectionTestFailed);
}

TEST_P(SitechanTest, StatementLongerThanItsBufferIsRefusedNotTruncated)
{
    ASSERT_TRUE(connect());
    // A statement with a 900-character station code still fits its buffer;
    // 200 characters more do not, and the query is refused before the data
    // source sees it.
    const std::string station(900, 'S');
    if (GetParam() == DatabaseKind::PostgreSQL) {
        ASSERT_TRUE(database->execute("ALTER TABLE SITECHAN ALTER COLUMN STA TYPE varchar(1000);"));
    }
    ASSERT_TRUE(database->execute("INSERT INTO SITECHAN (STA, CHAN, LCODE, SPS) VALUES ('" + station +
                                  "', 'BHZ', NULL, 100.0);"));
    EXPECT_EQ(archive.checkSitechan(station, "BHZ", "??", 100.0), kResultOk) << archive.lastDiagnostics();
    EXPECT_EQ(archive.checkSitechan(station + std::string(200, 'S'), "BHZ", "??", 100.0), kResultQueryFailed);
    EXPECT_NE(archive.lastDiagnostics().find("does not fit"), std::string::npos) << archive.lastDiagnostics();
    // Doubled quotes count: 500 quotes become 1000 characters in the text.
    EXPECT_EQ(archive.checkSitechan(std::string(500, '\''), "BHZ", "??", 100.0), kResultQueryFailed);
    // The connection stays usable.
    EXPECT_EQ(archive.checkSitechan("KAM", "BHZ", "??", 100.0), kResultOk);
}

INSTANTIATE_TEST_SUITE_P(Databases, SitechanTest, test::allDatabaseKinds(), test::databaseKindTestName);

}  // namespace
}  // namespace tremcvt
