// The pure cores of tremcvt_check: spans and gaps to the sample, the header
// of an archive file against its row, a row against what its file holds,
// overlapping rows and orphans, and the SVG picture's elements.
#include <gtest/gtest.h>

#include <cmath>
#include <cstdint>
#include <regex>
#include <string>
#include <vector>

#include "converter/check/availability.h"
#include "converter/check/check_command_line.h"
#include "converter/check/sds_check.h"
#include "converter/check/svg_picture.h"
#include "converter/check/trz_check.h"
#include "converter/writers/trz_writer.h"

namespace tremcvt::check {
namespace {

constexpr double kT0 = 1252926000.0;  // 2009-09-14 11:00:00 UTC

struct Stretch {
    double begin;  // seconds after kT0
    double end;
    std::int64_t samples;
};

struct AvailabilityCase {
    const char* what;
    double rate;
    std::vector<Interval> pieces;  // seconds after kT0
    double from, to;
    std::vector<Stretch> spans, gaps, overlaps;
};

void expectStretches(const std::vector<Interval>& found, const std::vector<Stretch>& expected, double rate,
                     const char* kind, const char* what)
{
    ASSERT_EQ(found.size(), expected.size()) << what << ": " << kind;
    for (std::size_t i = 0; i < found.size(); ++i) {
        EXPECT_NEAR(found[i].begin - kT0, expected[i].begin, 1e-6) << what << ": " << kind << " " << i;
        EXPECT_NEAR(found[i].end - kT0, expected[i].end, 1e-6) << what << ": " << kind << " " << i;
        if (expected[i].samples >= 0) {
            EXPECT_EQ(samplesIn(found[i], rate), expected[i].samples) << what << ": " << kind << " " << i;
        }
    }
}

TEST(CheckAvailability, SpansGapsAndOverlapsToTheSample)
{
    const AvailabilityCase cases[] = {
        {"hour files meeting, then a minute missing", 100.0, {{0, 600}, {600, 1200}, {1260, 3600}}, 0, 3600,
         {{0, 1200, -1}, {1260, 3600, -1}}, {{1200, 1260, 6000}}, {}},
        {"one sample missing", 100.0, {{0, 10}, {10.01, 20}}, 0, 20, {{0, 10, -1}, {10.01, 20, -1}},
         {{10, 10.01, 1}}, {}},
        {"within half a sample interval: joined", 100.0, {{0, 10}, {10.004, 20}}, 0, 20, {{0, 20, -1}}, {}, {}},
        {"overlap and gaps at both ends", 100.0, {{10, 1800}, {1790, 3000}}, 0, 3600, {{10, 3000, -1}},
         {{0, 10, 1000}, {3000, 3600, 60000}}, {{1790, 1800, 1000}}},
        {"a piece held three times", 20.0, {{0, 100}, {50, 150}, {60, 80}}, 0, 150, {{0, 150, -1}}, {},
         {{50, 100, 1000}}},
        {"pieces cut to the window", 20.0, {{-100, 50}, {70, 500}}, 0, 100, {{0, 50, -1}, {70, 100, -1}},
         {{50, 70, 400}}, {}},
        {"no data in the window", 20.0, {{200, 300}}, 0, 100, {}, {{0, 100, 2000}}, {}},
    };
    for (const AvailabilityCase& c : cases) {
        ChannelPieces channel{"KAM::BHZ", c.rate, {}};
        for (const Interval& piece : c.pieces) channel.pieces.push_back({kT0 + piece.begin, kT0 + piece.end});
        const AvailabilityReport report = computeAvailability({channel}, kT0 + c.from, kT0 + c.to);
        ASSERT_EQ(report.channels.size(), 1u);
        const ChannelAvailability& a = report.channels[0];
        expectStretches(a.spans, c.spans, c.rate, "spans", c.what);
        expectStretches(a.gaps, c.gaps, c.rate, "gaps", c.what);
        expectStretches(a.overlaps, c.overlaps, c.rate, "overlaps", c.what);
        double covered = 0.0;
        for (const Stretch& s : c.spans) covered += s.end - s.begin;
        EXPECT_NEAR(a.percent, 100.0 * covered / (c.to - c.from), 1e-6) << c.what;
    }
}

TEST(CheckAvailability, WindowOfAllChannelsAndReportsOfEachFormat)
{
    const std::vector<ChannelPieces> channels = {{"KAM::BHZ", 100.0, {{kT0, kT0 + 60}, {kT0 + 120, kT0 + 180}}},
                                                 {"KAM::BHN", 100.0, {{kT0 + 30, kT0 + 200}}}};
    const AvailabilityReport report = computeAvailability(channels, std::nullopt, std::nullopt);
    EXPECT_DOUBLE_EQ(report.window.begin, kT0);
    EXPECT_DOUBLE_EQ(report.window.end, kT0 + 200);
    // BHZ: gap 60..120 and the tail 180..200; BHN: the head 0..30.
    EXPECT_EQ(report.channels[0].gaps.size(), 2u);
    EXPECT_EQ(report.channels[1].gaps.size(), 1u);

    const std::string text = formatAvailabilityText(report);
    EXPECT_NE(text.find("gap     2009-09-14T11:01:00 to 2009-09-14T11:02:00  00:01:00 (6000 samples)"),
              std::string::npos)
        << text;
    const std::string csv = formatAvailabilityCsv(report);
    EXPECT_NE(csv.find("KAM::BHZ,gap,2009-09-14T11:01:00,2009-09-14T11:02:00,60.0000,6000,\n"), std::string::npos)
        << csv;
    EXPECT_NE(csv.find("KAM::BHN,channel,2009-09-14T11:00:00,2009-09-14T11:03:20,170.0000,17000,85.000\n"),
              std::string::npos)
        << csv;
    const std::string json = formatAvailabilityJson(report);
    EXPECT_NE(json.find("{\"channel\":\"KAM::BHN\",\"rate\":100.00,\"percent\":85.000,"), std::string::npos) << json;
    EXPECT_NE(json.find("\"gaps\":[{\"start\":\"2009-09-14T11:00:00\",\"end\":\"2009-09-14T11:00:30\","
                        "\"seconds\":30.0000,\"samples\":3000}]"),
              std::string::npos)
        << json;
}

CatalogueRow row(const char* path, double begin, double length, double rate = 100.0, const char* channel = "BHZ")
{
    CatalogueRow r;
    r.station = "KAM";
    r.channel = channel;
    r.locationCode = "??";
    r.creator = "tremcvt";
    r.path = path;
    r.begin = begin;
    r.length = length;
    r.rate = rate;
    r.end = begin + length;
    r.dataOffset = 512;
    return r;
}

std::string headerOf(double begin, double duration, double rate, const char* station, const char* channel)
{
    const TrzHeader header = formatTrzHeader(begin, duration, rate, station, channel);
    return std::string(header.bytes.data(), header.bytes.size());
}

TEST(CheckTrzHeader, EachDifferingFieldIsNamed)
{
    ::setenv("TZ", "UTC", 1);
    ::tzset();
    CatalogueRow r = row("KAM/11/14092009-110000-BHZ.KAM", kT0, 3600.0);
    r.end = kT0 + 3599.99999;  // TEND as the catalogue may round it
    struct Case {
        const char* what;
        std::string header;
        const char* named;  // nullptr: no difference
    };
    std::string garbage(512, 'x');
    const Case cases[] = {
        {"the writer's header for the row", headerOf(kT0, 3600.0, 100.0, "KAM", "BHZ"), nullptr},
        {"the duration of TEND - TBEGIN", headerOf(kT0, 3599.99999, 100.0, "KAM", "BHZ"), nullptr},
        {"a second later", headerOf(kT0 + 1, 3600.0, 100.0, "KAM", "BHZ"), "start time: header '11:00:01', row '11:00:00'"},
        {"a day later", headerOf(kT0 + 86400, 3600.0, 100.0, "KAM", "BHZ"), "start date: header '15-09-2009'"},
        {"a minute short", headerOf(kT0, 3540.0, 100.0, "KAM", "BHZ"), "duration: header '000 00 59 00'"},
        {"another rate", headerOf(kT0, 3600.0, 20.0, "KAM", "BHZ"), "rate: header '20.00', row '100.00'"},
        {"another station", headerOf(kT0, 3600.0, 100.0, "LNG", "BHZ"), "station: header 'LNG', row 'KAM'"},
        {"another channel", headerOf(kT0, 3600.0, 100.0, "KAM", "BHN"), "channel: header 'BHN', row 'BHZ'"},
        {"no header at all", garbage, "signature"},
    };
    for (const Case& c : cases) {
        const std::string differences = headerDifferences(parseTrzHeader(c.header), expectedTrzHeader(r));
        if (c.named == nullptr) {
            EXPECT_EQ(differences, "") << c.what;
        } else {
            EXPECT_NE(differences.find(c.named), std::string::npos) << c.what << ": " << differences;
            // One field changed, one named.
            EXPECT_EQ(differences.find(';'), std::string::npos) << c.what << ": " << differences;
        }
    }
}

TEST(CheckTrzRow, RowAgainstFileFacts)
{
    ::setenv("TZ", "UTC", 1);
    ::tzset();
    const CatalogueRow r = row("KAM/11/14092009-110000-BHZ.KAM", kT0, 60.0);  // 6000 samples, 24512 bytes
    const std::string good = headerOf(kT0, 60.0, 100.0, "KAM", "BHZ");
    struct Case {
        const char* what;
        FileFacts facts;
        std::vector<std::string> kinds;
        const char* detail;
    };
    const auto facts = [&](FileFacts::State state, std::int64_t size, std::int64_t bad = 0) {
        FileFacts f;
        f.state = state;
        f.size = size;
        f.header = good;
        f.badSamples = bad;
        f.firstBadSample = bad > 0 ? 5 : -1;
        f.samplesRead = true;
        return f;
    };
    const Case cases[] = {
        {"as the row says", facts(FileFacts::State::kRegular, 24512), {}, ""},
        {"missing", facts(FileFacts::State::kMissing, 0), {"missing"}, "no such file"},
        {"a directory", facts(FileFacts::State::kNotRegular, 0), {"not-regular"}, "not a regular file"},
        {"100 samples short", facts(FileFacts::State::kRegular, 24112), {"short"},
         "holds 5900 samples, its row 6000 (missing 2009-09-14T11:00:59 to 2009-09-14T11:01:00)"},
        {"a stray tail", facts(FileFacts::State::kRegular, 24520), {"tail"}, "8 bytes beyond the 6000 samples"},
        {"samples not finite", facts(FileFacts::State::kRegular, 24512, 3), {"samples"},
         "3 samples are not finite numbers, the first sample 5 at 2009-09-14T11:00:00.050"},
    };
    for (const Case& c : cases) {
        const std::vector<Finding> findings = compareRowWithFile(r, c.facts);
        ASSERT_EQ(findings.size(), c.kinds.size()) << c.what;
        for (std::size_t i = 0; i < findings.size(); ++i) {
            EXPECT_EQ(findings[i].kind, c.kinds[i]) << c.what;
            EXPECT_EQ(findings[i].file, r.path) << c.what;
            EXPECT_NE(findings[i].what.find(c.detail), std::string::npos) << c.what << ": " << findings[i].what;
        }
    }
}

TEST(CheckTrzRow, OverlapsSharedPathsOrphansAndPaths)
{
    const std::vector<CatalogueRow> rows = {
        row("a", kT0, 3600.0),
        row("b", kT0 + 3600.0, 3600.0),              // meets a
        row("c", kT0 + 3600.0 + 1800.0, 60.0),       // inside b
        row("d", kT0 + 3600.0, 3600.0, 100.0, "BHN"),  // another channel
        row("e", kT0 + 7199.996, 10.0),              // within half a sample of b's end
    };
    const std::vector<Finding> overlaps = findOverlappingRows(rows);
    ASSERT_EQ(overlaps.size(), 1u);
    EXPECT_EQ(overlaps[0].file, "c");
    EXPECT_NE(overlaps[0].what.find("overlap 00:01:00 of b"), std::string::npos) << overlaps[0].what;

    std::vector<CatalogueRow> shared = rows;
    shared.push_back(row("a", kT0 + 90000.0, 60.0));
    const std::vector<Finding> sharedPaths = findSharedPaths(shared);
    ASSERT_EQ(sharedPaths.size(), 1u);
    EXPECT_EQ(sharedPaths[0].file, "a");

    const std::vector<ArchiveEntry> entries = {
        {"a", true, 1}, {".tremcvt-archive-root", true, 0}, {"KAM/11/x", true, 7}, {"b", true, 1}, {"KAM/link", false, 0}};
    const std::vector<Finding> orphans = findOrphans(entries, rows);
    ASSERT_EQ(orphans.size(), 2u);
    EXPECT_EQ(orphans[0].file, "KAM/11/x");
    EXPECT_EQ(orphans[1].file, "KAM/link");

    for (const char* below : {"KAM/11/f.KAM", "f"}) EXPECT_TRUE(pathBelowRoot(below)) << below;
    for (const char* outside : {"", "/srv/KAM/f", "../f", "KAM/../../f", "C:/f", "KAM//f", "./f"})
        EXPECT_FALSE(pathBelowRoot(outside)) << outside;
}

// Tags of an XML text balance (self-closing ones aside); returns the first
// problem, empty when none.
std::string tagBalance(const std::string& xml)
{
    std::vector<std::string> open;
    const std::regex tag("<(/?)([a-zA-Z?][^\\s/>]*)[^>]*?(/?)>");
    for (auto it = std::sregex_iterator(xml.begin(), xml.end(), tag); it != std::sregex_iterator(); ++it) {
        const std::string name = (*it)[2];
        if (name[0] == '?') continue;
        if ((*it)[3] == "/") continue;
        if ((*it)[1] == "/") {
            if (open.empty() || open.back() != name) return "unbalanced </" + name + ">";
            open.pop_back();
        } else {
            open.push_back(name);
        }
    }
    return open.empty() ? "" : "unclosed <" + open.back() + ">";
}

std::size_t count(const std::string& text, const std::string& what)
{
    std::size_t n = 0;
    for (std::size_t at = text.find(what); at != std::string::npos; at = text.find(what, at + 1)) ++n;
    return n;
}

TEST(CheckPicture, OneRowPerChannelWithSpansGapsAndOverlaps)
{
    const std::vector<ChannelPieces> channels = {
        {"KAM::BHZ", 100.0, {{kT0, kT0 + 86400}, {kT0 + 90000, kT0 + 7 * 86400}}},
        {"KAM::BHN", 100.0, {{kT0, kT0 + 4 * 86400}, {kT0 + 3 * 86400, kT0 + 7 * 86400}}},
        {"A&B<1>", 20.0, {}},
    };
    const std::string svg = renderAvailabilitySvg(computeAvailability(channels, kT0, kT0 + 7 * 86400));
    EXPECT_EQ(tagBalance(svg), "");
    EXPECT_EQ(svg.rfind("<?xml", 0), 0u);
    EXPECT_EQ(count(svg, "<g class=\"channel\""), 3u);
    EXPECT_NE(svg.find("data-channel=\"A&amp;B&lt;1&gt;\""), std::string::npos);
    EXPECT_EQ(count(svg, "<rect class=\"span\""), 3u);     // BHZ two, BHN one
    EXPECT_EQ(count(svg, "<rect class=\"gap\""), 2u);      // BHZ's hour, the empty channel
    EXPECT_EQ(count(svg, "<rect class=\"overlap\""), 1u);  // BHN's day held twice
    EXPECT_EQ(count(svg, "<text class=\"percent\""), 3u);
    EXPECT_NE(svg.find(">0.00 %<"), std::string::npos);
    EXPECT_NE(svg.find(">2009-09-15<"), std::string::npos);  // daily ticks for a week
}

TEST(CheckPicture, AYearOfTwentyChannelsStaysSmallAndShowsEveryGap)
{
    std::vector<ChannelPieces> channels;
    for (int c = 0; c < 20; ++c) {
        ChannelPieces channel{"STA" + std::to_string(c) + "::BHZ", 100.0, {}};
        // Hour files all year; channel c misses one minute every (c + 1) days.
        for (int h = 0; h < 365 * 24; ++h) {
            const double begin = kT0 + h * 3600.0;
            const bool missing = h % ((c + 1) * 24) == 5;
            channel.pieces.push_back({begin, begin + (missing ? 3540.0 : 3600.0)});
        }
        channels.push_back(channel);
    }
    const std::string svg = renderAvailabilitySvg(computeAvailability(channels, std::nullopt, std::nullopt));
    EXPECT_EQ(tagBalance(svg), "");
    EXPECT_EQ(count(svg, "<g class=\"channel\""), 20u);
    // At most one element per pixel and kind: the picture stays small.
    EXPECT_LT(svg.size(), 20u * 1000u * 200u);
    EXPECT_EQ(count(svg, "<rect class=\"overlap\""), 0u);
    // Channel 0 misses a minute every day: every gap is drawn (merged per
    // pixel); the last channel's 19 gaps, 20 days apart, are drawn on their
    // own.
    const std::size_t last = svg.find("data-channel=\"STA19::BHZ\"");
    ASSERT_NE(last, std::string::npos);
    EXPECT_EQ(count(svg.substr(last), "<rect class=\"gap\""), 19u);
    EXPECT_NE(svg.find(">2010-01<"), std::string::npos);  // monthly ticks for a year
}

TEST(CheckSdsRecords, OrderOverlapsAndIdentityOfRecords)
{
    SdsDayName day;
    ASSERT_TRUE(parseSdsDayName("XX.KAM..BHZ.D.2009.257", day));
    EXPECT_DOUBLE_EQ(day.dayBegin, 1252886400.0);  // 2009-09-14 00:00 UTC
    EXPECT_TRUE(isSdsLeftover(".XX.KAM..BHZ.D.2009.257.tmp"));
    for (const char* other : {"XX.KAM..BHZ.D.2009.257", "XX.KAM..BHZ.D.2009.367", ".XX.KAM..BHZ.D.2009.tmp", "a.tmp"}) {
        EXPECT_FALSE(isSdsLeftover(other)) << other;
    }
    EXPECT_FALSE(parseSdsDayName("XX.KAM..BHZ.D.2009.367", day));

    ASSERT_TRUE(parseSdsDayName("XX.KAM..BHZ.D.2009.257", day));
    // 100 samples per second, records of 500 samples (5 s).
    const auto record = [](std::int64_t offset, double begin, const char* channel = "BHZ") {
        return SdsRecord{offset, "XX", "KAM", "", channel, kT0 + begin, 100.0, 500};
    };
    struct Case {
        const char* what;
        std::vector<SdsRecord> records;
        std::vector<std::string> kinds;
    };
    const Case cases[] = {
        {"in order, one after the other", {record(0, 0), record(512, 5), record(1024, 10)}, {}},
        {"a gap is no finding", {record(0, 0), record(512, 60)}, {}},
        {"out of order", {record(0, 5), record(512, 0)}, {"order"}},
        {"overlapping by a sample", {record(0, 0), record(512, 4.99)}, {"overlap"}},
        {"within half a sample of the next one", {record(0, 0), record(512, 4.996)}, {}},
        {"another channel inside", {record(0, 0), record(512, 5, "BHN")}, {"record"}},
        {"outside the file's day", {record(0, 0), record(512, 86400)}, {"record"}},
    };
    for (const Case& c : cases) {
        const std::vector<Finding> findings = checkSdsRecords("f", day, c.records);
        std::vector<std::string> kinds;
        for (const Finding& f : findings) kinds.push_back(f.kind);
        EXPECT_EQ(kinds, c.kinds) << c.what;
        for (const Finding& f : findings) EXPECT_NE(f.what.find("record at byte 512"), std::string::npos) << f.what;
    }
}

TEST(CheckCommandLine, RefusalsAndSelections)
{
    const std::vector<std::vector<std::string>> refused = {
        {},
        {"scrub"},
        {"repair", "--picture", "a.svg"},
        {"verify", "--format", "csv"},
        {"availability", "--read-data"},
        {"availability", "--format", "xml"},
        {"verify", "--from", "2009-09-14"},
        {"verify", "--from", "2009-02-30T00:00"},
        {"verify", "--from", "2009-09-14T12:00", "--to", "2009-09-14T11:00"},
        {"verify", "--station"},
        {"verify", "css=/tmp/x"},
    };
    for (const auto& arguments : refused)
        EXPECT_EQ(parseCheckCommandLine(arguments).status, ParsedCheckCommandLine::Status::kRefused)
            << (arguments.empty() ? "(none)" : arguments.back());

    const ParsedCheckCommandLine parsed =
        parseCheckCommandLine({"availability", "--station", "KAM", "--station=LNG", "--channel", "BHZ", "--from",
                               "2009-09-14T11:00", "--to", "2009-09-14T11:30:15", "--format", "json", "--picture",
                               "a.svg", "odbc=TRZ", "DATA=/srv/trz"});
    ASSERT_EQ(parsed.status, ParsedCheckCommandLine::Status::kRun) << parsed.message;
    const CheckOptions& o = parsed.options;
    EXPECT_EQ(o.selection.stations, (std::vector<std::string>{"KAM", "LNG"}));
    EXPECT_EQ(o.selection.channels, (std::vector<std::string>{"BHZ"}));
    EXPECT_DOUBLE_EQ(*o.selection.from, kT0);
    EXPECT_DOUBLE_EQ(*o.selection.to, kT0 + 1815.0);
    EXPECT_EQ(o.format, ReportFormat::kJson);
    EXPECT_EQ(o.picture, "a.svg");
    EXPECT_EQ(o.settingsArguments, (std::vector<std::string>{"odbc=TRZ", "DATA=/srv/trz"}));
}

}  // namespace
}  // namespace tremcvt::check
