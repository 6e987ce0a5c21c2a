// The tsindex table that tremcvt keeps for its miniSEED day files with
// [DATABASE] TSINDEX=1, through the real program on SQLite and PostgreSQL:
// after conversions in order, shuffled, repeated and interrupted, every day
// file's rows are those mseedindex's rules give for the file as it stands
// (recomputed here from the file's records), and the selection ObsPy's
// tsindex client makes finds the records of a time window.
#include <gtest/gtest.h>
#include <libmseed.h>
#include <openssl/evp.h>

#include <algorithm>
#include <cstdint>
#include <cstdio>
#include <ctime>
#include <filesystem>
#include <optional>
#include <sstream>
#include <string>
#include <sys/stat.h>
#include <tuple>
#include <vector>

#include "converter/tsindex/tsindex_scan.h"
#include "tests/support/program_fixture.h"

namespace tremcvt::test {
namespace {

namespace fs = std::filesystem;

constexpr std::int64_t kNs = 1000000000;
constexpr std::int64_t kMidnight = 1252972800;  // 2009-09-15 00:00:00 UTC

std::string isoTime(std::int64_t ns, bool fraction)
{
    const std::time_t seconds = ns / kNs;
    std::tm civil{};
    gmtime_r(&seconds, &civil);
    char text[64];
    std::strftime(text, sizeof text, "%Y-%m-%dT%H:%M:%S", &civil);
    const long long rest = ns % kNs;
    if (!fraction || rest == 0) return text;
    char tail[16];
    if (rest % 1000 == 0)
        std::snprintf(tail, sizeof tail, ".%06lld", rest / 1000);
    else
        std::snprintf(tail, sizeof tail, ".%09lld", rest);
    return text + std::string(tail);
}

std::string epoch(std::int64_t ns) { return std::to_string(ns / kNs) + ".000000"; }

std::string md5Hex(const std::string& bytes)
{
    unsigned char digest[EVP_MAX_MD_SIZE];
    unsigned int length = 0;
    EVP_Digest(bytes.data(), bytes.size(), digest, &length, EVP_md5(), nullptr);
    std::string hex;
    char pair[3];
    for (unsigned int i = 0; i < length; ++i) {
        std::snprintf(pair, sizeof pair, "%02x", digest[i]);
        hex += pair;
    }
    return hex;
}

// The rows of a query; a failed query fails the test.
std::vector<std::string> rowsOf(const ArchiveTestDatabase& database, const std::string& sql)
{
    std::string error;
    std::optional<std::vector<std::string>> rows = database.query(sql, &error);
    EXPECT_TRUE(rows.has_value()) << error << "\n" << sql;
    return rows.value_or(std::vector<std::string>{});
}

struct Record {
    std::int64_t offset, length, start, end, period;
    std::string codes;  // network|station|location|channel
    int version;
};

// mseedindex's rows for a file, normalised as rowsQuery() reads them back:
// codes|version|start|end|rate*1000|filename|offset|bytes|md5|timeindex|timespans|timerates|filemodtime.
// A section is a run of records of the same codes and quality; its time
// index marks the first record and every record that reaches past the next
// hour from the earliest time, its spans join records that follow within
// half a sample interval; list times are whole seconds, and so are
// PostgreSQL's start and end.
std::vector<std::string> expectedRows(const fs::path& file, bool postgres)
{
    const std::string name = fs::canonical(file).string();
    const std::string bytes = readFile(name);
    std::vector<Record> records;
    MSFileParam* handle = nullptr;
    MSRecord* msr = nullptr;
    off_t position = 0;
    while (ms_readmsr_r(&handle, &msr, name.c_str(), -1, &position, nullptr, 0, 0, 0) == MS_NOERROR) {
        const std::int64_t rate = static_cast<std::int64_t>(msr->samprate);
        const std::int64_t start = static_cast<std::int64_t>(msr->starttime) * 1000;
        const char quality = msr->dataquality;
        records.push_back({position, msr->reclen, start, start + (msr->samplecnt - 1) * (kNs / rate), kNs / rate,
                           std::string(msr->network) + "|" + msr->station + "|" + msr->location + "|" + msr->channel,
                           quality == 'R' ? 1 : quality == 'D' ? 2 : quality == 'Q' ? 3 : quality == 'M' ? 4 : 0});
    }
    ms_readmsr_r(&handle, &msr, nullptr, 0, nullptr, nullptr, 0, 0, 0);
    struct stat status {};
    EXPECT_EQ(::stat(name.c_str(), &status), 0);
    const std::string modified = isoTime(static_cast<std::int64_t>(status.st_mtime) * kNs, false);

    std::vector<std::string> rows;
    for (std::size_t first = 0, last; first < records.size(); first = last) {
        for (last = first + 1; last < records.size() && records[last].codes == records[first].codes &&
                               records[last].version == records[first].version;)
            ++last;
        std::int64_t earliest = records[first].start, latest = records[first].end;
        std::int64_t nextMark = earliest + 3600 * kNs;
        while (nextMark < records[first].end) nextMark += 3600 * kNs;
        std::string index = epoch(earliest) + "=>" + std::to_string(records[first].offset);
        std::string spans;
        std::int64_t spanStart = records[first].start, spanEnd = records[first].end;
        bool ordered = true;
        for (std::size_t i = first + 1; i < last; ++i) {
            const Record& r = records[i];
            earliest = std::min(earliest, r.start);
            latest = std::max(latest, r.end);
            ordered = ordered && r.start > records[i - 1].start;
            if (r.end > nextMark) {
                index += "," + epoch(r.start) + "=>" + std::to_string(r.offset);
                while (nextMark < r.end) nextMark += 3600 * kNs;
            }
            if (std::llabs(r.start - spanEnd - r.period) <= r.period / 2) {
                spanEnd = r.end;
            } else {
                spans += "[" + epoch(spanStart) + ":" + epoch(spanEnd) + "],";
                spanStart = r.start;
                spanEnd = r.end;
            }
        }
        spans += "[" + epoch(spanStart) + ":" + epoch(spanEnd) + "]";
        index += std::string(",latest=>") + (ordered ? "1" : "0");
        const std::int64_t offset = records[first].offset;
        const std::int64_t length = records[last - 1].offset + records[last - 1].length - offset;
        const auto time = [&](std::int64_t ns) {
            return postgres ? isoTime(ns / kNs * kNs, false) + ".000000" : isoTime(ns, true);
        };
        rows.push_back(records[first].codes + "|" + std::to_string(records[first].version) + "|" + time(earliest) +
                       "|" + time(latest) + "|" + std::to_string(kNs / records[first].period * 1000) + "|" + name +
                       "|" + std::to_string(offset) + "|" + std::to_string(length) + "|" +
                       md5Hex(bytes.substr(static_cast<std::size_t>(offset), static_cast<std::size_t>(length))) +
                       "|" + index + "|" + spans + "||" + modified);
    }
    return rows;
}

class TsindexRunTest : public ProgramFixture {
protected:
    TsindexRunTest() { standardStations = true; }

    void SetUp() override
    {
        ProgramFixture::SetUp();
        if (IsSkipped() || HasFatalFailure()) return;
        // The setting as an operator puts it into trz.ini.
        ASSERT_TRUE(writeFile(tempDir->path() / "trz.ini", "[DATABASE]\nTSINDEX=1\n"));
    }

    bool postgres() const { return GetParam() == DatabaseKind::PostgreSQL; }

    ProcessResult toSds(const std::string& file, const fs::path& root, const Environment& extra = {}) const
    {
        return convert("LNG", file, extra, 0, {"mseed=" + root.string()});
    }

    std::vector<std::string> rowsIn(const fs::path& root) const
    {
        const std::string time = postgres() ? "to_char(%s at time zone 'UTC','YYYY-MM-DD\"T\"HH24:MI:SS.US')" : "%s";
        const auto column = [&](const char* name) {
            char text[128];
            std::snprintf(text, sizeof text, time.c_str(), name);
            return std::string(text);
        };
        const std::string sql =
            "select network,station,location,channel,version," + column("starttime") + "," + column("endtime") +
            (postgres() ? ",round(samplerate*1000)::bigint,filename,byteoffset,bytes,hash,"
                          "(select string_agg(key||'=>'||value,',' order by key) from each(timeindex)),"
                          "array_to_string(array(select '['||lower(r)||':'||upper(r)||']' from unnest(timespans) r),"
                          "','),array_to_string(timerates,','),"
                          "to_char(filemodtime at time zone 'UTC','YYYY-MM-DD\"T\"HH24:MI:SS')"
                        : ",cast(round(samplerate*1000) as integer),filename,byteoffset,bytes,hash,timeindex,"
                          "timespans,timerates,filemodtime") +
            " from tsindex where filename like '" + fs::canonical(root).string() + "/%' order by filename,byteoffset;";
        return rowsOf(*database, sql);
    }

    // Every day file below root has exactly mseedindex's rows.
    void expectRowsOfFiles(const fs::path& root) const
    {
        std::vector<std::string> expected;
        for (const auto& entry : fs::recursive_directory_iterator(root))
            if (entry.is_regular_file()) {
                const std::vector<std::string> rows = expectedRows(entry.path(), postgres());
                expected.insert(expected.end(), rows.begin(), rows.end());
            }
        std::sort(expected.begin(), expected.end());
        std::vector<std::string> actual = rowsIn(root);
        std::sort(actual.begin(), actual.end());
        EXPECT_EQ(actual, expected);
    }

    // Whether each row's updated time is the one set before ("kept") or its
    // file's modification time ("file"), by day file name.
    std::vector<std::string> updatedStates(const std::string& before) const
    {
        return rowsOf(*database, "select substr(filename,length(filename)-21)||' '||case when updated=" + before +
                                     " then 'kept' when updated=filemodtime then 'file' else 'other' end "
                                     "from tsindex order by 1;");
    }

    // The minutes of LNG (20 per second): across 11:00, two that follow one
    // another, one after a gap, an hour and more (time index marks), and one
    // across midnight (two day files).
    std::vector<std::string> recordings() const
    {
        return {writeRecording("a.win", kHour - 90, 120, 20),      writeRecording("b.win", kHour + 30, 60, 20),
                writeRecording("c.win", kHour + 90, 60, 20),       writeRecording("d.win", kHour + 300, 60, 20),
                writeRecording("e.win", kHour + 420, 3900, 20),    writeRecording("f.win", kMidnight - 30, 60, 20)};
    }
};

TEST_P(TsindexRunTest, RowsFollowTheFilesInOrderShuffledRepeatedAndInterrupted)
{
    const std::vector<std::string> files = recordings();
    const fs::path inOrder = outputDir / "in-order";
    const fs::path shuffled = outputDir / "shuffled";
    fs::create_directories(inOrder);
    fs::create_directories(shuffled);
    for (const std::string& file : files) {
        const ProcessResult run = toSds(file, inOrder);
        ASSERT_EQ(run.exitStatus, 0) << run.output << run.errorOutput;
        EXPECT_EQ(run.errorOutput, "");
    }
    expectRowsOfFiles(inOrder);
    for (const int i : {4, 2, 5, 0, 3, 1}) ASSERT_EQ(toSds(files[static_cast<std::size_t>(i)], shuffled).exitStatus, 0);
    expectRowsOfFiles(shuffled);
    EXPECT_EQ(treeDifferences(treeOf(inOrder), treeOf(shuffled)), std::vector<std::string>{});

    // Again: the files stay as they are, and so do the rows, their update
    // times included (a section whose records did not change keeps it).
    const std::string before = postgres() ? "'2000-01-01 00:00:00+00'" : "'2000-01-01T00:00:00'";
    ASSERT_TRUE(database->execute("DELETE FROM tsindex WHERE filename LIKE '%shuffled%';"
                                  "UPDATE tsindex SET updated=" + before + ";"));
    for (const std::string& file : files) ASSERT_EQ(toSds(file, inOrder).exitStatus, 0);
    expectRowsOfFiles(inOrder);
    const std::vector<std::string> kept = {"XX.LNG..BHN.D.2009.257 kept", "XX.LNG..BHN.D.2009.258 kept",
                                           "XX.LNG..BHZ.D.2009.257 kept", "XX.LNG..BHZ.D.2009.258 kept"};
    EXPECT_EQ(updatedStates(before), kept);

    // A corrected minute, cut off at every point of its store and of the
    // index update (failed or crashed): once the minute is converted
    // again, the rows are those of the files as they stand.
    const std::string corrected = writeRecording("c2.win", kHour + 90, 60, 20, 1);
    const std::string traceFile = (tempDir->path() / "trace.txt").string();
    ASSERT_EQ(toSds(corrected, inOrder, {{"TREMCVT_FAULT_TRACE", traceFile}}).exitStatus, 0);
    EXPECT_EQ(updatedStates(before),
              (std::vector<std::string>{"XX.LNG..BHN.D.2009.257 file", "XX.LNG..BHN.D.2009.258 kept",
                                        "XX.LNG..BHZ.D.2009.257 file", "XX.LNG..BHZ.D.2009.258 kept"}));
    std::vector<int> points;
    std::istringstream trace(readFile(traceFile));
    std::string kind;
    for (int number; trace >> number >> kind;) points.push_back(number);
    ASSERT_GE(points.size(), 10u);
    const std::size_t stride = static_cast<std::size_t>(crashPointStride()) * 2;
    for (const char* action : {"fail", "crash"}) {
        for (std::size_t i = 0; i < points.size(); i += stride) {
            SCOPED_TRACE(std::string(action) + " at point " + std::to_string(points[i]));
            // Each round changes the minute: the corrected and the first
            // recording in turn.
            const std::string& minute = i / stride % 2 == 0 ? files[2] : corrected;
            const ProcessResult cut = toSds(minute, inOrder,
                                            {{"TREMCVT_FAULT_AT", std::to_string(points[i])},
                                             {"TREMCVT_FAULT_ACTION", action}});
            ASSERT_TRUE(cut.started);
            const ProcessResult again = toSds(minute, inOrder);
            ASSERT_EQ(again.exitStatus, 0) << again.output << again.errorOutput;
            expectRowsOfFiles(inOrder);
        }
    }
}

// The selection ObsPy's tsindex client makes: a request table joined with
// the index by codes and time. The row found names the day file and the byte
// range whose records hold the window, and its time spans show the gap.
TEST_P(TsindexRunTest, TheSelectionOfTheTsindexClientFindsTheRecordsOfAWindow)
{
    const std::vector<std::string> files = recordings();
    for (const std::string& file : files) ASSERT_EQ(toSds(file, outputDir).exitStatus, 0);
    const std::string day = fs::canonical(outputDir / "2009/XX/LNG/BHZ.D/XX.LNG..BHZ.D.2009.257").string();
    const std::string timeType = postgres() ? "timestamp with time zone" : "TEXT";
    const auto select = [&](const std::string& channel, const std::string& start, const std::string& end) {
        return rowsOf(*database, 
            "CREATE TEMPORARY TABLE request (network TEXT, station TEXT, location TEXT, channel TEXT, starttime " +
            timeType + ", endtime " + timeType + ");\nINSERT INTO request VALUES ('XX','LNG','','" + channel +
            "','" + start + "','" + end +
            "');\nSELECT DISTINCT ts.filename,ts.byteoffset,ts.bytes,ts.timespans FROM tsindex ts, request r "
            "WHERE ts.network = r.network AND ts.station = r.station AND ts.location = r.location AND "
            "ts.channel = r.channel AND ts.starttime <= r.endtime AND ts.endtime >= r.starttime "
            "ORDER BY ts.filename, ts.byteoffset;");
    };
    std::vector<std::string> rows = select("BHZ", "2009-09-14T11:01:40", "2009-09-14T11:01:50");
    ASSERT_EQ(rows.size(), 1u);
    std::vector<std::string> fields;
    std::istringstream split(rows[0]);
    for (std::string field; std::getline(split, field, '|');) fields.push_back(field);
    ASSERT_EQ(fields.size(), 4u);
    EXPECT_EQ(fields[0], day);
    const std::string spans = postgres() ? "{\"[" + std::to_string(kHour - 90) + ".000000," +
                                               std::to_string(kHour + 149) + ".000000]\""
                                         : "[" + std::to_string(kHour - 90) + ".000000:" +
                                               std::to_string(kHour + 149) + ".000000]";
    EXPECT_EQ(fields[3].substr(0, spans.size()), spans) << "the first span ends before the gap at 11:02:30";

    // The byte range read on its own holds records that cover the window.
    const std::string bytes = readFile(day).substr(std::stoul(fields[1]), std::stoul(fields[2]));
    std::int64_t covered = 0;
    for (std::size_t at = 0; at + 512 <= bytes.size(); at += 512) {
        MSRecord* msr = nullptr;
        ASSERT_EQ(msr_parse(const_cast<char*>(bytes.data() + at), 512, &msr, 512, 0, 0), MS_NOERROR);
        const std::int64_t start = msr->starttime / HPTMODULUS, end = start + msr->samplecnt / 20;
        covered += std::max<std::int64_t>(0, std::min(end, kHour + 110) - std::max(start, kHour + 100));
        msr_free(&msr);
    }
    EXPECT_EQ(covered, 10);

    EXPECT_EQ(select("BHN", "2009-09-14T23:59:50", "2009-09-15T00:00:10").size(), 2u) << "both day files";
    EXPECT_EQ(select("BHZ", "2009-09-16T00:00:00", "2009-09-16T01:00:00"), std::vector<std::string>{});
}

// A file of two channels' records has a section for each, at its own bytes.
TEST_P(TsindexRunTest, EachRunOfOneChannelsRecordsIsASection)
{
    if (postgres()) GTEST_SKIP() << "reads files only";
    ASSERT_EQ(toSds(writeRecording("a.win", kHour, 60, 20), outputDir).exitStatus, 0);
    const fs::path z = outputDir / "2009/XX/LNG/BHZ.D/XX.LNG..BHZ.D.2009.257";
    const fs::path n = outputDir / "2009/XX/LNG/BHN.D/XX.LNG..BHN.D.2009.257";
    const fs::path both = outputDir / "both";
    ASSERT_TRUE(writeFile(both, readFile(z) + readFile(n)));
    const TsindexScan scan = scanMseedFile(both.string());
    ASSERT_EQ(scan.code, kResultOk) << scan.reason;
    ASSERT_EQ(scan.sections.size(), 2u);
    const std::int64_t size = static_cast<std::int64_t>(fs::file_size(z));
    for (const auto& [section, file, offset] :
         {std::tuple{scan.sections[0], z, std::int64_t{0}}, std::tuple{scan.sections[1], n, size}}) {
        const TsindexSection alone = scanMseedFile(file.string()).sections.at(0);
        EXPECT_EQ(section.channel, alone.channel);
        EXPECT_EQ(section.byteOffset, offset);
        EXPECT_EQ(section.bytes, static_cast<std::int64_t>(fs::file_size(file)));
        EXPECT_EQ(section.hash, alone.hash);
        EXPECT_EQ(section.timeIndex.front().byteOffset, offset);
        EXPECT_EQ(section.spans.size(), 1u);
    }
}

// Without the table the store goes on, but the channel counts as not stored
// and the reason is told; without the database the run ends before any
// store, as every run does.
TEST_P(TsindexRunTest, AMissingTableOrDatabaseIsReported)
{
    const std::string file = writeRecording("a.win", kHour, 60, 20);
    ASSERT_TRUE(database->execute("DROP TABLE tsindex;"));
    const ProcessResult run = toSds(file, outputDir);
    EXPECT_EQ(run.exitStatus, 250);
    const std::string day = (outputDir / "2009/XX/LNG/BHZ.D/XX.LNG..BHZ.D.2009.257").string();
    EXPECT_NE(run.output.find("DB write error (LNG::BHZ::" + day + ")\n"), std::string::npos) << run.output;
    EXPECT_NE(run.errorOutput.find("no tsindex table"), std::string::npos) << run.errorOutput;
    EXPECT_TRUE(fs::exists(day));

    const ProcessResult unreachable = convert("LNG", file, {}, 0, {"mseed=" + outputDir.string(), "odbc=NOSUCHDSN"});
    EXPECT_EQ(unreachable.exitStatus, 255);
    EXPECT_EQ(unreachable.output.rfind("Connection error (ODBC: NOSUCHDSN", 0), 0u) << unreachable.output;
}

INSTANTIATE_TEST_SUITE_P(Databases, TsindexRunTest, allDatabaseKinds(), databaseKindTestName);

}  // namespace
}  // namespace tremcvt::test
