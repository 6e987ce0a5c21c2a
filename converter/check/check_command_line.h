// The command line of tremcvt_check: the command, its options, the
// selection and the converter's settings arguments.
#pragma once

#include <string>
#include <vector>

#include "converter/check/check_model.h"

namespace tremcvt::check {

// Exit codes of tremcvt_check.
inline constexpr int kCheckConsistent = 0;
inline constexpr int kCheckPictureNotWritten = 1;
inline constexpr int kCheckRefused = 2;
inline constexpr int kCheckInconsistent = 3;
inline constexpr int kCheckNoConnection = 255;

extern const char* const kCheckUsage;

enum class CheckCommand { kVerify, kAvailability, kRepair };
enum class ReportFormat { kText, kCsv, kJson };

struct CheckOptions {
    CheckCommand command = CheckCommand::kVerify;
    bool readData = false;
    ReportFormat format = ReportFormat::kText;
    std::string picture;  // SVG file to write, empty for none
    Selection selection;
    std::string sds;      // SDS root; empty: the TRZ archive
    // "odbc=", "user=", "password=", "data=" arguments, as given.
    std::vector<std::string> settingsArguments;
};

struct ParsedCheckCommandLine {
    enum class Status { kRun, kHelp, kRefused };
    Status status = Status::kRun;
    CheckOptions options;
    std::string message;  // why the command line was refused
};

ParsedCheckCommandLine parseCheckCommandLine(const std::vector<std::string>& arguments);

}  // namespace tremcvt::check
