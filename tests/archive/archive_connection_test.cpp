#include <gtest/gtest.h>

#include <string>

#include "converter/archive/archive_database.h"
#include "tests/support/test_support.h"

namespace tremcvt {
namespace {

using test::ArchiveDatabaseFixture;
using test::ArchiveTestDatabase;
using test::DatabaseKind;
using test::DatabaseSetup;
using test::TempDir;

// An ArchiveDatabase set up for a test database as the driver sets it up.
void configure(ArchiveDatabase& archive, const ArchiveTestDatabase& database)
{
    ASSERT_EQ(archive.setParameter("odbc", database.dataSource()), kResultOk);
    ASSERT_EQ(archive.setParameter("user", database.userName()), kResultOk);
    ASSERT_EQ(archive.setParameter("password", database.password()), kResultOk);
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
    EXPECT_STREQ(archive.dataSource(), "trz");
    EXPECT_STREQ(archive.userName(), "trz");
    EXPECT_STREQ(archive.password(), "kpv");
    EXPECT_TRUE(archive.useTend());
    EXPECT_FALSE(archive.isConnected());
    EXPECT_EQ(archive.filePeriod(), 3600);
    EXPECT_EQ(archive.quotaMiB(), 100);
    EXPECT_EQ(archive.sampleRate, 20.0);
    EXPECT_TRUE(archive.station.empty() && archive.channel.empty() && archive.currentPath.empty());
    EXPECT_EQ(archive.schemaNames().filelist.tbegin, "TBEGIN");
    // Without a connection nothing can be tested or checked.
    EXPECT_FALSE(archive.testConnection());
    EXPECT_EQ(archive.checkSitechan("KAM", "BHZ", "??", 100.0), kResultConnectionTestFailed);
    archive.disconnect();  // nothing held: nothing happens
}

TEST(ArchiveDatabaseTest, SetParameterKnowsFiveKeysIgnoringCase)
{
    ArchiveDatabase archive;
    EXPECT_EQ(archive.setParameter("ODBC", "archive"), kResultOk);
    EXPECT_EQ(archive.setParameter("User", "operator"), kResultOk);
    EXPECT_EQ(archive.setParameter("passWORD", "secret"), kResultOk);
    EXPECT_EQ(archive.setParameter("DATA", "/srv/archive"), kResultOk);
    EXPECT_STREQ(archive.dataSource(), "archive");
    EXPECT_STREQ(archive.userName(), "operator");
    EXPECT_STREQ(archive.password(), "secret");
    EXPECT_EQ(archive.dataDir(), "/srv/archive");

    for (const char* unknown : {"dir", "", "odbc ", "use-tend", "datadir"}) {
        EXPECT_EQ(archive.setParameter(unknown, "x"), kResultUnknownParameter) << unknown;
    }
    EXPECT_STREQ(archive.dataSource(), "archive");
    EXPECT_EQ(archive.dataDir(), "/srv/archive");

    EXPECT_EQ(archive.setParameter("data", ""), kResultOk);
    EXPECT_EQ(archive.dataDir(), "");

    // Longer than a field holds: cut to 31 characters, never past the field.
    EXPECT_EQ(archive.setParameter("odbc", std::string(40, 'd')), kResultOk);
    EXPECT_EQ(std::string(archive.dataSource()), std::string(31, 'd'));
}

TEST(ArchiveDatabaseTest, UseTendReadsItsValueLikeAtoiBeforeConnecting)
{
    const struct {
        const char* value;
        bool useTend;
    } cases[] = {
        {"0", false}, {"1", true},   {"yes", false}, {"", false},    {"  7", true},
        {"-1", true}, {"+0", false}, {"00", false},  {"1abc", true}, {"99999999999999999999", true},
    };
    for (const auto& c : cases) {
        ArchiveDatabase archive;
        archive.setParameter("use_tend", "0");
        EXPECT_EQ(archive.setParameter("USE_TEND", c.value), kResultOk);
        EXPECT_EQ(archive.useTend(), c.useTend) << '"' << c.value << '"';
    }
}

TEST(ArchiveDatabaseTest, ConnectToAnUnknownDataSourceFailsAndLeavesNothingHeld)
{
    TempDir dir;
    ASSERT_TRUE(test::writeFile(dir.path() / "odbc.ini", "[OTHER]\nDriver=SQLite3\nDatabase=/nonexistent/x.db\n"));
    ::setenv("ODBCINI", (dir.path() / "odbc.ini").c_str(), 1);
    {
        ArchiveDatabase archive;
        archive.setParameter("odbc", "NO_SUCH_SOURCE");
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
        configure(archive, *database);
        archive.setParameter("use_tend", "0");
        ASSERT_TRUE(archive.connect());
        EXPECT_FALSE(archive.useTend());
        // Asked for while connected: the probe runs at once.
        archive.setParameter("use_tend", "1");
        EXPECT_TRUE(archive.useTend());
        archive.setParameter("use_tend", "no");
        EXPECT_FALSE(archive.useTend());
    }

    ASSERT_TRUE(database->execute("DROP TABLE FILELIST; CREATE TABLE FILELIST (STA varchar(16), "
                                  "TBEGIN double precision, TQTY double precision);"));
    for (const char* setting : {"1", "yes"}) {
        ArchiveDatabase archive;
        configure(archive, *database);
        archive.setParameter("use_tend", setting);
        ASSERT_TRUE(archive.connect());
        EXPECT_FALSE(archive.useTend()) << setting;
        EXPECT_EQ(archive.schemaNames().filelist.tend, "TEND");
        archive.setParameter("use_tend", "1");
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
        configure(archive, *database);
        archive.setParameter("password", "wrong");
        EXPECT_FALSE(archive.connect());
        EXPECT_FALSE(archive.isConnected());
        EXPECT_NE(archive.lastDiagnostics().find("password"), std::string::npos) << archive.lastDiagnostics();
        // The right password on the same object then connects.
        archive.setParameter("password", database->password());
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
