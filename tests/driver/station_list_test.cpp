#include "converter/driver/station_list.h"

#include <gtest/gtest.h>

#include <cstdio>
#include <cstdlib>
#include <filesystem>
#include <fstream>
#include <string>
#include <vector>

#include "tests/support/fresh_directory.h"

namespace fs = std::filesystem;
using namespace tremcvt;

namespace {

using test::freshDirectory;

class StationListTest : public ::testing::Test {
protected:
    void SetUp() override
    {
        dir_ = freshDirectory("tremcvt-stations-");
        ini_ = (dir_ / "tremcvt.ini").string();
    }
    void TearDown() override { fs::remove_all(dir_); }
    void writeIni(const std::string& text) { std::ofstream(ini_) << text; }

    fs::path dir_;
    std::string ini_;
};

const std::string kTwoStations = "[system]\nnsta=2\n[sta0]\nname=ABC\n1a2b=EHZ\n[sta1]\nname=kam\n";

TEST_F(StationListTest, FirstSectionNamingTheStationDecides)
{
    struct Case { std::string ini; const char* station; std::uint16_t channel; const char* component; bool found; bool tooLong = false; };
    const Case cases[] = {
        {kTwoStations + "1a2b=BHZ\n", "KAM", 0x1A2B, "BHZ", true},
        {kTwoStations + "1A2B=BHZ\n", "KAM", 0x1A2B, "BHZ", true},    // upper-case key
        {kTwoStations, "KAM", 0x1A2B, "1a2b", false},                 // key missing
        {kTwoStations + "1a2b=\n", "KAM", 0x1A2B, "1a2b", false},     // empty value
        {kTwoStations + "c1=HHN\n", "kAm", 0x00C1, "HHN", true},
        {kTwoStations + "0=X\nffff=Y\n", "KAM", 0xFFFF, "Y", true},
        {kTwoStations + "1a2b=ABCDEFG\n", "KAM", 0x1A2B, "ABCDEFG", true},
        {kTwoStations + "1a2b=ABCDEFGH\n", "KAM", 0x1A2B, "1a2b", false, true},  // refused, not cut
        // only the first of two KAM sections is read
        {"[system]\nnsta=2\n[sta0]\nname=KAM\n[sta1]\nname=KAM\n1a2b=BHZ\n", "KAM", 0x1A2B, "1a2b", false},
        {"[system]\nnsta=2\n[sta0]\nname=KAM\n1a2b=HHZ\n[sta1]\nname=KAM\n1a2b=BHZ\n", "KAM", 0x1A2B, "HHZ", true},
        // nsta bounds the search; it defaults to 1
        {"[system]\nnsta=0\n[sta0]\nname=KAM\n1a2b=BHZ\n", "KAM", 0x1A2B, "1a2b", false},
        {"[system]\nnsta=-3\n[sta0]\nname=KAM\n1a2b=BHZ\n", "KAM", 0x1A2B, "1a2b", false},
        {"[sta0]\nname=KAM\n1a2b=BHZ\n", "KAM", 0x1A2B, "BHZ", true},
        {"[sta1]\nname=KAM\n1a2b=BHZ\n", "KAM", 0x1A2B, "1a2b", false},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.ini);
        writeIni(c.ini);
        const ComponentLookup lookup = lookupComponent(ini_, c.station, c.channel);
        EXPECT_EQ(lookup.component, c.component);
        EXPECT_EQ(lookup.found, c.found);
        EXPECT_EQ(lookup.tooLong, c.tooLong);
    }
}

std::string runCheck(ChannelTable& table, const std::string& station, const std::string& ini, int& problems)
{
    RunReport report;
    problems = runIniCheck(table, station, ini, report);
    return report.text();
}

TEST_F(StationListTest, IniCheckReportsMissingComponentsAndFillsRecords)
{
    const std::string header = "============================================================\nChecking INI-file\n";
    struct Case {
        std::string ini; std::string station; std::vector<std::string> components;
        std::string report; int problems; std::string storedStation;
    };
    const Case cases[] = {
        {kTwoStations + "c1=BHZ\nc2=BHN\n", "KAM", {"BHZ", "BHN", "1a2b"},
         "Not found (KAM::1a2b::100)\n", 1, "KAM"},
        {"", "KAM", {"c1", "c2", "1a2b"},  // no tremcvt.ini: every channel is reported
         "Not found (KAM::c1::100)\nNot found (KAM::c2::20)\nNot found (KAM::1a2b::100)\n", 3, "KAM"},
        {kTwoStations + "c1=BHZ\nc2=LONGNAME\n1a2b=HHE\n", "kam", {"BHZ", "c2", "HHE"},
         "Component name too long (kam::c2::20)\n", 1, "kam"},
        {"[system]\nnsta=1\n[sta0]\nname=STATIONCODE15CH\nc1=B\nc2=N\n1a2b=E\n", "STATIONCODE15CH",
         {"B", "N", "E"}, "", 0, "STATIONCODE"},  // station field holds 11 characters
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.report);
        if (c.ini.empty()) fs::remove(ini_); else writeIni(c.ini);
        ChannelTable table;
        for (auto [id, sps] : {std::pair{0x00C1, 100}, {0x00C2, 20}, {0x1A2B, 100}}) {
            ChannelTrace record;
            record.channelId = static_cast<std::uint16_t>(id);
            record.sps = sps;
            table.append(std::move(record));
        }
        int problems = -1;
        EXPECT_EQ(runCheck(table, c.station, ini_, problems), header + c.report);
        EXPECT_EQ(problems, c.problems);
        for (std::size_t i = 0; i < table.size(); ++i) {
            EXPECT_EQ(table[i].component, c.components[i]);
            EXPECT_EQ(table[i].station, c.storedStation);
        }
    }
    ChannelTable empty;
    int problems = -1;
    EXPECT_EQ(runCheck(empty, "KAM", ini_, problems), header);
    EXPECT_EQ(problems, 0);
}

TEST_F(StationListTest, NetworkComesFromTheStationSectionThenTheSystemSectionThenXX)
{
    struct Case { std::string ini; const char* station; const char* network; };
    const Case cases[] = {
        {"", "KAM", "XX"},  // no tremcvt.ini at all
        {kTwoStations, "KAM", "XX"},
        {"[system]\nnet=JP\n[sta0]\nname=KAM\n", "kam", "JP"},
        {"[system]\nnsta=2\nnet=JP\n[sta0]\nname=ABC\nnet=II\n[sta1]\nname=KAM\nNET=bo\n", "KAM", "bo"},
        {"[system]\nnsta=2\nnet=JP\n[sta0]\nname=ABC\nnet=II\n[sta1]\nname=KAM\n", "KAM", "JP"},
        {"[system]\nnet=JP\n[sta0]\nname=KAM\nnet=\n", "KAM", "JP"},  // empty counts as not given
        // only the first section of the station is read
        {"[system]\nnsta=2\n[sta0]\nname=KAM\n[sta1]\nname=KAM\nnet=II\n", "KAM", "XX"},
        // a station the list does not name takes the system's network
        {"[system]\nnet=JP\n[sta0]\nname=ABC\nnet=II\n", "KAM", "JP"},
        // over-long codes come back whole, for the caller to refuse
        {"[system]\nnet=NETWORK\n", "KAM", "NETWORK"},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.ini);
        if (c.ini.empty()) fs::remove(ini_); else writeIni(c.ini);
        EXPECT_EQ(lookupNetwork(ini_, c.station), c.network);
    }
}

}  // namespace
