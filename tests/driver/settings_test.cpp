#include "converter/driver/settings.h"

#include <gtest/gtest.h>

#include <algorithm>
#include <cstdlib>
#include <filesystem>
#include <fstream>
#include <string>
#include <vector>

#include "common/paths.h"
#include "common/platform.h"

#include "tests/support/fresh_directory.h"

namespace fs = std::filesystem;
using namespace tremcvt;

namespace {

using test::freshDirectory;

// A path written with "/" as the settings hold it: with native separators.
std::string native(std::string path)
{
    std::replace(path.begin(), path.end(), '/', kNativeSeparator);
    return path;
}

// Runs each test in a fresh current directory (for tremcvt.ini) with its own
// system configuration directory (for trz.ini). On Windows trz.ini lives in
// the Windows directory itself: a trz.ini found there is kept aside and put
// back afterwards.
class SettingsTest : public ::testing::Test {
protected:
    void SetUp() override
    {
        root_ = freshDirectory("tremcvt-settings-");
        fs::create_directories(root_ / "cwd");
        fs::create_directories(root_ / "etc");
        oldCwd_ = fs::current_path();
        fs::current_path(root_ / "cwd");
#ifdef _WIN32
        systemDir_ = systemConfigDirectory();
        ASSERT_FALSE(systemDir_.empty());
        if (fs::exists(systemDir_ / "trz.ini")) fs::copy_file(systemDir_ / "trz.ini", root_ / "trz.ini.saved");
#else
        systemDir_ = root_ / "etc";
        setenv("TREMCVT_SYSCONFDIR", systemDir_.c_str(), 1);
#endif
    }
    void TearDown() override
    {
        fs::current_path(oldCwd_);
#ifdef _WIN32
        std::error_code error;
        fs::remove(systemDir_ / "trz.ini", error);
        if (fs::exists(root_ / "trz.ini.saved")) fs::copy_file(root_ / "trz.ini.saved", systemDir_ / "trz.ini");
#else
        unsetenv("TREMCVT_SYSCONFDIR");
#endif
        fs::remove_all(root_);
    }
    void writeLocalIni(const std::string& text) { std::ofstream(root_ / "cwd" / "tremcvt.ini") << text; }
    void writeSystemIni(const std::string& text) { std::ofstream(systemDir_ / "trz.ini") << text; }

    static SettingsResult gather(std::vector<std::string> args)
    {
        args.insert(args.begin(), "tremcvt");
        std::vector<const char*> argv;
        for (const std::string& a : args) argv.push_back(a.c_str());
        argv.push_back(nullptr);
        return gatherSettings(static_cast<int>(args.size()), argv.data());
    }

    fs::path root_;
    fs::path oldCwd_;
    fs::path systemDir_;
};

TEST_F(SettingsTest, FewerThanTwoArgumentsGiveUsageWithoutReadingIniFiles)
{
    writeLocalIni("[DATABASE]\nODBC=" + std::string(100, 'x') + "\n");  // would be refused if read
    for (const std::vector<std::string>& args : {std::vector<std::string>{}, {"KAM"}}) {
        const SettingsResult r = gather(args);
        EXPECT_EQ(r.status, SettingsStatus::kUsage);
        EXPECT_EQ(r.message, "[USAGE]\ntremcvt.exe [STATION CODE] [PATH TO FILE]\n");
        EXPECT_EQ(r.exitCode, 0);
    }
}

TEST_F(SettingsTest, DefaultsApplyWithoutIniFilesOrOptions)
{
    const SettingsResult r = gather({"KAM", "\\win\\09091411.04", "extra"});
    ASSERT_EQ(r.status, SettingsStatus::kReady);
    const ConverterSettings& s = r.settings;
    EXPECT_EQ(s.stationCode, "KAM");
    EXPECT_EQ(s.winPath, native("/win/09091411.04"));
    EXPECT_EQ(s.odbc, "TRZ");
    EXPECT_EQ(s.user, "TRZ");
    EXPECT_EQ(s.password, "KPV");
    EXPECT_EQ(s.data, defaultDataDirectory());
    EXPECT_FALSE(s.cssOutput);
    EXPECT_TRUE(s.css.empty());
    EXPECT_EQ(s.useTend, 0);
    EXPECT_EQ(fs::path(s.iniPath), fs::current_path() / "tremcvt.ini");
    EXPECT_EQ(fs::path(s.trzIniPath), systemDir_ / "trz.ini");
}

TEST_F(SettingsTest, CommandLineThenTremcvtIniThenTrzIniThenDefault)
{
    struct Field {
        const char* option; const char* section; const char* key; std::string fallback;
        std::string (*get)(const ConverterSettings&); bool path;
    };
    const Field fields[] = {
        {"odbc=", "DATABASE", "ODBC", "TRZ", [](const ConverterSettings& s) { return s.odbc.str(); }, false},
        {"USER=", "DATABASE", "USER", "TRZ", [](const ConverterSettings& s) { return s.user.str(); }, false},
        {"Password=", "DATABASE", "PASSWORD", "KPV", [](const ConverterSettings& s) { return s.password.str(); }, false},
        {"data=", "DATA", "DIR", defaultDataDirectory(), [](const ConverterSettings& s) { return s.data.str(); }, true},
    };
    struct Case { const char* arg; const char* local; const char* system; std::string expected; };
    for (const Field& f : fields) {
        const Case cases[] = {
            {"/cmd", "/local", "/system", "/cmd"},
            {nullptr, "/local", "/system", "/local"},
            {"", "", "/system", "/system"},  // empty values count as not given
            {"", nullptr, "", f.fallback},
        };
        for (const Case& c : cases) {
            SCOPED_TRACE(std::string(f.key) + " " + c.expected);
            auto ini = [&](const char* v) { return v ? "[" + std::string(f.section) + "]\n" + f.key + "=" + v + "\n" : ""; };
            writeLocalIni(ini(c.local));
            writeSystemIni(ini(c.system));
            std::vector<std::string> args{"KAM", "a.win"};
            if (c.arg) args.push_back(std::string(f.option) + c.arg);
            const SettingsResult r = gather(args);
            ASSERT_EQ(r.status, SettingsStatus::kReady);
            EXPECT_EQ(f.get(r.settings), f.path ? native(c.expected) : c.expected);
        }
    }
}

TEST_F(SettingsTest, OptionsMatchIgnoringCaseOverThePrefixLength)
{
    struct Case { std::vector<std::string> args; std::string odbc, user, password, data, css; bool cssOutput; };
    const std::string dflt = defaultDataDirectory();
    const Case cases[] = {
        {{"KAM", "a", "ODBC=Name"}, "Name", "TRZ", "KPV", dflt, "", false},
        {{"KAM", "a", "odbcx=1", "odbc", "passwor=1"}, "TRZ", "TRZ", "KPV", dflt, "", false},
        {{"KAM", "a", "user=a", "DaTa=/d1", "user=b=c", "data=/d2"}, "TRZ", "b=c", "KPV", "/d2", "", false},
        {{"KAM", "a", "css="}, "TRZ", "TRZ", "KPV", dflt, "", true},
        {{"KAM", "a", "CSS=/out/x.wfdisc", "css="}, "TRZ", "TRZ", "KPV", dflt, "", true},
        {{"KAM", "a", "PASSWORD=p", "css=c\\x.wfdisc", "data=d:\\data"}, "TRZ", "TRZ", "p", "d:/data", "c/x.wfdisc", true},
        // the station code and the path are examined as options too
        {{"user=ab", "css=/w/a.win"}, "TRZ", "ab", "KPV", dflt, "/w/a.win", true},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.args.back());
        const SettingsResult r = gather(c.args);
        ASSERT_EQ(r.status, SettingsStatus::kReady);
        const ConverterSettings& s = r.settings;
        EXPECT_EQ(s.stationCode, c.args[0]);
        EXPECT_EQ(s.odbc, c.odbc);
        EXPECT_EQ(s.user, c.user);
        EXPECT_EQ(s.password, c.password);
        EXPECT_EQ(s.data, native(c.data));
        EXPECT_EQ(s.css, native(c.css));
        EXPECT_EQ(s.cssOutput, c.cssOutput);
    }
}

TEST_F(SettingsTest, UseTendComesOnlyFromTremcvtIniAndIsHandedOver)
{
    struct Case { const char* local; const char* system; int useTend; bool handedOver; };
    const Case cases[] = {
        {"USE_TEND=1", "", 1, true},
        {"", "USE_TEND=1", 0, false},
        {"USE_TEND=-2", "", -2, true},
        {"USE_TEND=yes", "", 0, false},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(std::string(c.local) + "|" + c.system);
        writeLocalIni(std::string("[DATABASE]\n") + c.local + "\n");
        writeSystemIni(std::string("[DATABASE]\n") + c.system + "\nODBC=sys\n[DATA]\nDIR=d:\\arc\n");
        const SettingsResult r = gather({"KAM", "a", "password=pw"});
        ASSERT_EQ(r.status, SettingsStatus::kReady);
        EXPECT_EQ(r.settings.useTend, c.useTend);
        const ArchiveSettings handed = archiveSettings(r.settings);
        EXPECT_EQ(handed.dataSource, "sys");
        EXPECT_EQ(handed.userName, "TRZ");
        EXPECT_EQ(handed.password, "pw");
        EXPECT_EQ(handed.dataDir, native("d:/arc"));
        EXPECT_EQ(handed.useTend, c.handedOver);
    }
}

TEST_F(SettingsTest, SyncComesFromTheCommandLineThenTremcvtIniThenTrzIniAndIsOnByDefault)
{
    struct Case { const char* option; const char* local; const char* system; bool sync; };
    const Case cases[] = {
        {"", "", "", true},
        {"", "", "SYNC=0", false},
        {"", "SYNC=1", "SYNC=0", true},
        {"", "SYNC=0", "", false},
        {"SYNC=1", "SYNC=0", "SYNC=0", true},
        {"sync=0", "", "", false},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(std::string(c.option) + "|" + c.local + "|" + c.system);
        writeLocalIni(std::string("[DATABASE]\n") + c.local + "\n");
        writeSystemIni(std::string("[DATABASE]\n") + c.system + "\n");
        std::vector<std::string> args = {"KAM", "a"};
        if (*c.option != '\0') args.push_back(c.option);
        const SettingsResult r = gather(args);
        ASSERT_EQ(r.status, SettingsStatus::kReady);
        EXPECT_EQ(archiveSettings(r.settings).sync, c.sync);
    }
    EXPECT_TRUE(isConverterOption("Sync=0"));
}

TEST_F(SettingsTest, OverLongValuesAreRefusedNamingTheArgument)
{
    const auto text = [](std::size_t n) { return std::string(n, 'a'); };
    struct Case { std::vector<std::string> args; std::string local, system; std::string message; };
    const Case cases[] = {
        {{"ABCDEFGH", "a"}, "", "", "Argument too long (station code, at most 7 characters).\n"},
        {{"KAM", text(1024)}, "", "", "Argument too long (path to file, at most 1023 characters).\n"},
        {{"KAM", "a", "odbc=" + text(32)}, "", "", "Argument too long (odbc, at most 31 characters).\n"},
        {{"KAM", "a", "data=" + text(512)}, "", "", "Argument too long (data, at most 511 characters).\n"},
        {{"KAM", "a", "css=" + text(1024)}, "", "", "Argument too long (css, at most 1023 characters).\n"},
        {{"KAM", "a"}, "[DATABASE]\nODBC=" + text(32), "", "[DATABASE] ODBC in "},
        {{"KAM", "a"}, "", "[DATA]\nDIR=" + text(2000), "[DATA] DIR in "},
        // accepted at the limits, and where a longer value is never used
        {{"ABCDEFG", text(1023), "data=" + text(511), "odbc=" + text(40), "odbc=" + text(31)}, "", "", ""},
        {{"KAM", "a", "odbc=x"}, "[DATABASE]\nODBC=" + text(32), "[DATABASE]\nODBC=" + text(32), ""},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.message);
        writeLocalIni(c.local);
        writeSystemIni(c.system);
        const SettingsResult r = gather(c.args);
        if (c.message.empty()) {
            EXPECT_EQ(r.status, SettingsStatus::kReady);
            continue;
        }
        EXPECT_EQ(r.status, SettingsStatus::kArgumentTooLong);
        EXPECT_EQ(r.exitCode, -4);
        EXPECT_NE(r.message.find(c.message), std::string::npos) << r.message;
        EXPECT_EQ(r.message.find('\n'), r.message.size() - 1);
    }
}

TEST_F(SettingsTest, MseedOptionSelectsMiniSeedAndTheLaterOfCssAndMseedWins)
{
    struct Case {
        std::vector<std::string> args;
        bool cssOutput, mseedOutput;
        std::string mseed, css, notice;
    };
    const Case cases[] = {
        {{"KAM", "a", "mseed=/sds"}, false, true, "/sds", "", ""},
        {{"KAM", "a", "MSEED=sds\\arc", "mseed=/x", "mSeEd=/y"}, false, true, "/y", "", ""},
        {{"KAM", "a", "mseed="}, false, true, "", "", ""},
        {{"KAM", "a", "mseedx=/sds", "mseed"}, false, false, "", "", ""},
        {{"KAM", "a", "css=/w.wfdisc", "mseed=/sds"}, false, true, "/sds", "/w.wfdisc",
         "Output: miniSEED (mseed= given after css=).\n"},
        {{"KAM", "a", "mseed=/sds", "css=/w.wfdisc"}, true, false, "/sds", "/w.wfdisc",
         "Output: CSS (css= given after mseed=).\n"},
        // a later css= wins over a mseed= between two css=
        {{"KAM", "a", "css=/1", "mseed=/sds", "CSS=/2"}, true, false, "/sds", "/2",
         "Output: CSS (css= given after mseed=).\n"},
        // the station code and the path are examined as options too
        {{"mseed=a", "css=/b"}, true, false, "a", "/b", "Output: CSS (css= given after mseed=).\n"},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.args.back());
        const SettingsResult r = gather(c.args);
        ASSERT_EQ(r.status, SettingsStatus::kReady);
        EXPECT_EQ(r.settings.cssOutput, c.cssOutput);
        EXPECT_EQ(r.settings.mseedOutput, c.mseedOutput);
        EXPECT_EQ(r.settings.mseed, native(c.mseed));
        EXPECT_EQ(r.settings.css, native(c.css));
        EXPECT_EQ(r.outputNotice, c.notice);
    }
    const SettingsResult tooLong = gather({"KAM", "a", "mseed=" + std::string(512, 'a')});
    EXPECT_EQ(tooLong.status, SettingsStatus::kArgumentTooLong);
    EXPECT_EQ(tooLong.message, "Argument too long (mseed, at most 511 characters).\n");
    EXPECT_EQ(gather({"KAM", "a", "mseed=" + std::string(511, 'a')}).status, SettingsStatus::kReady);
}

}  // namespace
