// TRZ archive files: a 512-byte text header area followed by the channel's
// samples as little-endian 32-bit floats. Files lie below the data directory
// in one directory per station and, below it, one per hour of the day:
// <dataDir>/<station>/<HH>/<DDMMYYYY>-<HHMMSS>-<channel>.<station>.
//
// These functions only name, format and write files; the archive catalogue
// decides which file a piece goes to and what its header says.
#pragma once

#include <array>
#include <cstddef>
#include <cstdint>
#include <string>
#include <string_view>
#include <vector>

#include "common/result_codes.h"

namespace tremcvt {

inline constexpr std::size_t kTrzHeaderSize = 512;

// The header area of a TRZ file: the header text, then zero bytes.
struct TrzHeader {
    std::array<char, kTrzHeaderSize> bytes{};
    // False when the text had to be cut to fit the area.
    bool complete = true;

    // The header text without the zero bytes that follow it.
    std::string_view text() const;
};

// Whether a station or channel code can stand in a file name: not "." or
// "..", and no separator, control character or any of : * ? " < > |.
// An empty code is allowed.
bool isSafeNameCode(std::string_view code);

// The station directory "<dataDir>/<station>" with native separators.
std::string trzStationDirectory(std::string_view dataDir, std::string_view station);

// The hour directory "<dataDir>/<station>/<HH>", HH the local hour of
// startTime truncated to whole seconds.
std::string trzHourDirectory(std::string_view dataDir, std::string_view station, double startTime);

// The one naming rule of archive files, used for writing and for removal:
// "<dataDir>/<station>/<HH>/<DDMMYYYY>-<HHMMSS>-<channel>.<station>", date and
// time the local time of startTime truncated toward zero, channel and station
// right-aligned in a width of at least three. Empty when the local time
// cannot be formed or a code is not safe for a file name (isSafeNameCode).
std::string trzFilePath(std::string_view dataDir, std::string_view station, std::string_view channel,
                        double startTime);

// "DDD HH MM SS": whole days (at least three digits), hours, minutes and
// seconds truncated. Negative or non-finite durations count as zero.
std::string formatTrzDuration(double seconds);

// The header area for a file that starts at beginTime (shown in local time,
// whole seconds) and lasts durationSeconds.
TrzHeader formatTrzHeader(double beginTime, double durationSeconds, double sampleRate,
                          std::string_view station, std::string_view channel);

// What a file function makes durable on the disk before it returns, so that
// a power cut afterwards cannot take it back: nothing; only a new file's
// name (its directory synced, and the directories above that it had to
// make); or also the bytes written (the file synced).
enum class TrzDurability { kUnsynced, kNamesSynced, kSynced };

// The file functions below leave in *reason, when they fail and reason is
// given, what went wrong for the operator: "<path>: <call>: <message>".

// Creates (or truncates) the file at path, creating its station and hour
// directories (the two directories above the file) when missing, and writes
// the header area and the samples, made as durable as asked. A failed or
// incomplete write, or a failed sync, removes the file. kResultOk or
// kResultFileOpenFailed.
int createTrzFile(const std::string& path, const float* samples, std::int32_t count, const TrzHeader& header,
                  std::string* reason = nullptr, TrzDurability durability = TrzDurability::kUnsynced);

// Appends samples to an existing TRZ file (never creates one) after the
// cataloguedSamples that its catalogue row accounts for. The file is first
// brought to that length (512 + 4 * cataloguedSamples bytes): samples that
// an interrupted append left beyond it belong to no catalogued time and are
// dropped, so the new ones land exactly where the catalogue says the file
// ends. A file shorter than that is refused and left as it is. On a failed
// or incomplete write, or a failed sync (kSynced), the file is cut back to
// its catalogued length. kResultOk or kResultFileOpenFailed.
int appendTrzSamples(const std::string& path, std::int64_t cataloguedSamples, const float* samples,
                     std::int32_t count, std::string* reason = nullptr,
                     TrzDurability durability = TrzDurability::kUnsynced);

// Replaces count samples in place, starting with sample number sampleIndex
// (byte 512 + 4 * sampleIndex). Only when the file already holds all of them;
// otherwise nothing is written and the result is kResultFileOpenFailed.
int overwriteTrzSamples(const std::string& path, std::int64_t sampleIndex, const float* samples,
                        std::int32_t count, std::string* reason = nullptr);

// Cuts the file back to its header area and the first `samples` samples
// (a file that holds no more is left as it is). kResultOk or
// kResultFileOpenFailed.
int cutTrzFile(const std::string& path, std::int64_t samples, std::string* reason = nullptr);

// Rewrites the 512-byte header area of an existing file (never creates one).
int writeTrzHeader(const std::string& path, const TrzHeader& header, std::string* reason = nullptr);

// Number of whole samples the file holds on disk after its header area; -1
// when the file cannot be examined or is shorter than the header area.
std::int64_t trzSampleCount(const std::string& path);

// Reads a whole TRZ file back. False when it cannot be read or is shorter
// than its header area.
bool readTrzFile(const std::string& path, TrzHeader& header, std::vector<float>& samples);

}  // namespace tremcvt
