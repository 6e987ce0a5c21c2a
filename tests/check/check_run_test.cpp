// tremcvt_check as an operator runs it: over an archive that the real
// converter made on SQLite and PostgreSQL, damaged on purpose, and over an
// SDS tree that the miniSEED writer made, with a corrupt record and the
// leftover of an interrupted store.
#include <gtest/gtest.h>

#include <algorithm>
#include <array>
#include <cmath>
#include <cstdint>
#include <cstdlib>
#include <filesystem>
#include <fstream>
#include <map>
#include <sstream>
#include <string>
#include <tuple>
#include <vector>

#include "converter/writers/mseed_writer.h"
#include "converter/writers/trz_writer.h"
#include "tests/support/program_fixture.h"
#include "tests/support/test_support.h"

#ifndef TREMCVT_CHECK_BINARY
#error "TREMCVT_CHECK_BINARY must name the check program"
#endif

namespace tremcvt {
namespace {

namespace fs = std::filesystem;
using test::kHour;

// Finding lines by kind ("short", "orphan", ...) and the summary line.
struct Report {
    std::map<std::string, std::vector<std::string>> byKind;
    std::size_t findings = 0;
    std::string summary;
};

Report reportOf(const std::string& output)
{
    Report report;
    std::istringstream in(output);
    std::string line;
    while (std::getline(in, line)) {
        if (line.rfind("Summary: ", 0) == 0) {
            report.summary = line;
            continue;
        }
        EXPECT_TRUE(report.summary.empty()) << "a line after the summary: " << line;
        report.byKind[line.substr(0, line.find(' '))].push_back(line);
        ++report.findings;
    }
    return report;
}

void patch(const fs::path& path, std::int64_t offset, const std::string& bytes)
{
    std::fstream file(path, std::ios::in | std::ios::out | std::ios::binary);
    ASSERT_TRUE(file.is_open()) << path;
    file.seekp(offset);
    file.write(bytes.data(), static_cast<std::streamsize>(bytes.size()));
    ASSERT_TRUE(file.good()) << path;
}

// The catalogue's samples: per station, channel and sample time (TBEGIN in
// samples plus the index), the values every row holds there.
using Timeline = std::map<std::tuple<std::string, std::string, std::int64_t>, std::vector<float>>;

// Every file outside the archive directory (and the SQLite database) with
// its contents.
std::map<std::string, std::string> filesOutside(const fs::path& top, const fs::path& archive)
{
    std::map<std::string, std::string> files;
    for (const auto& entry : fs::recursive_directory_iterator(top)) {
        const fs::path& path = entry.path();
        if (!entry.is_regular_file() || path.string().rfind(archive.string(), 0) == 0 ||
            path.string().find(".db") != std::string::npos)
            continue;
        files[path.string()] = test::readFile(path);
    }
    return files;
}

class CheckRunTest : public test::ProgramFixture {
protected:
    CheckRunTest() { standardStations = true; }

    test::ProcessResult check(const std::vector<std::string>& arguments) { return run(TREMCVT_CHECK_BINARY, arguments); }

    Timeline timeline() const
    {
        Timeline samples;
        const auto rows = database->query("select STA,CH,TBEGIN,TQTY,SPS,CPATH from FILELIST");
        EXPECT_TRUE(rows.has_value());
        for (const std::string& line : rows.value_or(std::vector<std::string>())) {
            std::vector<std::string> field;
            std::istringstream in(line);
            for (std::string part; std::getline(in, part, '|');) field.push_back(part);
            TrzHeader header;
            std::vector<float> values;
            EXPECT_TRUE(field.size() == 6 && readTrzFile((archiveDir / field[5]).string(), header, values)) << line;
            if (field.size() != 6) continue;
            const double rate = std::stod(field[4]);
            const std::int64_t first = std::llround(std::stod(field[2]) * rate);
            const auto count = std::min<std::int64_t>(std::llround(std::stod(field[3]) * rate),
                                                      static_cast<std::int64_t>(values.size()));
            for (std::int64_t i = 0; i < count; ++i) samples[{field[0], field[1], first + i}].push_back(values[i]);
        }
        return samples;
    }

    // Verify with the given arguments: the exit status, and each expected
    // kind named exactly once by a line that starts with "<kind> <file>: "
    // and contains the detail; no other finding.
    void expectFindings(const std::vector<std::string>& arguments,
                        const std::vector<std::array<std::string, 3>>& expected, const char* when)
    {
        const test::ProcessResult result = check(arguments);
        ASSERT_TRUE(result.exited) << when;
        EXPECT_EQ(result.exitStatus, expected.empty() ? 0 : 3) << when << "\n" << result.output << result.errorOutput;
        const Report report = reportOf(result.output);
        EXPECT_EQ(report.findings, expected.size()) << when << "\n" << result.output;
        for (const auto& [kind, file, detail] : expected) {
            const auto found = report.byKind.find(kind);
            ASSERT_TRUE(found != report.byKind.end() && found->second.size() == 1)
                << when << ": " << kind << " not named once\n" << result.output;
            EXPECT_EQ(found->second[0].rfind(kind + " " + file + ": ", 0), 0u) << when << ": " << found->second[0];
            EXPECT_NE(found->second[0].find(detail), std::string::npos) << when << ": " << found->second[0];
        }
        EXPECT_EQ(report.summary.rfind(expected.empty() ? "Summary: consistent, " : "Summary: " +
                                           std::to_string(expected.size()) + " inconsistenc", 0), 0u)
            << when << ": " << report.summary;
    }
};

TEST_P(CheckRunTest, DamagedArchiveNamesEachFindingOnce)
{
    ::setenv("TZ", "UTC", 1);
    ::tzset();
    convertCleanly("KAM", writeRecording("k1", kHour, 60, 100), "KAM 11:00");
    convertCleanly("KAM", writeRecording("k2", kHour + 60, 60, 100), "KAM 11:01");
    convertCleanly("KAM", writeRecording("k3", kHour + 1800, 60, 100), "KAM 11:30");
    convertCleanly("LNG", writeRecording("l1", kHour, 60, 20), "LNG 11:00");
    expectFindings({"verify", "--read-data"}, {}, "the archive as converted");
    const test::ProcessResult csv = check({"availability", "--format", "csv"});
    EXPECT_EQ(csv.exitStatus, 0) << csv.errorOutput;
    EXPECT_NE(csv.output.find("KAM::BHZ,gap,2009-09-14T11:02:00,2009-09-14T11:30:00,1680.0000,168000,\n"),
              std::string::npos)
        << csv.output;
    EXPECT_NE(csv.output.find("LNG::BHN,span,2009-09-14T11:00:00,2009-09-14T11:01:00,60.0000,1200,\n"),
              std::string::npos)
        << csv.output;

    const Timeline undamaged = timeline();

    // The damage: a file cut short, a row deleted (its file an orphan), a
    // header changed, a row overlapping another, a stray tail and a sample
    // that is not a number.
    fs::resize_file(archiveDir / "KAM/11/14092009-110000-BHZ.KAM", 512 + 4 * 12000 - 400);
    ASSERT_TRUE(database->execute("delete from FILELIST where CPATH='KAM/11/14092009-113000-BHN.KAM'"));
    patch(archiveDir / "LNG/11/14092009-110000-BHZ.LNG", std::string(formatTrzHeader(kHour, 60, 20, "LNG", "BHZ").text()).find("Station=LNG") + 8, "XYZ");
    const std::vector<float> samples(3000, 1.0f);
    ASSERT_EQ(createTrzFile((archiveDir / "KAM/11/14092009-113030-BHZ.KAM").string(), samples.data(), 3000,
                            formatTrzHeader(kHour + 1830, 30, 100, "KAM", "BHZ")),
              0);
    ASSERT_TRUE(database->execute(
        "insert into FILELIST(STA,CH,LCODE,TBEGIN,TQTY,TEND,SPS,GAIN,DATATYPE,FOFF,CPATH,CREATER,LDDATE) "
        "values('KAM','BHZ','?\?'," + std::to_string(kHour + 1830) + ",30," + std::to_string(kHour + 1860) +
        ",100,1,3,512,'KAM/11/14092009-113030-BHZ.KAM','tremcvt','2009-09-14 12:00:00')"));
    {
        std::ofstream tail(archiveDir / "LNG/11/14092009-110000-BHN.LNG", std::ios::binary | std::ios::app);
        tail.write("12345678", 8);
    }
    patch(archiveDir / "KAM/11/14092009-110000-BHN.KAM", 512 + 4 * 5, std::string("\x00\x00\xc0\x7f", 4));

    const std::vector<std::array<std::string, 3>> structural = {
        {"short", "KAM/11/14092009-110000-BHZ.KAM", "holds 11900 samples, its row 12000 (missing 2009-09-14T11:01:59 to 2009-09-14T11:02:00)"},
        {"orphan", "KAM/11/14092009-113000-BHN.KAM", "no catalogue row names this file"},
        {"header", "LNG/11/14092009-110000-BHZ.LNG", "station: header 'XYZ', row 'LNG'"},
        {"overlap", "KAM/11/14092009-113030-BHZ.KAM", "overlap 00:00:30 of KAM/11/14092009-113000-BHZ.KAM"},
        {"tail", "LNG/11/14092009-110000-BHN.LNG", "8 bytes beyond the 1200 samples"},
    };
    expectFindings({"verify"}, structural, "structural");
    std::vector<std::array<std::string, 3>> withData = structural;
    withData.push_back({"samples", "KAM/11/14092009-110000-BHN.KAM", "1 samples are not finite numbers, the first sample 5"});
    expectFindings({"verify", "--read-data"}, withData, "reading the samples");
    expectFindings({"verify", "--station", "LNG"}, {structural[2], structural[4]}, "station LNG");
    expectFindings({"verify", "--station", "KAM", "--channel", "BHN", "--read-data"}, {structural[1], withData[5]},
                   "channel BHN of KAM");
    // The window narrows the rows, not the search for orphans.
    expectFindings({"verify", "--from", "2009-09-14T11:20", "--to", "2009-09-14T12:00"}, {structural[1], structural[3]},
                   "from 11:20");

    // The overlap shows in the availability too, whose exit status tells it.
    const fs::path picture = tempDir->path() / "availability.svg";
    const test::ProcessResult json = check({"availability", "--format", "json", "--picture", picture.string()});
    EXPECT_EQ(json.exitStatus, 3) << json.output << json.errorOutput;
    EXPECT_NE(json.output.find("\"overlaps\":[{\"start\":\"2009-09-14T11:30:30\",\"end\":\"2009-09-14T11:31:00\","
                               "\"seconds\":30.0000,\"samples\":3000}]"),
              std::string::npos)
        << json.output;
    const std::string svg = test::readFile(picture);
    for (const char* channel : {"KAM::BHZ", "KAM::BHN", "LNG::BHZ", "LNG::BHN"})
        EXPECT_NE(svg.find(std::string("data-channel=\"") + channel + "\""), std::string::npos) << channel;
    EXPECT_NE(svg.find("<rect class=\"overlap\""), std::string::npos);

    // More damage for the repair: a file deleted, a file cut inside a sample
    // (its header changed too), a header changed alone.
    fs::remove(archiveDir / "KAM/11/14092009-110000-BHN.KAM");
    fs::resize_file(archiveDir / "LNG/11/14092009-110000-BHZ.LNG", 512 + 4 * 1000 + 2);
    patch(archiveDir / "KAM/11/14092009-113000-BHZ.KAM",
          std::string(formatTrzHeader(kHour, 60, 100, "KAM", "BHZ").text()).find("SpS=") + 4, "7");
    const std::map<std::string, std::string> outside = filesOutside(tempDir->path(), archiveDir);

    // Each damage a repair may settle, and the two it leaves.
    const std::vector<std::array<std::string, 3>> repaired = {
        {"lost", "KAM/11/14092009-110000-BHZ.KAM", "2009-09-14T11:01:59 to 2009-09-14T11:02:00 (convert again)"},
        {"lost", "KAM/11/14092009-110000-BHN.KAM", "2009-09-14T11:00:00 to 2009-09-14T11:02:00, the file is missing"},
        {"lost", "LNG/11/14092009-110000-BHZ.LNG", "2009-09-14T11:00:50 to 2009-09-14T11:01:00 (convert again)"},
        {"cut", "LNG/11/14092009-110000-BHN.LNG", "the stray bytes beyond the 1200 samples of its row removed"},
        {"rewritten", "KAM/11/14092009-113000-BHZ.KAM", "the header rewritten from its row"},
        {"orphan", "KAM/11/14092009-113000-BHN.KAM", "no catalogue row names this file"},
        {"overlap", "KAM/11/14092009-113030-BHZ.KAM", "overlap 00:00:30 of KAM/11/14092009-113000-BHZ.KAM"},
    };
    const test::ProcessResult first = check({"repair"});
    EXPECT_EQ(first.exitStatus, 3) << first.output << first.errorOutput;
    Report report = reportOf(first.output);
    EXPECT_EQ(report.findings, repaired.size()) << first.output;
    for (const auto& [kind, file, detail] : repaired) {
        const std::string start = kind + " " + file + ": ";
        EXPECT_EQ(std::count_if(report.byKind[kind].begin(), report.byKind[kind].end(),
                                [&](const std::string& line) {
                                    return line.rfind(start, 0) == 0 && line.find(detail) != std::string::npos;
                                }),
                  1)
            << start << detail << "\n" << first.output;
    }
    EXPECT_EQ(report.summary.rfind("Summary: 5 repaired, 2 left unrepaired (1 orphan, 1 overlap)", 0), 0u)
        << report.summary;
    expectFindings({"verify"}, {structural[1], structural[3]}, "after the repair");
    const test::ProcessResult second = check({"repair"});
    EXPECT_EQ(second.exitStatus, 3) << second.output;
    EXPECT_EQ(second.output.find("lost "), std::string::npos) << second.output;
    EXPECT_NE(second.output.find("Summary: 0 repaired, 2 left unrepaired"), std::string::npos) << second.output;
    EXPECT_EQ(filesOutside(tempDir->path(), archiveDir), outside);

    // The samples are the undamaged ones but for what was really lost (and
    // the overlapping row the damage added).
    Timeline expected = undamaged;
    const auto drop = [&expected](const char* station, const char* channel, std::int64_t from, std::int64_t to) {
        for (std::int64_t t = from; t < to; ++t) ASSERT_EQ(expected.erase({station, channel, t}), 1u) << t;
    };
    drop("KAM", "BHZ", kHour * 100 + 11900, kHour * 100 + 12000);
    drop("KAM", "BHN", kHour * 100, kHour * 100 + 12000);
    drop("KAM", "BHN", (kHour + 1800) * 100, (kHour + 1860) * 100);
    drop("LNG", "BHZ", kHour * 20 + 1000, kHour * 20 + 1200);
    for (std::int64_t t = (kHour + 1830) * 100; t < (kHour + 1860) * 100; ++t) expected[{"KAM", "BHZ", t}].push_back(1.0f);
    EXPECT_TRUE(timeline() == expected);
}

// A repair ended at any file call or statement (as a kill or a power cut
// ends it) is finished by the next one: each file is changed before its row.
TEST_P(CheckRunTest, InterruptedRepairIsFinishedByTheNext)
{
    convertCleanly("KAM", writeRecording("k1", kHour, 60, 100), "KAM 11:00");
    Timeline expected = timeline();
    fs::resize_file(archiveDir / "KAM/11/14092009-110000-BHZ.KAM", 512 + 4 * 3000 + 1);
    fs::remove(archiveDir / "KAM/11/14092009-110000-BHN.KAM");
    for (std::int64_t t = 0; t < 6000; ++t) {
        if (t >= 3000) expected.erase({"KAM", "BHZ", kHour * 100 + t});
        expected.erase({"KAM", "BHN", kHour * 100 + t});
    }

    int crashes = 0;
    test::ProcessResult result;
    for (int at = 1; at < 300; ++at) {
        result = run(TREMCVT_CHECK_BINARY, {"repair"},
                     {{"TREMCVT_FAULT_AT", std::to_string(at)}, {"TREMCVT_FAULT_ACTION", "crash"}});
        if (result.exited) break;
        ++crashes;
    }
    EXPECT_GT(crashes, 3);
    EXPECT_TRUE(result.exited && result.exitStatus == 0) << result.output << result.errorOutput;
    expectFindings({"verify"}, {}, "after the interrupted repairs");
    const test::ProcessResult again = check({"repair"});
    EXPECT_EQ(again.exitStatus, 0);
    EXPECT_EQ(again.output.rfind("Summary: nothing to repair, 1 catalogue rows", 0), 0u) << again.output;
    EXPECT_TRUE(timeline() == expected);
}

TEST_P(CheckRunTest, RefusedCommandLinesAndMissingDataSource)
{
    struct Case {
        std::vector<std::string> arguments;
        int status;
        const char* error;
    };
    const Case cases[] = {
        {{"verify", "odbc=NO_SUCH_SOURCE"}, 255, "no connection to the data source NO_SUCH_SOURCE"},
        {{"verify", "--format", "csv"}, 2, "--format belongs to availability"},
        {{"repair", "--read-data"}, 2, "--read-data belongs to verify"},
        {{"repair", "odbc=NO_SUCH_SOURCE"}, 255, "no connection to the data source"},
        {{"availability", "--picture", "/no/such/dir/a.svg"}, 1, "cannot be written"},
    };
    for (const Case& c : cases) {
        const test::ProcessResult result = check(c.arguments);
        EXPECT_TRUE(result.exited && result.exitStatus == c.status)
            << c.arguments.back() << ": " << result.exitStatus << "\n" << result.errorOutput;
        EXPECT_NE(result.errorOutput.find(c.error), std::string::npos) << result.errorOutput;
    }
}

INSTANTIATE_TEST_SUITE_P(Databases, CheckRunTest, test::allDatabaseKinds(), test::databaseKindTestName);

#ifdef TREMCVT_HAVE_MSEED
TEST(CheckSdsRun, CorruptRecordAndLeftoverOfAnInterruptedStore)
{
    test::TempDir dir;
    const fs::path root = dir.path() / "sds";
    fs::create_directories(root);
    for (const char* component : {"BHZ", "BHN"}) {
        ChannelTrace trace;
        trace.sps = 100;
        trace.startTime = static_cast<double>(kHour);
        for (int i = 0; i < 60000; ++i) trace.samples.push_back(static_cast<float>(std::lround(3000 * std::sin(i / 50.0))));
        trace.endTime = trace.startTime + 600.0;
        trace.station.cut("KAM");
        trace.component.cut(component);
        ASSERT_EQ(storeMseedChannel(trace, root.string(), "XX").code, 0);
    }
    const auto check = [&](const std::vector<std::string>& arguments) {
        test::ProcessOptions options;
        options.environment.emplace_back("TZ", "UTC");
        return test::runProgram(TREMCVT_CHECK_BINARY, arguments, options);
    };
    test::ProcessResult result = check({"verify", "--read-data", "--sds", root.string()});
    EXPECT_EQ(result.exitStatus, 0) << result.output << result.errorOutput;
    EXPECT_EQ(reportOf(result.output).findings, 0u) << result.output;
    result = check({"availability", "--sds", root.string()});
    EXPECT_EQ(result.exitStatus, 0) << result.output;
    EXPECT_NE(result.output.find("XX.KAM..BHZ at 100.00 sps: 100.000 % covered, 1 span, 0 gaps, 0 overlaps"),
              std::string::npos)
        << result.output;

    const std::string directory = sdsChannelDirectory(root.string(), "XX", "KAM", "BHZ", 2009);
    const std::string name = sdsDayFileName("XX", "KAM", "BHZ", 2009, 257);
    patch(fs::path(directory) / name, 512, std::string(48, '\xff'));
    ASSERT_TRUE(test::writeFile(fs::path(directory) / ("." + name + ".tmp"), std::string(1024, '\0')));
    const std::string relative = "2009/XX/KAM/BHZ.D/" + name;

    result = check({"verify", "--sds", root.string()});
    EXPECT_EQ(result.exitStatus, 3) << result.output << result.errorOutput;
    Report report = reportOf(result.output);
    EXPECT_EQ(report.findings, 2u) << result.output;
    ASSERT_EQ(report.byKind["record"].size(), 1u) << result.output;
    EXPECT_EQ(report.byKind["record"][0].rfind("record " + relative + ": no miniSEED record can be read at byte 512", 0), 0u)
        << result.output;
    ASSERT_EQ(report.byKind["leftover"].size(), 1u) << result.output;
    EXPECT_EQ(report.byKind["leftover"][0], "leftover 2009/XX/KAM/BHZ.D/." + name + ".tmp: temporary file of an interrupted store (1024 bytes)");
    // Selecting the other channel leaves both out.
    result = check({"verify", "--sds", root.string(), "--channel", "BHN"});
    EXPECT_EQ(result.exitStatus, 0) << result.output;

    // Repair removes the leftover, once; the corrupt record stays listed.
    const std::string dayFile = test::readFile(fs::path(directory) / name);
    for (const char* removed : {"removed 2009/XX/KAM/BHZ.D/.", ""}) {
        result = check({"repair", "--sds", root.string()});
        EXPECT_EQ(result.exitStatus, 3) << result.output << result.errorOutput;
        report = reportOf(result.output);
        EXPECT_EQ(report.findings, *removed ? 2u : 1u) << result.output;
        EXPECT_EQ(report.byKind["record"].size(), 1u) << result.output;
        EXPECT_EQ(report.byKind["removed"].size(), *removed ? 1u : 0u) << result.output;
        EXPECT_FALSE(fs::exists(fs::path(directory) / ("." + name + ".tmp")));
    }
    EXPECT_EQ(test::readFile(fs::path(directory) / name), dayFile);
}
#endif

}  // namespace
}  // namespace tremcvt
