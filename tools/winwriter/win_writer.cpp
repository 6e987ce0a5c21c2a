#include "tools/winwriter/win_writer.h"

#include <cmath>
#include <numbers>

#include "common/calendar/calendar.h"

namespace tremcvt {
namespace {

constexpr int kCodeAbsolute = 5;

std::uint8_t toBcd(int value)
{
    const int v = ((value % 100) + 100) % 100;
    return static_cast<std::uint8_t>(((v / 10) << 4) | (v % 10));
}

void putU32(std::vector<std::uint8_t>& out, std::uint32_t v)
{
    out.push_back(static_cast<std::uint8_t>(v >> 24));
    out.push_back(static_cast<std::uint8_t>(v >> 16));
    out.push_back(static_cast<std::uint8_t>(v >> 8));
    out.push_back(static_cast<std::uint8_t>(v));
}

std::int32_t difference(const std::vector<std::int32_t>& s, std::size_t i)
{
    return static_cast<std::int32_t>(static_cast<std::uint32_t>(s[i]) - static_cast<std::uint32_t>(s[i - 1]));
}

bool fits(std::int32_t d, int code)
{
    switch (code) {
    case 0: return d >= -8 && d <= 7;
    case 1: return d >= -128 && d <= 127;
    case 2: return d >= -32768 && d <= 32767;
    case 3: return d >= -8388608 && d <= 8388607;
    default: return true;
    }
}

std::uint64_t mix(std::uint64_t x)
{
    x ^= x >> 33;
    x *= 0xff51afd7ed558ccdULL;
    x ^= x >> 33;
    x *= 0xc4ceb9fe1a85ec53ULL;
    x ^= x >> 33;
    return x;
}

}  // namespace

bool setSecondTime(WinSecond& second, double secondsSince1970)
{
    CivilTime civil;
    if (!civilFromSeconds(secondsSince1970, civil)) return false;
    second.year = civil.year;
    second.month = civil.month;
    second.day = civil.day;
    second.hour = civil.hour;
    second.minute = civil.minute;
    second.second = static_cast<int>(civil.second);
    return true;
}

int smallestSizeCode(const std::vector<std::int32_t>& samples)
{
    int code = 0;
    for (std::size_t i = 1; i < samples.size() && code < 4; ++i) {
        const std::int32_t d = difference(samples, i);
        while (!fits(d, code)) ++code;
    }
    return code;
}

bool appendChannelBlock(const WinChannelSecond& channel, std::vector<std::uint8_t>& out)
{
    const std::vector<std::int32_t>& s = channel.samples;
    const std::size_t n = s.size();
    if (n > kWinLongHeaderMaxSamples) return false;
    const int code = channel.sizeCode == kWinWriterAutoSize ? smallestSizeCode(s) : channel.sizeCode;
    if (code < 0 || code > kCodeAbsolute) return false;
    if (code < kCodeAbsolute) {
        for (std::size_t i = 1; i < n; ++i) {
            if (!fits(difference(s, i), code)) return false;
        }
    }

    out.push_back(static_cast<std::uint8_t>(channel.channelId >> 8));
    out.push_back(static_cast<std::uint8_t>(channel.channelId));
    if (channel.longHeader || n > kWinShortHeaderMaxSamples) {
        out.push_back(static_cast<std::uint8_t>(0x80 | (code << 4) | ((n >> 16) & 0x0F)));
        out.push_back(static_cast<std::uint8_t>(n >> 8));
        out.push_back(static_cast<std::uint8_t>(n));
    } else {
        out.push_back(static_cast<std::uint8_t>((code << 4) | ((n >> 8) & 0x0F)));
        out.push_back(static_cast<std::uint8_t>(n));
    }
    putU32(out, n > 0 ? static_cast<std::uint32_t>(s[0]) : 0u);
    if (n <= 1) return true;

    switch (code) {
    case 0: {
        std::uint8_t pending = 0;
        for (std::size_t i = 1; i < n; ++i) {
            const auto nibble = static_cast<std::uint8_t>(difference(s, i) & 0x0F);
            if (i % 2 == 1) {
                pending = static_cast<std::uint8_t>(nibble << 4);
            } else {
                out.push_back(static_cast<std::uint8_t>(pending | nibble));
            }
        }
        if ((n - 1) % 2 == 1) out.push_back(pending);  // low nibble is padding
        break;
    }
    case 1:
        for (std::size_t i = 1; i < n; ++i) out.push_back(static_cast<std::uint8_t>(difference(s, i)));
        break;
    case 2:
        for (std::size_t i = 1; i < n; ++i) {
            const auto d = static_cast<std::uint32_t>(difference(s, i));
            out.push_back(static_cast<std::uint8_t>(d >> 8));
            out.push_back(static_cast<std::uint8_t>(d));
        }
        break;
    case 3:
        for (std::size_t i = 1; i < n; ++i) {
            const auto d = static_cast<std::uint32_t>(difference(s, i));
            out.push_back(static_cast<std::uint8_t>(d >> 16));
            out.push_back(static_cast<std::uint8_t>(d >> 8));
            out.push_back(static_cast<std::uint8_t>(d));
        }
        break;
    case 4:
        for (std::size_t i = 1; i < n; ++i) putU32(out, static_cast<std::uint32_t>(difference(s, i)));
        break;
    default:
        for (std::size_t i = 1; i < n; ++i) putU32(out, static_cast<std::uint32_t>(s[i]));
        break;
    }
    return true;
}

bool appendSecondBlock(const WinSecond& second, std::vector<std::uint8_t>& out)
{
    const std::size_t start = out.size();
    putU32(out, 0);  // length, filled in below
    out.push_back(toBcd(second.year));
    out.push_back(toBcd(second.month));
    out.push_back(toBcd(second.day));
    out.push_back(toBcd(second.hour));
    out.push_back(toBcd(second.minute));
    out.push_back(toBcd(second.second));
    for (const auto& channel : second.channels) {
        if (!appendChannelBlock(channel, out)) {
            out.resize(start);
            return false;
        }
    }
    const std::size_t length = out.size() - start;
    if (length > 0xFFFFFFFFu) {
        out.resize(start);
        return false;
    }
    out[start] = static_cast<std::uint8_t>(length >> 24);
    out[start + 1] = static_cast<std::uint8_t>(length >> 16);
    out[start + 2] = static_cast<std::uint8_t>(length >> 8);
    out[start + 3] = static_cast<std::uint8_t>(length);
    return true;
}

WinFileWriter::~WinFileWriter() { close(); }

bool WinFileWriter::open(const std::string& path)
{
    close();
    failed_ = false;
    file_ = std::fopen(path.c_str(), "wb");
    return file_ != nullptr;
}

bool WinFileWriter::writeBytes(const std::vector<std::uint8_t>& bytes)
{
    if (file_ == nullptr) return false;
    if (!bytes.empty() && std::fwrite(bytes.data(), 1, bytes.size(), file_) != bytes.size()) failed_ = true;
    return !failed_;
}

bool WinFileWriter::write(const WinSecond& second)
{
    buffer_.clear();
    if (!appendSecondBlock(second, buffer_)) return false;
    return writeBytes(buffer_);
}

bool WinFileWriter::close()
{
    if (file_ == nullptr) return false;
    if (std::fclose(file_) != 0) failed_ = true;
    file_ = nullptr;
    return !failed_;
}

bool writeWinFile(const std::string& path, const std::vector<WinSecond>& seconds)
{
    WinFileWriter writer;
    if (!writer.open(path)) return false;
    bool ok = true;
    for (const auto& second : seconds) ok = writer.write(second) && ok;
    return writer.close() && ok;
}

std::int32_t syntheticSample(std::uint16_t channelId, std::uint32_t seed, double time, int amplitude)
{
    const std::uint64_t key = (std::uint64_t{seed} << 16) ^ channelId;
    const double period1 = 0.7 + static_cast<double>(mix(key) % 1000) / 500.0;       // 0.7 to 2.7 s
    const double period2 = 9.0 + static_cast<double>(mix(key + 1) % 1000) / 50.0;    // 9 to 29 s
    const double phase = static_cast<double>(mix(key + 2) % 6283) / 1000.0;
    constexpr double kTwoPi = 2.0 * std::numbers::pi;
    const double a = static_cast<double>(amplitude);
    double value = a * std::sin(kTwoPi * time / period1 + phase) +
                   0.5 * a * std::sin(kTwoPi * time / period2);
    // Noise of a few per cent of the amplitude, a pure function of the time.
    const auto tick = static_cast<std::uint64_t>(std::llround(time * 1.0e6));
    const std::uint64_t noise = mix(key * 0x9e3779b97f4a7c15ULL ^ tick);
    const double noiseSpan = a * 0.04 + 1.0;
    value += (static_cast<double>(noise % 2001) / 1000.0 - 1.0) * noiseSpan;
    return static_cast<std::int32_t>(std::lround(value));
}

std::vector<std::int32_t> syntheticSecond(std::uint16_t channelId, std::uint32_t seed,
                                          std::int64_t secondsSince1970, int sps, int amplitude)
{
    std::vector<std::int32_t> samples(sps > 0 ? static_cast<std::size_t>(sps) : 0);
    for (std::size_t i = 0; i < samples.size(); ++i) {
        const double t = static_cast<double>(secondsSince1970) + static_cast<double>(i) / sps;
        samples[i] = syntheticSample(channelId, seed, t, amplitude);
    }
    return samples;
}

}  // namespace tremcvt
