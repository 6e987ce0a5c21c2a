// The real converter over a fresh archive database (SQLite or PostgreSQL)
// with a station list of two stations, KAM at 100 and LNG at 20 samples per
// second, each with the channels BHZ and BHN (0xC1, 0xC2), their SITECHAN
// rows, WIN files made by the project's WIN writer, and the archive as tests
// compare it. KAM also names the channels of the real recordings (0xA100
// HHZ and 0xA101 HHN, 100 samples per second).
#pragma once

#include <gtest/gtest.h>

#include <cstdint>
#include <cstdio>
#include <cstdlib>
#include <filesystem>
#include <map>
#include <sstream>
#include <string>
#include <utility>
#include <vector>

#include "tests/support/test_support.h"
#include "tools/winwriter/win_writer.h"

#ifndef TREMCVT_BINARY
#error "TREMCVT_BINARY must name the converter program"
#endif

namespace tremcvt::test {

namespace fs = std::filesystem;

inline constexpr std::int64_t kHour = 1252926000;  // 2009-09-14 11:00:00 UTC

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

inline std::string describeDifference(const ArchiveState& expected, const ArchiveState& actual)
{
    std::ostringstream out;
    if (expected.rows != actual.rows) {
        out << "rows expected:\n";
        for (const auto& row : expected.rows) out << "  " << row << "\n";
        out << "rows found:\n";
        for (const auto& row : actual.rows) out << "  " << row << "\n";
    }
    for (const auto& [path, bytes] : expected.files) {
        const auto found = actual.files.find(path);
        if (found == actual.files.end()) {
            out << "missing file " << path << "\n";
        } else if (found->second != bytes) {
            std::size_t at = 0;
            while (at < bytes.size() && at < found->second.size() && bytes[at] == found->second[at]) ++at;
            out << path << " differs from byte " << at << " (sizes " << bytes.size() << ", " << found->second.size()
                << ")\n";
        }
    }
    for (const auto& [path, bytes] : actual.files)
        if (expected.files.find(path) == expected.files.end()) out << "extra file " << path << "\n";
    return out.str();
}

class ConverterRunFixture : public test::ArchiveDatabaseFixture {
protected:
    void SetUp() override
    {
        ArchiveDatabaseFixture::SetUp();
        if (IsSkipped() || HasFatalFailure()) return;
        archiveDir = tempDir->path() / "archive";
        winDir = tempDir->path() / "win";
        fs::create_directories(archiveDir);
        fs::create_directories(winDir);
        std::string ini = "[DATABASE]\nODBC=" + database->dataSource() + "\nUSER=" + database->userName() +
                          "\nPASSWORD=" + database->password() + "\nUSE_TEND=1\n[DATA]\nDIR=" +
                          archiveDir.string() + "\n[system]\nnsta=2\n";
        std::string sitechan;
        const std::pair<const char*, int> stations[] = {{"KAM", 100}, {"LNG", 20}};
        for (std::size_t i = 0; i < std::size(stations); ++i) {
            const auto& [station, sps] = stations[i];
            ini += "[sta" + std::to_string(i) + "]\nname=" + station + "\n";
            for (const Channel& c : kChannels) {
                char key[8];
                std::snprintf(key, sizeof key, "%x", c.id);
                ini += std::string(key) + "=" + c.component + "\n";
                sitechan += std::string("insert into SITECHAN(STA,CHAN,SPS,LCODE) values('") + station + "','" +
                            c.component + "'," + std::to_string(sps) + ",'?\?');";
            }
            if (i == 0) ini += "a100=HHZ\na101=HHN\n";
        }
        sitechan += "insert into SITECHAN(STA,CHAN,SPS,LCODE) values('KAM','HHZ',100,'?\?'),('KAM','HHN',100,'?\?');";
        ASSERT_TRUE(test::writeFile(tempDir->path() / "tremcvt.ini", ini));
        std::string error;
        ASSERT_TRUE(database->execute(sitechan, &error)) << error;
    }

    // A WIN file of the two channels from start for the given seconds;
    // `variant` changes some samples (a corrected recording).
    std::string writeRecording(const std::string& name, std::int64_t start, int seconds, int sps, int variant = 0)
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

    // One converter run; extra sets variables of its environment, options
    // follow the two arguments.
    test::ProcessResult convert(const std::string& station, const std::string& winFile,
                                const std::vector<std::pair<std::string, std::string>>& extra = {},
                                long killAfterMicroseconds = 0, const std::vector<std::string>& runOptions = {})
    {
        std::vector<std::string> arguments = {station, winFile};
        arguments.insert(arguments.end(), runOptions.begin(), runOptions.end());
        return run(TREMCVT_BINARY, arguments, extra, killAfterMicroseconds);
    }

    // A program of the project run as an operator runs it: in the directory
    // of tremcvt.ini, with the archive's data source and the zone UTC.
    test::ProcessResult run(const std::string& program, const std::vector<std::string>& arguments,
                            const std::vector<std::pair<std::string, std::string>>& extra = {},
                            long killAfterMicroseconds = 0)
    {
        test::ProcessOptions process;
        process.environment = database->environment();
        process.environment.emplace_back("TZ", "UTC");
        process.environment.emplace_back("TREMCVT_SYSCONFDIR", tempDir->path().string());
        process.environment.insert(process.environment.end(), extra.begin(), extra.end());
        process.workingDirectory = tempDir->path();
        process.killAfterMicroseconds = killAfterMicroseconds;
        return test::runProgram(program, arguments, process);
    }

    // A conversion that must go through without any failure.
    void convertCleanly(const std::string& station, const std::string& winFile, const std::string& when)
    {
        const auto run = convert(station, winFile);
        EXPECT_TRUE(run.exited && run.exitStatus == 0 && run.output.find("error") == std::string::npos)
            << when << ": " << fs::path(winFile).filename() << " exit " << run.exitStatus << " signal "
            << run.signal << "\n"
            << run.output << run.errorOutput;
    }

    // Replaces the first occurrence of a text in tremcvt.ini (the station list).
    void editStationList(const std::string& from, const std::string& to)
    {
        const fs::path ini = tempDir->path() / "tremcvt.ini";
        std::string text = test::readFile(ini);
        const std::size_t at = text.find(from);
        ASSERT_NE(at, std::string::npos) << from;
        text.replace(at, from.size(), to);
        ASSERT_TRUE(test::writeFile(ini, text));
    }

    void resetArchive()
    {
        ASSERT_TRUE(database->execute("delete from FILELIST"));
        for (const auto& entry : fs::directory_iterator(archiveDir)) fs::remove_all(entry.path());
    }

    ArchiveState state()
    {
        ArchiveState s;
        const auto rows = database->query(
            "select STA,CH,LCODE,TBEGIN,TQTY,TEND,SPS,GAIN,DATATYPE,FOFF,CPATH,CREATER,CALIB,CALPER,COMMENT "
            "from FILELIST order by CPATH,TBEGIN");
        EXPECT_TRUE(rows.has_value());
        if (rows) s.rows = *rows;
        for (const auto& entry : fs::recursive_directory_iterator(archiveDir))
            if (entry.is_regular_file())
                s.files[fs::relative(entry.path(), archiveDir).string()] = test::readFile(entry.path());
        return s;
    }
    fs::path archiveDir;
    fs::path winDir;
};

}  // namespace tremcvt::test
