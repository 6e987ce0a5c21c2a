#include "converter/archive/statement_text.h"

#include <gtest/gtest.h>

#include <cstdio>
#include <cstdlib>
#include <ctime>
#include <string>

#include "converter/archive/catalogue_internal.h"

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

TEST(StatementTextTest, FileRowInsertAppendsTendAndLocationCodeWhenWritten)
{
    // The four statements a new file's row may take, each printed here with
    // one format of its own.
    const char* const base = "insert into FILELIST(STA,TBEGIN,TQTY,SPS,GAIN,CPATH,DATATYPE,CH,CREATER,LDDATE,FOFF,"
                             "CALIB,CALPER";
    const char* const values = ") values('%s',%0.4f,%0.2f,%0.2f,1,'%s',3,'%s','%s',{ts '%s'},%d,%0.2f,%0.2f";
    const SchemaNameTable names;
    const catalogue::Piece piece{1252926000.123456, 1800.005, {}};
    for (const bool useTend : {false, true}) {
        for (const char* location : {"", "??"}) {
            SCOPED_TRACE(std::string(useTend ? "TEND " : "") + "location '" + location + "'");
            const ChannelStore store{"O'K", "BHZ", location, "tremcvt", 0.0, 0.0, 100.0, {}, 0.25, 1.5};
            const std::string columns = std::string(base) + (useTend ? ",TEND" : "") + (*location ? ",LCODE" : "");
            const std::string format = columns + values + (useTend ? ",%0.4f" : "") + (*location ? ",'%s'" : "") + ")";
            char expected[1024];
            if (useTend && *location)
                std::snprintf(expected, sizeof expected, format.c_str(), "O''K", piece.start, piece.seconds, 100.0,
                              "KAM/11/a.KAM", "BHZ", "tremcvt", "2009-09-14 11:00:00", 512, 0.25, 1.5,
                              piece.start + piece.seconds, location);
            else if (useTend)
                std::snprintf(expected, sizeof expected, format.c_str(), "O''K", piece.start, piece.seconds, 100.0,
                              "KAM/11/a.KAM", "BHZ", "tremcvt", "2009-09-14 11:00:00", 512, 0.25, 1.5,
                              piece.start + piece.seconds);
            else if (*location)
                std::snprintf(expected, sizeof expected, format.c_str(), "O''K", piece.start, piece.seconds, 100.0,
                              "KAM/11/a.KAM", "BHZ", "tremcvt", "2009-09-14 11:00:00", 512, 0.25, 1.5, location);
            else
                std::snprintf(expected, sizeof expected, format.c_str(), "O''K", piece.start, piece.seconds, 100.0,
                              "KAM/11/a.KAM", "BHZ", "tremcvt", "2009-09-14 11:00:00", 512, 0.25, 1.5);
            const StatementText text = catalogue::fileRowInsert(names.filelist, store, piece, "KAM/11/a.KAM",
                                                                "2009-09-14 11:00:00", 512, useTend);
            ASSERT_TRUE(text.fits());
            EXPECT_EQ(text.view(), expected);
        }
    }
}

}  // namespace
}  // namespace tremcvt
