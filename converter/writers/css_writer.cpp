#include "converter/writers/css_writer.h"

#include <cmath>
#include <cstdio>
#include <new>
#include <span>
#include <stdexcept>
#include <vector>

#include "common/calendar/calendar.h"
#include "common/paths.h"
#include "common/platform.h"
#include "converter/writers/output_file.h"
#include "converter/writers/trz_writer.h"

namespace tremcvt {
namespace {

using detail::OutputFile;

// The calendar breakdown of a start time; the date stays 0 when it cannot be
// formed, so that a broken time still gives a line and a name.
struct StartBreakdown {
    CivilTime civil;
    bool dateValid = false;
    int wholeSecond = 0;
};

StartBreakdown breakDown(double startTime)
{
    StartBreakdown out;
    // The breakdown of the whole second: the calendar carries seconds as a
    // float, which would round a start just before a full second up to it
    // (even to second 60).
    if (std::isfinite(startTime) && std::fabs(startTime) < 1.0e15)
        out.dateValid = civilFromSeconds(std::floor(startTime), out.civil);
    if (!out.dateValid) {
        out.civil.year = out.civil.month = out.civil.day = 0;
    }
    out.wholeSecond = static_cast<int>(out.civil.second);
    return out;
}

template <typename... Args>
std::string printed(const char* format, Args... args)
{
    char buffer[512];
    const int length = std::snprintf(buffer, sizeof buffer, format, args...);
    if (length < 0) return std::string();
    if (static_cast<std::size_t>(length) < sizeof buffer) return std::string(buffer, static_cast<std::size_t>(length));
    std::string text(static_cast<std::size_t>(length) + 1, '\0');
    std::snprintf(text.data(), text.size(), format, args...);
    text.resize(static_cast<std::size_t>(length));
    return text;
}

// Every directory on the way to path: each prefix that ends before a "/".
// One that exists already, or that cannot be made, is no error here: the
// wfdisc file's creation tells what matters.
void createDirectoriesOnTheWay(const std::string& path)
{
    for (std::size_t slash = path.find('/', 1); slash != std::string::npos; slash = path.find('/', slash + 1))
        makeDirectory(path.substr(0, slash));
}

constexpr const char* kOutOfMemory = "out of memory while the CSS output was produced";

}  // namespace

std::string cssDataFileName(const ChannelTrace& trace)
{
    const StartBreakdown start = breakDown(trace.startTime);
    return printed("%d-%02d%02d%02d%02d%02d%04d-%s-%s.w", 0, start.civil.hour, start.civil.minute,
                   start.wholeSecond, start.civil.day, start.civil.month, start.civil.year, trace.station.c_str(),
                   trace.component.c_str());
}

std::string formatWfdiscLine(const ChannelTrace& trace, std::string_view dataFileName)
{
    std::string lines;
    for (const TraceSegment& segment : segmentsOf(trace)) {
        const StartBreakdown start = breakDown(segment.startTime);
        const long jdate = start.dateValid ? julianDate(start.civil.year, start.civil.month, start.civil.day) : 0L;
        const std::string dfile(dataFileName);
        // The ".w" file holds the segments one after another: each line
        // points at its own with foff, in bytes of four-byte samples.
        const long foff = static_cast<long>(segment.firstSample * sizeof(float));
        lines += printed(
            "%-6.6s %-8.8s %17.5lf %8ld %8ld %8ld %17.5lf %8ld %11d %16.6f %16.6f %-6.6s %-1.1s %-2.2s %-1.1s "
            "%-64.64s %-32.32s %10ld %8ld %-17.17s\n",
            trace.station.c_str(), trace.component.c_str(), segment.startTime, -1L, -1L, jdate,
            segment.endTime(), static_cast<long>(segment.sampleCount), static_cast<int>(segment.sps), 0.0, 0.0,
            "-", "-", "f4", "-", ".", dfile.c_str(), foff, -1L, "-");
    }
    return lines;
}

std::string cssWfdiscPath(std::string_view wfdiscPath, std::string_view dataDir)
{
    std::string path = absoluteArchivePath(wfdiscPath, dataDir);
    toForwardSlashes(path);
    return path;
}

CssOutput::CssOutput(std::string_view wfdiscPath, std::string_view dataDir)
{
    try {
        path_ = cssWfdiscPath(wfdiscPath, dataDir);
    } catch (const std::bad_alloc&) {
        outOfMemory_ = true;
    } catch (const std::length_error&) {
        outOfMemory_ = true;
    }
}

OutputResults CssOutput::store(const ChannelTrace& trace)
{
    if (outOfMemory_) return {};
    try {
        DataFile file{cssDataFileName(trace),
                      isSafeNameCode(trace.station.view()) && isSafeNameCode(trace.component.view()),
                      std::span<const float>(trace.samples)};
        lines_ += formatWfdiscLine(trace, file.name);
        dataFiles_.push_back(std::move(file));
    } catch (const std::bad_alloc&) {
        outOfMemory_ = true;
    } catch (const std::length_error&) {
        outOfMemory_ = true;
    }
    return {};
}

OutputResults CssOutput::failure(ResultCode code, std::string reason) const
{
    OutputResult result;
    result.code = code;
    result.line = "CSS write error (" + path_ + ")\n";
    result.reason = std::move(reason);
    result.unstoredChannels = static_cast<int>(dataFiles_.size());
    return {result};
}

OutputResults CssOutput::finish()
{
    try {
        if (outOfMemory_) return failure(kResultPathOrMemoryFailed, kOutOfMemory);
        return write();
    } catch (const std::bad_alloc&) {
        return failure(kResultPathOrMemoryFailed, kOutOfMemory);
    } catch (const std::length_error&) {
        return failure(kResultPathOrMemoryFailed, kOutOfMemory);
    }
}

OutputResults CssOutput::write()
{
    // A path that ends in a separator names a directory (for example an
    // empty "css=" value, which is the data directory itself): there is no
    // wfdisc file to create, so nothing at all is made.
    if (path_.empty() || path_.back() == '/')
        return failure(kResultFileOpenFailed, (path_.empty() ? std::string("css=") : path_) +
                                                  ": names a directory, not a wfdisc file");
    createDirectoriesOnTheWay(path_);

    {
        OutputFile wfdisc(path_, OutputFile::Mode::CreateTruncate);
        if (!wfdisc.isOpen()) return failure(kResultFileOpenFailed, wfdisc.failure());
        const bool written = wfdisc.writeAll(lines_.data(), lines_.size());
        if (!wfdisc.close() || !written) {
            removeFile(path_);
            return failure(kResultFileOpenFailed, wfdisc.failure());
        }
    }

    const std::string directory = path_.substr(0, path_.rfind('/') + 1);
    for (const DataFile& file : dataFiles_) {
        // A code with a separator or similar would put the file outside
        // the output directory or make an invalid name: no file for it.
        if (!file.nameSafe) continue;
        const std::string dataPath = directory + file.name;
        OutputFile data(dataPath, OutputFile::Mode::CreateTruncate);
        if (!data.isOpen()) continue;
        const bool written = data.writeSamples(file.samples.data(), file.samples.size());
        if (!data.close() || !written) {
            removeFile(dataPath);
            return failure(kResultFileOpenFailed, data.failure());
        }
    }
    return {};
}

}  // namespace tremcvt
