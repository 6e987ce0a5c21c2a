#include "common/batch/time_texts.h"

#include <algorithm>
#include <cctype>
#include <climits>
#include <cstdio>

#include "common/calendar/calendar.h"

namespace tremcvt {
namespace {

constexpr long long kLargestNumber = 999999999;
constexpr int kMinutesPerHour = 60;
constexpr int kMinutesPerDay = 1440;

// The leading decimal number of a piece (optional sign), 0 when there is none.
long long leadingNumber(std::string_view piece)
{
    std::size_t i = 0;
    bool negative = false;
    if (i < piece.size() && (piece[i] == '+' || piece[i] == '-')) {
        negative = piece[i] == '-';
        ++i;
    }
    long long value = 0;
    for (; i < piece.size() && std::isdigit(static_cast<unsigned char>(piece[i])); ++i) {
        value = std::min(kLargestNumber, value * 10 + (piece[i] - '0'));
    }
    return negative ? -value : value;
}

long long numberAt(const std::vector<long long>& numbers, std::size_t index)
{
    return index < numbers.size() ? numbers[index] : 0;
}

int daysInMonth(int year, int month)
{
    static constexpr int kLength[13] = {0, 31, 28, 31, 30, 31, 30, 31, 31, 30, 31, 30, 31};
    return month == 2 && isLeapYear(year) ? 29 : kLength[month];
}

}  // namespace

std::vector<long long> splitNumbers(std::string_view text, std::string_view delimiters)
{
    std::vector<long long> numbers;
    std::size_t pos = 0;
    while (pos < text.size()) {
        const std::size_t start = text.find_first_not_of(delimiters, pos);
        if (start == std::string_view::npos) break;
        std::size_t end = text.find_first_of(delimiters, start);
        if (end == std::string_view::npos) end = text.size();
        numbers.push_back(leadingNumber(text.substr(start, end - start)));
        pos = end;
    }
    return numbers;
}

std::optional<StartTime> parseStartTime(std::string_view text)
{
    const std::vector<long long> n = splitNumbers(text, "/ :");
    const long long day = numberAt(n, 0), month = numberAt(n, 1), year = numberAt(n, 2);
    const long long hour = numberAt(n, 3), minute = numberAt(n, 4);
    if (year < kEarliestStartYear || year > kLatestStartYear || month < 1 || month > 12) {
        return std::nullopt;
    }
    StartTime start{static_cast<int>(year), static_cast<int>(month), static_cast<int>(day),
                    static_cast<int>(hour), static_cast<int>(minute)};
    if (day < 1 || day > daysInMonth(start.year, start.month) || hour < 0 || hour > 23 ||
        minute < 0 || minute > 59) {
        return std::nullopt;
    }
    return start;
}

std::string formatIntervalText(std::string_view text)
{
    const std::vector<long long> n = splitNumbers(text, " :");
    const auto held = [](long long value, long long most) {
        return static_cast<int>(std::clamp(value, 0LL, most));
    };
    char field[16];
    std::snprintf(field, sizeof field, "%03d %02d:%02d", held(numberAt(n, 0), 999),
                  held(numberAt(n, 1), 99), held(numberAt(n, 2), 99));
    return field;
}

int intervalStepCount(std::string_view text)
{
    const std::vector<long long> n = splitNumbers(text, " :");
    const long long steps =
        numberAt(n, 2) + numberAt(n, 1) * kMinutesPerHour + numberAt(n, 0) * kMinutesPerDay;
    return static_cast<int>(std::clamp(steps, 0LL, static_cast<long long>(INT_MAX)));
}

double startSeconds(const StartTime& start)
{
    return secondsFromCivil(start.year, start.month, start.day, start.hour, start.minute, 0.0f);
}

}  // namespace tremcvt
