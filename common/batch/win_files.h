// WIN files by minute: the name a minute's file carries, the three places
// below a data directory where it may lie, and the lookup that tries them.
#pragma once

#include <array>
#include <optional>
#include <string>
#include <string_view>
#include <vector>

namespace tremcvt {

// Year as the WIN file names carry it: year - 2000 from 2000 on, else
// year - 1900.
int twoDigitYear(int year);

// The calendar minute whose WIN file a step converts.
struct MinuteName {
    int twoDigitYear = 0;
    int month = 0;
    int day = 0;
    int hour = 0;
    int minute = 0;
};

// The minute of a time in seconds since 1970; false when no date forms.
bool minuteName(double seconds, MinuteName& out);

// The minute's file name, YYMMDDHH.MM.
std::string winFileName(const MinuteName& name);

// The three places a minute's WIN file may lie below the data directory, in
// the order they are tried: YYMMDD/YYMMDDHH/YYMMDDHH.MM, YYMMDD/YYMMDDHH.MM
// and YYMMDDHH.MM.
std::array<std::string, 3> winFileLayouts(std::string_view dataDirectory, const MinuteName& name);

// How the lookup's report lines end: as the platform's own text lines (a
// console) or with CR LF (the dialogs' results box, on every platform).
enum class ReportLineEnd { kPlatform, kCrLf };

// The line end itself: "\r\n" for kCrLf, and for kPlatform "\r\n" on
// Windows and "\n" elsewhere.
std::string_view lineEndText(ReportLineEnd lineEnd);

// The first layout whose file opens for reading. Every layout that does not
// open adds "File open error (<path>)." with the chosen line end to
// resultsText.
std::optional<std::string> FindWinFile(std::string_view dataDirectory, const MinuteName& name,
                                       std::string& resultsText, ReportLineEnd lineEnd);

// Files in the order of their names, which for WIN names by minute is time
// order; the full path decides between equal names.
void sortByFileName(std::vector<std::string>& paths);

}  // namespace tremcvt
