#include "converter/writers/css_writer.h"

#include <cmath>
#include <cstdio>
#include <filesystem>
#include <new>
#include <stdexcept>
#include <system_error>
#include <vector>

#include "common/calendar/calendar.h"
#include "common/paths.h"
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
void createDirectoriesOnTheWay(const std::string& path)
{
    std::error_code error;
    for (std::size_t slash = path.find('/', 1); slash != std::string::npos; slash = path.find('/', slash + 1))
        std::filesystem::create_directory(path.substr(0, slash), error);
}

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
    const StartBreakdown start = breakDown(trace.startTime);
    const long jdate = start.dateValid ? julianDate(start.civil.year, start.civil.month, start.civil.day) : 0L;
    const std::string dfile(dataFileName);
    return printed(
        "%-6.6s %-8.8s %17.5lf %8ld %8ld %8ld %17.5lf %8ld %11d %16.6f %16.6f %-6.6s %-1.1s %-2.2s %-1.1s "
        "%-64.64s %-32.32s %10ld %8ld %-17.17s\n",
        trace.station.c_str(), trace.component.c_str(), trace.startTime, -1L, -1L, jdate, trace.endTime,
        static_cast<long>(trace.sampleCount()), static_cast<int>(trace.sps), 0.0, 0.0, "-", "-", "f4", "-", ".",
        dfile.c_str(), 0L, -1L, "-");
}

std::string cssWfdiscPath(std::string_view wfdiscPath, std::string_view dataDir)
{
    std::string path = absoluteArchivePath(wfdiscPath, dataDir);
    toForwardSlashes(path);
    return path;
}

int writeCssOutput(const ChannelTable& table, std::string& wfdiscPath, std::string_view dataDir)
{
    try {
        const std::string path = cssWfdiscPath(wfdiscPath, dataDir);
        wfdiscPath = path;
        // A path that ends in a separator names a directory (for example an
        // empty "css=" value, which is the data directory itself): there is
        // no wfdisc file to create, so nothing at all is made.
        if (path.empty() || path.back() == '/') return kResultFileOpenFailed;
        createDirectoriesOnTheWay(path);

        std::vector<std::string> names;
        names.reserve(table.size());
        std::string lines;
        lines.reserve(table.size() * (kWfdiscLineLength + 1));
        for (const ChannelTrace& trace : table) {
            names.push_back(cssDataFileName(trace));
            lines += formatWfdiscLine(trace, names.back());
        }

        {
            OutputFile wfdisc(path, OutputFile::Mode::CreateTruncate);
            if (!wfdisc.isOpen()) return kResultFileOpenFailed;
            const bool written = wfdisc.writeAll(lines.data(), lines.size());
            if (!wfdisc.close() || !written) {
                std::error_code error;
                std::filesystem::remove(path, error);
                return kResultFileOpenFailed;
            }
        }

        const std::string directory = path.substr(0, path.rfind('/') + 1);
        std::size_t index = 0;
        for (const ChannelTrace& trace : table) {
            const std::string& name = names[index++];
            // A code with a separator or similar would put the file outside
            // the output directory or make an invalid name: no file for it.
            if (!isSafeNameCode(trace.station.view()) || !isSafeNameCode(trace.component.view())) continue;
            const std::string dataPath = directory + name;
            OutputFile data(dataPath, OutputFile::Mode::CreateTruncate);
            if (!data.isOpen()) continue;
            const bool written = data.writeSamples(trace.samples.data(), trace.samples.size());
            if (!data.close() || !written) {
                std::error_code error;
                std::filesystem::remove(dataPath, error);
                return kResultFileOpenFailed;
            }
        }
        return kResultOk;
    } catch (const std::bad_alloc&) {
        return kResultPathOrMemoryFailed;
    } catch (const std::length_error&) {
        return kResultPathOrMemoryFailed;
    }
}

}  // namespace tremcvt
