// tremcvt_batch STATION DIR --follow: converts every minute's WIN file below
// DIR once it is complete, as the files arrive, until SIGTERM or SIGINT.
// It takes up where the archive stands (the station's latest catalogued
// time, or its latest SDS day file with mseed=), converts a minute again
// when its file changes within two hours, gives a missing minute up once a
// later file has settled, and waits out a database or an archive that is
// gone. Standard output gets each file's report as the batch prints it and
// the summary at the end; standard error gets one line per event and a
// status line now and then.
#pragma once

#include <cstdio>

#include "converter/batch/batch_options.h"

namespace tremcvt {

// Runs until stopped: kBatchExitOk after SIGTERM or SIGINT, kBatchExitUsage
// when the settings are refused before anything is converted.
int runFollow(const BatchOptions& options, std::FILE* out, std::FILE* err);

}  // namespace tremcvt
