// One start of the converter as the launcher sees it: where the program is,
// its argument list, how the run ended, and whether that ending counts as a
// failure. Starting and waiting for the process is the shell's part.
#pragma once

#include <optional>
#include <string>
#include <string_view>
#include <vector>

namespace tremcvt {

#ifdef _WIN32
inline constexpr const char* kConverterProgramName = "tremcvt.exe";
#else
inline constexpr const char* kConverterProgramName = "tremcvt";
#endif

// How long one converter run may take before it is killed.
inline constexpr int kConverterTimeoutMs = 10000;

// Where the converter was found, and where it was looked for (for the
// message when it cannot be started).
struct ConverterLocation {
    std::string program;  // empty when not found
    std::string searched;
};

// The converter beside the launcher's own executable (ownDirectory) first,
// then in the directories of the search path (those of the PATH variable
// when searchPaths is empty).
ConverterLocation locateConverter(const std::string& ownDirectory,
                                  const std::vector<std::string>& searchPaths = {});

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

enum class RunEnd {
    Exited,      // the converter ended by itself with exitStatus
    Crashed,     // it was ended by the system (a signal) before it exited
    TimedOut,    // killed at the time limit; its output is dropped
    NotStarted,  // the program could not be started
};

struct RunResult {
    RunEnd end = RunEnd::NotStarted;
    int exitStatus = 0;  // the process exit status, for Exited
    std::string output;  // everything it printed, for Exited and Crashed
};

// Whether a converter that ended by itself with this process exit status
// failed: a failed connection, an unopened WIN file, an exception or a
// refused setting (-1 ... -4; 255 ... 252 on POSIX). 0 and the problem
// counts of the channel checks are runs that converted their file.
bool isFailedConverterExit(int exitStatus);

// Whether a run failed: it did not end by itself in time, it crashed, or
// the converter reported that it could not convert its file.
bool isFailedRun(const RunResult& result);

}  // namespace tremcvt
