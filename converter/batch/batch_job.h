// A batch of conversions in one process over one database connection: every
// minute's WIN file of an interval (looked up as the launcher looks them up)
// or chosen files, each converted exactly as one tremcvt run converts it.
// Standard output gets the reports merged as the launcher merges them (or
// every report whole) and a summary; standard error gets the reasons behind
// failures and the progress.
#pragma once

#include <cstdio>
#include <string>
#include <vector>

#include "converter/batch/batch_options.h"

namespace tremcvt {

// What a batch came to.
struct BatchSummary {
    int files = 0;      // planned: minutes of the interval, or chosen files
    int converted = 0;  // stored without a failure
    std::vector<std::string> missing;  // minutes without a WIN file (their names)
    int connectionFailures = 0;        // the connection could not be made again
    int openFailures = 0;              // the WIN file could not be opened (or named)
    int catalogueFailures = 0;         // a channel was not stored in the archive
    int cssFailures = 0;               // the CSS output could not be written
    int otherFailures = 0;             // the conversion broke off with an error
    std::vector<std::string> failed;   // "<path> (<why>)"
    int leftUndone = 0;                // not tried: the batch stopped before them
    int channelProblems = 0;           // what the first-second checks reported
    int irregularChannels = 0;         // channels with gaps, repeats, late blocks or rate changes
    int reconnections = 0;
    double wallSeconds = 0.0;

    int failures() const
    {
        return connectionFailures + openFailures + catalogueFailures + cssFailures + otherFailures;
    }
};

// The summary as the batch prints it at the end.
std::string formatBatchSummary(const BatchSummary& summary);

// Runs the batch; returns the process exit status (kBatchExit..., or the
// converter's connection code as a status).
int runBatch(const BatchOptions& options, std::FILE* out, std::FILE* err);

}  // namespace tremcvt
