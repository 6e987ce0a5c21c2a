#include "common/profile.h"

#include <gtest/gtest.h>

#include <climits>
#include <cstdlib>
#include <filesystem>
#include <fstream>
#include <string>

#include "tests/support/fresh_directory.h"

namespace fs = std::filesystem;
using namespace tremcvt;

namespace {

using test::freshDirectory;

class ProfileTest : public ::testing::Test {
protected:
    void SetUp() override
    {
        dir_ = freshDirectory("tremcvt-profile-");
        path_ = (dir_ / "test.ini").string();
        std::ofstream(path_, std::ios::binary)
            << "orphan=before any section\r\n"
               "[ Database ]\r\n"
               "  Odbc  =  My Source  \r\n"
               ";user=commented\r\n"
               "odbc=second key\r\n"
               "empty=\r\n"
               "quoted= \"My DSN\" \r\n"
               "half=\"open\r\n"
               "noequals\r\n"
               "[other]\n"
               "user=from other\n"
               "[DATABASE]\n"
               "user=from repeated section\n"
               "[numbers]\n"
               "plain=42\nneg= -7 \nplus=+5\ntrail=12abc\nword=abc\nspaced=- 3\nhuge=99999999999\n"
               "tiny=-99999999999\nblank=\n";
    }
    void TearDown() override { fs::remove_all(dir_); }

    fs::path dir_;
    std::string path_;
};

TEST_F(ProfileTest, StringsFollowProfileRules)
{
    struct Case { const char* section; const char* key; std::size_t buffer; const char* expected; };
    const Case cases[] = {
        {"DATABASE", "ODBC", 32, "My Source"},        // names ignore case, blanks trimmed
        {"database", "odbc", 32, "My Source"},        // the first key of a name wins
        {"Database", "user", 32, "dflt"},             // comments are not keys; repeated section ignored
        {"other", "USER", 32, "from other"},
        {"Database", "empty", 32, ""},                // present but empty: not the default
        {"Database", "quoted", 32, "My DSN"},         // one pair of quotes is dropped
        {"Database", "half", 32, "\"open"},           // an unmatched quote stays
        {"Database", "noequals", 32, "dflt"},
        {"missing", "odbc", 32, "dflt"},
        {"Database", "orphan", 32, "dflt"},           // a key before any section belongs to none
#ifndef _WIN32
        // The Windows functions answer such keys under the empty section
        // name, which the converter never asks for.
        {"", "orphan", 32, "dflt"},
#endif
        {"DATABASE", "ODBC", 4, "My "},               // cut to the buffer length minus one
        {"DATABASE", "ODBC", 1, ""},
        {"missing", "odbc", 3, "df"},                 // the default is cut as well
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(std::string(c.section) + "/" + c.key);
        EXPECT_EQ(readProfileString(c.section, c.key, "dflt", c.buffer, path_), c.expected);
    }
    EXPECT_EQ(readProfileString("Database", "odbc", "dflt", 32, (dir_ / "absent.ini").string()), "dflt");

    // A file saved with a UTF-8 byte-order mark keeps its first section.
    const std::string withMark = (dir_ / "mark.ini").string();
    std::ofstream(withMark, std::ios::binary) << "\xEF\xBB\xBF[system]\r\nnsta=3\r\n";
    EXPECT_EQ(readProfileInt("system", "nsta", 1, withMark), 3);
}

#ifndef _WIN32
// On Windows every read goes to the system's profile functions, which notice
// a changed file themselves; the cache scope has no effect there.
TEST_F(ProfileTest, ReadCacheHoldsFilesOnlyWithinItsScope)
{
    const std::string path = (dir_ / "cached.ini").string();
    std::ofstream(path, std::ios::binary) << "[system]\nnsta=2\n";
    {
        const ProfileReadCache cache;
        EXPECT_EQ(readProfileInt("system", "nsta", 1, path), 2);
        std::ofstream(path, std::ios::binary) << "[system]\nnsta=5\n";
        EXPECT_EQ(readProfileInt("system", "nsta", 1, path), 2);
        EXPECT_EQ(readProfileString("Database", "ODBC", "", 32, path_), "My Source");
    }
    EXPECT_EQ(readProfileInt("system", "nsta", 1, path), 5);
}
#endif

TEST_F(ProfileTest, IntegersParseLeadingSignedNumber)
{
    struct Case { const char* key; int expected; };
    const Case cases[] = {
        {"plain", 42}, {"neg", -7}, {"plus", 5}, {"trail", 12}, {"word", -1}, {"spaced", -1},
        {"huge", INT_MAX}, {"tiny", INT_MIN}, {"blank", -1}, {"missing", -1},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.key);
        EXPECT_EQ(readProfileInt("NUMBERS", c.key, -1, path_), c.expected);
    }
    EXPECT_EQ(readProfileInt("numbers", "plain", 9, (dir_ / "absent.ini").string()), 9);
}

}  // namespace
