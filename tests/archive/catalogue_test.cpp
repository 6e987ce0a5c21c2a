// The FILELIST catalogue against real SQLite and PostgreSQL data sources:
// continuing and starting archive files, long data cut into periods, the
// headers that describe each file, re-conversion of archived data, and
// failures that must leave the archive as it was.
#include <gtest/gtest.h>

#include <cmath>
#include <cstdint>
#include <cstdlib>
#include <cstring>
#include <ctime>
#include <filesystem>
#include <map>
#include <optional>
#include <span>
#include <sstream>
#include <string>
#include <vector>

#include "converter/archive/archive_database.h"
#include "converter/archive/catalogue_internal.h"
#include "converter/writers/trz_writer.h"
#include "tests/archive/archive_test_settings.h"
#include "tests/support/test_support.h"

namespace tremcvt {
namespace {

namespace fs = std::filesystem;
using test::ArchiveDatabaseFixture;
using test::DatabaseKind;

constexpr double kHour = 1252926000.0;  // 2009-09-14 11:00:00 UTC
constexpr const char* kCreator = "tremcvt";

struct Row {
    std::string sta, ch, lcode;
    double tbegin = 0, tqty = 0;
    std::optional<double> tend;
    std::string cpath;
    int foff = 0;
    std::string lddate;
};

std::vector<std::string> split(const std::string& line)
{
    std::vector<std::string> fields;
    std::string field;
    std::istringstream in(line);
    while (std::getline(in, field, '|')) fields.push_back(field);
    if (!line.empty() && line.back() == '|') fields.emplace_back();
    return fields;
}

// Distinct, irregular values: a wrong offset or a lost sample shows up.
std::vector<float> makeSamples(std::size_t count, int seed)
{
    std::vector<float> samples(count);
    for (std::size_t i = 0; i < count; ++i)
        samples[i] = static_cast<float>(std::sin(0.013 * static_cast<double>(i) + seed) * 1.0e5 + seed * 0.25 +
                                        static_cast<double>(i) * 1.0e-3);
    return samples;
}

// The store of one channel's samples as the converter hands it over.
ChannelStore channelStore(const std::string& sta, const std::string& ch, double start, std::span<const float> s,
                          double rate = 100.0)
{
    const double end = start + static_cast<double>(s.size()) / rate;
    return ChannelStore{sta, ch, "??", kCreator, start, end, rate, s, 0.0, 0.0};
}

bool sameBits(const std::vector<float>& a, const std::vector<float>& b)
{
    return a.size() == b.size() && std::memcmp(a.data(), b.data(), a.size() * sizeof(float)) == 0;
}

std::string headerFor(double begin, double seconds, double rate, const std::string& sta, const std::string& ch)
{
    // Built here from the header's lines, independently of the writer.
    const auto whole = static_cast<std::time_t>(begin);
    std::tm t{};
    gmtime_r(&whole, &t);
    const auto d = static_cast<long>(seconds);
    char text[512];
    std::snprintf(text, sizeof text,
                  "[TRZ5.x]\r\nData offset=512\r\nStart time=%02d:%02d:%02d\r\nStart date=%02d-%02d-%04d\r\n"
                  "Time duration=%03ld %02ld %02ld %02ld\r\nData type=FLOAT\r\nSpS=%0.2f\r\nGain=1\r\n"
                  "Station=%s\r\nChannel=%s\r\n",
                  t.tm_hour, t.tm_min, t.tm_sec, t.tm_mday, t.tm_mon + 1, t.tm_year + 1900, d / 86400,
                  d % 86400 / 3600, d % 3600 / 60, d % 60, rate, sta.c_str(), ch.c_str());
    return text;
}

class CatalogueTest : public ArchiveDatabaseFixture {
protected:
    void SetUp() override
    {
        setenv("TZ", "UTC", 1);
        tzset();
        ArchiveDatabaseFixture::SetUp();
        if (IsSkipped() || HasFatalFailure()) return;
        dataDir = (tempDir->path() / "data").string();
        fs::create_directories(dataDir);
        ASSERT_TRUE(connect(archive)) << archive.lastDiagnostics();
    }

    bool connect(ArchiveDatabase& db, bool useTend = true)
    {
        db.configure(test::archiveSettingsFor(*database, dataDir, useTend));
        return db.connect();
    }

    // The converter's sequence for one channel: in-place replacement of
    // archived data, otherwise removal of an earlier conversion of the same
    // start and the store.
    ResultCode convert(const std::string& sta, const std::string& ch, double start, const std::vector<float>& s,
                       double rate = 100.0)
    {
        const ChannelStore channel = channelStore(sta, ch, start, s, rate);
        bool replaced = false;
        ResultCode rc = archive.replaceArchivedData(channel, replaced);
        if (rc != kResultOk || replaced) return rc;
        rc = archive.removeArchivedFile(channel, trzFilePath(dataDir, sta, ch, start));
        if (rc != kResultOk) return rc;
        return archive.archiveChannel(channel);
    }

    ResultCode store(const std::string& sta, const std::string& ch, double start, const std::vector<float>& s,
                     double rate = 100.0)
    {
        return archive.archiveChannel(channelStore(sta, ch, start, s, rate));
    }

    std::vector<Row> rows()
    {
        std::vector<Row> result;
        const auto lines = database->query(
            "select STA,CH,LCODE,TBEGIN,TQTY,TEND,CPATH,FOFF,LDDATE from FILELIST where CREATER='tremcvt' "
            "order by TBEGIN,CPATH");
        EXPECT_TRUE(lines.has_value());
        if (!lines) return result;
        for (const std::string& line : *lines) {
            const auto f = split(line);
            if (f.size() < 9) {
                ADD_FAILURE() << "unexpected row " << line;
                continue;
            }
            Row row{f[0], f[1], f[2], std::stod(f[3]), std::stod(f[4]), std::nullopt, f[6], std::stoi(f[7]), f[8]};
            if (!f[5].empty()) row.tend = std::stod(f[5]);
            result.push_back(row);
        }
        return result;
    }

    std::string absolute(const std::string& cpath) const { return (fs::path(dataDir) / cpath).string(); }

    std::vector<float> samplesOf(const std::string& cpath, std::string* header = nullptr)
    {
        TrzHeader h;
        std::vector<float> s;
        EXPECT_TRUE(readTrzFile(absolute(cpath), h, s)) << cpath;
        if (header) *header = std::string(h.text());
        return s;
    }

    // Every file below the data directory with its bytes, and every row.
    std::map<std::string, std::string> archiveSnapshot()
    {
        std::map<std::string, std::string> files;
        if (fs::exists(dataDir)) {
            for (const auto& entry : fs::recursive_directory_iterator(dataDir))
                if (entry.is_regular_file()) files[entry.path().string()] = test::readFile(entry.path());
        }
        const auto lines = database->query("select * from FILELIST order by NINDEX");
        EXPECT_TRUE(lines.has_value());
        if (lines)
            for (std::size_t i = 0; i < lines->size(); ++i) files["row " + std::to_string(i)] = (*lines)[i];
        return files;
    }

    std::string dataDir;
    ArchiveDatabase archive;
};

TEST_P(CatalogueTest, ContinuesLatestFileWithinOneAndAHalfSamples)
{
    // Minute pieces at 100 sps; the second starts exactly at the file's end,
    // the third one sample interval after it: both continue the file.
    const auto m1 = makeSamples(6000, 1);
    const auto m2 = makeSamples(6000, 2);
    const auto m3 = makeSamples(6000, 3);
    ASSERT_EQ(convert("KAM", "BHZ", kHour, m1), kResultOk) << archive.lastDiagnostics();

    auto r = rows();
    ASSERT_EQ(r.size(), 1u);
    EXPECT_EQ(r[0].cpath, "KAM/11/14092009-110000-BHZ.KAM");
    EXPECT_EQ(r[0].lcode, "??");
    EXPECT_EQ(r[0].foff, 512);
    EXPECT_DOUBLE_EQ(r[0].tqty, 60.0);
    std::string header;
    samplesOf(r[0].cpath, &header);
    EXPECT_EQ(header, headerFor(kHour, 60, 100, "KAM", "BHZ")) << "a new file's header describes it at once";

    ASSERT_EQ(convert("KAM", "BHZ", kHour + 60.0, m2), kResultOk) << archive.lastDiagnostics();
    ASSERT_EQ(convert("KAM", "BHZ", kHour + 120.01, m3), kResultOk) << archive.lastDiagnostics();

    r = rows();
    ASSERT_EQ(r.size(), 1u);
    EXPECT_DOUBLE_EQ(r[0].tbegin, kHour);
    EXPECT_NEAR(r[0].tqty, 180.0, 1e-9);
    ASSERT_TRUE(r[0].tend.has_value());
    EXPECT_NEAR(*r[0].tend, kHour + 180.0, 1e-4);
    EXPECT_EQ(fs::file_size(absolute(r[0].cpath)), 512u + 4u * 18000u);

    const auto back = samplesOf(r[0].cpath, &header);
    std::vector<float> all(m1);
    all.insert(all.end(), m2.begin(), m2.end());
    all.insert(all.end(), m3.begin(), m3.end());
    EXPECT_TRUE(sameBits(back, all));
    EXPECT_EQ(header, headerFor(kHour, 180, 100, "KAM", "BHZ")) << "the header describes the whole file";
}

TEST_P(CatalogueTest, StartsNewFileAfterGapOrFullPeriod)
{
    const struct {
        const char* what;
        double firstSeconds;  // length of the existing file
        double gap;           // seconds between its end and the new data
        std::size_t expectedRows;
        double nextRate = 100.0;  // of the new data
    } cases[] = {
        {"two sample intervals", 60, 0.02, 2},
        // The overlapped samples are replaced in the file, which the rest continues.
        {"data overlapping the file's end", 60, -0.02, 1},
        {"file of exactly one period", 3600, 0.0, 2},
        {"file just short of a period", 3590, 0.0, 1},
        // Samples at another rate would shift every later time in the file.
        {"another sampling rate", 60, 0.0, 2, 50.0},
    };
    for (const auto& c : cases) {
        SCOPED_TRACE(c.what);
        ASSERT_TRUE(database->execute("delete from FILELIST"));
        fs::remove_all(dataDir);
        fs::create_directories(dataDir);
        const auto first = makeSamples(static_cast<std::size_t>(c.firstSeconds * 100), 4);
        const auto next = makeSamples(static_cast<std::size_t>(60 * c.nextRate), 5);
        ASSERT_EQ(store("KAM", "BHN", kHour, first), kResultOk) << archive.lastDiagnostics();
        ASSERT_EQ(store("KAM", "BHN", kHour + c.firstSeconds + c.gap, next, c.nextRate), kResultOk)
            << archive.lastDiagnostics();
        const auto r = rows();
        ASSERT_EQ(r.size(), c.expectedRows);
        if (c.expectedRows == 2) {
            EXPECT_NEAR(r[1].tbegin, kHour + c.firstSeconds + c.gap, 1e-4);
            EXPECT_NEAR(r[0].tqty, c.firstSeconds, 1e-9);
            EXPECT_TRUE(sameBits(samplesOf(r[1].cpath), next));
            EXPECT_TRUE(sameBits(samplesOf(r[0].cpath), first)) << "the earlier file is untouched";
        } else {
            EXPECT_NEAR(r[0].tqty, c.firstSeconds + c.gap + 60, 1e-9) << "a file may grow beyond one period";
        }
    }
}

TEST_P(CatalogueTest, CutsLongDataIntoPeriodsNamedFromTheirOwnStart)
{
    // 2.5 periods at 20 sps into an empty catalogue: three files.
    const auto data = makeSamples(9000 * 20, 6);
    ASSERT_EQ(store("OBN", "HHE", kHour, data, 20.0), kResultOk) << archive.lastDiagnostics();
    auto r = rows();
    ASSERT_EQ(r.size(), 3u);
    const double quantities[] = {3600, 3600, 1800};
    const char* names[] = {"OBN/11/14092009-110000-HHE.OBN", "OBN/12/14092009-120000-HHE.OBN",
                           "OBN/13/14092009-130000-HHE.OBN"};
    for (std::size_t i = 0; i < 3; ++i) {
        EXPECT_DOUBLE_EQ(r[i].tbegin, kHour + 3600.0 * i);
        EXPECT_DOUBLE_EQ(r[i].tqty, quantities[i]);
        EXPECT_EQ(r[i].cpath, names[i]);
        std::string header;
        const auto s = samplesOf(r[i].cpath, &header);
        const auto from = data.begin() + static_cast<std::ptrdiff_t>(i * 72000);
        EXPECT_TRUE(sameBits(s, std::vector<float>(from, from + static_cast<std::ptrdiff_t>(quantities[i] * 20))));
        EXPECT_EQ(header, headerFor(kHour + 3600.0 * i, quantities[i], 20, "OBN", "HHE"));
    }

    // The same, continuing a latest file of 1200 s: the first piece (one
    // period) grows that file, the rest start at their own times.
    ASSERT_TRUE(database->execute("delete from FILELIST"));
    fs::remove_all(dataDir);
    fs::create_directories(dataDir);
    const auto before = makeSamples(1200 * 20, 7);
    ASSERT_EQ(store("OBN", "HHE", kHour, before, 20.0), kResultOk);
    ASSERT_EQ(store("OBN", "HHE", kHour + 1200, data, 20.0), kResultOk) << archive.lastDiagnostics();
    r = rows();
    ASSERT_EQ(r.size(), 3u);
    EXPECT_DOUBLE_EQ(r[0].tbegin, kHour);
    EXPECT_DOUBLE_EQ(r[0].tqty, 4800);
    EXPECT_DOUBLE_EQ(r[1].tbegin, kHour + 4800);
    EXPECT_DOUBLE_EQ(r[1].tqty, 3600);
    EXPECT_EQ(r[1].cpath, "OBN/12/14092009-122000-HHE.OBN");
    EXPECT_DOUBLE_EQ(r[2].tbegin, kHour + 8400);
    EXPECT_DOUBLE_EQ(r[2].tqty, 1800);
    std::vector<float> first(before);
    first.insert(first.end(), data.begin(), data.begin() + 72000);
    std::string header;
    EXPECT_TRUE(sameBits(samplesOf(r[0].cpath, &header), first));
    EXPECT_EQ(header, headerFor(kHour, 4800, 20, "OBN", "HHE"));
    EXPECT_TRUE(sameBits(samplesOf(r[2].cpath), std::vector<float>(data.begin() + 144000, data.end())));
}

TEST_P(CatalogueTest, ReconversionLeavesArchiveAsOneConversionWould)
{
    for (const auto& codes : {std::pair<std::string, std::string>{"KAM", "BHZ"}, {"AB", "EW"}}) {
        const std::string& sta = codes.first;
        const std::string& ch = codes.second;
        SCOPED_TRACE(sta + "::" + ch);
        constexpr int kMinutes = 6;
        std::vector<std::vector<float>> minutes;
        for (int m = 0; m < kMinutes; ++m) {
            minutes.push_back(makeSamples(1200, 10 + m));
            ASSERT_EQ(convert(sta, ch, kHour + 60.0 * m, minutes.back(), 20.0), kResultOk)
                << archive.lastDiagnostics();
        }
        const auto once = archiveSnapshot();
        for (int m : {0, 3, kMinutes - 1}) {
            SCOPED_TRACE("minute " + std::to_string(m));
            ASSERT_EQ(convert(sta, ch, kHour + 60.0 * m, minutes[static_cast<std::size_t>(m)], 20.0), kResultOk)
                << archive.lastDiagnostics();
            EXPECT_EQ(archiveSnapshot(), once);
        }

        // One changed sample in a middle minute changes exactly that sample.
        auto changed = minutes[2];
        changed[517] = -12345.5f;
        ASSERT_EQ(convert(sta, ch, kHour + 120.0, changed, 20.0), kResultOk);
        const auto r = rows();
        ASSERT_EQ(r.size(), 1u);
        std::vector<float> expected;
        for (int m = 0; m < kMinutes; ++m)
            expected.insert(expected.end(), minutes[static_cast<std::size_t>(m)].begin(),
                            minutes[static_cast<std::size_t>(m)].end());
        expected[2 * 1200 + 517] = -12345.5f;
        EXPECT_TRUE(sameBits(samplesOf(r[0].cpath), expected));
        EXPECT_EQ(r[0].cpath, sta + "/11/14092009-110000-" + std::string(3 - ch.size(), ' ') + ch + "." +
                                  std::string(3 - sta.size(), ' ') + sta);

        ASSERT_TRUE(database->execute("delete from FILELIST"));
        fs::remove_all(dataDir);
        fs::create_directories(dataDir);
    }
}

TEST_P(CatalogueTest, FailuresLeaveArchivedDataIntact)
{
    const auto minute = makeSamples(6000, 20);
    ASSERT_EQ(convert("KAM", "BHZ", kHour, minute), kResultOk);
    const auto before = archiveSnapshot();

    // The data directory cannot hold directories: -107, no row.
    {
        ArchiveDatabase other;
        const std::string blocked = tempDir->file("blocked");
        ASSERT_TRUE(test::writeFile(blocked, "not a directory"));
        const std::string saved = dataDir;
        dataDir = blocked;
        ASSERT_TRUE(connect(other));
        dataDir = saved;
        const auto s = makeSamples(600, 21);
        EXPECT_EQ(other.archiveChannel(channelStore("ZZZ", "BHZ", kHour, s)), kResultFileOpenFailed);
        EXPECT_EQ(database->query("select count(*) from FILELIST where STA='ZZZ'"),
                  std::vector<std::string>{"0"});
    }

    // A catalogue row of another program under the name a new file would
    // take: the file is neither truncated nor removed.
    const std::string clashName = "KAM/12/14092009-120000-BHZ.KAM";
    ASSERT_TRUE(database->execute("insert into FILELIST(STA,CH,LCODE,TBEGIN,TQTY,SPS,CPATH,CREATER,FOFF) values "
                                  "('KAM','BHZ','?\?',1252929600.5,10,100,'" +
                                  clashName + "','other',1024)"));
    fs::create_directories(fs::path(absolute(clashName)).parent_path());
    ASSERT_TRUE(test::writeFile(absolute(clashName), "archived by another program"));
    const auto later = makeSamples(6000, 22);
    EXPECT_EQ(convert("KAM", "BHZ", kHour + 3600, later), kResultFileOpenFailed);
    EXPECT_EQ(test::readFile(absolute(clashName)), "archived by another program");
    ASSERT_TRUE(database->execute("delete from FILELIST where CREATER='other'"));
    fs::remove(absolute(clashName));

    // The latest file vanished from disk: continuing it fails, nothing is
    // created in its place and its row is unchanged.
    const auto r = rows();
    ASSERT_EQ(r.size(), 1u);
    const std::string kept = test::readFile(absolute(r[0].cpath));
    fs::remove(absolute(r[0].cpath));
    EXPECT_EQ(store("KAM", "BHZ", kHour + 60, makeSamples(6000, 23)), kResultFileOpenFailed);
    EXPECT_FALSE(fs::exists(absolute(r[0].cpath)));
    ASSERT_TRUE(test::writeFile(absolute(r[0].cpath), kept));
    EXPECT_EQ(archiveSnapshot(), before);

    // Empty interval and empty data.
    ChannelStore empty = channelStore("KAM", "BHZ", kHour, minute);
    empty.endTime = kHour;
    EXPECT_EQ(archive.archiveChannel(empty), kResultEmptyInterval);
    empty = channelStore("KAM", "BHZ", kHour + 60, std::span<const float>(minute.data(), 0));
    empty.endTime = kHour + 120;
    EXPECT_EQ(archive.archiveChannel(empty), kResultOk);
    EXPECT_EQ(archiveSnapshot(), before);
}

TEST_P(CatalogueTest, QuotedCodesAreStoredFoundAndRemoved)
{
    const std::string sta = "O'K";
    const std::string ch = "B'Z";
    const auto a = makeSamples(6000, 30);
    const auto b = makeSamples(6000, 31);
    ASSERT_EQ(convert(sta, ch, kHour, a), kResultOk) << archive.lastDiagnostics();
    ASSERT_EQ(convert(sta, ch, kHour + 60, b), kResultOk) << archive.lastDiagnostics();
    auto r = rows();
    ASSERT_EQ(r.size(), 1u);
    EXPECT_EQ(r[0].sta, sta);
    EXPECT_EQ(r[0].ch, ch);
    EXPECT_EQ(r[0].cpath, "O'K/11/14092009-110000-B'Z.O'K");
    EXPECT_DOUBLE_EQ(r[0].tqty, 120);
    std::string header;
    samplesOf(r[0].cpath, &header);
    EXPECT_EQ(header, headerFor(kHour, 120, 100, sta, ch));

    // A 150-second conversion of the same start is not contained in the
    // file: the earlier conversion's row and file go, the new one takes
    // their place.
    const auto longer = makeSamples(15000, 32);
    ASSERT_EQ(convert(sta, ch, kHour, longer), kResultOk) << archive.lastDiagnostics();
    r = rows();
    ASSERT_EQ(r.size(), 1u);
    EXPECT_DOUBLE_EQ(r[0].tqty, 150);
    EXPECT_TRUE(sameBits(samplesOf(r[0].cpath), longer));

    EXPECT_EQ(archive.removeArchivedFile(channelStore(sta, ch, kHour, {}), absolute(r[0].cpath)), kResultOk);
    EXPECT_TRUE(rows().empty());
    EXPECT_FALSE(fs::exists(absolute(r[0].cpath)));
}

TEST_P(CatalogueTest, CataloguesWithoutEndColumnAndFindsLatestFileOfOwnHeaderSize)
{
    ArchiveDatabase noTend;
    ASSERT_TRUE(connect(noTend, false));
    const auto a = makeSamples(6000, 40);
    const auto b = makeSamples(6000, 41);
    ASSERT_EQ(noTend.archiveChannel(channelStore("KAM", "SHZ", kHour, a)), kResultOk);
    auto r = rows();
    ASSERT_EQ(r.size(), 1u);
    EXPECT_FALSE(r[0].tend.has_value());
    // A newer row with another header size is passed over.
    ASSERT_TRUE(database->execute("insert into FILELIST(STA,CH,LCODE,TBEGIN,TQTY,SPS,CPATH,CREATER,FOFF,LDDATE) "
                                  "values ('KAM','SHZ',NULL,1252926000,60,100,'elsewhere','other',1024,"
                                  "'2100-01-01 00:00:00')"));
    const catalogue::LatestFileLookup latest = catalogue::findLatestFile(noTend, channelStore("KAM", "SHZ", 0, {}), kHour + 60);
    ASSERT_EQ(latest.code, kResultOk);
    EXPECT_TRUE(latest.file.found);
    EXPECT_EQ(latest.file.path, r[0].cpath);

    ASSERT_EQ(noTend.archiveChannel(channelStore("KAM", "SHZ", kHour + 60, b)), kResultOk);
    r = rows();
    ASSERT_EQ(r.size(), 1u);
    ASSERT_TRUE(r[0].tend.has_value()) << "an extension always sets the end";
    EXPECT_NEAR(*r[0].tend, kHour + 120, 1e-4);
    std::string header;
    samplesOf(r[0].cpath, &header);
    EXPECT_EQ(header, headerFor(kHour, 120, 100, "KAM", "SHZ"));
}

INSTANTIATE_TEST_SUITE_P(Databases, CatalogueTest, test::allDatabaseKinds(), test::databaseKindTestName);

}  // namespace
}  // namespace tremcvt
