#include "converter/check/check_model.h"

#include <algorithm>
#include <cmath>
#include <cstdio>

#include "common/calendar/calendar.h"

namespace tremcvt::check {
namespace {

constexpr std::int64_t kSampleBytes = 4;

bool contains(const std::vector<std::string>& list, std::string_view value)
{
    return list.empty() || std::find(list.begin(), list.end(), value) != list.end();
}

// Reads exactly `digits` decimal digits at text[at].
bool readDigits(std::string_view text, std::size_t at, std::size_t digits, int& value)
{
    if (at + digits > text.size()) return false;
    value = 0;
    for (std::size_t i = at; i < at + digits; ++i) {
        if (text[i] < '0' || text[i] > '9') return false;
        value = value * 10 + (text[i] - '0');
    }
    return true;
}

}  // namespace

std::int64_t CatalogueRow::samples() const
{
    const double count = std::round(length * rate);
    if (!std::isfinite(count) || count < 0.0 || count > 9.0e15) return 0;
    return static_cast<std::int64_t>(count);
}

double CatalogueRow::sampleEnd() const
{
    return rate > 0.0 ? begin + static_cast<double>(samples()) / rate : begin;
}

std::int64_t CatalogueRow::expectedSize() const { return dataOffset + kSampleBytes * samples(); }

bool Selection::selectsStation(std::string_view station) const { return contains(stations, station); }

bool Selection::selectsChannel(std::string_view channel) const { return contains(channels, channel); }

bool Selection::selectsTime(double begin, double end) const
{
    if (from && end <= *from) return false;
    if (to && begin >= *to) return false;
    return true;
}

std::string formatFinding(const Finding& finding) { return finding.kind + " " + finding.file + ": " + finding.what; }

std::optional<double> parseUtcText(std::string_view text)
{
    int year = 0, month = 0, day = 0, hour = 0, minute = 0, second = 0;
    if (text.size() != 16 && text.size() != 19) return std::nullopt;
    if (!readDigits(text, 0, 4, year) || text[4] != '-' || !readDigits(text, 5, 2, month) || text[7] != '-' ||
        !readDigits(text, 8, 2, day) || (text[10] != 'T' && text[10] != ' ') || !readDigits(text, 11, 2, hour) ||
        text[13] != ':' || !readDigits(text, 14, 2, minute))
        return std::nullopt;
    if (text.size() == 19 && (text[16] != ':' || !readDigits(text, 17, 2, second))) return std::nullopt;
    static constexpr int kDays[] = {31, 28, 31, 30, 31, 30, 31, 31, 30, 31, 30, 31};
    if (year < 1970 || month < 1 || month > 12 || day < 1 || hour > 23 || minute > 59 || second > 59)
        return std::nullopt;
    if (day > kDays[month - 1] + (month == 2 && isLeapYear(year) ? 1 : 0)) return std::nullopt;
    return secondsFromCivil(year, month, day, hour, minute, static_cast<float>(second));
}

std::string durationText(double seconds)
{
    char text[128];
    if (!std::isfinite(seconds)) return "(none)";
    if (seconds < 1.0) {
        std::snprintf(text, sizeof text, "%.3f s", seconds);
        return text;
    }
    const auto whole = static_cast<long long>(std::floor(seconds));
    const double fraction = seconds - static_cast<double>(whole);
    const long long days = whole / 86400;
    const long long rest = whole % 86400;
    char clock[48];
    if (fraction >= 0.0005)
        std::snprintf(clock, sizeof clock, "%02lld:%02lld:%06.3f", rest / 3600, rest % 3600 / 60,
                      static_cast<double>(rest % 60) + fraction);
    else
        std::snprintf(clock, sizeof clock, "%02lld:%02lld:%02lld", rest / 3600, rest % 3600 / 60, rest % 60);
    if (days > 0)
        std::snprintf(text, sizeof text, "%lldd %s", days, clock);
    else
        std::snprintf(text, sizeof text, "%s", clock);
    return text;
}

}  // namespace tremcvt::check
