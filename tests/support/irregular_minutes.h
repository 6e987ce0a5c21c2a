// Irregular minute files as telemetry delivers them (a missing second, a
// channel missing some seconds, a repeated second, seconds out of order, a
// late block of the previous minute, a second at half rate) for the channels
// of kChannels, with sample values that encode their own time, and what an
// output must hold of them: each second that occurs once, at its time.
#pragma once

#include <cmath>
#include <cstdint>
#include <map>
#include <string>
#include <vector>

#include "tests/support/program_fixture.h"
#include "tools/winwriter/win_writer.h"

namespace tremcvt::test {

// One second block of a file: its second from the file's minute, and how
// the first channel of kChannels appears in it (the second is always there
// at the full rate).
struct IrregularBlock {
    int second = 0;
    bool withFirst = true;
    int firstDivisor = 1;  // the first channel holds rate / firstDivisor samples
};

struct IrregularCase {
    std::string name;
    std::vector<IrregularBlock> blocks;
};

inline std::vector<IrregularBlock> secondsFrom(int from, int to)
{
    std::vector<IrregularBlock> out;
    for (int s = from; s < to; ++s) out.push_back({s});
    return out;
}

inline std::vector<IrregularCase> irregularCases()
{
    std::vector<IrregularCase> cases;
    auto minuteWith = [](auto change) {
        std::vector<IrregularBlock> blocks = secondsFrom(0, 60);
        change(blocks);
        return blocks;
    };
    cases.push_back({"missing second 30", minuteWith([](auto& b) { b.erase(b.begin() + 30); })});
    cases.push_back({"first channel missing 20-24", minuteWith([](auto& b) {
                         for (int s = 20; s < 25; ++s) b[static_cast<std::size_t>(s)].withFirst = false;
                     })});
    cases.push_back({"repeated second 12", minuteWith([](auto& b) { b.insert(b.begin() + 13, IrregularBlock{12}); })});
    cases.push_back({"seconds 41 and 40 swapped", minuteWith([](auto& b) { std::swap(b[40], b[41]); })});
    cases.push_back({"late block of the previous minute first",
                     minuteWith([](auto& b) { b.insert(b.begin(), IrregularBlock{-10}); })});
    cases.push_back({"first channel at half rate in second 30",
                     minuteWith([](auto& b) { b[30].firstDivisor = 2; })});
    return cases;
}

// Where and at which rate the irregular minutes are tried: within an hour,
// as the last minute of an hour (its neighbour opens the next hour file) and
// as the last minute of a UTC day (its neighbour opens the next day).
struct IrregularPlacement {
    std::string name;
    int rate = 100;
    std::int64_t minute = 0;  // seconds since 1970
};

inline std::vector<IrregularPlacement> irregularPlacements()
{
    return {{"100 sps within an hour", 100, kHour + 120},
            {"20 sps at the end of an hour", 20, kHour + 3540},
            {"200 sps at midnight", 200, kHour + 13 * 3600 - 60}};
}

// The SITECHAN rate of the station's channels in the fixture's database.
inline void setSitechanRate(const ArchiveTestDatabase& database, const std::string& station, int rate)
{
    std::string error;
    ASSERT_TRUE(database.execute("update SITECHAN set SPS=" + std::to_string(rate) + " where STA='" + station + "'",
                                 &error))
        << error;
}

// The value of sample i of the second s (from the minute) at sps samples
// per second: its time in milliseconds after the minute, plus a bias that
// keeps it positive.
inline std::int32_t timeValue(int second, int i, int sps)
{
    return (second + 100) * 1000 + i * (1000 / sps);
}

// The file's second blocks from the minute at `minute` (seconds since 1970).
inline std::vector<WinSecond> irregularSeconds(const std::vector<IrregularBlock>& blocks, std::int64_t minute,
                                               int rate)
{
    std::vector<WinSecond> out;
    for (const IrregularBlock& block : blocks) {
        WinSecond second;
        setSecondTime(second, static_cast<double>(minute + block.second));
        for (const Channel& channel : kChannels) {
            const bool first = channel.id == kChannels[0].id;
            if (first && !block.withFirst) continue;
            const int sps = first ? rate / block.firstDivisor : rate;
            WinChannelSecond data;
            data.channelId = channel.id;
            for (int i = 0; i < sps; ++i) data.samples.push_back(timeValue(block.second, i, sps));
            second.channels.push_back(data);
        }
        out.push_back(second);
    }
    return out;
}

// Samples by their time in microseconds after the minute.
using TimedSamples = std::map<std::int64_t, float>;

inline std::int64_t microsecondsAfter(double minute, double start, std::int64_t index, double sps)
{
    return std::llround((start - minute) * 1e6 + static_cast<double>(index) * 1e6 / sps);
}

// What a channel of the file must leave in an output: each second that
// occurs, once, at its time.
inline TimedSamples expectedSamples(const std::vector<IrregularBlock>& blocks, std::uint16_t channelId, int rate)
{
    TimedSamples out;
    std::map<int, int> kept;  // second, its rate (the first copy)
    const bool first = channelId == kChannels[0].id;
    for (const IrregularBlock& block : blocks) {
        if (!first || block.withFirst) kept.emplace(block.second, first ? rate / block.firstDivisor : rate);
    }
    for (const auto& [second, sps] : kept) {
        for (int i = 0; i < sps; ++i)
            out[microsecondsAfter(0.0, second, i, sps)] = static_cast<float>(timeValue(second, i, sps));
    }
    return out;
}

// Adds samples read from an output, stored from start at sps; a time that
// is already there is stored twice, which the returned count tells.
inline int addStored(TimedSamples& into, double minute, double start, double sps, const float* samples,
                     std::size_t count)
{
    int twice = 0;
    for (std::size_t i = 0; i < count; ++i) {
        if (!into.emplace(microsecondsAfter(minute, start, static_cast<std::int64_t>(i), sps), samples[i]).second)
            ++twice;
    }
    return twice;
}

}  // namespace tremcvt::test
