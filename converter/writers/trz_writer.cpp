#include "converter/writers/trz_writer.h"

#include <climits>
#include <cmath>
#include <cstdio>
#include <cstring>
#include <ctime>
#include <filesystem>
#include <system_error>
#include <vector>

#include "common/paths.h"
#include "common/platform.h"
#include "converter/writers/output_file.h"

namespace tremcvt {
namespace {

using detail::OutputFile;

constexpr double kSecondsPerDay = 86400.0;
constexpr double kSecondsPerHour = 3600.0;
constexpr double kSecondsPerMinute = 60.0;
constexpr std::int64_t kSampleBytes = 4;

// Local calendar time of a start in seconds, truncated toward zero to whole
// seconds. False for a time the platform cannot convert.
bool localStart(double startTime, std::tm& out)
{
    if (!std::isfinite(startTime) || std::fabs(startTime) > 9.0e15) return false;
    return localCalendarTime(static_cast<std::int64_t>(std::trunc(startTime)), out);
}

// dataDir and name joined by one native separator. An empty data directory
// still gives the separator, so the station directory never becomes
// relative to whatever the current directory is.
std::string below(std::string_view dir, std::string_view name)
{
    std::string joined(dir);
    toNativeSeparators(joined);
    if (joined.empty() || joined.back() != kNativeSeparator) joined += kNativeSeparator;
    joined += name;
    return joined;
}

bool validCount(const float* samples, std::int32_t count)
{
    return count >= 0 && (count == 0 || samples != nullptr);
}

// A failed file call: its reason for the caller, kResultFileOpenFailed.
int failed(std::string* reason, const OutputFile& file)
{
    if (reason != nullptr) *reason = file.failure();
    return kResultFileOpenFailed;
}

// A refusal before or without a failed call.
int refuse(std::string* reason, const std::string& path, const std::string& why)
{
    if (reason != nullptr) *reason = (path.empty() ? std::string("(no path)") : path) + ": " + why;
    return kResultFileOpenFailed;
}

}  // namespace

std::string_view TrzHeader::text() const
{
    const void* end = std::memchr(bytes.data(), '\0', bytes.size());
    const std::size_t length =
        end == nullptr ? bytes.size() : static_cast<std::size_t>(static_cast<const char*>(end) - bytes.data());
    return std::string_view(bytes.data(), length);
}

bool isSafeNameCode(std::string_view code)
{
    if (code == "." || code == "..") return false;
    for (const char c : code) {
        const auto u = static_cast<unsigned char>(c);
        if (u < 0x20 || u == 0x7f) return false;
        if (std::strchr("/\\:*?\"<>|", c) != nullptr) return false;
    }
    return true;
}

std::string trzStationDirectory(std::string_view dataDir, std::string_view station)
{
    return below(dataDir, station);
}

std::string trzHourDirectory(std::string_view dataDir, std::string_view station, double startTime)
{
    std::tm local{};
    if (!localStart(startTime, local)) return std::string();
    char hour[16];
    std::snprintf(hour, sizeof hour, "%02d", local.tm_hour);
    return below(trzStationDirectory(dataDir, station), hour);
}

std::string trzFilePath(std::string_view dataDir, std::string_view station, std::string_view channel,
                        double startTime)
{
    if (!isSafeNameCode(station) || !isSafeNameCode(channel)) return std::string();
    std::tm local{};
    if (!localStart(startTime, local)) return std::string();
    const std::string hourDir = trzHourDirectory(dataDir, station, startTime);
    const std::string channelText(channel);
    const std::string stationText(station);
    const int length = std::snprintf(nullptr, 0, "%02d%02d%04d-%02d%02d%02d-%3s.%3s", local.tm_mday,
                                     local.tm_mon + 1, local.tm_year + 1900, local.tm_hour, local.tm_min,
                                     local.tm_sec, channelText.c_str(), stationText.c_str());
    if (length < 0) return std::string();
    std::string name(static_cast<std::size_t>(length) + 1, '\0');
    std::snprintf(name.data(), name.size(), "%02d%02d%04d-%02d%02d%02d-%3s.%3s", local.tm_mday,
                  local.tm_mon + 1, local.tm_year + 1900, local.tm_hour, local.tm_min, local.tm_sec,
                  channelText.c_str(), stationText.c_str());
    name.resize(static_cast<std::size_t>(length));
    return below(hourDir, name);
}

std::string formatTrzDuration(double seconds)
{
    double d = seconds;
    if (!(d >= 0.0) || !std::isfinite(d)) d = 0.0;
    // Days beyond the int range cannot be printed; such a duration is a
    // corrupt catalogue value, shown as the largest printable one.
    const double maxDays = static_cast<double>(INT_MAX);
    double days = std::floor(d / kSecondsPerDay);
    if (days > maxDays) days = maxDays;
    const double r1 = std::fmod(d, kSecondsPerDay);
    const double hours = std::floor(r1 / kSecondsPerHour);
    const double r2 = std::fmod(r1, kSecondsPerHour);
    const double minutes = std::floor(r2 / kSecondsPerMinute);
    const double secs = std::trunc(std::fmod(r2, kSecondsPerMinute));
    char text[64];
    std::snprintf(text, sizeof text, "%03d %02d %02d %02d", static_cast<int>(days), static_cast<int>(hours),
                  static_cast<int>(minutes), static_cast<int>(secs));
    return text;
}

TrzHeader formatTrzHeader(double beginTime, double durationSeconds, double sampleRate,
                          std::string_view station, std::string_view channel)
{
    std::tm local{};
    if (!localStart(beginTime, local)) {
        local = std::tm{};
        local.tm_mon = -1;
        local.tm_year = -1900;
    }
    const std::string duration = formatTrzDuration(durationSeconds);
    const std::string stationText(station);
    const std::string channelText(channel);
    TrzHeader header;
    // snprintf never writes past the area and always leaves a zero byte, so
    // an over-long code or rate cuts the text instead of spilling into the
    // samples.
    const int length = std::snprintf(
        header.bytes.data(), header.bytes.size(),
        "[TRZ5.x]\r\nData offset=512\r\nStart time=%02d:%02d:%02d\r\nStart date=%02d-%02d-%04d\r\n"
        "Time duration=%s\r\nData type=FLOAT\r\nSpS=%0.2f\r\nGain=1\r\nStation=%s\r\nChannel=%s\r\n",
        local.tm_hour, local.tm_min, local.tm_sec, local.tm_mday, local.tm_mon + 1, local.tm_year + 1900,
        duration.c_str(), sampleRate, stationText.c_str(), channelText.c_str());
    header.complete = length >= 0 && static_cast<std::size_t>(length) < header.bytes.size();
    // Codes with a zero byte inside end the text early; what follows the
    // text is zero bytes in every case.
    const std::size_t used = header.text().size();
    std::memset(header.bytes.data() + used, 0, header.bytes.size() - used);
    return header;
}

int createTrzFile(const std::string& path, const float* samples, std::int32_t count, const TrzHeader& header,
                  std::string* reason, TrzDurability durability)
{
    if (path.empty() || !validCount(samples, count)) return refuse(reason, path, "no file name or no samples");
    // The station and hour directories; an existing one is fine, and one that
    // cannot be made shows up as a file that cannot be created. Those made
    // here are new entries of the directory above them.
    const std::filesystem::path hourDir = std::filesystem::path(path).parent_path();
    std::vector<std::string> changedDirectories;
    if (!hourDir.empty()) {
        changedDirectories.push_back(hourDir.string());
        const std::filesystem::path stationDir = hourDir.parent_path();
        std::error_code error;
        if (!stationDir.empty()) {
            const bool stationIsNew = !std::filesystem::is_directory(stationDir, error);
            makeDirectory(stationDir.string());
            if (stationIsNew && stationDir.has_parent_path())
                changedDirectories.push_back(stationDir.parent_path().string());
        }
        const bool hourIsNew = !std::filesystem::is_directory(hourDir, error);
        makeDirectory(hourDir.string());
        if (hourIsNew && !stationDir.empty()) changedDirectories.push_back(stationDir.string());
    }

    OutputFile file(path, OutputFile::Mode::CreateTruncate);
    if (!file.isOpen()) return failed(reason, file);
    const bool sync = durability == TrzDurability::kSynced;
    const bool written = file.writeAll(header.bytes.data(), header.bytes.size()) &&
                         file.writeSamples(samples, static_cast<std::size_t>(count)) && (!sync || file.sync());
    const bool closed = file.close();
    if (!written || !closed) {
        // A half-written file would be catalogued as complete by nobody and
        // would shadow a later conversion of the same start.
        removeFile(path);
        return failed(reason, file);
    }
    if (durability != TrzDurability::kUnsynced) {
        for (const std::string& directory : changedDirectories) {
            const FileCallResult entrySynced = syncDirectory(directory);
            if (!entrySynced) {
                removeFile(path);
                if (reason != nullptr) *reason = entrySynced.reason;
                return kResultFileOpenFailed;
            }
        }
    }
    return kResultOk;
}

int appendTrzSamples(const std::string& path, std::int64_t cataloguedSamples, const float* samples,
                     std::int32_t count, std::string* reason, TrzDurability durability)
{
    if (path.empty() || !validCount(samples, count) || cataloguedSamples < 0 ||
        cataloguedSamples > (INT64_MAX - static_cast<std::int64_t>(kTrzHeaderSize)) / kSampleBytes - count)
        return refuse(reason, path, "no file name, no samples or no catalogued length");
    OutputFile file(path, OutputFile::Mode::ExistingOnly);
    if (!file.isOpen()) return failed(reason, file);
    const std::int64_t size = file.size();
    if (size < 0) return failed(reason, file);
    const std::int64_t cataloguedEnd = static_cast<std::int64_t>(kTrzHeaderSize) + kSampleBytes * cataloguedSamples;
    if (size < cataloguedEnd) {
        // The catalogue claims samples the file does not hold: appending
        // here would put every new sample at the wrong time.
        return refuse(reason, path,
                      "the file holds " + std::to_string((size - static_cast<std::int64_t>(kTrzHeaderSize)) /
                                                         kSampleBytes) +
                          " samples, its catalogue row " + std::to_string(cataloguedSamples));
    }
    if (size > cataloguedEnd && !file.truncate(cataloguedEnd)) return failed(reason, file);
    if (!file.writeSamplesAt(samples, static_cast<std::size_t>(count), cataloguedEnd) ||
        (durability == TrzDurability::kSynced && !file.sync())) {
        // What was archived before stays as it was.
        const int result = failed(reason, file);
        file.truncate(cataloguedEnd);
        return result;
    }
    if (!file.close()) return failed(reason, file);
    return kResultOk;
}

int overwriteTrzSamples(const std::string& path, std::int64_t sampleIndex, const float* samples,
                        std::int32_t count, std::string* reason)
{
    if (path.empty() || sampleIndex < 0 || !validCount(samples, count))
        return refuse(reason, path, "no file name or no samples");
    OutputFile file(path, OutputFile::Mode::ExistingUpdate);
    if (!file.isOpen()) return failed(reason, file);
    const std::int64_t size = file.size();
    if (size < 0) return failed(reason, file);
    if (sampleIndex > (INT64_MAX - static_cast<std::int64_t>(kTrzHeaderSize)) / kSampleBytes - count)
        return refuse(reason, path, "sample position out of range");
    const std::int64_t offset = static_cast<std::int64_t>(kTrzHeaderSize) + kSampleBytes * sampleIndex;
    const std::int64_t end = offset + kSampleBytes * count;
    if (end > size) return refuse(reason, path, "the file does not hold the samples to replace");
    if (count == 0) return file.close() ? kResultOk : failed(reason, file);

    // Keep the bytes being replaced, so that a failed write can put them back.
    const std::size_t length = static_cast<std::size_t>(kSampleBytes) * static_cast<std::size_t>(count);
    std::vector<char> former(length);
    if (!file.readAllAt(former.data(), length, offset)) return failed(reason, file);
    if (!file.writeSamplesAt(samples, static_cast<std::size_t>(count), offset)) {
        const int result = failed(reason, file);
        file.writeAllAt(former.data(), length, offset);
        return result;
    }
    return file.close() ? kResultOk : failed(reason, file);
}

int cutTrzFile(const std::string& path, std::int64_t samples, std::string* reason)
{
    if (path.empty() || samples < 0 || samples > (INT64_MAX - static_cast<std::int64_t>(kTrzHeaderSize)) / kSampleBytes)
        return refuse(reason, path, "no file name or no sample count");
    OutputFile file(path, OutputFile::Mode::ExistingOnly);
    if (!file.isOpen()) return failed(reason, file);
    const std::int64_t size = file.size();
    if (size < 0) return failed(reason, file);
    const std::int64_t end = static_cast<std::int64_t>(kTrzHeaderSize) + kSampleBytes * samples;
    if (size > end && !file.truncate(end)) return failed(reason, file);
    return file.close() ? kResultOk : failed(reason, file);
}

int writeTrzHeader(const std::string& path, const TrzHeader& header, std::string* reason)
{
    if (path.empty()) return refuse(reason, path, "no file name");
    OutputFile file(path, OutputFile::Mode::ExistingOnly);
    if (!file.isOpen()) return failed(reason, file);
    if (!file.writeAllAt(header.bytes.data(), header.bytes.size(), 0)) return failed(reason, file);
    return file.close() ? kResultOk : failed(reason, file);
}

std::int64_t trzSampleCount(const std::string& path)
{
    std::error_code error;
    const std::uintmax_t size = std::filesystem::file_size(path, error);
    if (error || size < kTrzHeaderSize) return -1;
    return static_cast<std::int64_t>((size - kTrzHeaderSize) / kSampleBytes);
}

bool readTrzFile(const std::string& path, TrzHeader& header, std::vector<float>& samples)
{
    std::FILE* file = std::fopen(path.c_str(), "rb");
    if (file == nullptr) return false;
    struct Closer {
        std::FILE* f;
        ~Closer() { std::fclose(f); }
    } closer{file};

    const std::int64_t count = trzSampleCount(path);
    if (count < 0) return false;
    if (std::fread(header.bytes.data(), 1, header.bytes.size(), file) != header.bytes.size()) return false;
    header.complete = std::memchr(header.bytes.data(), '\0', header.bytes.size()) != nullptr;
    std::vector<std::uint32_t> raw(static_cast<std::size_t>(count));
    if (count > 0 && std::fread(raw.data(), kSampleBytes, raw.size(), file) != raw.size()) return false;
    samples.resize(raw.size());
    for (std::size_t i = 0; i < raw.size(); ++i) {
        const auto* b = reinterpret_cast<const unsigned char*>(&raw[i]);
        const std::uint32_t bits = static_cast<std::uint32_t>(b[0]) | (static_cast<std::uint32_t>(b[1]) << 8) |
                                   (static_cast<std::uint32_t>(b[2]) << 16) |
                                   (static_cast<std::uint32_t>(b[3]) << 24);
        std::memcpy(&samples[i], &bits, sizeof bits);
    }
    return true;
}

}  // namespace tremcvt
