// The tremcvt program writing CSS 3.0 output, as an operator runs it with
// "css=": the real binary, WIN files made by the project's WIN writer, a
// tremcvt.ini with a station list and a SQLite archive database. The wfdisc
// lines and ".w" bytes are built here from the channels' own values, and the
// output directory, the archive directory and FILELIST are checked for
// anything else the run may have left.
#include <gtest/gtest.h>

#include <algorithm>
#include <cctype>
#include <cstdint>
#include <cstdio>
#include <cstring>
#include <ctime>
#include <filesystem>
#include <map>
#include <sstream>
#include <string>
#include <utility>
#include <vector>

#include "tests/support/irregular_minutes.h"
#include "tests/support/program_fixture.h"
#include "tools/winwriter/win_writer.h"

namespace tremcvt::test {
namespace {

namespace fs = std::filesystem;

// One channel as the output should describe it.
struct ExpectedChannel {
    ExpectedChannel() = default;
    ExpectedChannel(std::string stationName, std::string componentName)
        : station(std::move(stationName)), component(std::move(componentName))
    {
    }

    std::string station;    // as written: upper case
    std::string component;  // as written: upper case
    double startTime = 0;
    double endTime = 0;
    int sps = 0;
    std::vector<std::int32_t> samples;
};

std::tm utcBreakdown(double time)
{
    const std::time_t seconds = static_cast<std::time_t>(time);
    std::tm tm{};
    ::gmtime_r(&seconds, &tm);
    return tm;
}

std::string dataFileName(const ExpectedChannel& c)
{
    const std::tm tm = utcBreakdown(c.startTime);
    char name[256];
    std::snprintf(name, sizeof name, "%d-%02d%02d%02d%02d%02d%04d-%s-%s.w", 0, tm.tm_hour, tm.tm_min, tm.tm_sec,
                  tm.tm_mday, tm.tm_mon + 1, tm.tm_year + 1900, c.station.c_str(), c.component.c_str());
    return name;
}

std::string wfdiscLine(const ExpectedChannel& c)
{
    const std::tm tm = utcBreakdown(c.startTime);
    const long jdate = (tm.tm_year + 1900L) * 1000L + tm.tm_yday + 1L;
    const std::string dfile = dataFileName(c);
    char line[512];
    const int length = std::snprintf(
        line, sizeof line,
        "%-6.6s %-8.8s %17.5lf %8ld %8ld %8ld %17.5lf %8ld %11d %16.6f %16.6f %-6.6s %-1.1s %-2.2s %-1.1s "
        "%-64.64s %-32.32s %10ld %8ld %-17.17s\n",
        c.station.c_str(), c.component.c_str(), c.startTime, -1L, -1L, jdate, c.endTime,
        static_cast<long>(c.samples.size()), c.sps, 0.0, 0.0, "-", "-", "f4", "-", ".", dfile.c_str(), 0L, -1L, "-");
    EXPECT_EQ(length, 284);
    return std::string(line, static_cast<std::size_t>(length));
}

// The samples as 32-bit floats in little-endian byte order.
std::string floatBytes(const std::vector<std::int32_t>& samples)
{
    std::string bytes;
    for (const std::int32_t sample : samples) {
        const float value = static_cast<float>(sample);
        std::uint32_t bits;
        std::memcpy(&bits, &value, 4);
        for (int shift = 0; shift < 32; shift += 8) bytes += static_cast<char>((bits >> shift) & 0xff);
    }
    return bytes;
}

// The output directory as one run should leave it: the wfdisc file with the
// lines of every channel in table order, and the ".w" file of every channel
// (a later channel of the same name replaces an earlier one's file).
Tree expectedOutput(const std::string& wfdiscName, const std::vector<ExpectedChannel>& channels)
{
    Tree tree;
    std::string& wfdisc = tree[wfdiscName];
    for (const ExpectedChannel& c : channels) {
        wfdisc += wfdiscLine(c);
        tree[dataFileName(c)] = floatBytes(c.samples);
    }
    return tree;
}

// The tree with every path put below prefix, and the directories on the way.
Tree below(const std::string& prefix, const Tree& tree)
{
    Tree result;
    for (std::size_t slash = prefix.find('/'); slash != std::string::npos; slash = prefix.find('/', slash + 1))
        result[prefix.substr(0, slash + 1)];
    result[prefix + "/"];
    for (const auto& [name, bytes] : tree) result[prefix + "/" + name] = bytes;
    return result;
}

class CssRunTest : public ProgramFixture {
protected:
    // CSS output takes no time zone into account: a zone twelve hours east
    // of UTC would show in every name and jdate if it did.
    CssRunTest() { timeZone = "KAMT-12"; }

    void SetUp() override
    {
        ProgramFixture::SetUp();
        if (IsSkipped() || HasFatalFailure()) return;
        writeIni("[sta0]\nname=kam\nc1=BHZ\nc2=BHN\nc3=BHE\nc6=bhz\n"
                 "[sta1]\nname=Kamchat\nc1=HHZ\nc2=HHNlong\nc5=HHE\n",
                 2);
        addSitechan({{"KAM", "BHZ", 100}, {"KAM", "BHN", 100}, {"KAM", "BHE", 100}, {"KAMCHAT", "HHZ", 100},
                     {"KAMCHAT", "HHNLONG", 20}});
    }

    ProcessResult convert(const std::string& station, const std::string& winFile, const std::string& css,
                          const std::vector<std::pair<std::string, std::string>>& extraEnvironment = {})
    {
        return run(TREMCVT_BINARY, {station, winFile, "css=" + css}, extraEnvironment);
    }

    // Writes a WIN file of consecutive seconds from start; each channel is
    // present from its first second on for its number of seconds, with
    // synthetic samples. Fills in the channels' expected start, end and
    // samples.
    struct ChannelPlan {
        std::uint16_t id;
        int sps;
        int firstSecond;
        int seconds;
        int amplitude;
        ExpectedChannel* expected;
    };
    std::string writeWin(const std::string& name, double start, int seconds, const std::vector<ChannelPlan>& plans)
    {
        std::vector<WinSecond> blocks(static_cast<std::size_t>(seconds));
        for (int s = 0; s < seconds; ++s) {
            EXPECT_TRUE(setSecondTime(blocks[s], start + s));
            for (const ChannelPlan& plan : plans) {
                if (s < plan.firstSecond || s >= plan.firstSecond + plan.seconds) continue;
                WinChannelSecond channel;
                channel.channelId = plan.id;
                channel.samples = syntheticSecond(plan.id, 3, static_cast<std::int64_t>(start) + s, plan.sps,
                                                  plan.amplitude);
                ExpectedChannel& e = *plan.expected;
                if (s == plan.firstSecond) e.startTime = start + s;
                e.endTime = start + s + 1;
                e.sps = plan.sps;
                e.samples.insert(e.samples.end(), channel.samples.begin(), channel.samples.end());
                blocks[s].channels.push_back(channel);
            }
        }
        const std::string path = (winDir / name).string();
        EXPECT_TRUE(writeWinFile(path, blocks));
        return path;
    }

    const fs::path& dataDir = archiveDir;
    const fs::path& outRoot = outputDir;
};

TEST_P(CssRunTest, WritesOneWfdiscLineAndOneDataFilePerChannelAndNothingElse)
{
    struct Case {
        const char* name;
        std::string station;  // as typed on the command line
        std::string css;
        bool belowDataDir;  // the output lies below the data directory
        std::string outputDir;  // relative to outRoot or dataDir
        std::string wfdiscName;
    };
    const Case cases[] = {
        // Absolute path, missing directories on the way.
        {"two channels, absolute path", "kam", (outRoot / "a/b/run1.wfdisc").string(), false, "a/b", "run1.wfdisc"},
        // Relative path in Windows spelling: below the data directory.
        {"three channels, relative path", "kamchat", "css\\day\\x.wfdisc", true, "css/day", "x.wfdisc"},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.name);
        std::vector<ExpectedChannel> channels;
        std::string win;
        if (c.station == "kam") {
            channels = {{"KAM", "BHZ"}, {"KAM", "BHN"}};
            win = writeWin("two.win", utc(2009, 3, 5, 7, 8, 9), 3,
                           {{0xc1, 100, 0, 3, 30000, &channels[0]}, {0xc2, 100, 0, 3, 30000, &channels[1]}});
            // The jdate column, as a CSS reader takes it.
            ASSERT_EQ(wfdiscLine(channels[0]).substr(52, 8), " 2009064");
        } else {
            // Across the midnight after a leap day; the third channel first
            // occurs in the second block (so it starts on the next day), one
            // channel has samples beyond 2^24 that float32 rounds, the
            // 7-character station is cut in the sta column, and the ".w"
            // name of the 7-character component (34 characters) is cut in
            // the dfile column; the files keep their whole names.
            channels = {{"KAMCHAT", "HHZ"}, {"KAMCHAT", "HHNLONG"}, {"KAMCHAT", "HHE"}};
            win = writeWin("three.win", utc(2012, 2, 29, 23, 59, 59), 4,
                           {{0xc1, 100, 0, 4, 30000, &channels[0]},
                            {0xc2, 20, 0, 3, 40000000, &channels[1]},
                            {0xc5, 100, 1, 3, 500, &channels[2]}});
            ASSERT_EQ(wfdiscLine(channels[0]).substr(52, 8), " 2012060");
            ASSERT_EQ(wfdiscLine(channels[2]).substr(52, 8), " 2012061");
            ASSERT_EQ(dataFileName(channels[1]).size(), 34u);
        }
        const Tree before = treeOf(dataDir);
        ASSERT_EQ(before, Tree{});

        const ProcessResult run = convert(c.station, win, c.css);
        ASSERT_TRUE(run.exited) << run.errorOutput;
        EXPECT_EQ(run.output, kCleanChecks);
        EXPECT_EQ(run.exitStatus, 0);

        const Tree expected = below(c.outputDir, expectedOutput(c.wfdiscName, channels));
        EXPECT_EQ(treeDifferences(expected, treeOf(c.belowDataDir ? dataDir : outRoot)), std::vector<std::string>{});
        // The TRZ archive is not touched: nothing else below the data
        // directory and no catalogue row.
        if (!c.belowDataDir) {
            EXPECT_EQ(treeOf(dataDir), Tree{});
        }
        EXPECT_EQ(database->filelistRows(), 0u);

        fs::remove_all(c.belowDataDir ? dataDir / "css" : outRoot / "a");
    }
}

TEST_P(CssRunTest, LaterRunsRewriteTheWfdiscFileAndTheirOwnDataFilesFromScratch)
{
    std::vector<ExpectedChannel> first = {{"KAM", "BHZ"}, {"KAM", "BHN"}};
    const std::string firstWin = writeWin("first.win", utc(2010, 3, 3, 2, 0, 0), 2,
                                          {{0xc1, 100, 0, 2, 30000, &first[0]}, {0xc2, 100, 0, 2, 30000, &first[1]}});
    std::vector<ExpectedChannel> second = {{"KAM", "BHE"}};
    const std::string secondWin =
        writeWin("second.win", utc(2010, 3, 3, 2, 1, 0), 2, {{0xc3, 100, 0, 2, 30000, &second[0]}});
    const fs::path outDir = outRoot / "run";
    const std::string css = (outDir / "run.wfdisc").string();

    // Longer files than the run writes stand where its wfdisc file and one
    // of its ".w" files go: both must end up exactly as written.
    fs::create_directories(outDir);
    ASSERT_TRUE(writeFile(outDir / "run.wfdisc", std::string(5000, 'x') + "\n"));
    ASSERT_TRUE(writeFile(outDir / dataFileName(first[1]), std::string(100000, '\7')));

    ProcessResult run = convert("KAM", firstWin, css);
    ASSERT_TRUE(run.exited) << run.errorOutput;
    EXPECT_EQ(run.output, kCleanChecks);
    const Tree afterFirst = expectedOutput("run.wfdisc", first);
    EXPECT_EQ(treeDifferences(afterFirst, treeOf(outDir)), std::vector<std::string>{});

    // The same conversion again leaves the same bytes.
    run = convert("KAM", firstWin, css);
    EXPECT_EQ(run.output, kCleanChecks);
    EXPECT_EQ(treeDifferences(afterFirst, treeOf(outDir)), std::vector<std::string>{});

    // Another file to the same wfdisc path: the wfdisc file describes only
    // that run's channel; the earlier ".w" files stay as they were.
    run = convert("KAM", secondWin, css);
    EXPECT_EQ(run.output, kCleanChecks);
    Tree afterSecond = expectedOutput("run.wfdisc", second);
    for (const ExpectedChannel& c : first) afterSecond[dataFileName(c)] = floatBytes(c.samples);
    EXPECT_EQ(treeDifferences(afterSecond, treeOf(outDir)), std::vector<std::string>{});
    EXPECT_EQ(treeOf(dataDir), Tree{});
    EXPECT_EQ(database->filelistRows(), 0u);
}

TEST_P(CssRunTest, ChannelsWithTheSameNameAndStartShareTheLaterChannelsDataFile)
{
    // c1 and c6 both map to BHZ (c6 as "bhz", upper-cased on output) and
    // start in the same second; c6 comes second in the table and ends a
    // second earlier, so the lines differ and the file tells whose it is.
    std::vector<ExpectedChannel> channels = {{"KAM", "BHZ"}, {"KAM", "BHZ"}};
    const std::string win = writeWin("same.win", utc(2009, 7, 6, 10, 30, 15), 3,
                                     {{0xc1, 100, 0, 3, 30000, &channels[0]}, {0xc6, 100, 0, 2, 30000, &channels[1]}});
    const std::string css = (outRoot / "same.wfdisc").string();

    const ProcessResult run = convert("KAM", win, css);
    ASSERT_TRUE(run.exited) << run.errorOutput;
    EXPECT_EQ(run.output, kCleanChecks);

    const std::string name = dataFileName(channels[0]);
    ASSERT_EQ(name, "0-10301506072009-KAM-BHZ.w");
    const Tree expected = {{"same.wfdisc", wfdiscLine(channels[0]) + wfdiscLine(channels[1])},
                           {name, floatBytes(channels[1].samples)}};
    EXPECT_EQ(treeDifferences(expected, treeOf(outRoot)), std::vector<std::string>{});
}

TEST_P(CssRunTest, OutputThatCannotBeWrittenIsReportedAndLeavesNothing)
{
    // A regular file where a directory of the path would have to be: as
    // root, permission bits would not stop the write.
    ASSERT_TRUE(writeFile(outRoot / "blocker", "keep\n"));
    ASSERT_TRUE(writeFile(dataDir / "plain", "keep\n"));
    std::vector<ExpectedChannel> channels = {{"KAM", "BHZ"}, {"KAM", "BHN"}};
    const std::string win = writeWin("two.win", utc(2009, 3, 5, 7, 8, 9), 2,
                                     {{0xc1, 100, 0, 2, 30000, &channels[0]}, {0xc2, 100, 0, 2, 30000, &channels[1]}});

    struct Case {
        const char* name;
        std::string css;
        std::string reportedPath;
        std::string reason;  // what standard error says about it
        std::vector<std::pair<std::string, std::string>> faults;
    };
    const std::string data = dataDir.string();
    const std::string inOut = (outRoot / "x.wfdisc").string();
    const Case cases[] = {
        // An empty value names the data directory itself: there is no file
        // to write, and the data directory is not filled with ".w" files.
        {"empty value", "", data + "/", data + "/: names a directory, not a wfdisc file", {}},
        {"directory only", "newdir/", data + "/newdir/", data + "/newdir/: names a directory", {}},
        {"below a file, absolute", (outRoot / "blocker/sub/x.wfdisc").string(),
         (outRoot / "blocker/sub/x.wfdisc").string(), "/blocker/sub/x.wfdisc: open: Not a directory", {}},
        {"below a file, relative", "plain\\x.wfdisc", data + "/plain/x.wfdisc",
         data + "/plain/x.wfdisc: open: Not a directory", {}},
        {"the wfdisc path is a directory", outRoot.string(), outRoot.string(),
         outRoot.string() + ": open: Is a directory", {}},
        // The output's file calls pass the fault points: a refused open of
        // the wfdisc file, and a failed write of a ".w" file, whose partial
        // file is removed again (the wfdisc file stays).
        {"wfdisc open fails", inOut, inOut, inOut + ": open: ",
         {{"TREMCVT_FAULT_SITES", "open"}, {"TREMCVT_FAULT_AT", "1"}}},
        {"data file write fails", inOut, inOut, ".w: write: ",
         {{"TREMCVT_FAULT_SITES", "write"}, {"TREMCVT_FAULT_AT", "2"}}},
        {"directories cannot be made", (outRoot / "new/x.wfdisc").string(), (outRoot / "new/x.wfdisc").string(),
         "/new/x.wfdisc: open: No such file or directory",
         {{"TREMCVT_FAULT_SITES", "mkdir"}, {"TREMCVT_FAULT_AT", "1"}, {"TREMCVT_FAULT_ACTION", "fail-onward"}}},
    };
    const Tree outBefore = treeOf(outRoot);
    const Tree dataBefore = treeOf(dataDir);
    const Tree workBefore = treeOf(workDir);
    for (const Case& c : cases) {
        SCOPED_TRACE(c.name);
        const ProcessResult run = convert("KAM", win, c.css, c.faults);
        ASSERT_TRUE(run.exited) << run.errorOutput;
        EXPECT_EQ(run.output, kCleanChecks + "CSS write error (" + c.reportedPath + ")\n");
        EXPECT_NE(run.errorOutput.find("tremcvt: "), std::string::npos) << run.errorOutput;
        EXPECT_NE(run.errorOutput.find(c.reason), std::string::npos) << run.errorOutput;
        // Channels were not stored: the run ends with -6, never a count.
        EXPECT_EQ(run.exitStatus, 250);
        Tree outAfter = treeOf(outRoot);
        if (c.css == inOut && !c.faults.empty() && c.faults[0].second == "write") {
            // The wfdisc file was written before the failing ".w" file.
            EXPECT_EQ(outAfter.erase("x.wfdisc"), 1u);
            fs::remove(inOut);
        }
        EXPECT_EQ(treeDifferences(outBefore, outAfter), std::vector<std::string>{});
        EXPECT_EQ(treeDifferences(dataBefore, treeOf(dataDir)), std::vector<std::string>{});
        EXPECT_EQ(treeDifferences(workBefore, treeOf(workDir)), std::vector<std::string>{});
        EXPECT_EQ(database->filelistRows(), 0u);
    }

#ifdef TREMCVT_BATCH_BINARY
    // A batch counts such a file as a CSS write failure and passes the
    // reason on.
    const std::string blocked = (outRoot / "blocker/x.wfdisc").string();
    const ProcessResult batch = run(TREMCVT_BATCH_BINARY, {"KAM", "--files", win, "css=" + blocked});
    ASSERT_TRUE(batch.exited) << batch.errorOutput;
    EXPECT_NE(batch.output.find("CSS write error (" + blocked + ")\n"), std::string::npos) << batch.output;
    EXPECT_NE(batch.output.find("CSS write 1,"), std::string::npos) << batch.output;
    EXPECT_NE(batch.output.find("Failed: " + win + " (CSS write)\n"), std::string::npos) << batch.output;
    EXPECT_NE(batch.errorOutput.find(blocked + ": open: Not a directory"), std::string::npos) << batch.errorOutput;
#endif
}

TEST_P(CssRunTest, ComponentThatCannotStandInAFileNameWritesNoDataFile)
{
    // With the directory "0-07080905032009-X-" present in the output
    // directory, the ".w" name of component "/../../" would lead the file
    // out of the output directory. The wfdisc line still describes the
    // channel.
    writeIni("[sta0]\nname=x\nc1=/../../\n", 1);
    ASSERT_TRUE(database->execute("insert into SITECHAN(STA,CHAN,SPS,LCODE) values('X','/../../',100,'?\?');"));
    std::vector<ExpectedChannel> channels = {{"X", "/../../"}};
    const std::string win =
        writeWin("up.win", utc(2009, 3, 5, 7, 8, 9), 2, {{0xc1, 100, 0, 2, 30000, &channels[0]}});
    ASSERT_EQ(dataFileName(channels[0]), "0-07080905032009-X-/../../.w");
    fs::create_directories(outRoot / "a/b/0-07080905032009-X-");

    const ProcessResult run = convert("x", win, (outRoot / "a/b/up.wfdisc").string());
    ASSERT_TRUE(run.exited) << run.errorOutput;
    EXPECT_EQ(run.output, kCleanChecks);
    const Tree expected = {{"a/", ""},
                           {"a/b/", ""},
                           {"a/b/0-07080905032009-X-/", ""},
                           {"a/b/up.wfdisc", wfdiscLine(channels[0])}};
    EXPECT_EQ(treeDifferences(expected, treeOf(outRoot)), std::vector<std::string>{});
    for (const auto& [name, bytes] : treeOf(tempDir->path())) EXPECT_FALSE(name.ends_with(".w")) << name;
}

// windump's report of a WIN file: per channel, in order of first occurrence,
// its number, start, end, samples per second and samples.
struct DumpedChannel {
    unsigned id = 0;
    ExpectedChannel channel;  // station and component left empty
};

std::vector<DumpedChannel> dumpSamples(const std::string& winFile)
{
    const ProcessResult dump = runProgram(WINDUMP_PATH, {"--samples", winFile});
    EXPECT_TRUE(dump.exited && dump.exitStatus == 0) << dump.errorOutput;
    std::vector<DumpedChannel> channels;
    std::vector<long> declared;
    std::istringstream in(dump.output);
    std::string line;
    while (std::getline(in, line)) {
        if (line.rfind("channel=", 0) == 0) {
            int t[12];
            unsigned id;
            int sps;
            long count;
            if (std::sscanf(line.c_str(),
                            "channel=%x start=%d-%d-%dT%d:%d:%d end=%d-%d-%dT%d:%d:%d sps=%d samples=%ld", &id, &t[0],
                            &t[1], &t[2], &t[3], &t[4], &t[5], &t[6], &t[7], &t[8], &t[9], &t[10], &t[11], &sps,
                            &count) != 15) {
                ADD_FAILURE() << "windump line not understood: " << line;
                return {};
            }
            DumpedChannel dumped;
            dumped.id = id;
            dumped.channel.startTime = utc(t[0], t[1], t[2], t[3], t[4], t[5]);
            dumped.channel.endTime = utc(t[6], t[7], t[8], t[9], t[10], t[11]);
            dumped.channel.sps = sps;
            channels.push_back(dumped);
            declared.push_back(count);
        } else if (!channels.empty() && !line.empty()) {
            // windump prints the float32 samples as whole numbers.
            channels.back().channel.samples.push_back(static_cast<std::int32_t>(std::stod(line)));
        }
    }
    for (std::size_t i = 0; i < channels.size(); ++i)
        EXPECT_EQ(static_cast<long>(channels[i].channel.samples.size()), declared[i]) << "channel " << i;
    return channels;
}

TEST_P(CssRunTest, RealRecordingsGiveTheSamplesThatWindumpReports)
{
    const fs::path folder = TREMCVT_SHARED_WIN_DIR;
    if (!fs::is_directory(folder)) GTEST_SKIP() << "the real WIN recordings are not present in " << folder;
    std::vector<fs::path> files;
    for (const auto& entry : fs::directory_iterator(folder))
        if (entry.is_regular_file() && entry.path().filename() != "README.md") files.push_back(entry.path());
    if (files.empty()) GTEST_SKIP() << "no WIN recordings in " << folder;
    std::sort(files.begin(), files.end());

    // A station list and SITECHAN rows for every channel of the recordings,
    // so that every run is clean: channel 0xa100 becomes component "ra100",
    // written as "RA100".
    std::map<std::string, std::vector<DumpedChannel>> dumps;
    std::map<unsigned, int> rates;
    for (const fs::path& file : files) {
        dumps[file.string()] = dumpSamples(file.string());
        ASSERT_FALSE(dumps[file.string()].empty()) << file;
        for (const DumpedChannel& c : dumps[file.string()]) rates[c.id] = c.channel.sps;
    }
    const auto key = [](unsigned id) {
        char text[16];
        std::snprintf(text, sizeof text, "%x", id);
        return std::string(text);
    };
    const auto component = [&](unsigned id) {
        std::string name = "R" + key(id);
        for (char& ch : name) ch = static_cast<char>(std::toupper(static_cast<unsigned char>(ch)));
        return name;
    };
    std::string ini = "[sta0]\nname=REC\n";
    std::string sitechan;
    for (const auto& [id, sps] : rates) {
        ini += key(id) + "=r" + key(id) + "\n";
        sitechan += "insert into SITECHAN(STA,CHAN,SPS,LCODE) values('REC','" + component(id) + "'," +
                    std::to_string(sps) + ",'?\?');";
    }
    writeIni(ini, 1);
    ASSERT_TRUE(database->execute(sitechan));

    for (const fs::path& file : files) {
        SCOPED_TRACE(file.filename().string());
        std::vector<ExpectedChannel> channels;
        for (const DumpedChannel& dumped : dumps[file.string()]) {
            channels.push_back(dumped.channel);
            channels.back().station = "REC";
            channels.back().component = component(dumped.id);
        }
        const fs::path outDir = outRoot / file.filename();
        const ProcessResult run = convert("REC", file.string(), (outDir / "rec.wfdisc").string());
        ASSERT_TRUE(run.exited) << run.errorOutput;
        EXPECT_EQ(run.output, kCleanChecks);
        EXPECT_EQ(run.exitStatus, 0);
        EXPECT_EQ(treeDifferences(expectedOutput("rec.wfdisc", channels), treeOf(outDir)), std::vector<std::string>{});
    }
    EXPECT_EQ(treeOf(dataDir), Tree{});
    EXPECT_EQ(database->filelistRows(), 0u);
}

// Irregular minute files: one wfdisc line per segment, each with its own
// time, nsamp, samprate and foff into the channel's ".w" file, which holds
// the segments one after another; every sample at its true time, once, at
// each rate and place the irregular minutes are tried.
TEST_P(CssRunTest, IrregularMinutesGiveOneWfdiscLinePerSegment)
{
    for (const IrregularPlacement& at : irregularPlacements()) {
        setSitechanRate(*database, "KAM", at.rate);
        const std::int64_t minute = at.minute;
        for (const IrregularCase& c : irregularCases()) {
            SCOPED_TRACE(c.name + ", " + at.name);
            const std::string win = (winDir / "irregular").string();
            ASSERT_TRUE(writeWinFile(win, irregularSeconds(c.blocks, minute, at.rate)));
            const std::string wfdisc = (outRoot / "irregular.wfdisc").string();
            const ProcessResult run = convert("KAM", win, wfdisc);
            EXPECT_EQ(run.exitStatus, 0) << run.output << run.errorOutput;
            EXPECT_NE(run.errorOutput.find("tremcvt: KAM::BHZ: "), std::string::npos) << run.errorOutput;

            std::map<std::string, TimedSamples> stored;  // by channel
            std::istringstream lines(readFile(wfdisc));
            std::string line;
            while (std::getline(lines, line)) {
                std::istringstream fields(line);
                std::string sta, chan, skip, dfile;
                double time = 0, endtime = 0, samprate = 0;
                long nsamp = 0, foff = 0;
                fields >> sta >> chan >> time >> skip >> skip >> skip >> endtime >> nsamp >> samprate;
                for (int i = 0; i < 7; ++i) fields >> skip;
                fields >> dfile >> foff;
                ASSERT_TRUE(fields) << line;
                EXPECT_NEAR((endtime - time) * samprate, static_cast<double>(nsamp), 1e-3) << line;
                const std::string bytes = readFile(outRoot / dfile);
                ASSERT_GE(bytes.size(), static_cast<std::size_t>(foff + 4 * nsamp)) << line;
                std::vector<float> samples(static_cast<std::size_t>(nsamp));
                std::memcpy(samples.data(), bytes.data() + foff, 4 * samples.size());
                EXPECT_EQ(addStored(stored[chan], static_cast<double>(minute), time, samprate, samples.data(),
                                    samples.size()),
                          0)
                    << line;
            }
            for (const Channel& channel : kChannels) {
                SCOPED_TRACE(channel.component);
                EXPECT_EQ(stored[channel.component], expectedSamples(c.blocks, channel.id, at.rate));
            }
        }
    }
}

INSTANTIATE_TEST_SUITE_P(Databases, CssRunTest, ::testing::Values(DatabaseKind::SQLite), databaseKindTestName);

}  // namespace
}  // namespace tremcvt::test
