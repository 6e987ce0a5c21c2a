#include "converter/writers/trz_writer.h"

#include <cmath>
#include <limits>
#include <string>
#include <vector>

#include <gtest/gtest.h>

#include "writer_test_support.h"

namespace {

using namespace tremcvt;
using writer_test::littleEndianBytes;
using writer_test::readBytes;
using writer_test::TempDir;
using writer_test::TimeZone;

constexpr double kJuly6At1030 = 1246876200.0;  // 2009-07-06 10:30:00 UTC

TEST(TrzWriter, NamesFilesByLocalStartWithRightAlignedCodes)
{
    struct Case {
        const char* zone;
        const char* dataDir;
        const char* station;
        const char* channel;
        double start;
        const char* expected;
    };
    const Case cases[] = {
        {"UTC", "/data", "ABC", "BHZ", kJuly6At1030, "/data/ABC/10/06072009-103000-BHZ.ABC"},
        {"UTC", "/data", "AB", "EW", kJuly6At1030, "/data/AB/10/06072009-103000- EW. AB"},
        {"UTC", "/data", "KAMQ", "BHZ1", kJuly6At1030 + 75.99, "/data/KAMQ/10/06072009-103115-BHZ1.KAMQ"},
        {"UTC", "/data/", "ABC", "BHZ", kJuly6At1030, "/data/ABC/10/06072009-103000-BHZ.ABC"},
        {"UTC", "D:\\Data", "ABC", "BHZ", kJuly6At1030, "D:/Data/ABC/10/06072009-103000-BHZ.ABC"},
        {"UTC", "/data", "", "", kJuly6At1030, "/data/10/06072009-103000-   .   "},
        {"Asia/Tokyo", "/data", "ABC", "BHZ", kJuly6At1030, "/data/ABC/19/06072009-193000-BHZ.ABC"},
        {"Asia/Tokyo", "/data", "ABC", "BHZ", kJuly6At1030 + 5 * 3600.0, "/data/ABC/00/07072009-003000-BHZ.ABC"},
        {"UTC", "/data", "ABC", "BHZ", -0.5, "/data/ABC/00/01011970-000000-BHZ.ABC"},
    };
    for (const Case& c : cases) {
        TimeZone zone(c.zone);
        SCOPED_TRACE(c.expected);
        const std::string path = trzFilePath(c.dataDir, c.station, c.channel, c.start);
        EXPECT_EQ(path, c.expected);
        // The directories the writer creates are the ones the name lies in.
        const std::string hourDir = trzHourDirectory(c.dataDir, c.station, c.start);
        EXPECT_EQ(path.substr(0, hourDir.size() + 1), hourDir + "/");
        EXPECT_EQ(hourDir.rfind(trzStationDirectory(c.dataDir, c.station), 0), 0u);
    }
}

TEST(TrzWriter, RefusesNamesThatLeaveTheArchiveDirectory)
{
    TimeZone zone("UTC");
    const char* unsafe[] = {"..", ".", "a/b", "a\\b", "B:Z", "x*", "q?", "\"", "<", ">", "|", "A\tB", "\x7f"};
    for (const char* code : unsafe) {
        SCOPED_TRACE(code);
        EXPECT_FALSE(isSafeNameCode(code));
        EXPECT_EQ(trzFilePath("/data", code, "BHZ", kJuly6At1030), "");
        EXPECT_EQ(trzFilePath("/data", "ABC", code, kJuly6At1030), "");
    }
    for (const char* code : {"", "KAM", "BH-Z", "a.b", "...", "ABC_1"}) EXPECT_TRUE(isSafeNameCode(code)) << code;
    EXPECT_EQ(trzFilePath("/data", "ABC", "BHZ", std::numeric_limits<double>::quiet_NaN()), "");
}

TEST(TrzWriter, FormatsDurationAsDaysHoursMinutesSeconds)
{
    const std::pair<double, const char*> cases[] = {
        {3600.0, "000 01 00 00"},
        {59.9, "000 00 00 59"},
        {90061.0, "001 01 01 01"},
        {60.5, "000 00 01 00"},
        {0.0, "000 00 00 00"},
        {86399.999, "000 23 59 59"},
        {86400.0, "001 00 00 00"},
        {1000.0 * 86400 + 3661.5, "1000 01 01 01"},
        {-5.0, "000 00 00 00"},
        {std::numeric_limits<double>::quiet_NaN(), "000 00 00 00"},
        {std::numeric_limits<double>::infinity(), "000 00 00 00"},
    };
    for (const auto& [seconds, expected] : cases) EXPECT_EQ(formatTrzDuration(seconds), expected) << seconds;
}

TEST(TrzWriter, HeaderIsTheExactTextFollowedByZeroBytes)
{
    struct Case {
        const char* zone;
        double begin;
        double duration;
        double rate;
        const char* station;
        const char* channel;
        std::string expected;
    };
    const Case cases[] = {
        {"UTC", kJuly6At1030 + 0.9, 3600.0, 100.0, "ABC", "BHZ",
         "[TRZ5.x]\r\nData offset=512\r\nStart time=10:30:00\r\nStart date=06-07-2009\r\n"
         "Time duration=000 01 00 00\r\nData type=FLOAT\r\nSpS=100.00\r\nGain=1\r\nStation=ABC\r\n"
         "Channel=BHZ\r\n"},
        {"Asia/Tokyo", kJuly6At1030 + 5 * 3600.0 + 61.0, 60.5, 20.125, "AB", "EW",
         "[TRZ5.x]\r\nData offset=512\r\nStart time=00:31:01\r\nStart date=07-07-2009\r\n"
         "Time duration=000 00 01 00\r\nData type=FLOAT\r\nSpS=20.12\r\nGain=1\r\nStation=AB\r\n"
         "Channel=EW\r\n"},
    };
    for (const Case& c : cases) {
        TimeZone zone(c.zone);
        const TrzHeader header = formatTrzHeader(c.begin, c.duration, c.rate, c.station, c.channel);
        std::string expected = c.expected;
        expected.resize(kTrzHeaderSize, '\0');
        EXPECT_EQ(std::string(header.bytes.data(), header.bytes.size()), expected);
        EXPECT_TRUE(header.complete);
        EXPECT_EQ(header.text(), c.expected);
    }

    // Over-long codes or rates are cut inside the area, never past it.
    TimeZone zone("UTC");
    const TrzHeader cut = formatTrzHeader(kJuly6At1030, 60.0, 1.0e300, std::string(700, 'S'), "BHZ");
    EXPECT_FALSE(cut.complete);
    EXPECT_EQ(cut.text().size(), kTrzHeaderSize - 1);
}

TEST(TrzWriter, CreateMakesDirectoriesAndWritesHeaderThenLittleEndianSamples)
{
    TimeZone zone("UTC");
    TempDir dir;
    const std::string path = trzFilePath(dir.str(), "AB", "EW", kJuly6At1030);
    const TrzHeader header = formatTrzHeader(kJuly6At1030, 3.0, 1.0, "AB", "EW");
    const std::vector<float> samples = {1.0f, -2.5f, 1e-3f};

    ASSERT_EQ(createTrzFile(path, samples.data(), 3, header), kResultOk);
    EXPECT_TRUE(std::filesystem::is_regular_file(dir.path() / "AB" / "10" / "06072009-103000- EW. AB"));
    std::string bytes = readBytes(path);
    ASSERT_EQ(bytes.size(), 512u + 4 * 3);
    EXPECT_EQ(bytes.substr(0, 512), std::string(header.bytes.data(), 512));
    EXPECT_EQ(bytes.substr(512), std::string("\x00\x00\x80\x3f\x00\x00\x20\xc0\x6f\x12\x83\x3a", 12));
    EXPECT_EQ(trzSampleCount(path), 3);

    // Creating again over the same name starts the file afresh.
    ASSERT_EQ(createTrzFile(path, samples.data(), 1, header), kResultOk);
    EXPECT_EQ(readBytes(path).size(), 512u + 4);
    ASSERT_EQ(createTrzFile(path, nullptr, 0, header), kResultOk);
    EXPECT_EQ(readBytes(path).size(), 512u);

    EXPECT_EQ(createTrzFile(path, nullptr, 5, header), kResultFileOpenFailed);
    EXPECT_EQ(createTrzFile(path, samples.data(), -1, header), kResultFileOpenFailed);
}

TEST(TrzWriter, AppendGrowsByExactlyTheNewSamplesAndLeavesTheHeader)
{
    TempDir dir;
    const std::string path = (dir.path() / "x.trz").string();
    const TrzHeader header = formatTrzHeader(kJuly6At1030, 2.0, 1.0, "ABC", "BHZ");
    const std::vector<float> first = {1.0f, 2.0f};
    const std::vector<float> more = {3.0f, -4.0f, 5.25f};
    ASSERT_EQ(createTrzFile(path, first.data(), 2, header), kResultOk);
    ASSERT_EQ(appendTrzSamples(path, 2, more.data(), 3), kResultOk);
    ASSERT_EQ(appendTrzSamples(path, 5, more.data(), 0), kResultOk);

    const std::string bytes = readBytes(path);
    ASSERT_EQ(bytes.size(), 512u + 4 * 5);
    EXPECT_EQ(bytes.substr(0, 512), std::string(header.bytes.data(), 512));
    EXPECT_EQ(bytes.substr(512), littleEndianBytes({1.0f, 2.0f, 3.0f, -4.0f, 5.25f}));

    TrzHeader readHeader;
    std::vector<float> readSamples;
    ASSERT_TRUE(readTrzFile(path, readHeader, readSamples));
    EXPECT_EQ(readSamples, (std::vector<float>{1.0f, 2.0f, 3.0f, -4.0f, 5.25f}));
    EXPECT_EQ(readHeader.text(), header.text());

    // The header step replaces the 512 bytes and nothing else.
    const TrzHeader later = formatTrzHeader(kJuly6At1030, 5.0, 1.0, "ABC", "BHZ");
    ASSERT_EQ(writeTrzHeader(path, later), kResultOk);
    EXPECT_EQ(readBytes(path), std::string(later.bytes.data(), 512) + bytes.substr(512));
}

TEST(TrzWriter, AppendLandsRightAfterTheCataloguedSamples)
{
    TempDir dir;
    const std::string path = (dir.path() / "x.trz").string();
    const TrzHeader header = formatTrzHeader(kJuly6At1030, 2.0, 1.0, "ABC", "BHZ");
    const std::vector<float> archived = {1.0f, 2.0f, 3.0f, 4.0f};
    const std::vector<float> piece = {7.5f, -8.0f};
    struct Case {
        const char* what;
        std::int64_t catalogued;  // samples the row accounts for
        int result;
        std::vector<float> expected;
    };
    const Case cases[] = {
        // Stray samples of an interrupted append beyond the row, fewer or
        // more than the new piece: overwritten or cut, never kept.
        {"one stray sample", 3, kResultOk, {1.0f, 2.0f, 3.0f, 7.5f, -8.0f}},
        {"three stray samples", 1, kResultOk, {1.0f, 7.5f, -8.0f}},
        {"none stray", 4, kResultOk, {1.0f, 2.0f, 3.0f, 4.0f, 7.5f, -8.0f}},
        {"no samples catalogued", 0, kResultOk, {7.5f, -8.0f}},
        // The row claims more than the file holds: refused, left alone.
        {"file shorter than its row", 5, kResultFileOpenFailed, {1.0f, 2.0f, 3.0f, 4.0f}},
    };
    for (const Case& c : cases) {
        ASSERT_EQ(createTrzFile(path, archived.data(), 4, header), kResultOk);
        std::string reason;
        EXPECT_EQ(appendTrzSamples(path, c.catalogued, piece.data(), 2, &reason), c.result) << c.what;
        TrzHeader readHeader;
        std::vector<float> samples;
        ASSERT_TRUE(readTrzFile(path, readHeader, samples)) << c.what;
        EXPECT_EQ(samples, c.expected) << c.what;
        EXPECT_EQ(readHeader.text(), header.text()) << c.what;
        if (c.result != kResultOk) {
            EXPECT_NE(reason.find("holds 4 samples, its catalogue row 5"), std::string::npos) << reason;
            EXPECT_NE(reason.find(path), std::string::npos) << reason;
        }
    }
}

TEST(TrzWriter, AppendNeverCreatesOrExtendsAForeignFile)
{
    TempDir dir;
    const std::vector<float> samples = {1.0f};
    const std::filesystem::path missing = dir.path() / "missing.trz";
    EXPECT_EQ(appendTrzSamples(missing.string(), 0, samples.data(), 1), kResultFileOpenFailed);
    EXPECT_FALSE(std::filesystem::exists(missing));

    const std::filesystem::path shortFile = dir.path() / "short.trz";
    writer_test::writeBytes(shortFile, "not a TRZ file");
    EXPECT_EQ(appendTrzSamples(shortFile.string(), 0, samples.data(), 1), kResultFileOpenFailed);
    EXPECT_EQ(readBytes(shortFile), "not a TRZ file");
    EXPECT_EQ(trzSampleCount(shortFile.string()), -1);
    EXPECT_EQ(trzSampleCount(missing.string()), -1);
    EXPECT_EQ(writeTrzHeader(missing.string(), TrzHeader{}), kResultFileOpenFailed);
    EXPECT_FALSE(std::filesystem::exists(missing));
}

TEST(TrzWriter, OverwriteReplacesSamplesInPlaceOnlyWhenTheFileHoldsThem)
{
    TempDir dir;
    const std::string path = (dir.path() / "x.trz").string();
    const TrzHeader header = formatTrzHeader(kJuly6At1030, 5.0, 1.0, "ABC", "BHZ");
    const std::vector<float> samples = {0.0f, 1.0f, 2.0f, 3.0f, 4.0f};
    ASSERT_EQ(createTrzFile(path, samples.data(), 5, header), kResultOk);
    const std::string before = readBytes(path);

    const std::vector<float> replacement = {-1.0f, -2.0f};
    struct Case {
        std::int64_t index;
        std::int32_t count;
        int result;
    };
    const Case refused[] = {{4, 2, kResultFileOpenFailed}, {5, 1, kResultFileOpenFailed}, {-1, 1, kResultFileOpenFailed},
                            {std::numeric_limits<std::int64_t>::max() / 2, 2, kResultFileOpenFailed}};
    for (const Case& c : refused) {
        EXPECT_EQ(overwriteTrzSamples(path, c.index, replacement.data(), c.count), c.result) << c.index;
        EXPECT_EQ(readBytes(path), before);
    }

    ASSERT_EQ(overwriteTrzSamples(path, 3, replacement.data(), 2), kResultOk);
    ASSERT_EQ(overwriteTrzSamples(path, 0, replacement.data(), 1), kResultOk);
    const std::string after = readBytes(path);
    EXPECT_EQ(after.substr(0, 512), before.substr(0, 512));
    EXPECT_EQ(after.substr(512), littleEndianBytes({-1.0f, 1.0f, 2.0f, -1.0f, -2.0f}));
    EXPECT_EQ(overwriteTrzSamples((dir.path() / "none").string(), 0, replacement.data(), 1), kResultFileOpenFailed);
}

TEST(TrzWriter, FileThatCannotBeCreatedGivesFileOpenError)
{
    TimeZone zone("UTC");
    TempDir dir;
    const std::vector<float> samples = {1.0f};
    const TrzHeader header = formatTrzHeader(kJuly6At1030, 1.0, 1.0, "ABC", "BHZ");
    // The data directory is a plain file, or is missing altogether: the
    // station directory cannot be made below it.
    writer_test::writeBytes(dir.path() / "plain", "x");
    for (const std::filesystem::path& dataDir : {dir.path() / "plain", dir.path() / "missing"}) {
        const std::string path = trzFilePath(dataDir.string(), "ABC", "BHZ", kJuly6At1030);
        EXPECT_EQ(createTrzFile(path, samples.data(), 1, header), kResultFileOpenFailed);
        EXPECT_FALSE(std::filesystem::exists(path));
    }
    EXPECT_FALSE(std::filesystem::exists(dir.path() / "missing"));
    EXPECT_EQ(createTrzFile("", samples.data(), 1, header), kResultFileOpenFailed);
}

TEST(TrzWriter, IncompleteWriteIsAFailureAndDamagesNothing)
{
    TempDir dir;
    const std::string created = (dir.path() / "new.trz").string();
    const std::string existing = (dir.path() / "old.trz").string();
    const TrzHeader header = formatTrzHeader(kJuly6At1030, 1.0, 1.0, "ABC", "BHZ");
    const std::vector<float> small = {1.0f, 2.0f};
    ASSERT_EQ(createTrzFile(existing, small.data(), 2, header), kResultOk);
    const std::string before = readBytes(existing);
    const std::vector<float> large(1000, 0.5f);
    {
        // Files may not grow beyond 1 KiB: as on a disk that fills up.
        writer_test::FileSizeLimit limit(1024);
        EXPECT_EQ(createTrzFile(created, large.data(), 1000, header), kResultFileOpenFailed);
        EXPECT_EQ(appendTrzSamples(existing, 2, large.data(), 1000), kResultFileOpenFailed);
    }
    EXPECT_FALSE(std::filesystem::exists(created));
    EXPECT_EQ(readBytes(existing), before);
}

}  // namespace
