#include "converter/archive/statement_text.h"

#include <gtest/gtest.h>

#include <cstdlib>
#include <ctime>
#include <string>

namespace tremcvt {
namespace {

TEST(StatementTextTest, DoublesEverySingleQuoteOfATextValue)
{
    const struct {
        const char* value;
        const char* expected;
    } cases[] = {
        {"", ""},
        {"KAM", "KAM"},
        {"O'NEIL", "O''NEIL"},
        {"'", "''"},
        {"''x'", "''''x''"},
        {"KAM' or '1'='1", "KAM'' or ''1''=''1"},
    };
    for (const auto& c : cases) EXPECT_EQ(sqlText(c.value), c.expected) << c.value;
}

TEST(StatementTextTest, RefusesATextThatDoesNotFitItsBuffer)
{
    StatementText text;
    const std::string fitting(StatementText::kCapacity - 1 - 4, 'x');  // 1023 characters with "ab''"
    EXPECT_TRUE(text.format("ab%s''", fitting.c_str()));
    EXPECT_TRUE(text.fits());
    EXPECT_EQ(text.view().size(), StatementText::kCapacity - 1);
    EXPECT_EQ(text.view().substr(0, 2), "ab");

    const std::string tooLong(StatementText::kCapacity - 4, 'x');  // one character more
    EXPECT_FALSE(text.format("ab%s''", tooLong.c_str()));
    EXPECT_FALSE(text.fits());
    EXPECT_EQ(text.view(), "");

    // A later statement that fits is built normally again.
    EXPECT_TRUE(text.format("select max(%s) from %s", "TBEGIN", "FILELIST"));
    EXPECT_EQ(text.view(), "select max(TBEGIN) from FILELIST");
}

TEST(StatementTextTest, LocationConditionAcceptsQuestionMarksAndNullForAnUnspecifiedCode)
{
    EXPECT_TRUE(isUnspecifiedLocation(""));
    EXPECT_TRUE(isUnspecifiedLocation("??"));
    EXPECT_FALSE(isUnspecifiedLocation("?"));
    EXPECT_FALSE(isUnspecifiedLocation("00"));

    EXPECT_EQ(locationCondition("LCODE", ""), "(LCODE='?\?' or LCODE is null)");
    EXPECT_EQ(locationCondition("lcode", "??"), "(lcode='?\?' or lcode is null)");
    EXPECT_EQ(locationCondition("LCODE", "00"), "LCODE='00'");
    EXPECT_EQ(locationCondition("LCODE", "0'"), "LCODE='0'''");
}

TEST(StatementTextTest, LoadDateIsLocalTimeWithSecondResolution)
{
    const char* previous = std::getenv("TZ");
    const std::string saved = previous != nullptr ? previous : "";
    // 2009-03-05 07:08:09 UTC.
    const std::time_t instant = 1236236889;
    ::setenv("TZ", "UTC", 1);
    ::tzset();
    EXPECT_EQ(loadDateText(instant), "2009-03-05 07:08:09");
    ::setenv("TZ", "Asia/Kamchatka", 1);  // +12 in March 2009
    ::tzset();
    EXPECT_EQ(loadDateText(instant), "2009-03-05 19:08:09");
    ::setenv("TZ", "America/New_York", 1);  // -5: the day before
    ::tzset();
    EXPECT_EQ(loadDateText(instant), "2009-03-05 02:08:09");
    EXPECT_EQ(loadDateText(1236236889 - 3 * 3600), "2009-03-04 23:08:09");
    if (previous != nullptr) {
        ::setenv("TZ", saved.c_str(), 1);
    } else {
        ::unsetenv("TZ");
    }
    ::tzset();
}

}  // namespace
}  // namespace tremcvt
