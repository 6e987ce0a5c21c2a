// The miniSEED writer's day files, byte for byte, against reference files in
// tests/writers/data. The inputs are fixed (codes, times, rates, integer
// samples) and the records carry nothing else (no creation time), so the same
// inputs must give the same bytes. Each reference is also read back with
// libmseed's own reader, so it is known to be valid miniSEED holding exactly
// the samples it was made from.
//
// The references were made by this test from the writer as it was then:
//   TREMCVT_REMAKE_MSEED_REFERENCES=1 build/tests/writers/mseed_writer_tests --gtest_filter='MseedReference*'
// writes them into the source tree instead of comparing. Remake them only for
// a deliberate change of the record bytes, and say why in the commit.
#include <gtest/gtest.h>

#include <cstdint>
#include <cstdlib>
#include <filesystem>
#include <string>
#include <vector>

#include "converter/writers/mseed_writer.h"
#include "tests/support/test_support.h"
#include "tests/writers/mseed_read_back.h"

namespace tremcvt::test {
namespace {

namespace fs = std::filesystem;

// Integer samples that float32 holds exactly: a triangle wave with a little
// pseudo-random noise, or (wide) jumps beyond Steim-2's 30-bit differences.
std::vector<std::int32_t> samples(std::int64_t first, std::size_t count, bool wide = false)
{
    std::vector<std::int32_t> values;
    for (std::int64_t n = first; n < first + static_cast<std::int64_t>(count); ++n) {
        const std::int32_t noise = static_cast<std::int32_t>((n * 2654435761LL) % 64) - 32;
        const std::int32_t triangle = static_cast<std::int32_t>(n % 400 < 200 ? n % 400 : 400 - n % 400) * 150;
        values.push_back(wide ? (n % 2 == 0 ? 1000000000 + 64 * noise : -1100000000 - 128 * noise)
                              : triangle - 15000 + noise);
    }
    return values;
}

ChannelTrace trace(int sps, double start, const std::vector<std::int32_t>& values)
{
    ChannelTrace t;
    t.sps = sps;
    t.startTime = start;
    t.endTime = start + static_cast<double>(values.size()) / sps;
    t.samples.assign(values.begin(), values.end());
    t.station.cut("KAM");
    t.component.cut("BHZ");
    return t;
}

TEST(MseedReference, DayFilesAreTheReferenceBytesAndReadBackAsTheirSamples)
{
    struct DayFile {
        const char* reference;  // below tests/writers/data
        int year, day;
        double start;  // of its first sample
        std::vector<std::int32_t> samples;
        int encoding;
    };
    struct Case {
        const char* name;
        std::vector<ChannelTrace> stores;  // in this order
        std::vector<DayFile> files;
    };
    const double morning = utc(2010, 3, 3, 2, 0, 0);
    const double evening = utc(2012, 12, 31, 23, 59, 30);
    const auto twoMinutes = samples(0, 12000);
    const auto wide = samples(0, 300, true);
    const auto midnight = samples(0, 1200);
    const Case cases[] = {
        // A minute, then the next one appended with continuing sequence numbers.
        {"Steim-2, appended",
         {trace(100, morning, samples(0, 6000)), trace(100, morning + 60, samples(6000, 6000))},
         {{"reference-steim2-appended.mseed", 2010, 62, morning, twoMinutes, DE_STEIM2}}},
        {"32-bit integers", {trace(20, morning, wide)},
         {{"reference-int32.mseed", 2010, 62, morning, wide, DE_INT32}}},
        // The last 30 seconds of a leap year and the first 30 of the next.
        {"across midnight", {trace(20, evening, midnight)},
         {{"reference-midnight-2012-366.mseed", 2012, 366, evening, {midnight.begin(), midnight.begin() + 600},
           DE_STEIM2},
          {"reference-midnight-2013-001.mseed", 2013, 1, evening + 30, {midnight.begin() + 600, midnight.end()},
           DE_STEIM2}}},
    };
    const bool remake = std::getenv("TREMCVT_REMAKE_MSEED_REFERENCES") != nullptr;
    const fs::path data = sourceDirectory() / "tests" / "writers" / "data";
    for (const Case& c : cases) {
        SCOPED_TRACE(c.name);
        TempDir dir;
        for (const ChannelTrace& t : c.stores) {
            const OutputResult stored = storeMseedChannel(t, dir.path().string(), "XX");
            ASSERT_EQ(stored.code, kResultOk) << stored.reason;
        }
        for (const DayFile& f : c.files) {
            SCOPED_TRACE(f.reference);
            const fs::path written = fs::path(sdsChannelDirectory(dir.path().string(), "XX", "KAM", "BHZ", f.year)) /
                                     sdsDayFileName("XX", "KAM", "BHZ", f.year, f.day);
            const fs::path reference = data / f.reference;
            if (remake) {
                ASSERT_TRUE(writeFile(reference, readFile(written)));
            }
            EXPECT_EQ(treeDifferences({{f.reference, readFile(reference)}}, {{f.reference, readFile(written)}}),
                      std::vector<std::string>{});

            const mseed_test::ReadBack back = mseed_test::readDayFile(reference.string());
            ASSERT_TRUE(back.ok) << back.problem;
            ASSERT_EQ(back.segments.size(), 1u);
            EXPECT_EQ(back.segments[0].start, static_cast<std::int64_t>(f.start) * 1000000);
            EXPECT_EQ(back.segments[0].rate, c.stores.front().sps);
            EXPECT_EQ(back.segments[0].samples, f.samples);
            ASSERT_FALSE(back.records.empty());
            for (std::size_t i = 0; i < back.records.size(); ++i) {
                const mseed_test::RecordHeader& r = back.records[i];
                EXPECT_EQ(r.sequenceNumber, static_cast<int>(i + 1));
                EXPECT_EQ(r.encoding, f.encoding);
                EXPECT_EQ(r.network + "." + r.station + "." + r.location + "." + r.channel, "XX.KAM..BHZ");
            }
        }
    }
}

}  // namespace
}  // namespace tremcvt::test
