// winwrite: writes deterministic synthetic WIN files for demonstrations and
// benchmarks.
#include <algorithm>
#include <cerrno>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <filesystem>
#include <string>
#include <system_error>
#include <vector>

#include "common/version.h"
#include "common/calendar/calendar.h"
#include "tools/winwriter/win_writer.h"

namespace {

constexpr int kExitOk = 0;
constexpr int kExitUsage = 2;
constexpr int kExitWriteFailed = 1;

const char kUsage[] =
    "Usage: winwrite [options] OUTPUT\n"
    "\n"
    "Writes a synthetic WIN file: one second block per second, each holding one\n"
    "channel block per channel, with a deterministic signal (two sines and\n"
    "pseudo-random noise depending only on channel, seed and time, so that\n"
    "consecutive files join smoothly).\n"
    "\n"
    "Options:\n"
    "  --start YYYY-MM-DDTHH:MM:SS  time of the first second (default 2010-03-03T02:00:00)\n"
    "  --seconds N                  seconds in the file (default 60)\n"
    "  --channel HEX:SPS            a channel number in hex and its samples per second;\n"
    "                               repeat for more channels (default a100:100)\n"
    "  --minutes M                  write M consecutive minute files instead of one file;\n"
    "                               OUTPUT is then a directory and each file is\n"
    "                               OUTPUT/YYMMDD/YYMMDDHH/YYMMDDHH.MM (--seconds is ignored)\n"
    "  --amplitude A                signal amplitude in counts (default 3000)\n"
    "  --seed S                     seed of the signal (default 1)\n"
    "  --size-code C                force the sample-size code 0-5 (0-4: 4/8/16/24/32-bit\n"
    "                               differences, 5: absolute 32-bit values); default: the\n"
    "                               smallest that holds each channel's second\n"
    "  --long-header                write 5-byte channel headers (always used above 4095 sps)\n"
    "  --irregular                  with --minutes: each file as telemetry may deliver it, in\n"
    "                               turn second 30 missing, the first channel missing from\n"
    "                               seconds 20-24, second 12 repeated, seconds 40 and 41\n"
    "                               swapped, a late block of the previous minute first, and\n"
    "                               the first channel at half rate in second 30\n"
    "  --help                       show this text\n"
    "\n"
    "Examples:\n"
    "  winwrite --start 2010-03-03T02:00:00 --seconds 60 --channel a100:100 --channel a101:100 out.win\n"
    "  winwrite --minutes 5 --channel c1:100 --channel c2:100 --channel c3:100 /tmp/win\n"
    "  winwrite --seconds 3600 --channel 1:100 ... (18 channels) hour.win\n";

struct ChannelOption {
    std::uint16_t id = 0;
    int sps = 0;
};

struct Options {
    std::int64_t start = 0;
    long seconds = 60;
    long minutes = 0;
    int amplitude = 3000;
    std::uint32_t seed = 1;
    int sizeCode = tremcvt::kWinWriterAutoSize;
    bool longHeader = false;
    bool irregular = false;
    std::vector<ChannelOption> channels;
    std::string output;
};

bool parseLong(const char* text, long low, long high, long& value)
{
    errno = 0;
    char* end = nullptr;
    const long v = std::strtol(text, &end, 10);
    if (errno != 0 || end == text || *end != '\0' || v < low || v > high) return false;
    value = v;
    return true;
}

bool parseStart(const char* text, std::int64_t& start)
{
    int year, month, day, hour, minute, second;
    char tail = 0;
    if (std::sscanf(text, "%4d-%2d-%2dT%2d:%2d:%2d%c", &year, &month, &day, &hour, &minute, &second,
                    &tail) != 6)
        return false;
    if (year < 1970 || year > 2069 || month < 1 || month > 12 || day < 1 || hour > 23 || minute > 59 ||
        second > 59 || hour < 0 || minute < 0 || second < 0)
        return false;
    const int monthLength[] = {31, tremcvt::isLeapYear(year) ? 29 : 28, 31, 30, 31, 30, 31, 31, 30, 31, 30, 31};
    if (day > monthLength[month - 1]) return false;
    start = static_cast<std::int64_t>(tremcvt::secondsFromCivil(year, month, day, hour, minute, 0.0f)) + second;
    return true;
}

bool parseChannel(const char* text, ChannelOption& option)
{
    const char* colon = std::strchr(text, ':');
    if (colon == nullptr || colon == text || colon - text > 4) return false;
    const std::string hex(text, colon);
    char* end = nullptr;
    const unsigned long id = std::strtoul(hex.c_str(), &end, 16);
    if (*end != '\0' || hex.find_first_of("+- ") != std::string::npos) return false;
    long sps = 0;
    if (!parseLong(colon + 1, 1, static_cast<long>(tremcvt::kWinLongHeaderMaxSamples), sps)) return false;
    option.id = static_cast<std::uint16_t>(id);
    option.sps = static_cast<int>(sps);
    return true;
}

int usageError(const char* message, const char* value)
{
    std::fprintf(stderr, "winwrite: %s%s%s\n", message, value ? ": " : "", value ? value : "");
    std::fprintf(stderr, "Try 'winwrite --help'.\n");
    return kExitUsage;
}

// One second block of a file: its time, and how the first channel
// appears in it (absent, or at its rate divided by firstDivisor).
struct BlockPlan {
    std::int64_t time = 0;
    bool withFirst = true;
    int firstDivisor = 1;
};

std::vector<BlockPlan> regularBlocks(std::int64_t first, long count)
{
    std::vector<BlockPlan> blocks;
    for (long k = 0; k < count; ++k) blocks.push_back({first + k});
    return blocks;
}

// The blocks of the minute at `minute` with the irregularity of its turn.
std::vector<BlockPlan> irregularBlocks(std::int64_t minute, long turn)
{
    std::vector<BlockPlan> blocks = regularBlocks(minute, 60);
    switch (turn % 6) {
    case 0: blocks.erase(blocks.begin() + 30); break;
    case 1:
        for (int s = 20; s < 25; ++s) blocks[static_cast<std::size_t>(s)].withFirst = false;
        break;
    case 2: blocks.insert(blocks.begin() + 13, BlockPlan{minute + 12}); break;
    case 3: std::swap(blocks[40], blocks[41]); break;
    case 4: blocks.insert(blocks.begin(), BlockPlan{minute - 10}); break;
    default: blocks[30].firstDivisor = 2; break;
    }
    return blocks;
}

// Writes the planned second blocks to one file.
bool writeFile(const Options& options, const std::string& path, const std::vector<BlockPlan>& blocks)
{
    tremcvt::WinFileWriter writer;
    if (!writer.open(path)) {
        std::fprintf(stderr, "winwrite: cannot create %s: %s\n", path.c_str(), std::strerror(errno));
        return false;
    }
    tremcvt::WinSecond second;
    for (const BlockPlan& plan : blocks) {
        const std::int64_t t = plan.time;
        tremcvt::setSecondTime(second, static_cast<double>(t));
        second.channels.clear();
        for (std::size_t c = 0; c < options.channels.size(); ++c) {
            if (c == 0 && !plan.withFirst) continue;
            tremcvt::WinChannelSecond block;
            block.channelId = options.channels[c].id;
            block.sizeCode = options.sizeCode;
            block.longHeader = options.longHeader;
            const int sps = c == 0 ? std::max(1, options.channels[c].sps / plan.firstDivisor) : options.channels[c].sps;
            block.samples = tremcvt::syntheticSecond(block.channelId, options.seed, t, sps, options.amplitude);
            second.channels.push_back(std::move(block));
        }
        if (!writer.write(second)) {
            std::fprintf(stderr, "winwrite: %s: the forced size code cannot hold the signal's differences\n",
                         path.c_str());
            writer.close();
            std::remove(path.c_str());
            return false;
        }
    }
    if (!writer.close()) {
        std::fprintf(stderr, "winwrite: write error on %s\n", path.c_str());
        std::remove(path.c_str());
        return false;
    }
    return true;
}

std::string minutePath(const std::string& directory, std::int64_t t)
{
    tremcvt::CivilTime c;
    tremcvt::civilFromSeconds(static_cast<double>(t), c);
    char day[16], hour[16], name[32];
    const int yy = c.year % 100;
    std::snprintf(day, sizeof day, "%02d%02d%02d", yy, c.month, c.day);
    std::snprintf(hour, sizeof hour, "%02d%02d%02d%02d", yy, c.month, c.day, c.hour);
    std::snprintf(name, sizeof name, "%02d%02d%02d%02d.%02d", yy, c.month, c.day, c.hour, c.minute);
    return (std::filesystem::path(directory) / day / hour / name).string();
}

}  // namespace

int main(int argc, char** argv)
{
    if (tremcvt::asksForVersion(argc, argv)) {
        std::printf("%s\n", tremcvt::versionLine("winwrite").c_str());
        return kExitOk;
    }
    Options options;
    parseStart("2010-03-03T02:00:00", options.start);
    for (int i = 1; i < argc; ++i) {
        const std::string arg = argv[i];
        const char* value = i + 1 < argc ? argv[i + 1] : nullptr;
        auto needValue = [&]() { return value != nullptr; };
        long number = 0;
        if (arg == "--help" || arg == "-h") {
            std::fputs(kUsage, stdout);
            return kExitOk;
        } else if (arg == "--start") {
            if (!needValue() || !parseStart(value, options.start)) return usageError("bad --start", value);
            ++i;
        } else if (arg == "--seconds") {
            if (!needValue() || !parseLong(value, 1, 31L * 86400, number)) return usageError("bad --seconds", value);
            options.seconds = number;
            ++i;
        } else if (arg == "--minutes") {
            if (!needValue() || !parseLong(value, 1, 31L * 1440, number)) return usageError("bad --minutes", value);
            options.minutes = number;
            ++i;
        } else if (arg == "--channel") {
            ChannelOption option;
            if (!needValue() || !parseChannel(value, option)) return usageError("bad --channel (HEX:SPS)", value);
            options.channels.push_back(option);
            ++i;
        } else if (arg == "--amplitude") {
            if (!needValue() || !parseLong(value, 0, 100000000, number)) return usageError("bad --amplitude", value);
            options.amplitude = static_cast<int>(number);
            ++i;
        } else if (arg == "--seed") {
            if (!needValue() || !parseLong(value, 0, 0x7FFFFFFF, number)) return usageError("bad --seed", value);
            options.seed = static_cast<std::uint32_t>(number);
            ++i;
        } else if (arg == "--size-code") {
            if (!needValue() || !parseLong(value, 0, 5, number)) return usageError("bad --size-code", value);
            options.sizeCode = static_cast<int>(number);
            ++i;
        } else if (arg == "--long-header") {
            options.longHeader = true;
        } else if (arg == "--irregular") {
            options.irregular = true;
        } else if (!arg.empty() && arg[0] == '-') {
            return usageError("unknown option", arg.c_str());
        } else if (options.output.empty()) {
            options.output = arg;
        } else {
            return usageError("more than one OUTPUT given", arg.c_str());
        }
    }
    if (options.output.empty()) return usageError("no OUTPUT given", nullptr);
    if (options.channels.empty()) options.channels.push_back(ChannelOption{0xA100, 100});

    if (options.minutes == 0) {
        if (options.irregular) return usageError("--irregular needs --minutes", nullptr);
        return writeFile(options, options.output, regularBlocks(options.start, options.seconds)) ? kExitOk
                                                                                               : kExitWriteFailed;
    }
    // Minute files start at whole minutes, as a recorder cuts them.
    const std::int64_t firstMinute = options.start - options.start % 60;
    for (long m = 0; m < options.minutes; ++m) {
        const std::int64_t t = firstMinute + 60 * m;
        const std::string path = minutePath(options.output, t);
        std::error_code ec;
        std::filesystem::create_directories(std::filesystem::path(path).parent_path(), ec);
        if (ec) {
            std::fprintf(stderr, "winwrite: cannot create the directory of %s: %s\n", path.c_str(),
                         ec.message().c_str());
            return kExitWriteFailed;
        }
        const std::vector<BlockPlan> blocks = options.irregular ? irregularBlocks(t, m) : regularBlocks(t, 60);
        if (!writeFile(options, path, blocks)) return kExitWriteFailed;
        std::printf("%s\n", path.c_str());
    }
    return kExitOk;
}
