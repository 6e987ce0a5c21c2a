// Writer throughput: one hour of 18 channels at 100 samples per second,
// written as CSS output and as new TRZ archive files.
#include <benchmark/benchmark.h>

#include <cstdlib>
#include <filesystem>
#include <string>

#include <unistd.h>

#include "converter/win/channel_table.h"
#include "converter/writers/css_writer.h"
#include "converter/writers/trz_writer.h"

namespace {

using namespace tremcvt;

constexpr int kChannels = 18;
constexpr int kRate = 100;
constexpr int kSeconds = 3600;
constexpr double kStart = 1246876200.0;

ChannelTable hourTable()
{
    ChannelTable table;
    for (int c = 0; c < kChannels; ++c) {
        ChannelTrace trace;
        trace.sps = kRate;
        trace.channelId = static_cast<std::uint16_t>(0x100 + c);
        trace.startTime = kStart;
        trace.endTime = kStart + kSeconds;
        trace.station = FixedText<12>("KAM");
        trace.component = FixedText<8>("C" + std::to_string(c));
        trace.samples.resize(static_cast<std::size_t>(kRate) * kSeconds);
        for (std::size_t i = 0; i < trace.samples.size(); ++i)
            trace.samples[i] = static_cast<float>((i * 7919u + static_cast<std::size_t>(c)) % 65536u) - 32768.0f;
        table.append(std::move(trace));
    }
    return table;
}

struct ScratchDir {
    ScratchDir()
    {
        std::string pattern = (std::filesystem::temp_directory_path() / "tremcvt-bench-XXXXXX").string();
        if (::mkdtemp(pattern.data()) != nullptr) path = pattern;
    }
    ~ScratchDir()
    {
        std::error_code error;
        std::filesystem::remove_all(path, error);
    }
    std::filesystem::path path;
};

void cssHour(benchmark::State& state)
{
    const ChannelTable table = hourTable();
    ScratchDir dir;
    for (auto _ : state) {
        CssOutput output("out/hour.wfdisc", dir.path.string());
        for (const ChannelTrace& trace : table) output.store(trace);
        if (!output.finish().empty()) state.SkipWithError("write failed");
    }
    state.SetBytesProcessed(static_cast<std::int64_t>(state.iterations()) * kChannels * kRate * kSeconds * 4);
}
BENCHMARK(cssHour)->Unit(benchmark::kMillisecond);

void trzHour(benchmark::State& state)
{
    const ChannelTable table = hourTable();
    ScratchDir dir;
    for (auto _ : state) {
        for (const ChannelTrace& trace : table) {
            const std::string path =
                trzFilePath(dir.path.string(), trace.station.view(), trace.component.view(), trace.startTime);
            const TrzHeader header =
                formatTrzHeader(trace.startTime, kSeconds, kRate, trace.station.view(), trace.component.view());
            if (createTrzFile(path, trace.samples.data(), trace.sampleCount(), header) != kResultOk)
                state.SkipWithError("write failed");
        }
    }
    state.SetBytesProcessed(static_cast<std::int64_t>(state.iterations()) * kChannels * kRate * kSeconds * 4);
}
BENCHMARK(trzHour)->Unit(benchmark::kMillisecond);

}  // namespace

BENCHMARK_MAIN();
