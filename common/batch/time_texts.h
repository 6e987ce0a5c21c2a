// The launcher's start and interval texts: "time" (DD/MM/YYYY HH:MM) and
// "timeqty" (DDD HH:MM) of the settings file, the interval field's text and
// the number of minute steps it stands for.
#pragma once

#include <optional>
#include <string>
#include <string_view>
#include <vector>

namespace tremcvt {

// The start of an interval batch as the date and time pickers give it.
struct StartTime {
    int year = 0;
    int month = 0;
    int day = 0;
    int hour = 0;
    int minute = 0;
};

// The earliest start the launcher accepts: the calendar arithmetic counts
// seconds from 1970.
inline constexpr int kEarliestStartYear = 1970;
inline constexpr int kLatestStartYear = 9999;

// The numbers of a text split at any of the delimiter characters, as the
// interval and start-time texts are read: runs of delimiters count as one,
// a piece that does not start with a number counts as 0, and a number too
// large for the batch is held at 999999999.
std::vector<long long> splitNumbers(std::string_view text, std::string_view delimiters);

// "time" of the settings file, DD/MM/YYYY HH:MM: the first five numbers are
// day, month, year, hour and minute; missing numbers count as 0. Nothing when
// they do not form a valid date and time from kEarliestStartYear on.
std::optional<StartTime> parseStartTime(std::string_view text);

// "timeqty" of the settings file (days, hours and minutes split at blanks and
// colons) as the interval field shows it, "DDD HH:MM". Missing numbers count
// as 0; each is held within its field width so the separators stay in place.
std::string formatIntervalText(std::string_view text);

// Steps of an interval text: minutes + hours * 60 + days * 1440, where hours
// above 23 and minutes above 59 add their worth; never below 0.
int intervalStepCount(std::string_view text);

// Seconds since 1970 of the start minute.
double startSeconds(const StartTime& start);

}  // namespace tremcvt
