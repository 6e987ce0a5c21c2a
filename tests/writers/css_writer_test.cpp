#include "converter/writers/css_writer.h"

#include <string>
#include <vector>

#include <gtest/gtest.h>

#include "writer_test_support.h"

namespace {

using namespace tremcvt;
using writer_test::directoryEntries;
using writer_test::littleEndianBytes;
using writer_test::readBytes;
using writer_test::TempDir;
using writer_test::TimeZone;

constexpr double kMarch5Late = 1236297599.25;  // 2009-03-05 23:59:59.25
constexpr double kJuly6At103015 = 1246876215.75;  // 2009-07-06 10:30:15.75

ChannelTrace makeTrace(const char* station, const char* component, std::int32_t sps, double start,
                       std::vector<float> samples)
{
    ChannelTrace trace;
    trace.station = FixedText<12>(station);
    trace.component = FixedText<8>(component);
    trace.sps = sps;
    trace.startTime = start;
    trace.endTime = start + static_cast<double>(samples.size()) / (sps > 0 ? sps : 1);
    trace.samples = std::move(samples);
    return trace;
}

// Runs the CSS output over the whole table as the converter does: every
// channel, then the end step. path receives the wfdisc path as written;
// failures, when given, what was reported.
ResultCode writeCssOutput(const ChannelTable& table, std::string& path, const std::string& dataDir,
                          OutputResults* failures = nullptr)
{
    CssOutput output(path, dataDir);
    OutputResults reported;
    for (const ChannelTrace& trace : table) {
        const OutputResults stored = output.store(trace);
        reported.insert(reported.end(), stored.begin(), stored.end());
    }
    const OutputResults finished = output.finish();
    reported.insert(reported.end(), finished.begin(), finished.end());
    path = output.wfdiscPath();
    if (failures != nullptr) *failures = reported;
    return reported.empty() ? kResultOk : reported.front().code;
}

std::string right(const std::string& text, std::size_t width)
{
    return text.size() >= width ? text : std::string(width - text.size(), ' ') + text;
}

std::string left(const std::string& text, std::size_t width)
{
    return text.size() >= width ? text.substr(0, width) : text + std::string(width - text.size(), ' ');
}

// A wfdisc line assembled field by field, the way a CSS 3.0 reader cuts it.
std::string wfdiscLine(const std::string& sta, const std::string& chan, const std::string& time,
                       const std::string& jdate, const std::string& endtime, const std::string& nsamp,
                       const std::string& samprate, const std::string& dfile)
{
    const std::vector<std::string> fields = {
        left(sta, 6),     left(chan, 8),        right(time, 17),     right("-1", 8),
        right("-1", 8),   right(jdate, 8),      right(endtime, 17),  right(nsamp, 8),
        right(samprate, 11), right("0.000000", 16), right("0.000000", 16), left("-", 6),
        "-",              "f4",                 "-",                 left(".", 64),
        left(dfile, 32),  right("0", 10),       right("-1", 8),      left("-", 17)};
    std::string line;
    for (const std::string& field : fields) line += (line.empty() ? "" : " ") + field;
    return line + "\n";
}

TEST(CssWriter, WfdiscLineMatchesTheFieldLayoutByteForByte)
{
    struct Case {
        ChannelTrace trace;
        std::string name;
        std::string expected;
    };
    const Case cases[] = {
        {makeTrace("ABC", "BHZ", 100, kMarch5Late, std::vector<float>(6000, 1.0f)), "0-23595905032009-ABC-BHZ.w",
         wfdiscLine("ABC", "BHZ", "1236297599.25000", "2009064", "1236297659.25000", "6000", "100",
                    "0-23595905032009-ABC-BHZ.w")},
        {makeTrace("ABCDEFGHIJK", "HHZ1234", 20000, 0.0, {}), "0-00000001011970-ABCDEFGHIJK-HHZ1234.w",
         wfdiscLine("ABCDEF", "HHZ1234", "0.00000", "1970001", "0.00000", "0", "20000",
                    "0-00000001011970-ABCDEFGHIJK-HHZ")},
        {makeTrace("", "", 1, 951825600.123456, {2.0f}), "0-12000029022000--.w",
         wfdiscLine("", "", "951825600.12346", "2000060", "951825601.12346", "1", "1", "0-12000029022000--.w")},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.name);
        EXPECT_EQ(cssDataFileName(c.trace), c.name);
        const std::string line = formatWfdiscLine(c.trace, cssDataFileName(c.trace));
        EXPECT_EQ(line.size(), kWfdiscLineLength + 1);
        EXPECT_EQ(line, c.expected);
    }
}

TEST(CssWriter, DataFileNameIsTheCalendarStartWithoutTimeZone)
{
    TimeZone zone("Asia/Tokyo");
    EXPECT_EQ(cssDataFileName(makeTrace("ABC", "BHZ", 100, kJuly6At103015, {})), "0-10301506072009-ABC-BHZ.w");
    // Just before a full second the name keeps the second that has begun.
    const ChannelTrace late = makeTrace("ABC", "BHZ", 100, kMarch5Late + 0.7499997, {});
    EXPECT_EQ(cssDataFileName(late), "0-23595905032009-ABC-BHZ.w");
    EXPECT_EQ(formatWfdiscLine(late, "n").substr(52, 8), " 2009064");
}

TEST(CssWriter, WritesWfdiscAndSampleFilesCreatingDirectories)
{
    TempDir dir;
    ChannelTable table;
    table.append(makeTrace("KAM", "BHZ", 100, kJuly6At103015, {1.0f, -2.5f, 1e-3f}));
    table.append(makeTrace("KAM", "BHN", 100, kJuly6At103015 + 1.0, {4.0f}));
    const std::string expectedLines = formatWfdiscLine(table[0], cssDataFileName(table[0])) +
                                      formatWfdiscLine(table[1], cssDataFileName(table[1]));

    struct Case {
        std::string argument;
        std::filesystem::path written;
    };
    const Case cases[] = {
        {"out/sub/run1.wfdisc", dir.path() / "data" / "out" / "sub" / "run1.wfdisc"},
        {"out\\win\\run2.wfdisc", dir.path() / "data" / "out" / "win" / "run2.wfdisc"},
        {(dir.path() / "abs" / "deep" / "run3.wfdisc").string(), dir.path() / "abs" / "deep" / "run3.wfdisc"},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.argument);
        std::string path = c.argument;
        ASSERT_EQ(writeCssOutput(table, path, (dir.path() / "data").string()), kResultOk);
        EXPECT_EQ(path, c.written.string());
        EXPECT_EQ(readBytes(c.written), expectedLines);
        const std::filesystem::path outDir = c.written.parent_path();
        EXPECT_EQ(readBytes(outDir / "0-10301506072009-KAM-BHZ.w"),
                  std::string("\x00\x00\x80\x3f\x00\x00\x20\xc0\x6f\x12\x83\x3a", 12));
        EXPECT_EQ(readBytes(outDir / "0-10301606072009-KAM-BHN.w"), littleEndianBytes({4.0f}));
        EXPECT_EQ(directoryEntries(outDir).size(), 3u);
    }
}

TEST(CssWriter, RewritesOutputFromScratch)
{
    TempDir dir;
    ChannelTable table;
    table.append(makeTrace("KAM", "BHZ", 100, kJuly6At103015, std::vector<float>(50, 3.0f)));
    table.append(makeTrace("KAM", "BHN", 100, kJuly6At103015, {1.0f}));
    std::string path = (dir.path() / "x.wfdisc").string();
    ASSERT_EQ(writeCssOutput(table, path, dir.str()), kResultOk);

    ChannelTable smaller;
    smaller.append(makeTrace("KAM", "BHZ", 100, kJuly6At103015, {9.0f, 8.0f}));
    ASSERT_EQ(writeCssOutput(smaller, path, dir.str()), kResultOk);
    EXPECT_EQ(readBytes(path), formatWfdiscLine(smaller[0], cssDataFileName(smaller[0])));
    EXPECT_EQ(readBytes(dir.path() / "0-10301506072009-KAM-BHZ.w"), littleEndianBytes({9.0f, 8.0f}));
}

TEST(CssWriter, LaterChannelWithTheSameNameReplacesTheEarlierFile)
{
    TempDir dir;
    ChannelTable table;
    table.append(makeTrace("KAM", "BHZ", 100, kJuly6At103015 - 0.5, {1.0f, 2.0f, 3.0f}));
    table.append(makeTrace("KAM", "BHZ", 100, kJuly6At103015, {7.0f}));
    std::string path = (dir.path() / "x.wfdisc").string();
    ASSERT_EQ(writeCssOutput(table, path, dir.str()), kResultOk);

    const std::string wfdisc = readBytes(path);
    ASSERT_EQ(wfdisc.size(), 2 * (kWfdiscLineLength + 1));
    const std::string name = "0-10301506072009-KAM-BHZ.w";
    EXPECT_EQ(wfdisc.substr(0, kWfdiscLineLength + 1).find(name), 213u);
    EXPECT_EQ(wfdisc.substr(kWfdiscLineLength + 1).find(name), 213u);
    EXPECT_EQ(readBytes(dir.path() / name), littleEndianBytes({7.0f}));
}

TEST(CssWriter, WfdiscThatCannotBeCreatedWritesNothing)
{
    TempDir dir;
    const std::filesystem::path data = dir.path() / "data";
    std::filesystem::create_directories(data / "existing");
    writer_test::writeBytes(dir.path() / "plain", "x");
    ChannelTable table;
    table.append(makeTrace("KAM", "BHZ", 100, kJuly6At103015, {1.0f}));

    const std::string arguments[] = {
        "",                                     // the data directory itself
        "existing",                             // an existing directory
        (dir.path() / "plain" / "x.wfdisc").string(),  // below a plain file
    };
    for (const std::string& argument : arguments) {
        SCOPED_TRACE(argument);
        std::string path = argument;
        OutputResults failures;
        EXPECT_EQ(writeCssOutput(table, path, data.string(), &failures), kResultFileOpenFailed);
        // One failure line that names the wfdisc path, with the reason.
        ASSERT_EQ(failures.size(), 1u);
        EXPECT_EQ(failures[0].line, "CSS write error (" + path + ")\n");
        EXPECT_EQ(failures[0].reason.rfind(path + ": ", 0), 0u) << failures[0].reason;
        EXPECT_EQ(failures[0].unstoredChannels, 1);
        EXPECT_EQ(directoryEntries(data), std::vector<std::string>{"existing"});
        EXPECT_EQ(directoryEntries(dir.path()), (std::vector<std::string>{"data", "data/existing", "plain"}));
    }
}

TEST(CssWriter, CodesThatCannotStandInAFileNameGetNoDataFile)
{
    TempDir dir;
    const std::filesystem::path out = dir.path() / "out";
    ChannelTable table;
    table.append(makeTrace("KAM", "../Z", 100, kJuly6At103015, {1.0f}));
    table.append(makeTrace("A/B", "BHZ", 100, kJuly6At103015, {1.0f}));
    table.append(makeTrace("KAM", "B:Z", 100, kJuly6At103015, {1.0f}));
    table.append(makeTrace("..", "..", 100, kJuly6At103015, {1.0f}));
    table.append(makeTrace("KAM", "BHZ", 100, kJuly6At103015, {5.0f}));
    std::string path = (out / "x.wfdisc").string();
    ASSERT_EQ(writeCssOutput(table, path, dir.str()), kResultOk);

    EXPECT_EQ(readBytes(path).size(), 5 * (kWfdiscLineLength + 1));
    EXPECT_EQ(directoryEntries(dir.path()),
              (std::vector<std::string>{"out", "out/0-10301506072009-KAM-BHZ.w", "out/x.wfdisc"}));
}

TEST(CssWriter, IncompleteWriteIsReported)
{
    TempDir dir;
    ChannelTable table;
    table.append(makeTrace("KAM", "BHZ", 100, kJuly6At103015, std::vector<float>(1000, 1.0f)));
    std::string path = (dir.path() / "x.wfdisc").string();
    writer_test::FileSizeLimit limit(1024);
    OutputResults failures;
    EXPECT_EQ(writeCssOutput(table, path, dir.str(), &failures), kResultFileOpenFailed);
    ASSERT_EQ(failures.size(), 1u);
    EXPECT_NE(failures[0].reason.find("0-10301506072009-KAM-BHZ.w: write: "), std::string::npos)
        << failures[0].reason;
    EXPECT_FALSE(std::filesystem::exists(dir.path() / "0-10301506072009-KAM-BHZ.w"));
}

}  // namespace
