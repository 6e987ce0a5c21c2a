// Proleptic Gregorian calendar arithmetic on times in seconds since
// 1970-01-01 00:00:00, with no time zone. Used by the WIN decoder, the CSS
// writer and the launcher.
#pragma once

#include <string>

namespace tremcvt {

struct CivilTime {
    int year = 0;
    int month = 0;   // 1 to 12
    int day = 0;     // 1 to 31
    int hour = 0;
    int minute = 0;
    float second = 0.0f;
};

struct MonthDay {
    int month = 0;
    int day = 0;
};

bool isLeapYear(int year);

// Seconds since 1970 for a civil date and time. Meant for years from 1970 on;
// no argument is range-checked.
double secondsFromCivil(int year, int month, int day, int hour, int minute, float second);

// Month and day of a day of the year (counted from 1). False, with month and
// day 0, when the day lies outside the year.
bool monthDayFromDayOfYear(int dayOfYear, int year, MonthDay& out);

// Civil date and time of a time in seconds since 1970. False when the date
// could not be formed; hour, minute and second are delivered even then, the
// year, month and day are not.
bool civilFromSeconds(double seconds, CivilTime& out);

// The CSS 3.0 jdate: year * 1000 + day of the year.
int julianDate(int year, int month, int day);

// UTC text of a time: "YYYY-MM-DDTHH:MM:SS" with the fraction of a second
// to `decimals` places when it has one (decimals 0: whole seconds).
std::string utcText(double seconds, int decimals = 3);

}  // namespace tremcvt
