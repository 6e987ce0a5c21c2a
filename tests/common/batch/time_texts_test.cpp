// The launcher's start and interval texts: what "time" and "timeqty" of the
// settings file and the interval field's text stand for.
#include <gtest/gtest.h>

#include <optional>
#include <string>
#include <vector>

#include "common/batch/time_texts.h"

namespace tremcvt {
namespace {

TEST(IntervalText, GivesStepCount)
{
    struct Case {
        const char* text;
        int steps;
    };
    const Case cases[] = {
        {"000 00:00", 0},
        {"001 00:00", 1440},
        {"002 03:04", 2 * 1440 + 3 * 60 + 4},
        {"000 25:75", 25 * 60 + 75},  // hours and minutes out of range add their worth
        {"3", 3 * 1440},              // pasted: only days
        {"x 01:05", 65},              // a piece that is no number counts as 0
        {"0 0:1:99", 1},              // pieces beyond the third are ignored
        {"-1 00:00", 0},              // a negative count gives no step
        {"99999999999999 0:0", 2147483647},
    };
    for (const Case& c : cases) EXPECT_EQ(intervalStepCount(c.text), c.steps) << c.text;
}

TEST(IntervalText, IsShownInTheFieldsForm)
{
    const std::pair<const char*, const char*> cases[] = {
        {"1 2:3", "001 02:03"},
        {"", "000 00:00"},
        {"999 23:59", "999 23:59"},
        {"12345 123:7", "999 99:07"},  // each number held within its width
        {"-5 -1:-2", "000 00:00"},
        {"7", "007 00:00"},
    };
    for (const auto& [text, shown] : cases) EXPECT_EQ(formatIntervalText(text), shown) << text;
}

TEST(StartTimeText, GivesDateAndTimeWhenValid)
{
    struct Case {
        const char* text;
        std::optional<std::vector<int>> fields;  // year, month, day, hour, minute
    };
    const Case cases[] = {
        {"14/09/2009 11:04", std::vector<int>{2009, 9, 14, 11, 4}},
        {"14/09/2009 11:04:59", std::vector<int>{2009, 9, 14, 11, 4}},  // extra numbers ignored
        {"14/09/2009", std::vector<int>{2009, 9, 14, 0, 0}},            // no time of day
        {"29/02/2008 00:00", std::vector<int>{2008, 2, 29, 0, 0}},
        {"29/02/2009 00:00", std::nullopt},  // no leap day
        {"00/00/0000 00:00", std::nullopt},  // the default value
        {"14/09/2009 24:00", std::nullopt},
        {"01/13/2009 10:00", std::nullopt},
        {"31/12/1969 23:59", std::nullopt},  // before 1970
        {"", std::nullopt},
    };
    for (const Case& c : cases) {
        const std::optional<StartTime> start = parseStartTime(c.text);
        ASSERT_EQ(start.has_value(), c.fields.has_value()) << c.text;
        if (start) {
            EXPECT_EQ((std::vector<int>{start->year, start->month, start->day, start->hour, start->minute}),
                      *c.fields)
                << c.text;
        }
    }
}

}  // namespace
}  // namespace tremcvt
