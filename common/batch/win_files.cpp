#include "common/batch/win_files.h"

#include <algorithm>
#include <cstdio>
#include <filesystem>
#include <fstream>
#include <system_error>

#include "common/calendar/calendar.h"
#include "common/paths.h"

namespace tremcvt {
namespace {

// A number with at least two digits, zero-filled.
std::string twoDigits(int value)
{
    char text[16];
    std::snprintf(text, sizeof text, "%02d", value);
    return text;
}

std::string dayName(const MinuteName& m)
{
    return twoDigits(m.twoDigitYear) + twoDigits(m.month) + twoDigits(m.day);
}

}  // namespace

int twoDigitYear(int year)
{
    return year >= 2000 ? year - 2000 : year - 1900;
}

bool minuteName(double seconds, MinuteName& out)
{
    CivilTime civil;
    if (!civilFromSeconds(seconds, civil)) return false;
    out = MinuteName{twoDigitYear(civil.year), civil.month, civil.day, civil.hour, civil.minute};
    return true;
}

std::string winFileName(const MinuteName& name)
{
    return dayName(name) + twoDigits(name.hour) + "." + twoDigits(name.minute);
}

std::array<std::string, 3> winFileLayouts(std::string_view dataDirectory, const MinuteName& m)
{
    const std::string dir(dataDirectory);
    const std::string sep(1, kNativeSeparator);
    const std::string day = dayName(m);
    const std::string hour = day + twoDigits(m.hour);
    const std::string file = winFileName(m);
    return {
        dir + sep + day + sep + hour + sep + file,
        dir + sep + day + sep + file,
        dir + sep + file,
    };
}

std::string_view lineEndText(ReportLineEnd lineEnd)
{
#ifdef _WIN32
    (void)lineEnd;
    return "\r\n";
#else
    return lineEnd == ReportLineEnd::kCrLf ? "\r\n" : "\n";
#endif
}

std::optional<std::string> FindWinFile(std::string_view dataDirectory, const MinuteName& name,
                                       std::string& resultsText, ReportLineEnd lineEnd)
{
    for (const std::string& path : winFileLayouts(dataDirectory, name)) {
        // A directory of the minute's name opens on some systems but is no
        // WIN file.
        std::error_code error;
        std::ifstream file(path, std::ios::binary);
        if (file.is_open() && !std::filesystem::is_directory(path, error)) return path;
        resultsText += "File open error (" + path + ").";
        resultsText += lineEndText(lineEnd);
    }
    return std::nullopt;
}

void sortByFileName(std::vector<std::string>& paths)
{
    const auto nameOf = [](const std::string& path) { return std::filesystem::path(path).filename().string(); };
    std::stable_sort(paths.begin(), paths.end(), [&](const std::string& a, const std::string& b) {
        const std::string nameA = nameOf(a), nameB = nameOf(b);
        return nameA != nameB ? nameA < nameB : a < b;
    });
}

}  // namespace tremcvt
