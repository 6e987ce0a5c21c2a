// Writing WIN files: second blocks of channel blocks with the smallest
// difference width that holds each channel's second, or a forced one. Used
// to make test data, benchmark input and demo recordings.
#pragma once

#include <cstdint>
#include <cstdio>
#include <string>
#include <vector>

namespace tremcvt {

constexpr int kWinWriterAutoSize = -1;      // choose the smallest width that fits
constexpr std::size_t kWinShortHeaderMaxSamples = 4095;
constexpr std::size_t kWinLongHeaderMaxSamples = (std::size_t{1} << 20) - 1;

struct WinChannelSecond {
    std::uint16_t channelId = 0;
    std::vector<std::int32_t> samples;
    int sizeCode = kWinWriterAutoSize;  // 0-4: 4/8/16/24/32-bit differences, 5: absolute values
    bool longHeader = false;            // 5-byte header; used anyway above 4095 samples
};

struct WinSecond {
    int year = 2000;  // written as two BCD digits
    int month = 1;
    int day = 1;
    int hour = 0;
    int minute = 0;
    int second = 0;
    std::vector<WinChannelSecond> channels;
};

// Sets the second's date and time from seconds since 1970 (no time zone).
bool setSecondTime(WinSecond& second, double secondsSince1970);

// The smallest difference code (0 to 4) that holds every difference of the
// samples in 32-bit wrap-around arithmetic; 0 for fewer than two samples.
int smallestSizeCode(const std::vector<std::int32_t>& samples);

// Appends one channel block. False, with out unchanged, when a forced code
// cannot hold a difference, the code is not 0-5 or there are too many samples.
bool appendChannelBlock(const WinChannelSecond& channel, std::vector<std::uint8_t>& out);

// Appends one whole second block, its 4-byte length included. False, with
// out unchanged, when a channel block cannot be written.
bool appendSecondBlock(const WinSecond& second, std::vector<std::uint8_t>& out);

// Writes second blocks to a file one at a time.
class WinFileWriter {
public:
    WinFileWriter() = default;
    WinFileWriter(const WinFileWriter&) = delete;
    WinFileWriter& operator=(const WinFileWriter&) = delete;
    ~WinFileWriter();

    bool open(const std::string& path);
    bool write(const WinSecond& second);
    bool writeBytes(const std::vector<std::uint8_t>& bytes);
    // Flushes and closes; false when anything failed since open.
    bool close();

private:
    std::FILE* file_ = nullptr;
    bool failed_ = false;
    std::vector<std::uint8_t> buffer_;
};

bool writeWinFile(const std::string& path, const std::vector<WinSecond>& seconds);

// A deterministic synthetic seismogram: two sines with channel-dependent
// periods plus pseudo-random noise, a function of the channel, the seed and
// the absolute time of the sample only, so consecutive files join smoothly.
std::int32_t syntheticSample(std::uint16_t channelId, std::uint32_t seed, double time, int amplitude);

// One second of synthetic samples of a channel starting at a whole second.
std::vector<std::int32_t> syntheticSecond(std::uint16_t channelId, std::uint32_t seed,
                                          std::int64_t secondsSince1970, int sps, int amplitude);

}  // namespace tremcvt
