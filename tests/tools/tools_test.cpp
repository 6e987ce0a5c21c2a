// The operator programs windump and winwrite, run as built.
#include <gtest/gtest.h>

#include <cstdio>
#include <cstdlib>
#include <filesystem>
#include <fstream>
#include <map>
#include <sstream>
#include <string>
#include <vector>

#include "common/calendar/calendar.h"
#include "tests/support/test_support.h"
#include "tools/winwriter/win_writer.h"

namespace tremcvt {
namespace {

namespace fs = std::filesystem;

struct ProgramRun {
    int status = -1;
    std::string out;
    std::string err;
};

class ToolsTest : public ::testing::Test {
protected:
    static ProgramRun run(const std::string& program, const std::vector<std::string>& args)
    {
        const test::ProcessResult r = test::runProgram(program, args);
        return {r.exited ? r.exitStatus : -1, r.output, r.errorOutput};
    }
    static std::string slurp(const std::string& path) { return test::readFile(path); }

    test::TempDir temp_;
    const std::string dir_ = temp_.path().string();
};

// The channel lines of windump's output, per file.
std::map<std::string, std::vector<std::string>> channelLines(const std::string& output)
{
    std::map<std::string, std::vector<std::string>> out;
    std::istringstream in(output);
    std::string line, file;
    while (std::getline(in, line)) {
        if (line.rfind("file=", 0) == 0) {
            file = fs::path(line.substr(5)).filename().string();
            out[file];
        } else if (line.rfind("channel=", 0) == 0) {
            out[file].push_back(line);
        }
    }
    return out;
}

TEST_F(ToolsTest, WindumpReproducesTheSharedRecordings)
{
    const fs::path folder = TREMCVT_SHARED_WIN_DIR;
    if (!fs::exists(folder / "README.md")) {
        GTEST_SKIP() << "the real WIN recordings are not present in " << folder << "; skipping";
    }
    // The README lists, per file, lines such as
    //   a100  2010-03-03T02:00:00Z  sr=100  npts=6000  first5=[...]  sum=...  sum_f32=-65975266.0
    // The float sum is what windump prints; the end time is the start plus
    // one second per block, i.e. npts / sr for these regular files.
    std::map<std::string, std::vector<std::string>> expected;
    std::ifstream readme(folder / "README.md");
    std::string line, file;
    while (std::getline(readme, line)) {
        if (!line.empty() && line.back() == ':' && line.find(' ') == std::string::npos &&
            fs::exists(folder / line.substr(0, line.size() - 1))) {
            file = line.substr(0, line.size() - 1);
            expected[file];
            continue;
        }
        char channel[8];
        int year, month, day, hour, minute, second;
        long sps, npts;
        const std::size_t sumAt = line.find("sum_f32=");
        if (file.empty() || sumAt == std::string::npos ||
            std::sscanf(line.c_str(), " %4[0-9a-f] %4d-%2d-%2dT%2d:%2d:%2dZ sr=%ld npts=%ld", channel, &year, &month,
                        &day, &hour, &minute, &second, &sps, &npts) != 9)
            continue;
        const double sum = std::strtod(line.c_str() + sumAt + 8, nullptr);
        const double start = secondsFromCivil(year, month, day, hour, minute, float(second));
        CivilTime end;
        civilFromSeconds(start + double(npts / sps), end);
        char text[256];
        std::snprintf(text, sizeof text,
                      "channel=%s start=%04d-%02d-%02dT%02d:%02d:%02d end=%04d-%02d-%02dT%02d:%02d:%02d sps=%ld "
                      "samples=%ld sum=%.0f",
                      channel, year, month, day, hour, minute, second, end.year, end.month, end.day, end.hour,
                      end.minute, int(end.second), sps, npts, sum);
        expected[file].push_back(text);
    }
    // Every recording of the folder has its expected values.
    for (const auto& entry : fs::directory_iterator(folder)) {
        const std::string name = entry.path().filename().string();
        if (name != "README.md") {
            EXPECT_EQ(expected.count(name), 1u) << name << " is not in the README's table";
        }
    }
    ASSERT_FALSE(expected.empty()) << "the README's table was not understood";

    std::vector<std::string> args;
    for (const auto& [name, lines] : expected) args.push_back((folder / name).string());
    const ProgramRun r = run(WINDUMP_PATH, args);
    EXPECT_EQ(r.status, 0) << r.err;
    EXPECT_EQ(channelLines(r.out), expected);
}

TEST_F(ToolsTest, WindumpPrintsChannelsAndSamplesAndGoesOnAfterAMissingFile)
{
    const double t0 = secondsFromCivil(1999, 12, 31, 23, 59, 58.0f);
    std::vector<WinSecond> seconds(3);
    for (std::size_t k = 0; k < seconds.size(); ++k) setSecondTime(seconds[k], t0 + double(k));
    seconds[0].channels = {{0xA100, {1, -2, 3}}, {0x00C1, {100000, 100001}, 4}};
    seconds[1].channels = {{0x00C1, {-5, -6}}};  // a100 missing
    seconds[2].channels = {{0xA100, {16777217, 0, 0}, 5}, {0x00C1, {7, 8}}};
    const std::string good = dir_ + "/a.win";
    ASSERT_TRUE(writeWinFile(good, seconds));
    const std::string missing = dir_ + "/missing.win";

    const ProgramRun r = run(WINDUMP_PATH, {"--samples", good, missing, good});
    EXPECT_NE(r.status, 0);
    EXPECT_NE(r.err.find(missing), std::string::npos) << r.err;
    // 16777217 is not a float: it prints as its nearest float. a100 misses
    // a second: two segments with the gap between them.
    const std::string one = "file=" + good + "\n" +
                            "channel=a100 start=1999-12-31T23:59:58 end=1999-12-31T23:59:59 sps=3 samples=3 "
                            "sum=2\n1\n-2\n3\n"
                            "gap channel=a100 from=1999-12-31T23:59:59 to=2000-01-01T00:00:00 seconds=1\n"
                            "channel=a100 start=2000-01-01T00:00:00 end=2000-01-01T00:00:01 sps=3 samples=3 "
                            "sum=16777216\n16777216\n0\n0\n"
                            "channel=00c1 start=1999-12-31T23:59:58 end=2000-01-01T00:00:01 sps=2 samples=6 "
                            "sum=200005\n100000\n100001\n-5\n-6\n7\n8\n";
    EXPECT_EQ(r.out, one + one);
}

TEST_F(ToolsTest, WindumpPrintsSegmentsAndGapsOfAnIrregularFile)
{
    // Every sample of second s is s + 1. Second 30 is missing, a100 also
    // misses seconds 20-24, second 12 comes twice (00c1's copy differing)
    // and seconds 40 and 41 are swapped.
    const double t0 = secondsFromCivil(2010, 3, 3, 2, 0, 0.0f);
    std::vector<WinSecond> seconds;
    std::vector<int> order;
    for (int s = 0; s < 60; ++s) {
        if (s != 30) order.push_back(s == 40 ? 41 : s == 41 ? 40 : s);
        if (s == 12) order.push_back(-12);
    }
    for (const int s : order) {
        const int at = s < 0 ? -s : s;
        WinSecond second;
        setSecondTime(second, t0 + at);
        if (at < 20 || at > 24) second.channels.push_back({0xA100, std::vector<std::int32_t>(100, at + 1)});
        second.channels.push_back({0x00C1, std::vector<std::int32_t>(20, s < 0 ? 999 : at + 1)});
        seconds.push_back(second);
    }
    const std::string path = dir_ + "/irregular.win";
    ASSERT_TRUE(writeWinFile(path, seconds));

    const ProgramRun r = run(WINDUMP_PATH, {path});
    EXPECT_EQ(r.status, 0);
    EXPECT_EQ(r.out, "file=" + path + "\n" +
                         "channel=a100 start=2010-03-03T02:00:00 end=2010-03-03T02:00:20 sps=100 samples=2000 sum=21000\n"
                         "gap channel=a100 from=2010-03-03T02:00:20 to=2010-03-03T02:00:25 seconds=5\n"
                         "channel=a100 start=2010-03-03T02:00:25 end=2010-03-03T02:00:30 sps=100 samples=500 sum=14000\n"
                         "gap channel=a100 from=2010-03-03T02:00:30 to=2010-03-03T02:00:31 seconds=1\n"
                         "channel=a100 start=2010-03-03T02:00:31 end=2010-03-03T02:01:00 sps=100 samples=2900 sum=133400\n"
                         "channel=00c1 start=2010-03-03T02:00:00 end=2010-03-03T02:00:30 sps=20 samples=600 sum=9300\n"
                         "gap channel=00c1 from=2010-03-03T02:00:30 to=2010-03-03T02:00:31 seconds=1\n"
                         "channel=00c1 start=2010-03-03T02:00:31 end=2010-03-03T02:01:00 sps=20 samples=580 sum=26680\n");
    const std::string prefix = "windump: " + path + ": ";
    EXPECT_EQ(r.err, prefix + "a100: 2 gaps: 2010-03-03T02:00:20 - 2010-03-03T02:00:25 (5 s), "
                              "2010-03-03T02:00:30 - 2010-03-03T02:00:31 (1 s)\n" +
                         prefix + "a100: repeated second 2010-03-03T02:00:12 (identical copy dropped)\n" +
                         prefix + "a100: out-of-order block 2010-03-03T02:00:40 (put in its place)\n" +
                         prefix + "00c1: gap 2010-03-03T02:00:30 - 2010-03-03T02:00:31 (1 s)\n" +
                         prefix + "00c1: repeated second 2010-03-03T02:00:12 (differing copy dropped)\n" +
                         prefix + "00c1: out-of-order block 2010-03-03T02:00:40 (put in its place)\n");
}

TEST_F(ToolsTest, WinwriteMakesContinuousMinuteFilesInTheLaunchersLayout)
{
    const ProgramRun help = run(WINWRITE_PATH, {"--help"});
    EXPECT_EQ(help.status, 0);
    EXPECT_NE(help.out.find("Usage: winwrite"), std::string::npos);
    EXPECT_EQ(run(WINWRITE_PATH, {"--bogus", dir_ + "/x.win"}).status, 2);
    EXPECT_EQ(run(WINWRITE_PATH, {"--channel", "12345:100", dir_ + "/x.win"}).status, 2);
    EXPECT_EQ(run(WINWRITE_PATH, {"--start", "2009-02-29T00:00:00", dir_ + "/x.win"}).status, 2);
    // The default signal does not fit 4-bit differences: refused, no file left.
    EXPECT_NE(run(WINWRITE_PATH, {"--size-code", "0", dir_ + "/x.win"}).status, 0);
    EXPECT_FALSE(fs::exists(dir_ + "/x.win"));

    const std::string tree = dir_ + "/tree";
    const ProgramRun made = run(WINWRITE_PATH, {"--minutes", "2", "--start", "2009-12-31T23:59:30", "--channel", "c1:100",
                                         "--channel", "c2:100", "--channel", "C3:20", tree});
    ASSERT_EQ(made.status, 0) << made.err;
    const std::string first = tree + "/091231/09123123/09123123.59";
    const std::string second = tree + "/100101/10010100/10010100.00";
    EXPECT_EQ(made.out, first + "\n" + second + "\n");

    const ProgramRun dump = run(WINDUMP_PATH, {second});
    ASSERT_EQ(dump.status, 0) << dump.err;
    const auto lines = channelLines(dump.out)["10010100.00"];
    ASSERT_EQ(lines.size(), 3u);
    EXPECT_EQ(lines[0].rfind("channel=00c1 start=2010-01-01T00:00:00 end=2010-01-01T00:01:00 sps=100 samples=6000 ", 0), 0u);
    EXPECT_EQ(lines[2].rfind("channel=00c3 start=2010-01-01T00:00:00 end=2010-01-01T00:01:00 sps=20 samples=1200 ", 0), 0u);

    // The signal depends on the time only: the same minute written on its own
    // is the same file, byte for byte.
    const std::string alone = dir_ + "/alone.win";
    ASSERT_EQ(run(WINWRITE_PATH, {"--start", "2010-01-01T00:00:00", "--seconds", "60", "--channel", "c1:100",
                                  "--channel", "c2:100", "--channel", "c3:20", alone})
                  .status,
              0);
    EXPECT_EQ(slurp(alone), slurp(second));
    EXPECT_NE(slurp(first), slurp(second));
}

}  // namespace
}  // namespace tremcvt
