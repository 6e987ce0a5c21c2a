// The converter's run over one WIN file: settings, connection, decoding with
// the first-block checks, output into the TRZ archive or as CSS 3.0, and the
// exit code.
#pragma once

#include <cstdio>

#include "common/exit_codes.h"

namespace tremcvt {

// The location code with which every channel is checked and catalogued.
inline constexpr const char* kLocationCode = "??";
// The name under which the converter catalogues the files it writes.
inline constexpr const char* kCreatorName = "tremcvt";

// Runs the converter with its command line and reports on out; the reasons
// behind a failure (driver diagnostics, file-system errors) go to err, one
// line each behind "tremcvt: ". Returns the run's exit code as the system
// defines it (negative codes included).
int runConverter(int argc, const char* const* argv, std::FILE* out, std::FILE* err = stderr);

}  // namespace tremcvt
