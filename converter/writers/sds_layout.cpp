// The SDS layout and the cutting of a channel into UTC days: plain
// arithmetic and names, built whether or not miniSEED can be written.
#include <cmath>
#include <cstdio>

#include "common/calendar/calendar.h"
#include "common/paths.h"
#include "converter/writers/mseed_writer.h"

namespace tremcvt {
namespace {

constexpr std::int64_t kMicrosecondsPerSecond = 1000000;
constexpr std::int64_t kMicrosecondsPerDay = 86400 * kMicrosecondsPerSecond;
// 2100-01-01 00:00:00: record headers are meant for the years up to 2099.
constexpr std::int64_t kEndOfSupportedTime = 4102444800LL * kMicrosecondsPerSecond;

bool isCodeCharacter(char c) { return (c >= 'A' && c <= 'Z') || (c >= '0' && c <= '9'); }

bool isValidCode(std::string_view code)
{
    if (code.empty()) return false;
    for (const char c : code)
        if (!isCodeCharacter(c)) return false;
    return true;
}

// Time of sample index after the first one at start, rounded to the
// microsecond. The product stays far inside 64 bits for any rate up to
// kMaxMseedRate and any count a day can hold.
std::int64_t sampleTime(std::int64_t start, std::int64_t index, std::int64_t sps)
{
    return start + (2 * index * kMicrosecondsPerSecond + sps) / (2 * sps);
}

// The first index whose exact time start + index / sps is at or after
// boundary (boundary > start).
std::int64_t firstIndexAtOrAfter(std::int64_t start, std::int64_t boundary, std::int64_t sps)
{
    const std::int64_t scaled = (boundary - start) * sps;
    return (scaled + kMicrosecondsPerSecond - 1) / kMicrosecondsPerSecond;
}

bool yearAndDay(std::int64_t microseconds, int& year, int& dayOfYear)
{
    CivilTime civil;
    const std::int64_t midnight = microseconds / kMicrosecondsPerDay * (kMicrosecondsPerDay / kMicrosecondsPerSecond);
    if (!civilFromSeconds(static_cast<double>(midnight), civil)) return false;
    year = civil.year;
    dayOfYear = julianDate(civil.year, civil.month, civil.day) % 1000;
    return true;
}

}  // namespace

MseedCodeCheck checkMseedCodes(std::string_view network, std::string_view station, std::string_view channel)
{
    if (network.size() > kMseedNetworkMaxLength) return MseedCodeCheck::kNetworkTooLong;
    if (station.size() > kMseedStationMaxLength) return MseedCodeCheck::kStationTooLong;
    if (channel.size() > kMseedChannelMaxLength) return MseedCodeCheck::kChannelTooLong;
    if (!isValidCode(network) || !isValidCode(station) || !isValidCode(channel)) return MseedCodeCheck::kNotValid;
    return MseedCodeCheck::kValid;
}

std::vector<SdsDayPiece> splitAtUtcMidnights(double startTime, int sps, std::size_t sampleCount)
{
    std::vector<SdsDayPiece> pieces;
    if (sampleCount == 0 || sps < 1 || sps > kMaxMseedRate || !std::isfinite(startTime) || startTime < 0.0 ||
        startTime >= static_cast<double>(kEndOfSupportedTime / kMicrosecondsPerSecond))
        return pieces;
    const std::int64_t start = std::llround(startTime * static_cast<double>(kMicrosecondsPerSecond));
    const auto count = static_cast<std::int64_t>(sampleCount);
    const std::int64_t rate = sps;
    if (sampleTime(start, count - 1, rate) >= kEndOfSupportedTime) return pieces;

    for (std::int64_t first = 0; first < count;) {
        const std::int64_t firstTime = sampleTime(start, first, rate);
        const std::int64_t nextMidnight = (firstTime / kMicrosecondsPerDay + 1) * kMicrosecondsPerDay;
        std::int64_t end = firstIndexAtOrAfter(start, nextMidnight, rate);
        if (end > count) end = count;
        SdsDayPiece piece;
        piece.firstSample = static_cast<std::size_t>(first);
        piece.sampleCount = static_cast<std::size_t>(end - first);
        piece.startMicroseconds = firstTime;
        if (!yearAndDay(firstTime, piece.year, piece.dayOfYear)) return {};
        pieces.push_back(piece);
        first = end;
    }
    return pieces;
}

bool parseUtcOffset(std::string_view text, int& seconds)
{
    const auto digit = [&](std::size_t at) { return text[at] >= '0' && text[at] <= '9'; };
    if (text.size() != 6 || (text[0] != '+' && text[0] != '-') || !digit(1) || !digit(2) || text[3] != ':' ||
        !digit(4) || !digit(5))
        return false;
    const int hours = (text[1] - '0') * 10 + (text[2] - '0');
    const int minutes = (text[4] - '0') * 10 + (text[5] - '0');
    if (minutes % 15 != 0 || minutes >= 60) return false;
    const int magnitude = hours * 3600 + minutes * 60;
    if (magnitude > kMaxUtcOffsetSeconds) return false;
    seconds = text[0] == '-' ? -magnitude : magnitude;
    return true;
}

std::string sdsChannelDirectory(std::string_view root, std::string_view network, std::string_view station,
                                std::string_view channel, int year)
{
    char yearText[16];
    std::snprintf(yearText, sizeof yearText, "%04d", year);
    std::string path = joinPath(joinPath(joinPath(root, yearText), network), station);
    return joinPath(path, std::string(channel) + ".D");
}

std::string sdsDayFileName(std::string_view network, std::string_view station, std::string_view channel, int year,
                           int dayOfYear)
{
    char tail[32];
    std::snprintf(tail, sizeof tail, ".D.%04d.%03d", year, dayOfYear);
    // The location code stands, empty, between the two dots after the station.
    return std::string(network) + "." + std::string(station) + ".." + std::string(channel) + tail;
}

}  // namespace tremcvt
