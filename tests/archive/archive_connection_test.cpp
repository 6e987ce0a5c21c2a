#include <gtest/gtest.h>

#include <string>

#include "common/platform.h"
#include "converter/archive/archive_database.h"
#include "tests/archive/archive_test_settings.h"
#include "tests/support/test_support.h"

namespace tremcvt {
namespace {

using test::ArchiveDatabaseFixture;
using test::ArchiveTestDatabase;
using test::DatabaseKind;
using test::DatabaseSetup;
using test::TempDir;

void configure(ArchiveDatabase& archive, const ArchiveTestDatabase& database, bool useTend = true)
{
    archive.configure(test::archiveSettingsFor(database, defaultDataDirectory(), useTend));
}

std::string lowerCase(std::string_view text)
{
    std::string lower(text);
    for (char& c : lower)
        if (c >= 'A' && c <= 'Z') c = static_cast<char>(c - 'A' + 'a');
    return lower;
}

TEST(ArchiveDatabaseTest, StartsWithItsBuiltInSettingsAndNoConnection)
{
    ArchiveDatabase archive;
    // The converter's defaults, written once for the driver and the archive.
    EXPECT_EQ(archive.settings().dataSource, "TRZ");
    EXPECT_EQ(archive.settings().userName, "TRZ");
    EXPECT_EQ(archive.settings().password, "KPV");
    EXPECT_EQ(archive.dataDir(), defaultDataDirectory());
    EXPECT_TRUE(archive.useTend());
    EXPECT_FALSE(archive.isConnected());
    EXPECT_FALSE(archive.archiveRootConfirmed());
    EXPECT_EQ(archive.filePeriod(), 3600);
    EXPECT_EQ(archive.quotaMiB(), 100);
    EXPECT_EQ(archive.schemaNames().filelist.tbegin, "TBEGIN");
    // Without a connection nothing can be tested or checked.
    EXPECT_FALSE(archive.testConnection());
    EXPECT_EQ(archive.checkSitechan("KAM", "BHZ", "??", 100.0), kResultConnectionTestFailed);
    archive.disconnect();  // nothing held: nothing happens
}

TEST(ArchiveDatabaseTest, ConfigureTakesTheSettingsAndCutsLongCredentials)
{
    ArchiveDatabase archive(ArchiveSettings{"archive", "operator", "secret", "/srv/archive", false});
    EXPECT_EQ(archive.settings().dataSource, "archive");
    EXPECT_EQ(archive.settings().userName, "operator");
    EXPECT_EQ(archive.settings().password, "secret");
    EXPECT_EQ(archive.dataDir(), "/srv/archive");
    EXPECT_FALSE(archive.useTend());

    archive.noteArchiveRootConfirmed();
    archive.configure(ArchiveSettings{"archive", "operator", "secret", "", false});
    EXPECT_EQ(archive.dataDir(), "");
    EXPECT_FALSE(archive.archiveRootConfirmed()) << "new settings confirm the archive root afresh";

    // Longer than a field holds: cut to 31 characters, never past the field.
    const std::string longText(40, 'd');
    archive.configure(ArchiveSettings{longText, longText, longText, longText, false});
    EXPECT_EQ(archive.settings().dataSource, std::string(31, 'd'));
    EXPECT_EQ(archive.settings().userName, std::string(31, 'd'));
    EXPECT_EQ(archive.settings().password, std::string(31, 'd'));
    EXPECT_EQ(archive.dataDir(), longText);
}

TEST(ArchiveDatabaseTest, UseTendFollowsTheSettingBeforeConnecting)
{
    for (const bool asked : {false, true}) {
        ArchiveDatabase archive;
        ArchiveSettings settings;
        settings.useTend = !asked;
        archive.configure(settings);
        settings.useTend = asked;
        archive.configure(settings);
        EXPECT_EQ(archive.useTend(), asked);
    }
}

TEST(ArchiveDatabaseTest, ConnectToAnUnknownDataSourceFailsAndLeavesNothingHeld)
{
    TempDir dir;
    ASSERT_TRUE(test::writeFile(dir.path() / "odbc.ini", "[OTHER]\nDriver=SQLite3\nDatabase=/nonexistent/x.db\n"));
    ::setenv("ODBCINI", (dir.path() / "odbc.ini").c_str(), 1);
    {
        ArchiveSettings settings;
        settings.dataSource = "NO_SUCH_SOURCE";
        ArchiveDatabase archive(settings);
        EXPECT_FALSE(archive.connect());
        EXPECT_FALSE(archive.isConnected());
        EXPECT_FALSE(archive.lastDiagnostics().empty());
        EXPECT_FALSE(archive.testConnection());
        // A second attempt and an explicit disconnect are as safe as the
        // destruction that follows.
        EXPECT_FALSE(archive.connect());
        archive.disconnect();
        archive.disconnect();
    }
    ::unsetenv("ODBCINI");
}

class ArchiveConnectionTest : public ArchiveDatabaseFixture {};

TEST_P(ArchiveConnectionTest, ConnectResolvesNamesToTheCatalogueCase)
{
    ArchiveDatabase archive;
    configure(archive, *database);
    ASSERT_TRUE(archive.connect()) << archive.lastDiagnostics();
    EXPECT_TRUE(archive.isConnected());
    EXPECT_TRUE(archive.testConnection()) << archive.lastDiagnostics();
    EXPECT_TRUE(archive.useTend());

    // SQLite keeps the names as created (upper case); PostgreSQL folds the
    // unquoted names of the schema to lower case.
    const SchemaNameTable& names = archive.schemaNames();
    for (std::size_t table = 0; table < SchemaNameTable::kTableCount; ++table) {
        const std::string builtIn(SchemaNameTable::builtInTableName(table));
        const std::string expected = GetParam() == DatabaseKind::SQLite ? builtIn : lowerCase(builtIn);
        EXPECT_EQ(names.tableName(table), expected);
        for (std::size_t column = 0; column < names.columnCount(table); ++column) {
            const std::string builtInColumn(SchemaNameTable::builtInColumnName(table, column));
            EXPECT_EQ(names.columnName(table, column),
                      GetParam() == DatabaseKind::SQLite ? builtInColumn : lowerCase(builtInColumn))
                << builtIn << '.' << builtInColumn;
        }
    }

    archive.disconnect();
    EXPECT_FALSE(archive.isConnected());
    EXPECT_FALSE(archive.testConnection());
    // Connecting again resolves again.
    ASSERT_TRUE(archive.connect());
    EXPECT_TRUE(archive.testConnection());
}

TEST_P(ArchiveConnectionTest, TendProbeFollowsTheSettingAndTheColumn)
{
    {
        ArchiveDatabase archive;
        configure(archive, *database, false);
        ASSERT_TRUE(archive.connect());
        EXPECT_FALSE(archive.useTend());
        // Asked for while connected: the probe runs at once.
        configure(archive, *database, true);
        EXPECT_TRUE(archive.useTend());
        configure(archive, *database, false);
        EXPECT_FALSE(archive.useTend());
    }

    ASSERT_TRUE(database->execute("DROP TABLE FILELIST; CREATE TABLE FILELIST (STA varchar(16), "
                                  "TBEGIN double precision, TQTY double precision);"));
    for (const bool setting : {true, false}) {
        ArchiveDatabase archive;
        configure(archive, *database, setting);
        ASSERT_TRUE(archive.connect());
        EXPECT_FALSE(archive.useTend()) << setting;
        EXPECT_EQ(archive.schemaNames().filelist.tend, "TEND");
        configure(archive, *database, true);
        EXPECT_FALSE(archive.useTend());
        EXPECT_TRUE(archive.testConnection());
    }
}

TEST_P(ArchiveConnectionTest, MissingTablesKeepBuiltInNamesAndConnectStillSucceeds)
{
    ASSERT_TRUE(database->execute("DROP TABLE SITECHAN; DROP TABLE ARRIVAL;"));
    ArchiveDatabase archive;
    configure(archive, *database);
    ASSERT_TRUE(archive.connect());
    const SchemaNameTable& names = archive.schemaNames();
    EXPECT_EQ(names.sitechan.table, "SITECHAN");
    EXPECT_EQ(names.sitechan.sps, "SPS");
    EXPECT_EQ(names.arrival.table, "ARRIVAL");
    EXPECT_EQ(names.filelist.table, GetParam() == DatabaseKind::SQLite ? "FILELIST" : "filelist");
}

TEST_P(ArchiveConnectionTest, ConnectionObjectsAreReleasedOnEveryOrder)
{
    // Destroyed while connected, after disconnect, and after repeated
    // connects: each handle is released exactly once (checked under ASan).
    {
        ArchiveDatabase archive;
        configure(archive, *database);
        ASSERT_TRUE(archive.connect());
    }
    {
        ArchiveDatabase archive;
        configure(archive, *database);
        ASSERT_TRUE(archive.connect());
        ASSERT_TRUE(archive.connect());
        EXPECT_TRUE(archive.testConnection());
        archive.disconnect();
        archive.disconnect();
    }
}

INSTANTIATE_TEST_SUITE_P(Databases, ArchiveConnectionTest, test::allDatabaseKinds(), test::databaseKindTestName);

TEST(ArchiveConnectionPostgresTest, WrongPasswordFailsTheConnection)
{
    if (!test::postgresAvailable()) GTEST_SKIP() << test::postgresSkipReason();
    TempDir dir;
    std::string error;
    auto database = ArchiveTestDatabase::create(DatabaseKind::PostgreSQL, dir.path(), {}, &error);
    ASSERT_NE(database, nullptr) << error;
    {
        ArchiveDatabase archive;
        ArchiveSettings settings = test::archiveSettingsFor(*database);
        settings.password = "wrong";
        archive.configure(settings);
        EXPECT_FALSE(archive.connect());
        EXPECT_FALSE(archive.isConnected());
        EXPECT_NE(archive.lastDiagnostics().find("password"), std::string::npos) << archive.lastDiagnostics();
        // The right password on the same object then connects.
        configure(archive, *database);
        EXPECT_TRUE(archive.connect()) << archive.lastDiagnostics();
    }
}

TEST(ArchiveConnectionSqliteTest, MixedCaseCatalogueNamesAreUsedAsListed)
{
    TempDir dir;
    DatabaseSetup setup;
    setup.schemaSql =
        "CREATE TABLE \"FileList\" (\"Nindex\" INTEGER PRIMARY KEY AUTOINCREMENT, \"Sta\" varchar(16), "
        "\"TBegin\" double precision, \"tqty\" double precision, CH varchar(16), \"tEnD\" double precision);"
        "CREATE TABLE \"SiteChan\" (\"Sta\" varchar(16), \"Chan\" varchar(16), \"Lcode\" varchar(8), "
        "\"Sps\" double precision);"
        "CREATE VIEW \"Site\" AS SELECT \"Sta\" FROM \"SiteChan\";"
        "CREATE TABLE unrelated (x integer);"
        "INSERT INTO \"SiteChan\" VALUES ('KAM', 'BHZ', NULL, 100.0);";
    std::string error;
    auto database = ArchiveTestDatabase::create(DatabaseKind::SQLite, dir.path(), setup, &error);
    ASSERT_NE(database, nullptr) << error;

    ArchiveDatabase archive;
    configure(archive, *database);
    ASSERT_TRUE(archive.connect()) << archive.lastDiagnostics();
    const SchemaNameTable& names = archive.schemaNames();
    EXPECT_EQ(names.filelist.table, "FileList");
    EXPECT_EQ(names.filelist.nindex, "Nindex");
    EXPECT_EQ(names.filelist.sta, "Sta");
    EXPECT_EQ(names.filelist.tbegin, "TBegin");
    EXPECT_EQ(names.filelist.tqty, "tqty");
    EXPECT_EQ(names.filelist.ch, "CH");
    EXPECT_EQ(names.filelist.tend, "tEnD");
    EXPECT_EQ(names.filelist.cpath, "CPATH");  // not in this catalogue
    EXPECT_EQ(names.sitechan.table, "SiteChan");
    EXPECT_EQ(names.sitechan.chan, "Chan");
    EXPECT_EQ(names.sitechan.sps, "Sps");
    EXPECT_EQ(names.site.table, "SITE");  // a view is not listed
    EXPECT_TRUE(archive.useTend());
    EXPECT_TRUE(archive.testConnection());
    EXPECT_EQ(archive.checkSitechan("KAM", "BHZ", "??", 100.0), kResultOk);
}

TEST(SchemaNameTableTest, NamedFieldsHoldTheBuiltInNamesOfTheirColumns)
{
    SchemaNameTable names;
    EXPECT_EQ(names.filelist.table, "FILELIST");
    EXPECT_EQ(names.filelist.nindex, "NINDEX");
    EXPECT_EQ(names.filelist.tbegin, "TBEGIN");
    EXPECT_EQ(names.filelist.cpath, "CPATH");
    EXPECT_EQ(names.filelist.ch, "CH");
    EXPECT_EQ(names.filelist.creater, "CREATER");
    EXPECT_EQ(names.filelist.foff, "FOFF");
    EXPECT_EQ(names.filelist.lcode, "LCODE");
    EXPECT_EQ(names.filelist.tend, "TEND");
    EXPECT_EQ(names.sitechan.table, "SITECHAN");
    EXPECT_EQ(names.sitechan.chan, "CHAN");
    EXPECT_EQ(names.sitechan.sps, "SPS");
    EXPECT_EQ(names.sitechan.lcode, "LCODE");
    EXPECT_EQ(names.geographicRegion.table, "GEOGRAPHIC_REGION");
    EXPECT_EQ(names.arrival.columns.back(), "MWA");
    EXPECT_EQ(names.idSens.columns[0], "ID_SENS");

    std::size_t columns = 0;
    for (std::size_t table = 0; table < SchemaNameTable::kTableCount; ++table) {
        EXPECT_EQ(names.tableName(table), SchemaNameTable::builtInTableName(table));
        columns += names.columnCount(table);
    }
    EXPECT_EQ(columns, 17u + 15 + 11 + 15 + 5 + 3 + 3 + 2 + 4 + 5 + 18 + 6 + 13 + 35);
    EXPECT_EQ(names.columnName(0, 17), "");  // past the last column
}

}  // namespace
}  // namespace tremcvt
