// The launcher's batch arithmetic on plain data: interval and start-time
// texts, minute stepping, WIN file names by minute, converter command lines
// and the merging of converter reports into the results text. Nothing here
// touches a window or a process.
#pragma once

#include <array>
#include <cstddef>
#include <optional>
#include <string>
#include <string_view>
#include <vector>

namespace tremcvt {

// The start of an interval batch as the date and time pickers give it.
struct StartTime {
    int year = 0;
    int month = 0;
    int day = 0;
    int hour = 0;
    int minute = 0;
};

// The earliest start the launcher accepts: the calendar arithmetic counts
// seconds from 1970.
inline constexpr int kEarliestStartYear = 1970;
inline constexpr int kLatestStartYear = 9999;

// The numbers of a text split at any of the delimiter characters, as the
// interval and start-time texts are read: runs of delimiters count as one,
// a piece that does not start with a number counts as 0, and a number too
// large for the batch is held at 999999999.
std::vector<long long> splitNumbers(std::string_view text, std::string_view delimiters);

// "time" of the settings file, DD/MM/YYYY HH:MM: the first five numbers are
// day, month, year, hour and minute; missing numbers count as 0. Nothing when
// they do not form a valid date and time from kEarliestStartYear on.
std::optional<StartTime> parseStartTime(std::string_view text);

// "timeqty" of the settings file (days, hours and minutes split at blanks and
// colons) as the interval field shows it, "DDD HH:MM". Missing numbers count
// as 0; each is held within its field width so the separators stay in place.
std::string formatIntervalText(std::string_view text);

// Steps of an interval text: minutes + hours * 60 + days * 1440, where hours
// above 23 and minutes above 59 add their worth; never below 0.
int intervalStepCount(std::string_view text);

// Seconds since 1970 of the start minute.
double startSeconds(const StartTime& start);

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

// The three places a minute's WIN file may lie below the data directory, in
// the order they are tried: YYMMDD/YYMMDDHH/YYMMDDHH.MM, YYMMDD/YYMMDDHH.MM
// and YYMMDDHH.MM.
std::array<std::string, 3> winFileLayouts(std::string_view dataDirectory, const MinuteName& name);

// The first layout whose file opens for reading. Every layout that does not
// open adds "File open error (<path>).\r\n" to resultsText.
std::optional<std::string> FindWinFile(std::string_view dataDirectory, const MinuteName& name,
                                       std::string& resultsText);

// One start of the converter: its arguments as a list (paths with blanks
// stay whole) and the same call as one line of text for people to read.
struct ConverterCommand {
    std::vector<std::string> arguments;
    std::string displayText;
};

// station, WIN path, then "css=<path>" when CSS output is chosen and
// "data=<directory>" when an archive directory is handed over.
ConverterCommand buildConverterCommand(std::string_view station, std::string_view winPath,
                                       const std::optional<std::string>& cssPath,
                                       const std::optional<std::string>& dataDirectory);

// Merges the reports of one batch's converter runs: the first report is
// taken whole and fixes the header offset just after its last "="; the
// check block ends with a line of "=", so later reports are shown from that
// same byte offset on, and a later report shorter than the offset adds
// nothing. A report ends at its first zero byte.
class OutputMerger {
public:
    void merge(std::string_view output, std::string& resultsText);

    bool firstOutputPending() const { return firstOutput_; }
    std::size_t headerOffset() const { return headerOffset_; }

private:
    bool firstOutput_ = true;
    std::size_t headerOffset_ = 0;
};

}  // namespace tremcvt
