// WIN files by minute: names across month, year and century ends, the three
// layouts in their order, and the lookup on a real directory tree.
#include <gtest/gtest.h>

#include <filesystem>
#include <fstream>
#include <string>
#include <vector>

#include "common/paths.h"
#include "common/batch/time_texts.h"
#include "common/batch/win_files.h"
#include "tests/support/fresh_directory.h"

namespace tremcvt {
namespace {

const std::string kSep(1, kNativeSeparator);

std::vector<std::string> minuteFileNames(const char* startText, int steps)
{
    const std::optional<StartTime> start = parseStartTime(startText);
    if (!start) return {"no start"};
    std::vector<std::string> names;
    double t = startSeconds(*start);
    for (int i = 0; i < steps; ++i, t += 60.0) {
        MinuteName name;
        if (!minuteName(t, name)) return {"no date"};
        names.push_back(winFileName(name));
    }
    return names;
}

TEST(WinFiles, MinuteSteppingNamesFiles)
{
    struct Case {
        const char* start;
        std::vector<std::string> names;
    };
    const Case cases[] = {
        {"31/12/2009 23:59", {"09123123.59", "10010100.00"}},
        {"28/02/2008 23:59", {"08022823.59", "08022900.00"}},  // into a leap day
        {"28/02/2009 23:59", {"09022823.59", "09030100.00"}},
        {"31/12/1999 23:58", {"99123123.58", "99123123.59", "00010100.00"}},
        {"30/04/2010 23:59", {"10043023.59", "10050100.00"}},
        {"14/09/2009 11:04", {"09091411.04"}},
    };
    for (const Case& c : cases) {
        EXPECT_EQ(minuteFileNames(c.start, static_cast<int>(c.names.size())), c.names) << c.start;
    }
    EXPECT_EQ(twoDigitYear(1999), 99);
    EXPECT_EQ(twoDigitYear(2000), 0);
    EXPECT_EQ(twoDigitYear(1970), 70);
}

TEST(WinFiles, LayoutsInTheOrderTried)
{
    const MinuteName name{9, 9, 14, 11, 4};
    const std::string dir = "win dir";
    const auto layouts = winFileLayouts(dir, name);
    EXPECT_EQ(layouts[0], dir + kSep + "090914" + kSep + "09091411" + kSep + "09091411.04");
    EXPECT_EQ(layouts[1], dir + kSep + "090914" + kSep + "09091411.04");
    EXPECT_EQ(layouts[2], dir + kSep + "09091411.04");
}

class WinFileLookup : public ::testing::Test {
protected:
    void SetUp() override { root_ = test::freshDirectory("tremcvt-win-files-"); }
    void TearDown() override { std::filesystem::remove_all(root_); }

    void makeFile(const std::string& relative)
    {
        const std::filesystem::path path = root_ / relative;
        std::filesystem::create_directories(path.parent_path());
        std::ofstream(path, std::ios::binary) << "WIN";
    }
    std::string dir() const { return root_.string(); }

    std::filesystem::path root_;
};

TEST_F(WinFileLookup, TriesEachLayoutAndReportsThoseMissing)
{
    makeFile("100303/10030302/10030302.00");
    makeFile("100303/10030302.01");
    makeFile("10030302.02");
    makeFile("100303/10030302/10030302.03");  // two layouts hold it: the first wins
    makeFile("10030302.03");
    std::filesystem::create_directories(root_ / "10030302.04");  // a directory is no WIN file

    struct Case {
        int minute;
        int foundIn;  // layout index, -1: nowhere
    };
    // The dialogs' results box takes CR LF everywhere; a console takes the
    // platform's own line ends.
    struct LineEndCase {
        ReportLineEnd lineEnd;
        std::string text;
    };
#ifdef _WIN32
    const std::string platformEnd = "\r\n";
#else
    const std::string platformEnd = "\n";
#endif
    const LineEndCase lineEnds[] = {{ReportLineEnd::kCrLf, "\r\n"}, {ReportLineEnd::kPlatform, platformEnd}};
    for (const LineEndCase& e : lineEnds) {
        for (const Case c : {Case{0, 0}, Case{1, 1}, Case{2, 2}, Case{3, 0}, Case{4, -1}, Case{5, -1}}) {
            const MinuteName name{10, 3, 3, 2, c.minute};
            const auto layouts = winFileLayouts(dir(), name);
            std::string expectedMessages;
            const int misses = c.foundIn < 0 ? 3 : c.foundIn;
            for (int i = 0; i < misses; ++i)
                expectedMessages += "File open error (" + layouts[static_cast<std::size_t>(i)] + ")." + e.text;

            std::string results = "earlier\r\n";
            const std::optional<std::string> found = FindWinFile(dir(), name, results, e.lineEnd);
            if (c.foundIn < 0) {
                EXPECT_EQ(found, std::nullopt) << c.minute;
            } else {
                EXPECT_EQ(found, layouts[static_cast<std::size_t>(c.foundIn)]) << c.minute;
            }
            EXPECT_EQ(results, "earlier\r\n" + expectedMessages) << c.minute;
        }
    }
}

}  // namespace
}  // namespace tremcvt
