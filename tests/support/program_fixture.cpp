#include "tests/support/program_fixture.h"

#include <cstdio>
#include <sstream>


namespace tremcvt::test {

namespace fs = std::filesystem;

std::string describeDifference(const ArchiveState& expected, const ArchiveState& actual)
{
    std::ostringstream out;
    if (expected.rows != actual.rows) {
        out << "rows expected:\n";
        for (const auto& row : expected.rows) out << "  " << row << "\n";
        out << "rows found:\n";
        for (const auto& row : actual.rows) out << "  " << row << "\n";
    }
    for (const std::string& difference : treeDifferences(expected.files, actual.files)) out << difference << "\n";
    return out.str();
}

std::string hexKey(unsigned id)
{
    char text[16];
    std::snprintf(text, sizeof text, "%x", id);
    return text;
}

void ProgramFixture::SetUp()
{
    ArchiveDatabaseFixture::SetUp();
    if (IsSkipped() || HasFatalFailure()) return;
    workDir = tempDir->path() / "work";
    archiveDir = tempDir->path() / "archive";
    winDir = tempDir->path() / "win";
    outputDir = tempDir->path() / "output";
    for (const fs::path& dir : {workDir, archiveDir, winDir, outputDir}) fs::create_directories(dir);
    if (standardStations) addStandardStations();
}

void ProgramFixture::writeIni(const std::string& stations, int stationCount, const std::string& databaseLines,
                              const std::string& systemLines)
{
    ASSERT_TRUE(writeFile(workDir / "tremcvt.ini",
                          "[DATABASE]\nODBC=" + database->dataSource() + "\nUSER=" + database->userName() +
                              "\nPASSWORD=" + database->password() + "\n" + databaseLines + "[DATA]\nDIR=" +
                              archiveDir.string() + "\n[system]\nnsta=" + std::to_string(stationCount) + "\n" +
                              systemLines + stations));
}

std::string ProgramFixture::stationSection(int index, const std::string& name,
                                           const std::map<unsigned, std::string>& channels, const std::string& lines)
{
    std::string section = "[sta" + std::to_string(index) + "]\nname=" + name + "\n" + lines;
    for (const auto& [id, component] : channels) section += hexKey(id) + "=" + component + "\n";
    return section;
}

void ProgramFixture::addSitechan(const std::vector<SitechanRow>& rows)
{
    std::string sql;
    for (const SitechanRow& row : rows)
        sql += "insert into SITECHAN(STA,CHAN,SPS,LCODE) values('" + row.station + "','" + row.channel + "'," +
               std::to_string(row.sps) + ",'?\?');";
    std::string error;
    ASSERT_TRUE(database->execute(sql, &error)) << error;
}

void ProgramFixture::addStandardStations()
{
    std::map<unsigned, std::string> channels;
    for (const Channel& c : kChannels) channels[c.id] = c.component;
    std::map<unsigned, std::string> kam = channels;
    kam.insert({{0xa100, "HHZ"}, {0xa101, "HHN"}});
    writeIni(stationSection(0, "KAM", kam) + stationSection(1, "LNG", channels), 2, "USE_TEND=1\n");
    std::vector<SitechanRow> rows;
    for (const auto& [station, sps] : {std::pair<const char*, int>{"KAM", 100}, {"LNG", 20}})
        for (const Channel& c : kChannels) rows.push_back({station, c.component, sps});
    rows.insert(rows.end(), {{"KAM", "HHZ", 100}, {"KAM", "HHN", 100}});
    addSitechan(rows);
}

ProcessResult ProgramFixture::run(const std::string& program, const std::vector<std::string>& arguments,
                                  const Environment& extra, long killAfterMicroseconds) const
{
    ProcessOptions process;
    process.environment = database->environment();
    process.environment.emplace_back("TZ", timeZone);
    process.environment.emplace_back("TREMCVT_SYSCONFDIR", tempDir->path().string());
    process.environment.insert(process.environment.end(), extra.begin(), extra.end());
    process.workingDirectory = workDir;
    process.killAfterMicroseconds = killAfterMicroseconds;
    return runProgram(program, arguments, process);
}

ProcessResult ProgramFixture::convert(const std::string& station, const std::string& winFile,
                                      const Environment& extra, long killAfterMicroseconds,
                                      const std::vector<std::string>& options) const
{
    std::vector<std::string> arguments = {station, winFile};
    arguments.insert(arguments.end(), programOptions.begin(), programOptions.end());
    arguments.insert(arguments.end(), options.begin(), options.end());
    return run(TREMCVT_BINARY, arguments, extra, killAfterMicroseconds);
}

void ProgramFixture::convertCleanly(const std::string& station, const std::string& winFile,
                                    const std::string& when) const
{
    const auto result = convert(station, winFile);
    EXPECT_TRUE(result.exited && result.exitStatus == 0 && result.output.find("error") == std::string::npos)
        << when << ": " << fs::path(winFile).filename() << " exit " << result.exitStatus << " signal "
        << result.signal << "\n"
        << result.output << result.errorOutput;
}

std::string ProgramFixture::writeRecording(const std::string& name, std::int64_t start, int seconds, int sps,
                                           int variant) const
{
    std::vector<WinSecond> blocks;
    for (int sec = 0; sec < seconds; ++sec) {
        const std::int64_t t = start + sec;
        WinSecond second;
        EXPECT_TRUE(setSecondTime(second, static_cast<double>(t)));
        for (const Channel& c : kChannels) {
            WinChannelSecond channel;
            channel.channelId = c.id;
            channel.samples = syntheticSecond(c.id, 7, t, sps, 30000);
            if (variant != 0 && sec % 7 == 3) channel.samples[1] += 1000 * variant;
            second.channels.push_back(channel);
        }
        blocks.push_back(second);
    }
    const fs::path path = winDir / name;
    EXPECT_TRUE(writeWinFile(path.string(), blocks));
    return path.string();
}

void ProgramFixture::editStationList(const std::string& from, const std::string& to) const
{
    const fs::path ini = workDir / "tremcvt.ini";
    std::string text = readFile(ini);
    const std::size_t at = text.find(from);
    ASSERT_NE(at, std::string::npos) << from;
    text.replace(at, from.size(), to);
    ASSERT_TRUE(writeFile(ini, text));
}

void ProgramFixture::resetArchive() const
{
    ASSERT_TRUE(database->execute("delete from FILELIST"));
    for (const auto& entry : fs::directory_iterator(archiveDir)) fs::remove_all(entry.path());
}

ArchiveState ProgramFixture::state() const
{
    ArchiveState s;
    const auto rows = database->query(
        "select STA,CH,LCODE,TBEGIN,TQTY,TEND,SPS,GAIN,DATATYPE,FOFF,CPATH,CREATER,CALIB,CALPER,COMMENT "
        "from FILELIST order by CPATH,TBEGIN");
    EXPECT_TRUE(rows.has_value());
    if (rows) s.rows = *rows;
    for (const auto& entry : fs::recursive_directory_iterator(archiveDir))
        if (entry.is_regular_file()) s.files[fs::relative(entry.path(), archiveDir).string()] = readFile(entry.path());
    return s;
}

}  // namespace tremcvt::test
