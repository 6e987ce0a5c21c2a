// The converter's run over one WIN file: settings, connection, decoding with
// the first-block checks, output into the TRZ archive or as CSS 3.0, and the
// exit code.
#pragma once

#include <cstdio>

#include "common/exit_codes.h"
#include "converter/archive/archive_database.h"
#include "converter/driver/run_report.h"
#include "converter/driver/settings.h"

namespace tremcvt {

// The location code with which every channel is checked and catalogued.
inline constexpr const char* kLocationCode = "??";
// The name under which the converter catalogues the files it writes.
inline constexpr const char* kCreatorName = "tremcvt";

// What one conversion of a WIN file came to, beyond its report.
struct ConversionOutcome {
    // The run's exit code: the number of channel problems of the checks, or
    // kExitWinFileNotOpened or kExitException.
    int exitCode = 0;
    int problemCount = 0;
    // A connection test failed during the run: the database went away.
    bool connectionLost = false;
    // "Database error" lines of the checks.
    int databaseErrors = 0;
    // Channels that were not stored ("DB write error", "Invalid file name").
    int unstoredChannels = 0;
    bool cssWriteFailed = false;
    // Channels that miniSEED output refused or could not store.
    int mseedUnstoredChannels = 0;
    bool winFileNotOpened = false;
    bool truncated = false;
};

// The converter's message for a connection that failed, with the driver's
// diagnostics as reasons.
void reportConnectionError(const ConverterSettings& settings, const ArchiveDatabase& database, RunReport& report);

// Converts the WIN file of settings over the connected database: reading,
// the first-block checks and the output into the archive or as CSS, every
// message into report. The connection stays as it is.
ConversionOutcome convertWinFile(const ConverterSettings& settings, ArchiveDatabase& database, RunReport& report);

// Runs the converter with its command line and reports on out; the reasons
// behind a failure (driver diagnostics, file-system errors) go to err, one
// line each behind "tremcvt: ". Returns the run's exit code as the system
// defines it (negative codes included).
int runConverter(int argc, const char* const* argv, std::FILE* out, std::FILE* err = stderr);

}  // namespace tremcvt
