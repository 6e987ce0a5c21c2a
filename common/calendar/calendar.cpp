#include "common/calendar/calendar.h"

#include <cmath>
#include <cstdio>
#include <cstdint>

namespace tremcvt {
namespace {

constexpr int kDaysBeforeMonth[13] = {0, 0, 31, 59, 90, 120, 151, 181, 212, 243, 273, 304, 334};
constexpr int kMonthLength[13] = {0, 31, 28, 31, 30, 31, 30, 31, 31, 30, 31, 30, 31};

constexpr std::int64_t kSecondsPerDay = 86400;
constexpr std::int64_t kSecondsPerHour = 3600;
constexpr std::int64_t kSecondsPerMinute = 60;
// Seconds from 0001-01-01 00:00:00 to 1970-01-01 00:00:00.
constexpr double kEpochOffset = 62135596800.0;
constexpr std::int64_t kDaysPer400Years = 146097;
constexpr std::int64_t kDaysPer100Years = 36524;
constexpr std::int64_t kDaysPer4Years = 1461;
constexpr std::int64_t kDaysPerYear = 365;

int daysBefore(int year, int month)
{
    if (month < 1 || month > 12) return 0;
    return kDaysBeforeMonth[month] + ((month > 2 && isLeapYear(year)) ? 1 : 0);
}

}  // namespace

bool isLeapYear(int year)
{
    return year % 400 == 0 || (year % 4 == 0 && year % 100 != 0);
}

double secondsFromCivil(int year, int month, int day, int hour, int minute, float second)
{
    // C++ integer division truncates toward zero, as the formula expects.
    std::int64_t days = static_cast<std::int64_t>(year - 1970) * 365 + (year - 1969) / 4 -
                        (year - 1901) / 100 + (year - 1601) / 400;
    days += daysBefore(year, month) + day - 1;
    return static_cast<double>(days * kSecondsPerDay + hour * kSecondsPerHour +
                               minute * kSecondsPerMinute) +
           static_cast<double>(second);
}

bool monthDayFromDayOfYear(int dayOfYear, int year, MonthDay& out)
{
    out = MonthDay{};
    if (dayOfYear < 1) return false;
    int d = dayOfYear;
    for (int month = 1; month <= 12; ++month) {
        const int length = kMonthLength[month] + ((month == 2 && isLeapYear(year)) ? 1 : 0);
        if (d <= length) {
            out.month = month;
            out.day = d;
            return true;
        }
        d -= length;
    }
    return false;
}

bool civilFromSeconds(double seconds, CivilTime& out)
{
    const double shifted = seconds + kEpochOffset;
    const double whole = std::floor(shifted);
    const double fraction = shifted - whole;
    const auto w = static_cast<std::int64_t>(whole);

    std::int64_t days = w / kSecondsPerDay;
    if (w % kSecondsPerDay < 0) --days;
    std::int64_t rest = w - days * kSecondsPerDay;
    out.hour = static_cast<int>(rest / kSecondsPerHour);
    rest -= out.hour * kSecondsPerHour;
    out.minute = static_cast<int>(rest / kSecondsPerMinute);
    rest -= out.minute * kSecondsPerMinute;
    out.second = static_cast<float>(static_cast<double>(rest) + fraction);

    const std::int64_t a = days / kDaysPer400Years;
    days -= a * kDaysPer400Years;
    // The last day of a 400-year cycle belongs to its fourth century.
    const std::int64_t b = (days == kDaysPer400Years - 1) ? 3 : days / kDaysPer100Years;
    days -= b * kDaysPer100Years;
    const std::int64_t c = days / kDaysPer4Years;
    days -= c * kDaysPer4Years;
    std::int64_t e = days / kDaysPerYear;
    if (e == 4) e = 3;  // the leap day closing a four-year span
    days -= e * kDaysPerYear;

    const int year = static_cast<int>(400 * a + 100 * b + 4 * c + e + 1);
    MonthDay md;
    if (!monthDayFromDayOfYear(static_cast<int>(days + 1), year, md)) return false;
    out.year = year;
    out.month = md.month;
    out.day = md.day;
    return true;
}

int julianDate(int year, int month, int day)
{
    return year * 1000 + daysBefore(year, month) + day;
}

std::string utcText(double seconds, int decimals)
{
    if (!std::isfinite(seconds)) return "(no time)";
    const double whole = std::floor(seconds);
    double fraction = seconds - whole;
    const double scale = std::pow(10.0, decimals);
    double scaled = std::round(fraction * scale);
    double base = whole;
    if (scaled >= scale) {  // rounds up to the next second
        scaled = 0.0;
        base += 1.0;
    }
    CivilTime civil;
    if (!civilFromSeconds(base, civil)) return "(no time)";
    char text[64];
    std::snprintf(text, sizeof text, "%04d-%02d-%02dT%02d:%02d:%02d", civil.year, civil.month, civil.day, civil.hour,
                  civil.minute, static_cast<int>(civil.second));
    std::string out = text;
    if (decimals > 0 && scaled > 0.0) {
        char tail[32];
        std::snprintf(tail, sizeof tail, ".%0*lld", decimals, static_cast<long long>(scaled));
        out += tail;
    }
    return out;
}

}  // namespace tremcvt
