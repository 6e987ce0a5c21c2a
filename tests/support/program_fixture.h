// The project's programs run as an operator runs them, over a fresh archive
// database (SQLite or PostgreSQL): a temporary directory with work/ (the
// station list tremcvt.ini, and the programs' working directory), archive/
// (the data directory), win/ (WIN files the test makes) and output/ (for CSS
// or miniSEED output), SITECHAN rows,
// and the archive as tests compare it. The programs' paths come with the
// library: TREMCVT_BINARY, TREMCVT_BATCH_BINARY, WINDUMP_PATH, WINWRITE_PATH
// and TREMCVT_SHARED_WIN_DIR (the real recordings; tests skip when absent).
#pragma once

#include <cstdint>
#include <filesystem>
#include <map>
#include <string>
#include <utility>
#include <vector>

#include "tests/support/test_support.h"
#include "tools/winwriter/win_writer.h"

namespace tremcvt::test {

inline constexpr std::int64_t kHour = 1252926000;  // 2009-09-14 11:00:00 UTC

// The channels of both standard stations (addStandardStations).
struct Channel {
    std::uint16_t id;
    const char* component;
};
inline constexpr Channel kChannels[] = {{0x00c1, "BHZ"}, {0x00c2, "BHN"}};

// The archive as the tests compare it: the catalogue rows without their
// load date and number, and every file below the archive directory.
struct ArchiveState {
    std::vector<std::string> rows;
    std::map<std::string, std::string> files;

    bool operator==(const ArchiveState&) const = default;
};
std::string describeDifference(const ArchiveState& expected, const ArchiveState& actual);

// What a run prints between its checks, and before any output message when
// no channel has a problem.
inline const std::string kSeparator = "============================================================\n";
inline const std::string kCleanChecks =
    kSeparator + "Checking INI-file\n" + kSeparator + "Checking SITECHAN\n" + kSeparator;

// A SITECHAN row with the location code "??".
struct SitechanRow {
    std::string station;
    std::string channel;
    int sps;
};

using Environment = std::vector<std::pair<std::string, std::string>>;

// A WIN channel number as a station list's key: lower-case hexadecimal.
std::string hexKey(unsigned id);

class ProgramFixture : public ArchiveDatabaseFixture {
protected:
    void SetUp() override;

    // Writes tremcvt.ini: the [DATABASE] section of the test's database
    // (databaseLines added), [DATA] DIR=archiveDir, [system] nsta=stationCount
    // (systemLines added), then the station sections as given.
    void writeIni(const std::string& stations, int stationCount, const std::string& databaseLines = "",
                  const std::string& systemLines = "");
    // One [staN] section: name=, the extra lines, then "<hex key>=<component>"
    // per channel in key order.
    static std::string stationSection(int index, const std::string& name,
                                      const std::map<unsigned, std::string>& channels, const std::string& lines = "");
    void addSitechan(const std::vector<SitechanRow>& rows);
    void addSitechan(const std::string& station, const std::string& channel, int sps)
    {
        addSitechan({{station, channel, sps}});
    }
    // A program of the project in workDir, with the archive's data source,
    // the zone timeZone and the system directory tempDir; extra variables
    // on top. killAfterMicroseconds: see ProcessOptions.
    ProcessResult run(const std::string& program, const std::vector<std::string>& arguments,
                      const Environment& extra = {}, long killAfterMicroseconds = 0) const;
    // tremcvt with the station and the WIN file, then the options.
    ProcessResult convert(const std::string& station, const std::string& winFile, const Environment& extra = {},
                          long killAfterMicroseconds = 0, const std::vector<std::string>& options = {}) const;
    // A conversion that must go through without any failure.
    void convertCleanly(const std::string& station, const std::string& winFile, const std::string& when) const;

    // A WIN file in winDir of the channels of kChannels from start for the
    // given seconds; `variant` changes some samples (a corrected recording).
    std::string writeRecording(const std::string& name, std::int64_t start, int seconds, int sps,
                               int variant = 0) const;
    // Replaces the first occurrence of a text in tremcvt.ini.
    void editStationList(const std::string& from, const std::string& to) const;
    // Empties FILELIST and the archive directory.
    void resetArchive() const;
    ArchiveState state() const;

    // Settings for SetUp, to be changed in a suite's constructor.
    // standardStations: KAM at 100 and LNG at 20 samples per second, each
    // with the channels of kChannels, their SITECHAN rows, USE_TEND=1; KAM
    // also names the channels of the real recordings (0xa100 HHZ and 0xa101
    // HHN, 100 per second).
    bool standardStations = false;
    // Options every conversion of convert() gets before its own.
    std::vector<std::string> programOptions;
    std::string timeZone = "UTC";
    std::filesystem::path workDir;
    std::filesystem::path archiveDir;
    std::filesystem::path winDir;
    std::filesystem::path outputDir;

private:
    void addStandardStations();
};

}  // namespace tremcvt::test
