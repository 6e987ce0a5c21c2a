// windump: decodes WIN files with the converter's decoder and prints one line
// per segment of each channel (a run of consecutive seconds at one rate), in
// the order the channels first occur in the file and each channel's segments
// in time order, with a line for each gap between them:
//   channel=a100 start=2010-03-03T02:00:00 end=2010-03-03T02:00:30 sps=100 samples=3000 sum=-31975266
//   gap channel=a100 from=2010-03-03T02:00:30 to=2010-03-03T02:00:31 seconds=1
//   channel=a100 start=2010-03-03T02:00:31 end=2010-03-03T02:01:00 sps=100 samples=2900 sum=-32975266
// A regular file gives one line per channel. With --samples every sample
// follows its segment's line, one per line. Each channel's irregularities
// (gaps, repeated seconds, out-of-order blocks, rate changes) are also told
// on standard error.
#include <cerrno>
#include <cstdint>
#include <cstdio>
#include <cstring>
#include <string>
#include <vector>

#include "common/version.h"
#include "converter/win/channel_table.h"
#include "converter/win/irregularity_text.h"
#include "converter/win/win_decoder.h"
#include "converter/win/win_reader.h"

namespace {

constexpr int kExitOk = 0;
constexpr int kExitFileProblem = 1;
constexpr int kExitUsage = 2;

const char kUsage[] =
    "Usage: windump [--samples] WINFILE...\n"
    "Decodes WIN files and prints, for each file, a line file=<path> and one line\n"
    "per segment of each channel (consecutive seconds at one rate) with its start\n"
    "and end time, samples per second, sample count and sum of samples; a line\n"
    "'gap channel=...' tells where a channel has no data between two segments.\n"
    "--samples also prints every sample after its segment's line. Gaps, repeated\n"
    "seconds, out-of-order blocks and rate changes are told on standard error.\n";

using tremcvt::calendarText;

// Decodes the whole file into table; false when it cannot be opened.
bool decodeFile(const std::string& path, tremcvt::ChannelTable& table, bool& truncated)
{
    tremcvt::WinFileReader reader;
    if (!reader.open(path)) return false;
    std::vector<std::uint8_t> body;
    bool first = true;
    truncated = false;
    for (;;) {
        const tremcvt::WinReadStatus status = reader.next(body);
        if (status == tremcvt::WinReadStatus::End) break;
        // Second blocks of one file are usually all alike: reserve every
        // channel's samples once instead of growing them block by block.
        if (first) table.setSizeHintForFile(reader.fileSize(), body.size() + 4);
        first = false;
        tremcvt::decodeSecondBlock(body.data(), body.size(), table);
        if (status == tremcvt::WinReadStatus::Truncated) {
            truncated = true;
            break;
        }
    }
    tremcvt::finishChannels(table);
    return true;
}

void printTable(const tremcvt::ChannelTable& table, bool withSamples)
{
    for (const tremcvt::ChannelTrace& trace : table) {
        const tremcvt::TraceSegment* before = nullptr;
        for (const tremcvt::TraceSegment& segment : trace.segments) {
            if (before != nullptr && segment.startTime > before->endTime()) {
                std::printf("gap channel=%04x from=%s to=%s seconds=%.0f\n", trace.channelId,
                            calendarText(before->endTime()).c_str(), calendarText(segment.startTime).c_str(),
                            segment.startTime - before->endTime());
            }
            before = &segment;
            const auto first = trace.samples.begin() + static_cast<std::ptrdiff_t>(segment.firstSample);
            const auto last = first + static_cast<std::ptrdiff_t>(segment.sampleCount);
            double sum = 0.0;
            for (auto sample = first; sample != last; ++sample) sum += *sample;
            std::printf("channel=%04x start=%s end=%s sps=%d samples=%zu sum=%.0f\n", trace.channelId,
                        calendarText(segment.startTime).c_str(), calendarText(segment.endTime()).c_str(),
                        segment.sps, segment.sampleCount, sum);
            if (withSamples) {
                for (auto sample = first; sample != last; ++sample) std::printf("%.0f\n", *sample);
            }
        }
    }
}

// The irregularities of every channel, on standard error.
void reportIrregularities(const std::string& path, const tremcvt::ChannelTable& table)
{
    for (const tremcvt::ChannelTrace& trace : table) {
        char name[8];
        std::snprintf(name, sizeof name, "%04x", trace.channelId);
        for (const std::string& line : tremcvt::describeIrregularities(name, trace.irregularities)) {
            std::fprintf(stderr, "windump: %s: %s\n", path.c_str(), line.c_str());
        }
    }
}

}  // namespace

int main(int argc, char** argv)
{
    if (tremcvt::asksForVersion(argc, argv)) {
        std::printf("%s\n", tremcvt::versionLine("windump").c_str());
        return kExitOk;
    }
    bool withSamples = false;
    std::vector<std::string> paths;
    for (int i = 1; i < argc; ++i) {
        const std::string arg = argv[i];
        if (arg == "--samples") {
            withSamples = true;
        } else if (arg == "--help" || arg == "-h") {
            std::fputs(kUsage, stdout);
            return kExitOk;
        } else {
            paths.push_back(arg);
        }
    }
    if (paths.empty()) {
        std::fputs(kUsage, stderr);
        return kExitUsage;
    }

    int status = kExitOk;
    for (const std::string& path : paths) {
        tremcvt::ChannelTable table;
        bool truncated = false;
        if (!decodeFile(path, table, truncated)) {
            std::fflush(stdout);
            std::fprintf(stderr, "windump: cannot open %s: %s\n", path.c_str(), std::strerror(errno));
            status = kExitFileProblem;
            continue;
        }
        std::printf("file=%s\n", path.c_str());
        printTable(table, withSamples);
        std::fflush(stdout);
        reportIrregularities(path, table);
        if (truncated) {
            std::fflush(stdout);
            std::fprintf(stderr, "windump: %s ends inside a block; the blocks before it are shown\n",
                         path.c_str());
        }
    }
    return status;
}
