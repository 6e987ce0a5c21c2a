// One start of the converter as the launcher sees it: where the program is
// and its argument list (how a run ended and whether that counts as a failure
// is common/batch/failure_rule.h). Starting and waiting for the process is the
// shell's part.
#pragma once

#include <optional>
#include <string>
#include <string_view>
#include <vector>

#include "common/batch/failure_rule.h"

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

}  // namespace tremcvt
