// The converter's run over one WIN file: settings, connection, decoding with
// the first-block checks, output into the TRZ archive, as CSS 3.0 or as
// miniSEED, and the exit code.
#pragma once

#include <cstdio>
#include <memory>
#include <optional>

#include "common/exit_codes.h"
#include "converter/archive/archive_database.h"
#include "converter/archive/archive_output.h"
#include "converter/driver/run_report.h"
#include "converter/driver/settings.h"
#include "converter/writers/channel_output.h"

namespace tremcvt {

// What one conversion of a WIN file came to, beyond its report.
struct ConversionOutcome {
    // The run's exit code: the number of channel problems of the checks, or
    // kExitWinFileNotOpened, kExitException, or kExitChannelsNotStored when
    // the output could not store a channel.
    int exitCode = 0;
    int problemCount = 0;
    // A connection test failed during the run: the database went away.
    bool connectionLost = false;
    // "Database error" lines of the checks.
    int databaseErrors = 0;
    // Channels that the output refused or could not store.
    int unstoredChannels = 0;
    // Channels whose data had gaps, repeated or out-of-order seconds or a
    // change of rate (reported on standard error).
    int irregularChannels = 0;
    // The output that reported a failure (a warning alone, such as a failed
    // removal before a successful store, is none).
    std::optional<OutputKind> failedOutput;
    bool winFileNotOpened = false;
    bool truncated = false;
};

// How one conversion ended, as a batch counts it.
enum class ConversionClass {
    kConverted,
    kOpenFailed,      // the WIN file could not be opened
    kError,           // an exception broke the conversion off
    kCatalogueWrite,  // the TRZ archive output failed
    kCssWrite,        // the CSS output failed
    kMseedWrite,      // the miniSEED output failed
};

ConversionClass classifyConversion(const ConversionOutcome& outcome);

// The name a batch gives the class of a failed conversion ("open", "error",
// "catalogue write", "CSS write", "miniSEED write"); nullptr for kConverted.
const char* conversionClassName(ConversionClass kind);

// The output that the settings ask for: miniSEED with mseed=, CSS with css=,
// else the TRZ archive over database (which must outlive the output).
std::unique_ptr<ChannelOutput> makeOutput(const ConverterSettings& settings, ArchiveDatabase& database);

// The converter's message for a connection that failed, with the driver's
// diagnostics as reasons.
void reportConnectionError(const ConverterSettings& settings, const ArchiveDatabase& database, RunReport& report);

// Converts the WIN file of settings over the connected database: reading,
// the first-block checks and the output that makeOutput chooses, every
// message into report. The connection stays as it is.
ConversionOutcome convertWinFile(const ConverterSettings& settings, ArchiveDatabase& database, RunReport& report);

// Runs the converter with its command line and reports on out; the reasons
// behind a failure (driver diagnostics, file-system errors) go to err, one
// line each behind "tremcvt: ". Returns the run's exit code as the system
// defines it (negative codes included).
int runConverter(int argc, const char* const* argv, std::FILE* out, std::FILE* err = stderr);

}  // namespace tremcvt
