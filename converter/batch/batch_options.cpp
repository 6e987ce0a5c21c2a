#include "converter/batch/batch_options.h"

#include <algorithm>
#include <cctype>

#include "common/calendar/calendar.h"
#include "converter/driver/settings.h"

namespace tremcvt {
namespace {

// Reads `digits` (min..max) decimal digits at text[at]; advances at.
std::optional<int> readNumber(std::string_view text, std::size_t& at, std::size_t minDigits, std::size_t maxDigits)
{
    std::size_t count = 0;
    int value = 0;
    while (at < text.size() && count < maxDigits && std::isdigit(static_cast<unsigned char>(text[at]))) {
        value = value * 10 + (text[at] - '0');
        ++at;
        ++count;
    }
    if (count < minDigits) return std::nullopt;
    return value;
}

bool expect(std::string_view text, std::size_t& at, char c)
{
    if (at >= text.size() || text[at] != c) return false;
    ++at;
    return true;
}

int daysInMonth(int year, int month)
{
    static constexpr int kDays[] = {31, 28, 31, 30, 31, 30, 31, 31, 30, 31, 30, 31};
    return month == 2 && isLeapYear(year) ? 29 : kDays[month - 1];
}

bool validStart(const StartTime& s)
{
    // The calendar counts seconds from 1970; the WIN names carry two-digit
    // years of 1970 to 2069.
    return s.year >= 1970 && s.year <= 2069 && s.month >= 1 && s.month <= 12 && s.day >= 1 &&
           s.day <= daysInMonth(s.year, s.month) && s.hour >= 0 && s.hour <= 23 && s.minute >= 0 && s.minute <= 59;
}

bool isFlag(std::string_view argument) { return argument.size() > 2 && argument.substr(0, 2) == "--"; }

// A whole decimal number of at most six digits; nothing otherwise.
std::optional<int> wholeNumber(std::string_view text)
{
    std::size_t at = 0;
    const std::optional<int> value = readNumber(text, at, 1, 6);
    if (!value || at != text.size()) return std::nullopt;
    return value;
}

// The names of a --stations list: "all" is every station; otherwise names
// separated by commas, none empty.
std::optional<std::vector<std::string>> stationNameList(std::string_view text)
{
    std::vector<std::string> names;
    if (text == "all") return names;
    std::size_t start = 0;
    for (;;) {
        const std::size_t end = std::min(text.find(',', start), text.size());
        const std::string_view name = text.substr(start, end - start);
        if (name.empty()) return std::nullopt;
        names.emplace_back(name);
        if (end == text.size()) return names;
        start = end + 1;
    }
}

}  // namespace

std::optional<Shard> parseShard(std::string_view text)
{
    const std::size_t slash = text.find('/');
    if (slash == std::string_view::npos) return std::nullopt;
    const std::optional<int> index = wholeNumber(text.substr(0, slash));
    const std::optional<int> count = wholeNumber(text.substr(slash + 1));
    if (!index || !count || *count < 1 || *index < 1 || *index > *count) return std::nullopt;
    return Shard{*index, *count};
}

bool inShard(const Shard& shard, std::size_t position)
{
    return position % static_cast<std::size_t>(shard.count) == static_cast<std::size_t>(shard.index - 1);
}

std::optional<StartTime> parseBatchStart(std::string_view text)
{
    StartTime s;
    std::size_t at = 0;
    std::optional<int> a, b, c, hour, minute;
    if ((a = readNumber(text, at, 4, 4)) && expect(text, at, '-')) {
        // YYYY-MM-DDTHH:MM
        s.year = *a;
        if (!(b = readNumber(text, at, 2, 2)) || !expect(text, at, '-') || !(c = readNumber(text, at, 2, 2)) ||
            !expect(text, at, 'T'))
            return std::nullopt;
        s.month = *b;
        s.day = *c;
    } else {
        // DD/MM/YYYY HH:MM
        at = 0;
        if (!(a = readNumber(text, at, 1, 2)) || !expect(text, at, '/') || !(b = readNumber(text, at, 1, 2)) ||
            !expect(text, at, '/') || !(c = readNumber(text, at, 4, 4)) || !expect(text, at, ' '))
            return std::nullopt;
        s.day = *a;
        s.month = *b;
        s.year = *c;
    }
    if (!(hour = readNumber(text, at, 1, 2)) || !expect(text, at, ':') || !(minute = readNumber(text, at, 2, 2)) ||
        at != text.size())
        return std::nullopt;
    s.hour = *hour;
    s.minute = *minute;
    if (!validStart(s)) return std::nullopt;
    return s;
}

bool isIntervalText(std::string_view text)
{
    std::size_t at = 0;
    return readNumber(text, at, 1, 3) && expect(text, at, ' ') && readNumber(text, at, 1, 3) &&
           expect(text, at, ':') && readNumber(text, at, 1, 3) && at == text.size();
}

std::vector<std::string> readFileList(std::string_view text)
{
    std::vector<std::string> files;
    std::size_t start = 0;
    while (start < text.size()) {
        std::size_t end = text.find('\n', start);
        if (end == std::string_view::npos) end = text.size();
        std::string_view line = text.substr(start, end - start);
        if (!line.empty() && line.back() == '\r') line.remove_suffix(1);
        if (line.find_first_not_of(" \t") != std::string_view::npos) files.emplace_back(line);
        start = end + 1;
    }
    return files;
}

BatchOptionsResult parseBatchOptions(const std::vector<std::string>& arguments)
{
    BatchOptionsResult result;
    auto refuse = [&](std::string why) {
        result.message = "tremcvt_batch: " + why + "\n" + kBatchUsageText;
        return result;
    };
    if (arguments.size() < 2) return refuse("too few arguments");
    BatchOptions o;
    std::size_t next = 1;
    if (arguments[0] == "--stations") {
        if (arguments.size() < 4 && !(arguments.size() == 3 && arguments[2] == "--follow"))
            return refuse("--stations needs the stations, START and INTERVAL (or --follow)");
        const std::optional<std::vector<std::string>> names = stationNameList(arguments[1]);
        if (!names) return refuse("bad station list \"" + arguments[1] + "\" (all, or STA[,STA...])");
        o.stations = true;
        o.stationNames = *names;
        o.station = "";
    } else {
        o.station = arguments[0];
        if (o.station.empty() || isFlag(o.station) || isConverterOption(o.station))
            return refuse("the first argument must be the station code");
    }

    if (o.stations && arguments.size() >= 3 && arguments[2] == "--follow") {
        o.follow = true;
        next = 3;
    } else if (o.stations) {
        o.interval = true;
        next = 2;
    } else if (arguments.size() >= 3 && arguments[2] == "--follow") {
        o.follow = true;
        o.directory = arguments[1];
        next = 3;
    } else if (arguments[1] == "--files") {
        for (next = 2; next < arguments.size(); ++next) {
            const std::string& a = arguments[next];
            if (isFlag(a) || isConverterOption(a)) break;
            o.files.push_back(a);
        }
        if (o.files.empty()) return refuse("--files names no file");
    } else if (arguments[1] == "--files-from") {
        if (arguments.size() < 3 || arguments[2].empty()) return refuse("--files-from names no list");
        o.filesFrom = arguments[2];
        next = 3;
    } else {
        if (arguments.size() < 4) return refuse("an interval batch needs DIR, START and INTERVAL");
        o.interval = true;
        o.directory = arguments[1];
        next = 2;
    }
    if (o.interval) {
        const std::optional<StartTime> start = parseBatchStart(arguments[next]);
        if (!start)
            return refuse("bad START \"" + arguments[next] + "\" (DD/MM/YYYY HH:MM or YYYY-MM-DDTHH:MM)");
        o.start = *start;
        if (!isIntervalText(arguments[next + 1]))
            return refuse("bad INTERVAL \"" + arguments[next + 1] + "\" (DDD HH:MM)");
        o.intervalText = arguments[next + 1];
        next += 2;
    }

    for (; next < arguments.size(); ++next) {
        const std::string& a = arguments[next];
        if (a == "--full-reports") {
            o.fullReports = true;
        } else if (a == "--keep-going") {
            o.stopOnError = false;
        } else if (a == "--stop-on-error") {
            o.stopOnError = true;
        } else if (a == "--follow") {
            return refuse("--follow comes right after STATION DIR (and follows one station)");
        } else if ((a == "--settle" || a == "--from" || a == "--status-every") && !o.follow) {
            return refuse(a + " needs --follow");
        } else if (a == "--settle" || a == "--status-every") {
            const std::optional<int> value =
                next + 1 < arguments.size() ? wholeNumber(arguments[next + 1]) : std::nullopt;
            if (!value || *value < 1) return refuse(a + " needs a whole number above 0");
            (a == "--settle" ? o.settleSeconds : o.statusEveryMinutes) = *value;
            ++next;
        } else if (a == "--from") {
            o.from = next + 1 < arguments.size() ? parseBatchStart(arguments[next + 1]) : std::nullopt;
            if (!o.from) return refuse("bad --from (YYYY-MM-DDTHH:MM or DD/MM/YYYY HH:MM)");
            ++next;
        } else if ((a == "-j" || a == "--jobs" || a == "--shard") && !o.stations) {
            return refuse(a + " needs --stations");
        } else if ((a == "-j" || a == "--jobs") && o.follow) {
            return refuse(a + " does not go with --follow (every station is followed at once)");
        } else if (a == "-j" || a == "--jobs") {
            const std::optional<int> jobs =
                next + 1 < arguments.size() ? wholeNumber(arguments[next + 1]) : std::nullopt;
            if (!jobs) return refuse(a + " needs a number of stations at a time (0: one per core)");
            o.jobs = *jobs;
            ++next;
        } else if (a == "--shard") {
            o.shard = next + 1 < arguments.size() ? parseShard(arguments[next + 1]) : std::nullopt;
            if (!o.shard)
                return refuse("bad --shard \"" + (next + 1 < arguments.size() ? arguments[next + 1] : "") +
                              "\" (K/N: the K-th of N shares, 1 <= K <= N)");
            ++next;
        } else if (isConverterOption(a)) {
            o.converterOptions.push_back(a);
        } else {
            return refuse("unknown option \"" + a + "\"");
        }
    }
    result.options = std::move(o);
    return result;
}

}  // namespace tremcvt
