// The miniSEED writer on real files: the SDS names, the cutting at UTC
// midnights, and day files read back with libmseed's own reader, sample by
// sample, after stores in and out of order, overlaps and failures.
#include "converter/writers/mseed_writer.h"

#include <gtest/gtest.h>

#include <algorithm>
#include <cmath>
#include <cstdint>
#include <ctime>
#include <filesystem>
#include <string>
#include <vector>

#include "tests/support/test_support.h"
#include "tests/writers/mseed_read_back.h"
#include "tests/writers/writer_test_support.h"

namespace {

namespace fs = std::filesystem;
using namespace tremcvt;
using mseed_test::readDayFile;
using tremcvt::test::Tree;
using tremcvt::test::treeDifferences;
using tremcvt::test::treeOf;
using tremcvt::test::utc;

constexpr std::int64_t kSecond = 1000000;

std::int64_t micro(double seconds) { return std::llround(seconds * 1e6); }

// A slow wave with noise, a deterministic function of the sample's absolute
// index, so that overlapping stretches agree where they should.
std::vector<float> wave(std::int64_t firstIndex, std::size_t count, int amplitude, int seed = 1)
{
    std::vector<float> samples(count);
    for (std::size_t i = 0; i < count; ++i) {
        const auto n = static_cast<std::int64_t>(i) + firstIndex;
        const std::uint32_t noise = static_cast<std::uint32_t>(n * 2654435761u + static_cast<unsigned>(seed) * 40503u);
        samples[i] = static_cast<float>(std::lround(amplitude * std::sin(static_cast<double>(n) / 97.0)) +
                                        static_cast<long>(noise % 64u) - 32);
    }
    return samples;
}

ChannelTrace trace(int sps, double start, std::vector<float> samples, const char* component = "BHZ")
{
    ChannelTrace t;
    t.sps = sps;
    t.startTime = start;
    t.endTime = start + static_cast<double>(samples.size()) / sps;
    t.samples = std::move(samples);
    t.station.cut("KAM");
    t.component.cut(component);
    return t;
}

std::vector<std::int32_t> integers(const std::vector<float>& samples)
{
    std::vector<std::int32_t> values;
    for (const float s : samples) values.push_back(static_cast<std::int32_t>(static_cast<double>(s)));
    return values;
}

template <typename T>
std::vector<T> joined(std::initializer_list<std::vector<T>> parts)
{
    std::vector<T> all;
    for (const auto& part : parts) all.insert(all.end(), part.begin(), part.end());
    return all;
}

TEST(MseedLayoutTest, CodesAreCheckedForLengthThenForCharacters)
{
    struct Case { const char* network; const char* station; const char* channel; MseedCodeCheck check; };
    const Case cases[] = {
        {"XX", "KAM", "BHZ", MseedCodeCheck::kValid},
        {"X", "ABCDE", "Z", MseedCodeCheck::kValid},
        {"II", "A1", "C1", MseedCodeCheck::kValid},
        {"XXX", "KAM", "BHZ", MseedCodeCheck::kNetworkTooLong},
        {"XXX", "KAMCHAT", "HHNLONG", MseedCodeCheck::kNetworkTooLong},
        {"XX", "KAMCH1", "BHZ", MseedCodeCheck::kStationTooLong},
        {"XX", "KAMCHAT", "HHNLONG", MseedCodeCheck::kStationTooLong},
        {"XX", "KAM", "A100", MseedCodeCheck::kChannelTooLong},
        {"XX", "KAM", "B-Z", MseedCodeCheck::kNotValid},
        {"XX", "KAM", "bhz", MseedCodeCheck::kNotValid},
        {"X.", "KAM", "BHZ", MseedCodeCheck::kNotValid},
        {"XX", "K M", "BHZ", MseedCodeCheck::kNotValid},
        {"XX", "", "BHZ", MseedCodeCheck::kNotValid},
        {"", "KAM", "BHZ", MseedCodeCheck::kNotValid},
        {"XX", "KAM", "", MseedCodeCheck::kNotValid},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(std::string(c.network) + "." + c.station + "." + c.channel);
        EXPECT_EQ(checkMseedCodes(c.network, c.station, c.channel), c.check);
    }
}

TEST(MseedLayoutTest, DayFilesAreNamedByNetworkStationChannelYearAndDay)
{
    EXPECT_EQ(sdsChannelDirectory("/sds", "XX", "KAM", "BHZ", 2010), "/sds/2010/XX/KAM/BHZ.D");
    EXPECT_EQ(sdsChannelDirectory("/sds/", "JP", "A1", "C1", 2012), "/sds/2012/JP/A1/C1.D");
    EXPECT_EQ(sdsDayFileName("XX", "KAM", "BHZ", 2010, 62), "XX.KAM..BHZ.D.2010.062");
    EXPECT_EQ(sdsDayFileName("JP", "A1", "C1", 2012, 5), "JP.A1..C1.D.2012.005");
    EXPECT_EQ(sdsDayFileName("XX", "KAM", "BHZ", 2012, 366), "XX.KAM..BHZ.D.2012.366");
}

TEST(MseedLayoutTest, ChannelsAreCutAtUtcMidnightsOnly)
{
    struct Piece { std::size_t first, count; double start; int year, day; };
    struct Case { const char* name; double start; int sps; std::size_t count; std::vector<Piece> pieces; };
    const double lateEvening = utc(2010, 3, 3, 23, 59, 30);
    const double midnight = utc(2010, 3, 4, 0, 0, 0);
    const double newYearsEve = utc(2012, 12, 31, 23, 59, 59);
    const Case cases[] = {
        {"within one day", utc(2010, 3, 3, 2, 0, 0), 100, 6000, {{0, 6000, utc(2010, 3, 3, 2, 0, 0), 2010, 62}}},
        {"across midnight", lateEvening, 100, 6000,
         {{0, 3000, lateEvening, 2010, 62}, {3000, 3000, midnight, 2010, 63}}},
        {"the last sample before midnight", lateEvening, 100, 3000, {{0, 3000, lateEvening, 2010, 62}}},
        {"the first sample at midnight", lateEvening, 100, 3001,
         {{0, 3000, lateEvening, 2010, 62}, {3000, 1, midnight, 2010, 63}}},
        // Three samples a second: the sample at 23:59:59.667 is the last of
        // the day; the next one, at midnight, opens the new day.
        {"a rate that does not divide a second", utc(2010, 3, 3, 23, 59, 59), 3, 6,
         {{0, 3, utc(2010, 3, 3, 23, 59, 59), 2010, 62}, {3, 3, midnight, 2010, 63}}},
        // 0.5 s start: a sample at 23:59:59.9995 at 1000 sps stays in the day
        {"leap year's last day into the new year", newYearsEve, 1000, 2000,
         {{0, 1000, newYearsEve, 2012, 366}, {1000, 1000, utc(2013, 1, 1, 0, 0, 0), 2013, 1}}},
        {"more than a day", utc(2010, 3, 3, 12, 0, 0), 1, 2 * 86400,
         {{0, 43200, utc(2010, 3, 3, 12, 0, 0), 2010, 62},
          {43200, 86400, midnight, 2010, 63},
          {129600, 43200, utc(2010, 3, 5, 0, 0, 0), 2010, 64}}},
        {"no samples", lateEvening, 100, 0, {}},
        {"no rate", lateEvening, 0, 100, {}},
        {"a negative rate", lateEvening, -100, 100, {}},
        {"before 1970", -10.0, 100, 100, {}},
        {"not a time", std::nan(""), 100, 100, {}},
        {"from 2100 on", utc(2100, 1, 1, 0, 0, 0), 100, 100, {}},
        {"into 2100", utc(2099, 12, 31, 23, 59, 59), 100, 101, {}},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.name);
        const std::vector<SdsDayPiece> pieces = splitAtUtcMidnights(c.start, c.sps, c.count);
        ASSERT_EQ(pieces.size(), c.pieces.size());
        for (std::size_t i = 0; i < pieces.size(); ++i) {
            EXPECT_EQ(pieces[i].firstSample, c.pieces[i].first);
            EXPECT_EQ(pieces[i].sampleCount, c.pieces[i].count);
            EXPECT_EQ(pieces[i].startMicroseconds, micro(c.pieces[i].start));
            EXPECT_EQ(pieces[i].year, c.pieces[i].year);
            EXPECT_EQ(pieces[i].dayOfYear, c.pieces[i].day);
        }
    }
}

TEST(MseedLayoutTest, UtcOffsetsAreSignedHoursAndQuarterHoursUpTo14)
{
    struct Case { const char* text; bool valid; int seconds; };
    const Case cases[] = {
        {"+09:00", true, 32400}, {"-03:30", true, -12600}, {"+05:45", true, 20700}, {"+00:00", true, 0},
        {"-00:00", true, 0},     {"+14:00", true, 50400},  {"-14:00", true, -50400},
        {"09:00", false, 0},     {"+9:00", false, 0},      {"+09:00 ", false, 0},  {"+0900", false, 0},
        {"+09", false, 0},       {"", false, 0},           {"+14:15", false, 0},   {"-15:00", false, 0},
        {"+99:00", false, 0},    {"+09:10", false, 0},     {"+09:60", false, 0},   {"+09:75", false, 0},
        {"+0a:00", false, 0},    {"+09-00", false, 0},     {"JST", false, 0},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.text);
        int seconds = 12345;
        EXPECT_EQ(parseUtcOffset(c.text, seconds), c.valid);
        EXPECT_EQ(seconds, c.valid ? c.seconds : 12345);  // untouched when refused
    }
}

class MseedStoreTest : public ::testing::Test {
protected:
    void SetUp() override
    {
        ASSERT_FALSE(dir_.path().empty());
        root_ = dir_.path() / "sds";
        fs::create_directories(root_);
    }

    std::string dayFile(int year, int day, const char* channel = "BHZ", const char* network = "XX") const
    {
        return (fs::path(sdsChannelDirectory(root_.string(), network, "KAM", channel, year)) /
                sdsDayFileName(network, "KAM", channel, year, day))
            .string();
    }

    OutputResult store(const ChannelTrace& t, const fs::path& root) const
    {
        return storeMseedChannel(t, root.string(), "XX");
    }
    void storeOk(const ChannelTrace& t) const { storeOk(t, root_); }
    void storeOk(const ChannelTrace& t, const fs::path& root) const
    {
        const OutputResult r = store(t, root);
        EXPECT_EQ(r.code, kResultOk) << r.reason;
    }

    writer_test::TempDir dir_;
    fs::path root_;
};

TEST_F(MseedStoreTest, EverySampleStartAndRateReadBackWithLibmseed)
{
    const double start = utc(2010, 3, 3, 2, 0, 0);
    std::vector<float> beyondFloat;  // above 2^24 float32 keeps every other integer or fewer
    for (int i = 0; i < 3000; ++i) beyondFloat.push_back(static_cast<float>(40000000 + 3 * (i % 500) * (i % 7)));
    std::vector<float> wide;  // differences beyond Steim-2's 30 bits
    for (int i = 0; i < 500; ++i) wide.push_back(i % 2 == 0 ? 1.0e9f : -1.1e9f);
    const std::vector<float> extremes = {2147483648.0f, -2147483648.0f, 0.0f, 2147483520.0f, -5.0f};
    struct Case {
        const char* name;
        ChannelTrace t;
        std::vector<std::int32_t> expected;
        int encoding;
    };
    const Case cases[] = {
        {"100 sps", trace(100, start, wave(0, 6000, 3000)), integers(wave(0, 6000, 3000)), DE_STEIM2},
        {"1000 sps, values beyond 2^24", trace(1000, start, beyondFloat), integers(beyondFloat), DE_STEIM2},
        {"three samples a second", trace(3, start, wave(0, 180, 100000)), integers(wave(0, 180, 100000)), DE_STEIM2},
        {"one sample", trace(20, start, {7.0f}), {7}, DE_STEIM2},
        {"differences beyond 30 bits", trace(100, start, wide), integers(wide), DE_INT32},
        {"the float beyond the 32-bit range", trace(100, start, extremes),
         {2147483647, -2147483647 - 1, 0, 2147483520, -5}, DE_INT32},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.name);
        fs::remove_all(root_ / "2010");
        storeOk(c.t);
        const auto back = readDayFile(dayFile(2010, 62));
        ASSERT_TRUE(back.ok) << back.problem;
        ASSERT_EQ(back.segments.size(), 1u);
        EXPECT_EQ(back.segments[0].start, micro(start));
        EXPECT_EQ(back.segments[0].rate, c.t.sps);
        EXPECT_EQ(back.segments[0].samples, c.expected);
        ASSERT_FALSE(back.records.empty());
        for (std::size_t i = 0; i < back.records.size(); ++i) {
            const auto& record = back.records[i];
            EXPECT_EQ(record.sequenceNumber, static_cast<int>(i) + 1);
            EXPECT_EQ(record.length, 512);
            EXPECT_EQ(record.quality, 'D');
            EXPECT_EQ(record.encoding, c.encoding);
            EXPECT_EQ(record.byteOrder, 1);  // big-endian
            EXPECT_EQ(record.network, "XX");
            EXPECT_EQ(record.station, "KAM");
            EXPECT_EQ(record.location, "");
            EXPECT_EQ(record.channel, "BHZ");
        }
    }
}

TEST_F(MseedStoreTest, MinutesInAnyOrderGiveTheSameBytesAndStoringAgainChangesNothing)
{
    // Four minutes at 100 sps, the last across midnight into the next day.
    const double first = utc(2010, 3, 3, 23, 56, 30);
    std::vector<ChannelTrace> minutes;
    for (int m = 0; m < 4; ++m) minutes.push_back(trace(100, first + 60 * m, wave(6000 * m, 6000, 20000)));
    const std::vector<std::vector<int>> orders = {{0, 1, 2, 3}, {3, 1, 0, 2}, {2, 0, 3, 1}, {3, 2, 1, 0}};
    Tree inOrder;
    for (const std::vector<int>& order : orders) {
        SCOPED_TRACE(::testing::PrintToString(order));
        const fs::path root = dir_.path() / ("order" + std::to_string(order[0]) + std::to_string(order[1]));
        fs::create_directories(root);
        for (const int m : order) storeOk(minutes[static_cast<std::size_t>(m)], root);
        const Tree tree = treeOf(root);
        if (inOrder.empty())
            inOrder = tree;
        else
            EXPECT_EQ(treeDifferences(inOrder, tree), std::vector<std::string>{});
    }

    const fs::path root = dir_.path() / "order01";
    for (const ChannelTrace& minute : minutes) {
        storeOk(minute, root);
        EXPECT_EQ(treeDifferences(inOrder, treeOf(root)), std::vector<std::string>{});
    }

    const auto day62 = readDayFile((root / "2010/XX/KAM/BHZ.D/XX.KAM..BHZ.D.2010.062").string());
    const auto day63 = readDayFile((root / "2010/XX/KAM/BHZ.D/XX.KAM..BHZ.D.2010.063").string());
    ASSERT_TRUE(day62.ok && day63.ok) << day62.problem << day63.problem;
    ASSERT_EQ(day62.segments.size(), 1u);
    ASSERT_EQ(day63.segments.size(), 1u);
    EXPECT_EQ(day62.segments[0].start, micro(first));
    EXPECT_EQ(day62.segments[0].samples, integers(wave(0, 21000, 20000)));
    EXPECT_EQ(day63.segments[0].start, micro(utc(2010, 3, 4, 0, 0, 0)));
    EXPECT_EQ(day63.segments[0].samples, integers(wave(21000, 3000, 20000)));
    for (const auto* back : {&day62, &day63})
        for (std::size_t i = 0; i < back->records.size(); ++i)
            EXPECT_EQ(back->records[i].sequenceNumber, static_cast<int>(i) + 1);
}

TEST_F(MseedStoreTest, NewDataReplacesWhatItOverlapsAndGapsStay)
{
    const double start = utc(2010, 3, 3, 2, 0, 0);
    const std::vector<float> base = wave(0, 6000, 3000);
    const std::vector<float> other = wave(0, 6000, 9000, 7);
    const auto slice = [](const std::vector<float>& v, std::size_t from, std::size_t count) {
        return std::vector<float>(v.begin() + static_cast<std::ptrdiff_t>(from),
                                  v.begin() + static_cast<std::ptrdiff_t>(from + count));
    };
    struct Segment { double start; std::vector<float> samples; };
    struct Case {
        const char* name;
        ChannelTrace later;
        std::vector<Segment> expected;
        bool oldBytesStayInFront;  // appended: the file before is a prefix of the file after
    };
    const Case cases[] = {
        {"ten seconds within the minute",
         trace(100, start + 25, slice(other, 2500, 1000)),
         {{start, joined({slice(base, 0, 2500), slice(other, 2500, 1000), slice(base, 3500, 2500)})}}, false},
        {"half a second inside one record",
         trace(100, start + 10, slice(other, 1000, 50)),
         {{start, joined({slice(base, 0, 1000), slice(other, 1000, 50), slice(base, 1050, 4950)})}}, false},
        {"over the end of the minute",
         trace(100, start + 50, slice(other, 0, 2000)),
         {{start, joined({slice(base, 0, 5000), slice(other, 0, 2000)})}}, false},
        {"over the start of the minute",
         trace(100, start - 5, slice(other, 0, 1000)),
         {{start - 5, joined({slice(other, 0, 1000), slice(base, 500, 5500)})}}, false},
        {"the same minute at a quarter sample later",
         trace(100, start + 0.0025, other),
         {{start + 0.0025, other}}, false},
        // A first sample within half an interval of the last stored one is
        // the same instant: it replaces it.
        {"starting at the minute's last sample",
         trace(100, start + 59.993, other),
         {{start, joined({slice(base, 0, 5999), other})}}, false},
        {"continuing the minute", trace(100, start + 60, other), {{start, joined({base, other})}}, true},
        {"continuing within half a sample", trace(100, start + 60.004, other), {{start, joined({base, other})}}, true},
        {"after a gap", trace(100, start + 70, other), {{start, base}, {start + 70, other}}, true},
        {"before a gap", trace(100, start - 120, other), {{start - 120, other}, {start, base}}, false},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.name);
        fs::remove_all(root_ / "2010");
        storeOk(trace(100, start, base));
        const std::string path = dayFile(2010, 62);
        const std::string before = writer_test::readBytes(path);
        storeOk(c.later);
        const std::string after = writer_test::readBytes(path);
        EXPECT_EQ(after.compare(0, before.size(), before) == 0, c.oldBytesStayInFront);
        const auto back = readDayFile(path);
        ASSERT_TRUE(back.ok) << back.problem;
        ASSERT_EQ(back.segments.size(), c.expected.size());
        for (std::size_t i = 0; i < c.expected.size(); ++i) {
            EXPECT_NEAR(static_cast<double>(back.segments[i].start), static_cast<double>(micro(c.expected[i].start)),
                        100.0);  // record times are kept to 0.1 ms
            EXPECT_EQ(back.segments[i].samples, integers(c.expected[i].samples));
        }
        for (std::size_t i = 0; i < back.records.size(); ++i)
            EXPECT_EQ(back.records[i].sequenceNumber, static_cast<int>(i) + 1);
        EXPECT_EQ(writer_test::directoryEntries(root_ / "2010/XX/KAM/BHZ.D"),
                  std::vector<std::string>{"XX.KAM..BHZ.D.2010.062"});
    }
}

TEST_F(MseedStoreTest, FailedStoresLeaveEveryFileAsItWas)
{
    const ChannelTrace minute = trace(100, utc(2010, 3, 3, 2, 0, 0), wave(0, 6000, 3000));
    const ChannelTrace next = trace(100, utc(2010, 3, 3, 2, 1, 0), wave(6000, 6000, 3000));
    struct Case {
        const char* name;
        std::string prepare;  // "missing root", "root is a file", "foreign day file", "full disk"
        std::string reason;   // a part of the reason
    };
    const Case cases[] = {
        {"the root is missing", "missing root", "/2010: mkdir: No such file or directory"},
        {"the root is a file", "root is a file", "/2010: mkdir: Not a directory"},
        {"the day file is not miniSEED", "foreign day file", "not a miniSEED day file"},
        {"the disk is full", "full disk", "/XX.KAM..BHZ.D.2010.062: write:"},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.name);
        fs::remove_all(dir_.path());
        fs::create_directories(dir_.path());
        fs::path root = root_;
        if (c.prepare == "missing root") root = dir_.path() / "absent";
        if (c.prepare == "root is a file") {
            root = dir_.path() / "plain";
            writer_test::writeBytes(root, "keep\n");
        }
        if (c.prepare != "missing root" && c.prepare != "root is a file") {
            fs::create_directories(root_);
            storeOk(minute);
        }
        if (c.prepare == "foreign day file") writer_test::writeBytes(dayFile(2010, 62), std::string(1536, 'x'));
        const Tree before = treeOf(dir_.path());
        OutputResult result;
        {
            // Room for the day file as it is, not for it with one more minute.
            std::unique_ptr<writer_test::FileSizeLimit> limit;
            if (c.prepare == "full disk") limit = std::make_unique<writer_test::FileSizeLimit>(9000);
            result = store(next, root);
        }
        EXPECT_EQ(result.code, kResultFileOpenFailed);
        EXPECT_NE(result.reason.find(c.reason), std::string::npos) << result.reason;
        EXPECT_EQ(result.line, "miniSEED write error (KAM::BHZ::" +
                                   dayFile(2010, 62).replace(0, root_.string().size(), root.string()) + ")\n");
        EXPECT_EQ(treeDifferences(before, treeOf(dir_.path())), std::vector<std::string>{});
    }

    // Codes and rates that no record can hold are refused without a file.
    fs::create_directories(root_);
    const Tree before = treeOf(dir_.path());
    ChannelTrace longStation = minute;
    longStation.station.cut("KAMCHAT");
    ChannelTrace noRate = minute;
    noRate.sps = 0;
    for (const ChannelTrace* refused : {&longStation, &noRate}) {
        const OutputResult result = store(*refused, root_);
        EXPECT_EQ(result.code, kResultFileOpenFailed);
        EXPECT_FALSE(result.reason.empty());
    }
    EXPECT_EQ(storeMseedChannel(minute, root_.string(), "XXX").code, kResultFileOpenFailed);
    EXPECT_EQ(treeDifferences(before, treeOf(dir_.path())), std::vector<std::string>{});
    // A channel without samples has nothing to store.
    EXPECT_EQ(store(trace(100, utc(2010, 3, 3, 2, 0, 0), {}), root_).code, kResultOk);
    EXPECT_EQ(treeDifferences(before, treeOf(dir_.path())), std::vector<std::string>{});
}

TEST_F(MseedStoreTest, TornTailsAreCutOffByTheNextStoreAndDamageBeforeTheEndIsLeftAlone)
{
    const double start = utc(2010, 3, 3, 2, 0, 0);
    std::vector<ChannelTrace> minutes;
    for (int m = 0; m < 3; ++m) minutes.push_back(trace(100, start + 60 * m, wave(6000 * m, 6000, 20000)));
    const std::string path = dayFile(2010, 62);
    const auto storedBytes = [&](std::initializer_list<int> order) {
        fs::remove_all(root_ / "2010");
        for (const int m : order) storeOk(minutes[static_cast<std::size_t>(m)]);
        return writer_test::readBytes(path);
    };
    const std::string first = storedBytes({0});
    const std::string firstTwo = storedBytes({0, 1});
    const std::string firstAndThird = storedBytes({0, 2});
    const std::string secondsRecords = firstTwo.substr(first.size());
    ASSERT_GE(secondsRecords.size(), 1024u);

    struct Case {
        const char* name;
        std::string tail;  // after the first minute's records
        int next;          // the minute stored next
        std::string expected;
    };
    const Case cases[] = {
        {"half a record, the minute again", secondsRecords.substr(0, 256), 1, firstTwo},
        {"a record and a half, the minute again", secondsRecords.substr(0, 768), 1, firstTwo},
        {"a block of zeros a record long, the minute again", std::string(512, '\0'), 1, firstTwo},
        {"half a record, a later minute", secondsRecords.substr(0, 256), 2, firstAndThird},
        {"a few zero bytes, a later minute", std::string(100, '\0'), 2, firstAndThird},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.name);
        writer_test::writeBytes(path, first + c.tail);
        // libmseed reads the torn file without error.
        EXPECT_TRUE(readDayFile(path).ok);
        storeOk(minutes[static_cast<std::size_t>(c.next)]);
        EXPECT_TRUE(writer_test::readBytes(path) == c.expected);
    }

    // Unreadable bytes with a record after them are no torn tail: the file
    // is left alone and reported.
    const std::string damaged =
        first + std::string(512, '\0') + first.substr(first.size() - 512) + std::string(100, '\0');
    writer_test::writeBytes(path, damaged);
    const OutputResult result = store(minutes[1], root_);
    EXPECT_EQ(result.code, kResultFileOpenFailed);
    EXPECT_NE(result.reason.find("not a miniSEED day file (no record can be read at byte " +
                                 std::to_string(first.size()) + ")"),
              std::string::npos)
        << result.reason;
    EXPECT_TRUE(writer_test::readBytes(path) == damaged);
}

}  // namespace
