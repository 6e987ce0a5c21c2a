// Calendar arithmetic, checked against fixed values and against the C
// library's own UTC conversions over several centuries.
#include <gtest/gtest.h>

#include <cmath>
#include <ctime>

#include "common/calendar/calendar.h"

namespace tremcvt {
namespace {

#ifdef _WIN32
// The Windows C runtime names it gmtime_s, with the arguments swapped.
std::tm* gmtime_r(const std::time_t* time, std::tm* out) { return gmtime_s(out, time) == 0 ? out : nullptr; }
#endif

TEST(Calendar, KnownDatesAndTimes)
{
    EXPECT_EQ(secondsFromCivil(1970, 1, 1, 0, 0, 0.0f), 0.0);
    EXPECT_EQ(secondsFromCivil(2000, 3, 1, 0, 0, 0.0f), 951868800.0);
    EXPECT_EQ(secondsFromCivil(2009, 3, 5, 7, 8, 9.0f), 1236236889.0);
    EXPECT_EQ(secondsFromCivil(2009, 3, 5, 7, 8, 9.5f), 1236236889.5);

    struct Case {
        double seconds;
        int year, month, day, hour, minute;
        float second;
    };
    const Case cases[] = {
        {0.0, 1970, 1, 1, 0, 0, 0.0f},
        {951782400.0, 2000, 2, 29, 0, 0, 0.0f},
        {1236236889.25, 2009, 3, 5, 7, 8, 9.25f},
        {978307199.0, 2000, 12, 31, 23, 59, 59.0f},   // last second of a 400-year cycle
        {978307200.0, 2001, 1, 1, 0, 0, 0.0f},
        {1104451200.0, 2004, 12, 31, 0, 0, 0.0f},     // day 366 of a leap year
        {13601001600.0, 2400, 12, 31, 0, 0, 0.0f},
        {4107456000.0, 2100, 2, 28, 0, 0, 0.0f},
        {4107542400.0, 2100, 3, 1, 0, 0, 0.0f},       // 2100 has no leap day
    };
    for (const Case& c : cases) {
        CivilTime civil;
        ASSERT_TRUE(civilFromSeconds(c.seconds, civil)) << c.seconds;
        EXPECT_EQ(civil.year, c.year) << c.seconds;
        EXPECT_EQ(civil.month, c.month) << c.seconds;
        EXPECT_EQ(civil.day, c.day) << c.seconds;
        EXPECT_EQ(civil.hour, c.hour) << c.seconds;
        EXPECT_EQ(civil.minute, c.minute) << c.seconds;
        EXPECT_EQ(civil.second, c.second) << c.seconds;
    }
}

TEST(Calendar, LeapYearsDayOfYearAndJulianDate)
{
    struct Leap {
        int year;
        bool leap;
    };
    for (const Leap& c : {Leap{1900, false}, Leap{1970, false}, Leap{1972, true}, Leap{2000, true},
                          Leap{2004, true}, Leap{2009, false}, Leap{2100, false}, Leap{2400, true}}) {
        EXPECT_EQ(isLeapYear(c.year), c.leap) << c.year;
    }

    struct DayOfYear {
        int dayOfYear, year;
        bool ok;
        int month, day;
    };
    const DayOfYear days[] = {
        {1, 2009, true, 1, 1},     {31, 2009, true, 1, 31},   {32, 2009, true, 2, 1},
        {59, 2009, true, 2, 28},   {60, 2009, true, 3, 1},    {60, 2008, true, 2, 29},
        {365, 2009, true, 12, 31}, {366, 2008, true, 12, 31}, {366, 2009, false, 0, 0},
        {0, 2009, false, 0, 0},    {-5, 2008, false, 0, 0},   {367, 2008, false, 0, 0},
    };
    for (const DayOfYear& c : days) {
        MonthDay md{7, 7};
        EXPECT_EQ(monthDayFromDayOfYear(c.dayOfYear, c.year, md), c.ok) << c.dayOfYear << " " << c.year;
        EXPECT_EQ(md.month, c.month) << c.dayOfYear << " " << c.year;
        EXPECT_EQ(md.day, c.day) << c.dayOfYear << " " << c.year;
    }

    EXPECT_EQ(julianDate(2009, 3, 5), 2009064);
    EXPECT_EQ(julianDate(2008, 3, 1), 2008061);
    EXPECT_EQ(julianDate(2008, 2, 29), 2008060);
    EXPECT_EQ(julianDate(2004, 12, 31), 2004366);
    EXPECT_EQ(julianDate(2100, 12, 31), 2100365);
}

// Every day from 1970 to the end of 2400 at a changing time of day: both
// directions agree with gmtime_r, and converting back gives the same time.
TEST(Calendar, AgreesWithTheCLibraryOverFourCenturies)
{
    const std::int64_t lastDay = static_cast<std::int64_t>(secondsFromCivil(2400, 12, 31, 0, 0, 0.0f)) / 86400;
    ASSERT_EQ(lastDay, 157419);
    int checked = 0;
    for (std::int64_t day = 0; day <= lastDay; ++day) {
        const std::int64_t t = day * 86400 + (day * 7919) % 86400;
        const std::time_t tt = static_cast<std::time_t>(t);
        std::tm tm{};
        ASSERT_NE(gmtime_r(&tt, &tm), nullptr);
        const int year = tm.tm_year + 1900, month = tm.tm_mon + 1;

        EXPECT_EQ(secondsFromCivil(year, month, tm.tm_mday, tm.tm_hour, tm.tm_min, float(tm.tm_sec)),
                  double(t))
            << t;
        EXPECT_EQ(julianDate(year, month, tm.tm_mday), year * 1000 + tm.tm_yday + 1) << t;

        CivilTime civil;
        ASSERT_TRUE(civilFromSeconds(double(t) + 0.5, civil)) << t;
        if (civil.year != year || civil.month != month || civil.day != tm.tm_mday || civil.hour != tm.tm_hour ||
            civil.minute != tm.tm_min || civil.second != float(tm.tm_sec) + 0.5f) {
            ADD_FAILURE() << "civilFromSeconds(" << t << ") gave " << civil.year << "-" << civil.month << "-"
                          << civil.day << " " << civil.hour << ":" << civil.minute << ":" << civil.second;
            break;
        }
        ++checked;
    }
    EXPECT_EQ(checked, lastDay + 1);
}

}  // namespace
}  // namespace tremcvt
