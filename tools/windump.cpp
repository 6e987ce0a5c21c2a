// windump: decodes WIN files with the converter's decoder and prints one line
// per channel, in the order the channels first occur in the file:
//   channel=a100 start=2010-03-03T02:00:00 end=2010-03-03T02:01:00 sps=100 samples=6000 sum=-65975266
// With --samples every sample follows its channel's line, one per line.
#include <cerrno>
#include <cstdint>
#include <cstdio>
#include <cstring>
#include <string>
#include <vector>

#include "common/calendar/calendar.h"
#include "converter/win/channel_table.h"
#include "converter/win/win_decoder.h"
#include "converter/win/win_reader.h"

namespace {

constexpr int kExitOk = 0;
constexpr int kExitFileProblem = 1;
constexpr int kExitUsage = 2;

const char kUsage[] =
    "Usage: windump [--samples] WINFILE...\n"
    "Decodes WIN files and prints, for each file, a line file=<path> and one line\n"
    "per channel with its start and end time, samples per second, sample count and\n"
    "sum of samples. --samples also prints every sample after its channel's line.\n";

std::string calendarText(double seconds)
{
    tremcvt::CivilTime civil;
    if (!tremcvt::civilFromSeconds(seconds, civil)) return "?";
    char text[48];
    std::snprintf(text, sizeof text, "%04d-%02d-%02dT%02d:%02d:%02d", civil.year, civil.month, civil.day,
                  civil.hour, civil.minute, static_cast<int>(civil.second));
    return text;
}

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
    return true;
}

void printTable(const tremcvt::ChannelTable& table, bool withSamples)
{
    for (const tremcvt::ChannelTrace& trace : table) {
        double sum = 0.0;
        for (float sample : trace.samples) sum += sample;
        std::printf("channel=%04x start=%s end=%s sps=%d samples=%d sum=%.0f\n", trace.channelId,
                    calendarText(trace.startTime).c_str(), calendarText(trace.endTime).c_str(), trace.sps,
                    trace.sampleCount(), sum);
        if (withSamples) {
            for (float sample : trace.samples) std::printf("%.0f\n", sample);
        }
    }
}

}  // namespace

int main(int argc, char** argv)
{
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
        if (truncated) {
            std::fflush(stdout);
            std::fprintf(stderr, "windump: %s ends inside a block; the blocks before it are shown\n",
                         path.c_str());
        }
    }
    return status;
}
