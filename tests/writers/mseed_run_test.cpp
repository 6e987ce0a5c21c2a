// The tremcvt program writing miniSEED into an SDS archive, as an operator
// runs it with "mseed=": the real binary, a SQLite archive database, the real
// recordings and WIN files made by the project's WIN writer. Every day file
// is read back with libmseed's own reader and compared, sample by sample,
// with the channels as the project's decoder reads the WIN files.
#include <gtest/gtest.h>

#include <algorithm>
#include <cctype>
#include <cstdint>
#include <cstdio>
#include <ctime>
#include <filesystem>
#include <map>
#include <sstream>
#include <string>
#include <utility>
#include <vector>

#include "converter/win/channel_table.h"
#include "converter/win/win_decoder.h"
#include "converter/win/win_reader.h"
#include "tests/support/irregular_minutes.h"
#include "tests/support/program_fixture.h"
#include "tests/writers/mseed_read_back.h"
#include "tools/winwriter/win_writer.h"

namespace tremcvt::test {
namespace {

namespace fs = std::filesystem;
using mseed_test::readDayFile;

std::int64_t micro(double seconds) { return static_cast<std::int64_t>(seconds) * 1000000; }

// A channel as the decoder delivers it, its samples as the integers they are.
struct DecodedChannel {
    unsigned id = 0;
    double start = 0;
    int sps = 0;
    std::vector<std::int32_t> samples;
};

std::vector<DecodedChannel> decodeWin(const fs::path& file)
{
    ChannelTable table;
    WinFileReader reader;
    EXPECT_TRUE(reader.open(file.string())) << file;
    std::vector<std::uint8_t> body;
    for (WinReadStatus status = reader.next(body); status != WinReadStatus::End; status = reader.next(body)) {
        if (status == WinReadStatus::Block || !body.empty()) decodeSecondBlock(body.data(), body.size(), table);
        if (status == WinReadStatus::Truncated) break;
    }
    finishChannels(table);
    std::vector<DecodedChannel> channels;
    for (const ChannelTrace& trace : table) {
        DecodedChannel channel{trace.channelId, trace.startTime, trace.sps, {}};
        for (const float sample : trace.samples)
            channel.samples.push_back(static_cast<std::int32_t>(static_cast<double>(sample)));
        channels.push_back(std::move(channel));
    }
    return channels;
}

class MseedRunTest : public ProgramFixture {
protected:
    // Day files follow UTC whatever the machine's zone: a zone twelve hours
    // east would move every midnight if they did not.
    MseedRunTest() { timeZone = "KAMT-12"; }

    // The station list: one station with its channel keys, and the [system]
    // lines given.
    void writeIni(const std::string& station, const std::map<unsigned, std::string>& components,
                  const std::string& systemLines = "", const std::string& stationLines = "")
    {
        ProgramFixture::writeIni(stationSection(0, station, components, stationLines), 1, "", systemLines);
    }

    ProcessResult convert(const std::string& station, const fs::path& winFile, std::vector<std::string> options,
                          const Environment& extraEnvironment = {})
    {
        return ProgramFixture::convert(station, winFile.string(), extraEnvironment, 0, options);
    }

    const fs::path& dataDir = archiveDir;
    const fs::path& sdsDir = outputDir;
};

std::string dayFile(const fs::path& root, const std::string& network, const std::string& station,
                    const std::string& channel, int year, int day)
{
    char tail[32];
    std::snprintf(tail, sizeof tail, ".D.%04d.%03d", year, day);
    return (root / std::to_string(year) / network / station / (channel + ".D") /
            (network + "." + station + ".." + channel + tail))
        .string();
}

// The day file holds exactly this channel: one continuous segment with the
// channel's start, rate and every sample.
void expectDayFileHolds(const std::string& path, std::int64_t start, int sps, const std::vector<std::int32_t>& samples)
{
    SCOPED_TRACE(path);
    const auto back = readDayFile(path);
    ASSERT_TRUE(back.ok) << back.problem;
    ASSERT_EQ(back.segments.size(), 1u);
    EXPECT_EQ(back.segments[0].start, start);
    EXPECT_EQ(back.segments[0].rate, sps);
    const std::vector<std::int32_t>& read = back.segments[0].samples;
    EXPECT_EQ(read.size(), samples.size());
    const auto differ = std::mismatch(read.begin(), read.end(), samples.begin(), samples.end());
    if (differ.first != read.end())
        ADD_FAILURE() << "sample " << (differ.first - read.begin()) << " reads " << *differ.first << ", the WIN file has "
                      << (differ.second != samples.end() ? std::to_string(*differ.second) : std::string("none"));
}

std::vector<fs::path> realRecordings()
{
    std::vector<fs::path> files;
    const fs::path folder = TREMCVT_SHARED_WIN_DIR;
    if (!fs::is_directory(folder)) return files;
    for (const auto& entry : fs::directory_iterator(folder))
        if (entry.is_regular_file() && entry.path().filename() != "README.md") files.push_back(entry.path());
    std::sort(files.begin(), files.end());
    return files;
}

TEST_P(MseedRunTest, RealRecordingsInAnyOrderReadBackExactlyAndAgainLeaveTheTreeAsItWas)
{
    const std::vector<fs::path> files = realRecordings();
    if (files.empty()) GTEST_SKIP() << "the real WIN recordings are not present in " << TREMCVT_SHARED_WIN_DIR;
    std::vector<fs::path> minutes;  // the eleven consecutive minute files
    std::vector<fs::path> others;
    for (const fs::path& file : files)
        (file.filename().string().rfind("10030302.", 0) == 0 ? minutes : others).push_back(file);
    ASSERT_EQ(minutes.size(), 11u);

    // Component names that fit miniSEED for every channel of the recordings.
    std::map<unsigned, std::string> components;
    std::map<fs::path, std::vector<DecodedChannel>> decoded;
    for (const fs::path& file : files) {
        decoded[file] = decodeWin(file);
        ASSERT_FALSE(decoded[file].empty()) << file;
        for (const DecodedChannel& c : decoded[file]) {
            std::string name = "H" + hexKey(c.id).substr(hexKey(c.id).size() > 2 ? hexKey(c.id).size() - 2 : 0);
            for (char& ch : name) ch = static_cast<char>(std::toupper(static_cast<unsigned char>(ch)));
            if (!components.count(c.id)) addSitechan("REC", name, c.sps);
            components[c.id] = name;
        }
    }
    writeIni("REC", components, "net=JP\n");

    // Minute by minute, in order.
    for (const fs::path& file : minutes) {
        const ProcessResult run = convert("REC", file, {"mseed=" + sdsDir.string()});
        ASSERT_TRUE(run.exited) << run.errorOutput;
        EXPECT_EQ(run.output, kCleanChecks) << file;
        EXPECT_EQ(run.exitStatus, 0);
        EXPECT_EQ(run.errorOutput, "");
    }
    std::map<unsigned, DecodedChannel> day;
    for (const fs::path& file : minutes) {
        for (const DecodedChannel& c : decoded[file]) {
            DecodedChannel& whole = day[c.id];
            if (whole.samples.empty()) whole = DecodedChannel{c.id, c.start, c.sps, {}};
            whole.samples.insert(whole.samples.end(), c.samples.begin(), c.samples.end());
        }
    }
    ASSERT_EQ(day.size(), 2u);
    for (const auto& [id, c] : day) {
        EXPECT_EQ(c.samples.size(), 11u * 6000u);
        expectDayFileHolds(dayFile(sdsDir, "JP", "REC", components[id], 2010, 62), micro(c.start), c.sps, c.samples);
    }
    const Tree inOrder = treeOf(sdsDir);
    EXPECT_EQ(inOrder.size(), 3u + 2u * 2u);  // year, network, station directories; per channel its directory and file

    // The same minutes out of order into another tree: the same bytes.
    const fs::path shuffledDir = tempDir->path() / "shuffled";
    fs::create_directories(shuffledDir);
    for (const int m : {5, 0, 10, 1, 9, 3, 2, 8, 4, 7, 6}) {
        const ProcessResult run = convert("REC", minutes[static_cast<std::size_t>(m)], {"mseed=" + shuffledDir.string()});
        ASSERT_TRUE(run.exited) << run.errorOutput;
        EXPECT_EQ(run.output, kCleanChecks);
    }
    EXPECT_EQ(treeDifferences(inOrder, treeOf(shuffledDir)), std::vector<std::string>{});

    // Any minute converted again changes no byte.
    for (const int m : {0, 5, 10}) {
        const ProcessResult run = convert("REC", minutes[static_cast<std::size_t>(m)], {"mseed=" + sdsDir.string()});
        ASSERT_TRUE(run.exited) << run.errorOutput;
        EXPECT_EQ(treeDifferences(inOrder, treeOf(sdsDir)), std::vector<std::string>{});
    }

#ifdef TREMCVT_BATCH_BINARY
    // The same minutes through one tremcvt_batch run: the same bytes again.
    const fs::path batchDir = tempDir->path() / "batch";
    fs::create_directories(batchDir);
    std::vector<std::string> batchArguments = {"REC", "--files"};
    for (const fs::path& file : minutes) batchArguments.push_back(file.string());
    batchArguments.push_back("mseed=" + batchDir.string());
    ProcessOptions batchRun;
    batchRun.environment = database->environment();
    batchRun.environment.emplace_back("TREMCVT_SYSCONFDIR", tempDir->path().string());
    batchRun.workingDirectory = workDir;
    const ProcessResult batch = runProgram(TREMCVT_BATCH_BINARY, batchArguments, batchRun);
    ASSERT_TRUE(batch.exited) << batch.errorOutput;
    EXPECT_EQ(batch.exitStatus, 0) << batch.output;
    EXPECT_EQ(treeDifferences(inOrder, treeOf(batchDir)), std::vector<std::string>{});
    // A file whose channels cannot be stored counts as failed, by its kind.
    batchArguments.back() = "mseed=" + (tempDir->path() / "absent").string();
    const ProcessResult failing = runProgram(TREMCVT_BATCH_BINARY, batchArguments, batchRun);
    ASSERT_TRUE(failing.exited) << failing.errorOutput;
    EXPECT_NE(failing.output.find("Failed: " + minutes[0].string() + " (miniSEED write)\n"), std::string::npos)
        << failing.output;
#endif

    // The other recordings: 8-bit and 4-bit differences, 1000 samples per
    // second with values beyond 2^24.
    for (const fs::path& file : others) {
        SCOPED_TRACE(file.filename().string());
        const ProcessResult run = convert("REC", file, {"mseed=" + sdsDir.string()});
        ASSERT_TRUE(run.exited) << run.errorOutput;
        EXPECT_EQ(run.output, kCleanChecks);
        for (const DecodedChannel& c : decoded[file]) {
            const std::time_t start = static_cast<std::time_t>(c.start);
            std::tm tm{};
            ::gmtime_r(&start, &tm);
            expectDayFileHolds(dayFile(sdsDir, "JP", "REC", components[c.id], tm.tm_year + 1900, tm.tm_yday + 1),
                               micro(c.start), c.sps, c.samples);
        }
    }
    EXPECT_EQ(treeOf(dataDir), Tree{});
    EXPECT_EQ(database->filelistRows(), 0u);
}

// A second of samples whose differences need exactly the given width.
std::vector<std::int32_t> secondOfWidth(int sizeCode, int sps, int second)
{
    static const std::int32_t kLargest[] = {7, 127, 32767, 8388607, 2000000000};
    const std::int32_t step = kLargest[sizeCode];
    std::vector<std::int32_t> samples;
    std::int32_t value = sizeCode == 3 ? 30000000 : 0;  // 24-bit differences above 2^24
    for (int i = 0; i < sps; ++i) {
        samples.push_back(value);
        const std::int64_t n = std::int64_t{second} * sps + i;
        const std::int32_t difference = (n % 3 == 0) ? -step - 1 + (sizeCode == 4 ? 1 : 0) : step / ((n % 5) + 1);
        value = static_cast<std::int32_t>(static_cast<std::uint32_t>(value) + static_cast<std::uint32_t>(difference));
    }
    return samples;
}

TEST_P(MseedRunTest, EveryDifferenceWidthAcrossMidnightIntoTwoDayFiles)
{
    // The last 30 seconds of a leap year and the first 30 of the next: every
    // channel goes into a day 366 file and a day 1 file.
    struct Plan { unsigned id; int sizeCode; int sps; const char* component; };
    const Plan plans[] = {
        {0x11, 0, 1000, "W04"}, {0x12, 0, 101, "W4O"}, {0x13, 1, 1000, "W08"},
        {0x14, 2, 1000, "W16"}, {0x15, 3, 1000, "W24"}, {0x16, 4, 1000, "W32"},
    };
    const double start = utc(2012, 12, 31, 23, 59, 30);
    std::vector<WinSecond> seconds(60);
    for (int s = 0; s < 60; ++s) {
        ASSERT_TRUE(setSecondTime(seconds[static_cast<std::size_t>(s)], start + s));
        for (const Plan& plan : plans) {
            WinChannelSecond channel;
            channel.channelId = static_cast<std::uint16_t>(plan.id);
            channel.sizeCode = plan.sizeCode;
            channel.samples = secondOfWidth(plan.sizeCode, plan.sps, s);
            seconds[static_cast<std::size_t>(s)].channels.push_back(channel);
        }
    }
    const fs::path win = winDir / "12123123.59";
    ASSERT_TRUE(writeWinFile(win.string(), seconds));
    std::map<unsigned, std::string> components;
    for (const Plan& plan : plans) {
        components[plan.id] = plan.component;
        addSitechan("KAM", plan.component, plan.sps);
    }
    writeIni("KAM", components);

    const ProcessResult run = convert("KAM", win, {"mseed=" + sdsDir.string()});
    ASSERT_TRUE(run.exited) << run.errorOutput;
    EXPECT_EQ(run.output, kCleanChecks);
    EXPECT_EQ(run.exitStatus, 0);

    const std::vector<DecodedChannel> decoded = decodeWin(win);
    ASSERT_EQ(decoded.size(), std::size(plans));
    for (std::size_t i = 0; i < decoded.size(); ++i) {
        const DecodedChannel& c = decoded[i];
        SCOPED_TRACE(plans[i].component);
        ASSERT_EQ(c.samples.size(), 60u * static_cast<std::size_t>(plans[i].sps));
        const std::size_t before = 30u * static_cast<std::size_t>(c.sps);
        expectDayFileHolds(dayFile(sdsDir, "XX", "KAM", plans[i].component, 2012, 366), micro(start), c.sps,
                           {c.samples.begin(), c.samples.begin() + static_cast<std::ptrdiff_t>(before)});
        expectDayFileHolds(dayFile(sdsDir, "XX", "KAM", plans[i].component, 2013, 1),
                           micro(utc(2013, 1, 1, 0, 0, 0)), c.sps,
                           {c.samples.begin() + static_cast<std::ptrdiff_t>(before), c.samples.end()});
    }
    // Nothing but the two day files per channel and their directories.
    std::size_t files = 0;
    for (const auto& [name, bytes] : treeOf(sdsDir)) files += name.back() != '/';
    EXPECT_EQ(files, 2 * std::size(plans));
}

// Two seconds of a ramp for each channel, from 2010-03-03 02:00 by default.
fs::path writeTwoSeconds(const fs::path& path, double start = 1267581600.0,
                         const std::vector<std::uint16_t>& ids = {0xc1, 0xc2})
{
    std::vector<WinSecond> seconds(2);
    for (int s = 0; s < 2; ++s) {
        EXPECT_TRUE(setSecondTime(seconds[static_cast<std::size_t>(s)], start + s));
        for (const std::uint16_t id : ids) {
            WinChannelSecond channel;
            channel.channelId = id;
            for (int i = 0; i < 100; ++i) channel.samples.push_back(id * 1000 + s * 100 + i);
            seconds[static_cast<std::size_t>(s)].channels.push_back(channel);
        }
    }
    EXPECT_TRUE(writeWinFile(path.string(), seconds));
    return path;
}

TEST_P(MseedRunTest, TheLaterOfCssAndMseedWinsAndTheReportSaysWhich)
{
    writeIni("KAM", {{0xc1, "BHZ"}, {0xc2, "BHN"}});
    addSitechan("KAM", "BHZ", 100);
    addSitechan("KAM", "BHN", 100);
    const fs::path win = writeTwoSeconds(winDir / "two.win");
    const fs::path wfdisc = tempDir->path() / "css" / "run.wfdisc";

    ProcessResult run = convert("KAM", win, {"css=" + wfdisc.string(), "MSEED=" + sdsDir.string()});
    ASSERT_TRUE(run.exited) << run.errorOutput;
    EXPECT_EQ(run.output, "Output: miniSEED (mseed= given after css=).\n" + kCleanChecks);
    EXPECT_EQ(run.exitStatus, 0);
    EXPECT_FALSE(fs::exists(wfdisc));
    for (const char* channel : {"BHZ", "BHN"}) EXPECT_TRUE(fs::exists(dayFile(sdsDir, "XX", "KAM", channel, 2010, 62)));

    fs::remove_all(sdsDir);
    fs::create_directories(sdsDir);
    run = convert("KAM", win, {"mseed=" + sdsDir.string(), "css=" + wfdisc.string()});
    ASSERT_TRUE(run.exited) << run.errorOutput;
    EXPECT_EQ(run.output, "Output: CSS (css= given after mseed=).\n" + kCleanChecks);
    EXPECT_TRUE(fs::exists(wfdisc));
    EXPECT_EQ(treeOf(sdsDir), Tree{});
    EXPECT_EQ(treeOf(dataDir), Tree{});
    EXPECT_EQ(database->filelistRows(), 0u);
}

TEST_P(MseedRunTest, CodesThatDoNotFitAndUnwritableDirectoriesAreReportedAndTouchNothing)
{
    const fs::path win = writeTwoSeconds(winDir / "two.win");
    const fs::path plainFile = tempDir->path() / "plain";
    ASSERT_TRUE(writeFile(plainFile, "keep\n"));
    const std::string sds = sdsDir.string();
    const std::string missing = (tempDir->path() / "absent").string();
    struct Case {
        const char* name;
        std::string station;
        std::map<unsigned, std::string> components;
        std::string systemLines, stationLines;
        std::string mseed;
        std::string report;       // after the checks
        std::string errorOutput;  // a part of it; empty: none at all
        std::vector<std::string> written;  // day files, relative to the SDS root
    };
    const auto dayPath = [](const std::string& root, const std::string& network, const std::string& channel) {
        return dayFile(root, network, "KAM", channel, 2010, 62);
    };
    const Case cases[] = {
        {"network too long", "KAM", {{0xc1, "BHZ"}, {0xc2, "BHN"}}, "net=XXX\n", "", sds,
         "Network code too long for miniSEED (KAM::BHZ::XXX)\nNetwork code too long for miniSEED (KAM::BHN::XXX)\n",
         "", {}},
        {"the station's network overrides the system's, in capitals", "kam", {{0xc1, "BHZ"}, {0xc2, "BHN"}},
         "net=XXX\n", "net=jp\n", sds, "", "", {"2010/JP/KAM/BHZ.D/JP.KAM..BHZ.D.2010.062",
                                                  "2010/JP/KAM/BHN.D/JP.KAM..BHN.D.2010.062"}},
        {"station too long", "KAMCHAT", {{0xc1, "BHZ"}, {0xc2, "BHN"}}, "", "", sds,
         "Station code too long for miniSEED (KAMCHAT::BHZ::XX)\nStation code too long for miniSEED (KAMCHAT::BHN::XX)\n",
         "", {}},
        {"one component too long, the other written", "KAM", {{0xc1, "HHNLONG"}, {0xc2, "BHN"}}, "", "", sds,
         "Component code too long for miniSEED (KAM::HHNLONG::XX)\n", "",
         {"2010/XX/KAM/BHN.D/XX.KAM..BHN.D.2010.062"}},
        {"a channel the list does not name goes under its key", "KAM", {{0xc2, "BHN"}}, "", "", sds, "", "",
         {"2010/XX/KAM/C1.D/XX.KAM..C1.D.2010.062", "2010/XX/KAM/BHN.D/XX.KAM..BHN.D.2010.062"}},
        {"a code with other characters", "KAM", {{0xc1, "B-Z"}, {0xc2, "BHN"}}, "net=X.\n", "", sds,
         "Code not valid for miniSEED (KAM::B-Z::X.)\nCode not valid for miniSEED (KAM::BHN::X.)\n", "", {}},
        {"a UTC offset beyond 14 hours", "KAM", {{0xc1, "BHZ"}, {0xc2, "BHN"}}, "utc_offset=+15:00\n", "", sds,
         "UTC offset not valid for miniSEED (KAM::BHZ::+15:00)\nUTC offset not valid for miniSEED (KAM::BHN::+15:00)\n",
         "utc_offset=+15:00 is not an offset from UTC", {}},
        {"the station's UTC offset overrides the system's, minutes not a quarter hour", "KAM",
         {{0xc1, "BHZ"}, {0xc2, "BHN"}}, "utc_offset=+09:00\n", "utc_offset=+09:20\n", sds,
         "UTC offset not valid for miniSEED (KAM::BHZ::+09:20)\nUTC offset not valid for miniSEED (KAM::BHN::+09:20)\n",
         "utc_offset=+09:20 is not an offset from UTC", {}},
        {"a UTC offset in hours only", "KAM", {{0xc1, "BHZ"}, {0xc2, "BHN"}}, "utc_offset=9\n", "", sds,
         "UTC offset not valid for miniSEED (KAM::BHZ::9)\nUTC offset not valid for miniSEED (KAM::BHN::9)\n",
         "utc_offset=9 is not an offset from UTC", {}},
        {"the directory is missing", "KAM", {{0xc1, "BHZ"}, {0xc2, "BHN"}}, "", "", missing,
         "miniSEED write error (KAM::BHZ::" + dayPath(missing, "XX", "BHZ") + ")\nminiSEED write error (KAM::BHN::" +
             dayPath(missing, "XX", "BHN") + ")\n",
         "tremcvt: " + missing + "/2010: mkdir: No such file or directory\n", {}},
        {"the directory is a file", "KAM", {{0xc1, "BHZ"}, {0xc2, "BHN"}}, "", "", plainFile.string(),
         "miniSEED write error (KAM::BHZ::" + dayPath(plainFile.string(), "XX", "BHZ") +
             ")\nminiSEED write error (KAM::BHN::" + dayPath(plainFile.string(), "XX", "BHN") + ")\n",
         "/plain/2010: mkdir: Not a directory\n", {}},
        {"no directory", "KAM", {{0xc1, "BHZ"}, {0xc2, "BHN"}}, "", "", "",
         "miniSEED write error (mseed= names no directory)\n", "", {}},
    };
    const Tree workBefore = treeOf(workDir);
    const Tree winBefore = treeOf(winDir);
    for (const Case& c : cases) {
        SCOPED_TRACE(c.name);
        writeIni(c.station, c.components, c.systemLines, c.stationLines);
        const Tree workBefore = treeOf(workDir);
        const ProcessResult run = convert(c.station, win, {"mseed=" + c.mseed});
        ASSERT_TRUE(run.exited) << run.errorOutput;
        EXPECT_EQ(run.output.substr(run.output.rfind(kSeparator) + kSeparator.size()), c.report);
        // A channel not stored ends the run with -6, never a count.
        // (No SITECHAN rows here: otherwise the exit code counts them.)
        EXPECT_EQ(run.exitStatus == 250, !c.report.empty()) << run.exitStatus;
        if (c.errorOutput.empty())
            EXPECT_EQ(run.errorOutput, "");
        else
            EXPECT_NE(run.errorOutput.find(c.errorOutput), std::string::npos) << run.errorOutput;
        Tree expected;
        for (const std::string& file : c.written) {
            for (std::size_t slash = file.find('/'); slash != std::string::npos; slash = file.find('/', slash + 1))
                expected[file.substr(0, slash + 1)];
            expected[file] = readFile(sdsDir / file);
            EXPECT_TRUE(readDayFile((sdsDir / file).string()).ok) << file;
        }
        EXPECT_EQ(treeDifferences(expected, treeOf(sdsDir)), std::vector<std::string>{});
        EXPECT_EQ(readFile(plainFile), "keep\n");
        EXPECT_FALSE(fs::exists(missing));
        EXPECT_EQ(treeOf(dataDir), Tree{});
        EXPECT_EQ(treeDifferences(workBefore, treeOf(workDir)), std::vector<std::string>{});
        EXPECT_EQ(treeDifferences(winBefore, treeOf(winDir)), std::vector<std::string>{});
        EXPECT_EQ(database->filelistRows(), 0u);
        fs::remove_all(sdsDir);
        fs::create_directories(sdsDir);
    }

    // A relative directory lies below the data directory, like a relative
    // css= path.
    writeIni("KAM", {{0xc1, "BHZ"}, {0xc2, "BHN"}});
    fs::create_directories(dataDir / "sds");
    const ProcessResult run = convert("KAM", win, {"mseed=sds"});
    ASSERT_TRUE(run.exited) << run.errorOutput;
    EXPECT_TRUE(readDayFile(dayPath((dataDir / "sds").string(), "XX", "BHZ")).ok);
}

// Fault points of a run as the trace names them, e.g. "12 write".
std::vector<std::pair<int, std::string>> faultPoints(const std::string& trace)
{
    std::vector<std::pair<int, std::string>> points;
    std::istringstream in(trace);
    int number;
    std::string kind;
    while (in >> number >> kind) points.emplace_back(number, kind);
    return points;
}

TEST_P(MseedRunTest, AnInterruptedStoreLeavesTheOldOrTheNewDayFile)
{
    writeIni("KAM", {{0xc1, "BHZ"}});
    addSitechan("KAM", "BHZ", 100);
    const fs::path first = writeTwoSeconds(winDir / "first.win", 1267581600.0, {0xc1});
    const fs::path second = writeTwoSeconds(winDir / "second.win", 1267581602.0, {0xc1});
    const std::string day = dayFile(sdsDir, "XX", "KAM", "BHZ", 2010, 62);
    const std::string temporary = (fs::path(day).parent_path() / ".XX.KAM..BHZ.D.2010.062.tmp").string();
    const auto restore = [&](const Tree& tree) {
        fs::remove_all(sdsDir);
        fs::create_directories(sdsDir);
        for (const auto& [name, bytes] : tree) {
            if (name.back() == '/')
                fs::create_directories(sdsDir / name);
            else
                ASSERT_TRUE(writeFile(sdsDir / name, bytes));
        }
    };
    const auto after = [&](const std::vector<fs::path>& files) {
        restore({});
        for (const fs::path& file : files) EXPECT_EQ(convert("KAM", file, {"mseed=" + sdsDir.string()}).exitStatus, 0);
        return treeOf(sdsDir);
    };

    struct Scenario {
        const char* name;
        std::vector<fs::path> before;  // converted to make the old tree
        fs::path file;                 // the conversion that is interrupted
    };
    const Scenario scenarios[] = {
        {"a new day file", {}, first},
        {"appending to the day file", {first}, second},
        {"rebuilding the day file", {second}, first},
    };
    for (const Scenario& scenario : scenarios) {
        SCOPED_TRACE(scenario.name);
        const Tree oldTree = after(scenario.before);
        std::vector<fs::path> all = scenario.before;
        all.push_back(scenario.file);
        const Tree newTree = after(all);
        ASSERT_NE(oldTree, newTree);
        const std::string oldDay = oldTree.count(day.substr(sdsDir.string().size() + 1))
                                       ? oldTree.at(day.substr(sdsDir.string().size() + 1))
                                       : std::string();
        const std::string newDay = newTree.at(day.substr(sdsDir.string().size() + 1));

        // Every fault point of the store, as a clean run reaches them.
        restore(oldTree);
        const std::string traceFile = (tempDir->path() / "trace.txt").string();
        fs::remove(traceFile);
        ASSERT_EQ(convert("KAM", scenario.file, {"mseed=" + sdsDir.string()}, {{"TREMCVT_FAULT_TRACE", traceFile}})
                      .exitStatus,
                  0);
        ASSERT_EQ(treeDifferences(newTree, treeOf(sdsDir)), std::vector<std::string>{});
        std::vector<int> storePoints;
        for (const auto& [number, kind] : faultPoints(readFile(traceFile)))
            if (kind != "execute" && kind != "fetch") storePoints.push_back(number);
        ASSERT_GE(storePoints.size(), 6u);
        ASSERT_LE(storePoints.size(), 40u);

        const std::size_t stride = static_cast<std::size_t>(crashPointStride());
        for (const char* action : {"fail", "crash"}) {
            for (std::size_t i = 0; i < storePoints.size(); ++i) {
                if (i % stride != 0 && i + 1 != storePoints.size()) continue;
                const int point = storePoints[i];
                SCOPED_TRACE(std::string(action) + " at point " + std::to_string(point));
                restore(oldTree);
                const ProcessResult run =
                    convert("KAM", scenario.file, {"mseed=" + sdsDir.string()},
                            {{"TREMCVT_FAULT_AT", std::to_string(point)}, {"TREMCVT_FAULT_ACTION", action}});
                ASSERT_TRUE(run.started);
                const bool crashed = std::string(action) == "crash";
                EXPECT_EQ(run.exited, !crashed);
                const std::string now = fs::exists(day) ? readFile(day) : std::string();
                // An append in place cut off leaves the old records and a
                // torn tail: the start of the new ones.
                const bool tornTail = !oldDay.empty() && now.size() > oldDay.size() && now.size() < newDay.size() &&
                                      newDay.compare(0, now.size(), now) == 0;
                EXPECT_TRUE((now == oldDay && fs::exists(day) == !oldDay.empty()) || now == newDay || tornTail)
                    << "the day file is neither the old nor the new one, nor the old one with a torn tail ("
                    << now.size() << " bytes)";
                if (fs::exists(day)) {
                    // libmseed reads it without error: every sample of its
                    // whole records, then at most the part of a torn record
                    // that decodes, all of them the new day file's.
                    const auto samplesOf = [&](const std::string& bytes) {
                        const fs::path copy = tempDir->path() / "day-copy";
                        EXPECT_TRUE(writeFile(copy, bytes));
                        const auto back = readDayFile(copy.string());
                        EXPECT_TRUE(back.ok) << back.problem;
                        std::vector<std::int32_t> all;
                        for (const auto& segment : back.segments)
                            all.insert(all.end(), segment.samples.begin(), segment.samples.end());
                        return all;
                    };
                    const std::vector<std::int32_t> read = samplesOf(now);
                    const std::vector<std::int32_t> whole = samplesOf(now.substr(0, now.size() / 512 * 512));
                    const std::vector<std::int32_t> complete = samplesOf(newDay);
                    ASSERT_LE(whole.size(), read.size());
                    ASSERT_LE(read.size(), complete.size());
                    EXPECT_TRUE(std::equal(whole.begin(), whole.end(), read.begin()));
                    EXPECT_TRUE(std::equal(read.begin(), read.end(), complete.begin()));
                }
                // Only an interrupted process leaves its temporary file.
                if (!crashed) {
                    EXPECT_FALSE(fs::exists(temporary));
                }
                if (run.exited && now == oldDay) {
                    EXPECT_NE(run.output.find("miniSEED write error (KAM::BHZ::" + day + ")\n"), std::string::npos)
                        << run.output;
                }

                // The next run stores the data and takes over what was left.
                ASSERT_EQ(convert("KAM", scenario.file, {"mseed=" + sdsDir.string()}).exitStatus, 0);
                EXPECT_EQ(treeDifferences(newTree, treeOf(sdsDir)), std::vector<std::string>{});
            }
        }
    }
}

TEST_P(MseedRunTest, AJstMinuteAcrossNineOClockLandsInTwoUtcDayFilesAtUtcTimes)
{
    // The station's offset overrides the system's.
    writeIni("KAM", {{0xc1, "BHZ"}}, "utc_offset=+00:00\n", "utc_offset=+09:00\n");
    addSitechan("KAM", "BHZ", 100);
    const fs::path win = writeTwoSeconds(winDir / "jst.win", utc(2010, 3, 3, 8, 59, 59), {0xc1});
    const ProcessResult run = convert("KAM", win, {"mseed=" + sdsDir.string()});
    ASSERT_TRUE(run.exited) << run.errorOutput;
    EXPECT_EQ(run.output, kCleanChecks);
    EXPECT_EQ(run.exitStatus, 0);
    const std::vector<DecodedChannel> decoded = decodeWin(win);
    ASSERT_EQ(decoded.size(), 1u);
    const std::vector<std::int32_t>& samples = decoded[0].samples;
    ASSERT_EQ(samples.size(), 200u);
    expectDayFileHolds(dayFile(sdsDir, "XX", "KAM", "BHZ", 2010, 61), micro(utc(2010, 3, 2, 23, 59, 59)), 100,
                       {samples.begin(), samples.begin() + 100});
    expectDayFileHolds(dayFile(sdsDir, "XX", "KAM", "BHZ", 2010, 62), micro(utc(2010, 3, 3, 0, 0, 0)), 100,
                       {samples.begin() + 100, samples.end()});
    EXPECT_EQ(treeOf(sdsDir).size(), 3u + 2u + 1u);  // year, network, station; channel directory, two day files
}

// Irregular minute files, each followed by the next regular minute, at
// three rates and within an hour, at an hour's end and at midnight: each
// segment at its own start and rate in its UTC day file, every sample at its
// true time, once.
TEST_P(MseedRunTest, IrregularMinutesStoreEachSegmentAtItsStartAndRate)
{
    writeIni("KAM", {{kChannels[0].id, kChannels[0].component}, {kChannels[1].id, kChannels[1].component}});
    addSitechan({{"KAM", kChannels[0].component, 100}, {"KAM", kChannels[1].component, 100}});
    for (const IrregularPlacement& at : irregularPlacements()) {
        setSitechanRate(*database, "KAM", at.rate);
        for (const IrregularCase& c : irregularCases()) {
            SCOPED_TRACE(c.name + ", " + at.name);
            fs::remove_all(sdsDir);
            fs::create_directories(sdsDir);
            const std::vector<IrregularBlock> next = secondsFrom(60, 120);
            const fs::path win = winDir / "irregular";
            const fs::path nextWin = winDir / "next";
            ASSERT_TRUE(writeWinFile(win.string(), irregularSeconds(c.blocks, at.minute, at.rate)));
            ASSERT_TRUE(writeWinFile(nextWin.string(), irregularSeconds(next, at.minute, at.rate)));
            const ProcessResult run = convert("KAM", win, {"mseed=" + sdsDir.string()});
            EXPECT_EQ(run.exitStatus, 0) << run.output << run.errorOutput;
            EXPECT_NE(run.errorOutput.find("tremcvt: KAM::BHZ: "), std::string::npos) << run.errorOutput;
            EXPECT_EQ(convert("KAM", nextWin, {"mseed=" + sdsDir.string()}).exitStatus, 0);
            std::vector<IrregularBlock> all = c.blocks;
            all.insert(all.end(), next.begin(), next.end());
            for (const Channel& channel : kChannels) {
                SCOPED_TRACE(channel.component);
                TimedSamples stored;
                for (const int day : {257, 258}) {
                    const std::string path = dayFile(sdsDir, "XX", "KAM", channel.component, 2009, day);
                    if (!fs::exists(path)) continue;
                    const auto back = readDayFile(path);
                    ASSERT_TRUE(back.ok) << back.problem;
                    for (const mseed_test::Segment& segment : back.segments) {
                        const std::vector<float> values(segment.samples.begin(), segment.samples.end());
                        EXPECT_EQ(addStored(stored, static_cast<double>(at.minute),
                                            static_cast<double>(segment.start) / 1e6, segment.rate, values.data(),
                                            values.size()),
                                  0);
                    }
                }
                EXPECT_EQ(stored, expectedSamples(all, channel.id, at.rate));
            }
        }
    }
}

INSTANTIATE_TEST_SUITE_P(Databases, MseedRunTest, ::testing::Values(DatabaseKind::SQLite), databaseKindTestName);

}  // namespace
}  // namespace tremcvt::test
