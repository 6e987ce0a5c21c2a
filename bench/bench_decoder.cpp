// Decoding throughput of WIN second blocks, in samples per second: blocks of
// 100-sample channel blocks of one difference width, a whole 60-minute file
// of 18 channels at 100 samples per second, and minute files with and
// without irregular seconds.
#include <benchmark/benchmark.h>

#include <cstdint>
#include <utility>
#include <vector>

#include "converter/win/channel_table.h"
#include "converter/win/win_decoder.h"
#include "tools/winwriter/win_writer.h"

namespace {

constexpr int kChannels = 18;
constexpr int kSps = 100;
constexpr int kFileSeconds = 3600;

// Samples whose differences use the whole range of the given width.
std::vector<std::int32_t> samplesForWidth(int sizeCode, std::uint32_t& state)
{
    const int bits[] = {4, 8, 16, 24, 32};
    const int width = bits[sizeCode];
    std::vector<std::int32_t> out(kSps);
    std::uint32_t value = state;
    for (auto& sample : out) {
        sample = static_cast<std::int32_t>(value);
        state = state * 1664525u + 1013904223u;
        const std::uint32_t raw = state >> (32 - width);
        // Sign-extend the width's bits into a difference.
        const auto d = width == 32 ? static_cast<std::int32_t>(raw)
                                   : static_cast<std::int32_t>(raw << (32 - width)) >> (32 - width);
        value += static_cast<std::uint32_t>(d);
    }
    return out;
}

std::vector<std::uint8_t> secondBody(int sizeCode)
{
    tremcvt::WinSecond second;
    tremcvt::setSecondTime(second, 1267581600.0);
    std::uint32_t state = 12345;
    for (int c = 0; c < kChannels; ++c) {
        second.channels.push_back({static_cast<std::uint16_t>(0xA100 + c), samplesForWidth(sizeCode, state), sizeCode});
    }
    std::vector<std::uint8_t> block;
    tremcvt::appendSecondBlock(second, block);
    return std::vector<std::uint8_t>(block.begin() + 4, block.end());
}

// Empties every channel but keeps its memory, so that the next round decodes
// into pages that are already mapped. On this machine a first touch of a page
// costs tens of microseconds, which would otherwise hide the decoding itself;
// decodeHourFile/fresh shows the cost of a run that starts from nothing.
void reuse(tremcvt::ChannelTable& table)
{
    for (auto& trace : table) {
        trace.samples.clear();
        trace.segments.clear();
    }
}

std::uint8_t bcd(int value) { return static_cast<std::uint8_t>(((value / 10) << 4) | (value % 10)); }

// Gives the body the time of the k-th second of its hour, so that the
// blocks of a round follow each other as in a regular file.
void setSecondOfHour(std::vector<std::uint8_t>& body, int k)
{
    body[4] = bcd(k / 60);
    body[5] = bcd(k % 60);
}

void decodeWidth(benchmark::State& state)
{
    const int sizeCode = static_cast<int>(state.range(0));
    std::vector<std::uint8_t> body = secondBody(sizeCode);
    tremcvt::ChannelTable table;
    table.setSizeHint(kFileSeconds, std::size_t{2} * kFileSeconds * (body.size() + 4));
    for (int s = 0; s < kFileSeconds; ++s) {
        setSecondOfHour(body, s);
        tremcvt::decodeSecondBlock(body.data(), body.size(), table);
    }
    reuse(table);
    int second = 0;
    for (auto _ : state) {
        setSecondOfHour(body, second);
        tremcvt::decodeSecondBlock(body.data(), body.size(), table);
        if (++second == kFileSeconds) {
            second = 0;
            reuse(table);
        }
    }
    benchmark::DoNotOptimize(table.size());
    state.counters["samples/s"] = benchmark::Counter(static_cast<double>(state.iterations()) * kChannels * kSps,
                                                     benchmark::Counter::kIsRate);
    state.counters["bytes/block"] = static_cast<double>(body.size() + 4);
}
BENCHMARK(decodeWidth)->ArgName("sizeCode")->Arg(0)->Arg(1)->Arg(2)->Arg(4)->Unit(benchmark::kMicrosecond);

// The seconds of a file, in file order, as offsets from its start.
std::vector<int> regularSeconds(int count)
{
    std::vector<int> offsets(static_cast<std::size_t>(count));
    for (int s = 0; s < count; ++s) offsets[static_cast<std::size_t>(s)] = s;
    return offsets;
}

std::vector<std::uint8_t> winFile(const std::vector<int>& offsets)
{
    std::vector<std::uint8_t> file;
    tremcvt::WinSecond second;
    second.channels.resize(kChannels);
    const std::int64_t start = 1267581600;  // 2010-03-03 02:00:00
    for (const int offset : offsets) {
        const std::int64_t s = offset;
        tremcvt::setSecondTime(second, static_cast<double>(start + s));
        for (int c = 0; c < kChannels; ++c) {
            second.channels[c].channelId = static_cast<std::uint16_t>(0xA100 + c);
            second.channels[c].samples = tremcvt::syntheticSecond(second.channels[c].channelId, 1, start + s, kSps, 3000);
        }
        tremcvt::appendSecondBlock(second, file);
    }
    return file;
}

std::vector<std::uint8_t> hourFile() { return winFile(regularSeconds(kFileSeconds)); }

std::size_t decodeFile(const std::vector<std::uint8_t>& file, tremcvt::ChannelTable& table, bool hinted)
{
    std::size_t pos = 0;
    bool first = true;
    while (pos + 4 <= file.size()) {
        const std::uint32_t length = (std::uint32_t{file[pos]} << 24) | (std::uint32_t{file[pos + 1]} << 16) |
                                     (std::uint32_t{file[pos + 2]} << 8) | file[pos + 3];
        if (length < 4 || length > file.size() - pos) break;
        if (first && hinted) table.setSizeHintForFile(file.size(), length);
        first = false;
        tremcvt::decodeSecondBlock(file.data() + pos + 4, length - 4, table);
        pos += length;
    }
    tremcvt::finishChannels(table);
    return table.size();
}

// The framing walk and decoding of a whole file held in memory. mode 0: into
// a table whose memory is reused from the previous round (decoding alone);
// 1: into a fresh table sized from the first block, as windump does; 2: into
// a fresh table that grows without a hint.
void decodeHourFile(benchmark::State& state)
{
    const int mode = static_cast<int>(state.range(0));
    const std::vector<std::uint8_t> file = hourFile();
    tremcvt::ChannelTable reused;
    decodeFile(file, reused, true);
    for (auto _ : state) {
        if (mode == 0) {
            reuse(reused);
            benchmark::DoNotOptimize(decodeFile(file, reused, false));
        } else {
            tremcvt::ChannelTable table;
            benchmark::DoNotOptimize(decodeFile(file, table, mode == 1));
        }
    }
    state.counters["samples/s"] = benchmark::Counter(
        static_cast<double>(state.iterations()) * kChannels * kSps * kFileSeconds, benchmark::Counter::kIsRate);
    state.counters["fileMiB"] = static_cast<double>(file.size()) / (1 << 20);
}
BENCHMARK(decodeHourFile)->ArgName("mode")->Arg(0)->Arg(1)->Arg(2)->Unit(benchmark::kMillisecond);

// A minute file into a fresh table sized from its first block, as a
// conversion run does. irregular 0: a regular minute; 1: the same minute with
// a late block of the previous minute first, second 30 missing, second 12
// twice and seconds 40 and 41 swapped, so that every channel is reordered.
void decodeMinuteFile(benchmark::State& state)
{
    std::vector<int> offsets = regularSeconds(60);
    if (state.range(0) != 0) {
        offsets.erase(offsets.begin() + 30);
        offsets.insert(offsets.begin() + 13, 12);
        std::swap(offsets[40], offsets[41]);
        offsets.insert(offsets.begin(), -10);
    }
    const std::vector<std::uint8_t> file = winFile(offsets);
    for (auto _ : state) {
        tremcvt::ChannelTable table;
        benchmark::DoNotOptimize(decodeFile(file, table, true));
    }
    state.counters["samples/s"] = benchmark::Counter(
        static_cast<double>(state.iterations()) * kChannels * kSps * static_cast<double>(offsets.size()),
        benchmark::Counter::kIsRate);
}
BENCHMARK(decodeMinuteFile)->ArgName("irregular")->Arg(0)->Arg(1)->Unit(benchmark::kMicrosecond);

}  // namespace
