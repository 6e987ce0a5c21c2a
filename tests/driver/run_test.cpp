// The converter run end to end, as an operator runs it: the real tremcvt
// binary, a WIN file, a tremcvt.ini with a station list, a private odbc.ini
// and an archive database with SITECHAN rows; SQLite and PostgreSQL.
#include <gtest/gtest.h>

#include <string>
#include <vector>

#include "tests/support/program_fixture.h"
#include "tools/winwriter/win_writer.h"

namespace tremcvt::test {
namespace {

// A second of a ramp, so that every channel has plain, known samples.
WinChannelSecond rampSecond(std::uint16_t channelId, int sps, int offset)
{
    WinChannelSecond channel;
    channel.channelId = channelId;
    for (int i = 0; i < sps; ++i) channel.samples.push_back(offset + i);
    return channel;
}

// Two seconds from 2010-03-03 02:00:00: channels c1, c2, c3 and c4 in both,
// c5 only in the second.
std::vector<WinSecond> twoSeconds()
{
    std::vector<WinSecond> seconds(2);
    for (int s = 0; s < 2; ++s) {
        setSecondTime(seconds[s], 1267581600.0 + s);
        for (std::uint16_t id : {0xc1, 0xc2, 0xc3, 0xc4}) seconds[s].channels.push_back(rampSecond(id, 100, s * 100));
    }
    seconds[1].channels.push_back(rampSecond(0xc5, 100, 0));
    return seconds;
}

class ConverterRunTest : public ProgramFixture {
protected:
    void SetUp() override
    {
        ProgramFixture::SetUp();
        if (IsSkipped() || HasFatalFailure()) return;
        writeIni("[sta0]\nname=ABC\nc4=XXX\n[sta1]\nname=kam\nc1=BHZ\nc2=BHN\nc3=BHE\nc5=HHZ\n", 2);
    }

    ProcessResult convert(const std::vector<std::string>& arguments) { return run(TREMCVT_BINARY, arguments); }

    const std::filesystem::path& dataDir = archiveDir;
};

TEST_P(ConverterRunTest, ReportsFirstBlockChecksAndCountsProblems)
{
    ASSERT_TRUE(database->execute("insert into SITECHAN(STA,CHAN,SPS,LCODE) values('KAM','BHZ',100,NULL);"
                                  "insert into SITECHAN(STA,CHAN,SPS,LCODE) values('KAM','BHN',99.99,'?" "?');"
                                  "insert into SITECHAN(STA,CHAN,SPS,LCODE) values('KAM','HHZ',1,'?" "?');"
                                  "insert into SITECHAN(STA,CHAN,SPS,LCODE) values('KAM','BHE',100,'00');"));
    const std::string win = (tempDir->path() / "10030302.00").string();
    ASSERT_TRUE(writeWinFile(win, twoSeconds()));

    const ProcessResult run = convert({"Kam", win});
    ASSERT_TRUE(run.exited) << run.errorOutput;
    // c4 is missing from the station's section (it stands only in another
    // station's), so it falls back to its key; c5 occurs only in the second
    // block and is never checked, although SITECHAN gives it another rate.
    EXPECT_EQ(run.output, kSeparator + "Checking INI-file\n" + "Not found (Kam::c4::100)\n" + kSeparator +
                              "Checking SITECHAN\n" + "SPS differs from SITECHAN (KAM::BHN::100)\n" +
                              "Absent from SITECHAN (KAM::BHE::100)\n" + "Absent from SITECHAN (KAM::C4::100)\n" +
                              kSeparator);
    EXPECT_EQ(run.exitStatus, 4);
}

TEST_P(ConverterRunTest, StationCodeWithQuoteIsCheckedNormally)
{
    ASSERT_TRUE(database->execute("insert into SITECHAN(STA,CHAN,SPS,LCODE) values('K''M','C1',100,'?" "?');"));
    const std::string win = (tempDir->path() / "q.win").string();
    std::vector<WinSecond> seconds(1);
    setSecondTime(seconds[0], 1267581600.0);
    seconds[0].channels.push_back(rampSecond(0xc1, 100, 0));
    seconds[0].channels.push_back(rampSecond(0xc2, 100, 0));
    ASSERT_TRUE(writeWinFile(win, seconds));

    const ProcessResult run = convert({"k'm", win});
    ASSERT_TRUE(run.exited) << run.errorOutput;
    EXPECT_EQ(run.output, kSeparator + "Checking INI-file\n" + "Not found (k'm::c1::100)\n" +
                              "Not found (k'm::c2::100)\n" + kSeparator + "Checking SITECHAN\n" +
                              "Absent from SITECHAN (K'M::C2::100)\n" + kSeparator);
    EXPECT_EQ(run.exitStatus, 3);
}

TEST_P(ConverterRunTest, FailuresBeforeReadingEndWithTheirExitCodes)
{
    const std::string win = (tempDir->path() / "a.win").string();
    ASSERT_TRUE(writeWinFile(win, twoSeconds()));

    // No such data source: nothing is read.
    ProcessResult run = convert({"KAM", win, "odbc=NOSUCHDSN"});
    ASSERT_TRUE(run.exited);
    EXPECT_EQ(run.output, "Connection error (ODBC: NOSUCHDSN, USER: " + database->userName() + ").\n");
    EXPECT_EQ(run.exitStatus, 255);

    if (GetParam() == DatabaseKind::PostgreSQL) {
        run = convert({"KAM", win, "password=wrong"});
        ASSERT_TRUE(run.exited);
        EXPECT_EQ(run.output, "Connection error (ODBC: " + database->dataSource() + ", USER: " +
                                  database->userName() + ").\n");
        EXPECT_EQ(run.exitStatus, 255);
    }

    const std::string missing = (tempDir->path() / "missing.win").string();
    run = convert({"KAM", missing});
    ASSERT_TRUE(run.exited);
    EXPECT_EQ(run.output, "File open error (" + missing + ").\n");
    EXPECT_EQ(run.exitStatus, 254);

    // A directory given as the WIN file is no WIN file.
    const std::string folder = (tempDir->path() / "folder.win").string();
    std::filesystem::create_directories(folder);
    run = convert({"KAM", folder});
    ASSERT_TRUE(run.exited);
    EXPECT_EQ(run.output, "File open error (" + folder + ").\n");
    EXPECT_EQ(run.exitStatus, 254);

    // An empty WIN file has no block: no check, no channel, exit 0.
    const std::string empty = (tempDir->path() / "empty.win").string();
    ASSERT_TRUE(writeFile(empty, ""));
    run = convert({"KAM", empty});
    ASSERT_TRUE(run.exited);
    EXPECT_EQ(run.output, "");
    EXPECT_EQ(run.exitStatus, 0);
    EXPECT_TRUE(std::filesystem::is_empty(dataDir));
}

TEST_P(ConverterRunTest, TruncatedFileKeepsWhatIsCompleteAndSaysSo)
{
    const std::string win = (tempDir->path() / "cut.win").string();
    ASSERT_TRUE(writeWinFile(win, twoSeconds()));
    // Cut into the last channel block (c5, which only the second block has).
    std::filesystem::resize_file(win, std::filesystem::file_size(win) - 10);

    const ProcessResult run = convert({"KAM", win});
    ASSERT_TRUE(run.exited) << run.errorOutput;
    const std::string notice = "File truncated (" + win + ").\n";
    ASSERT_GE(run.output.size(), notice.size());
    EXPECT_EQ(run.output.substr(run.output.size() - notice.size()), notice) << run.output;

    // The complete channel blocks of both seconds are archived; c5 is not.
    const auto rows = database->query("select CH, TQTY from FILELIST order by CH");
    ASSERT_TRUE(rows.has_value());
    ASSERT_EQ(rows->size(), 4u);
    for (const std::string& row : *rows) EXPECT_NE(row.find("|2"), std::string::npos) << row;
    EXPECT_EQ(run.output.find("HHZ"), std::string::npos);
}

INSTANTIATE_TEST_SUITE_P(Databases, ConverterRunTest, allDatabaseKinds(), databaseKindTestName);

// Usage and refusals come before any database is touched.
TEST(ConverterCommandLine, UsageAndOverlongArguments)
{
    TempDir dir;
    ProcessOptions options;
    options.workingDirectory = dir.path();
    options.environment.emplace_back("ODBCINI", dir.file("none.ini"));

    ProcessResult run = runProgram(TREMCVT_BINARY, {}, options);
    ASSERT_TRUE(run.exited);
    EXPECT_EQ(run.output, "[USAGE]\ntremcvt.exe [STATION CODE] [PATH TO FILE]\n");
    EXPECT_EQ(run.exitStatus, 0);

    run = runProgram(TREMCVT_BINARY, {"KAM"}, options);
    ASSERT_TRUE(run.exited);
    EXPECT_EQ(run.output, "[USAGE]\ntremcvt.exe [STATION CODE] [PATH TO FILE]\n");
    EXPECT_EQ(run.exitStatus, 0);

    run = runProgram(TREMCVT_BINARY, {"TOOLONGST", "x.win"}, options);
    ASSERT_TRUE(run.exited);
    EXPECT_NE(run.output.find("station code"), std::string::npos) << run.output;
    EXPECT_EQ(run.exitStatus, 252);
    EXPECT_TRUE(std::filesystem::is_empty(dir.path()));
}

}  // namespace
}  // namespace tremcvt::test
