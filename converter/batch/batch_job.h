// A batch of conversions in one process over one database connection: every
// minute's WIN file of an interval (looked up as the launcher looks them up)
// or chosen files, each converted exactly as one tremcvt run converts it.
// Standard output gets the reports merged as the launcher merges them (or
// every report whole) and a summary; standard error gets the reasons behind
// failures and the progress. A batch over the stations of tremcvt.ini runs
// that interval batch for each station over its own WIN directory, several
// stations at a time, each worker over its own database connection.
#pragma once

#include <cstddef>
#include <cstdio>
#include <optional>
#include <string>
#include <vector>

#include "common/batch/station_entries.h"
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
    // A batch over the stations of tremcvt.ini: how many it took, and those
    // it could not convert ("<station> (<why>)"): no WIN directory, or one
    // that does not exist.
    bool stationBatch = false;
    int stations = 0;
    std::vector<std::string> stationsWithoutDirectory;

    int failures() const
    {
        return connectionFailures + openFailures + catalogueFailures + cssFailures + otherFailures;
    }
};

// The stations a --stations batch converts, in station-list order: every
// named station of the list (upper-cased as the launcher hands names on,
// each name once) or those of `wanted` (a wanted name the list lacks comes
// after them, without a directory), then the shard's share of them.
struct StationChoice {
    std::string code;
    std::optional<std::string> directory;  // nothing: the list names none
};
std::vector<StationChoice> chooseStations(const std::vector<StationEntry>& entries,
                                          const std::vector<std::string>& wanted,
                                          const std::optional<Shard>& shard);

// The summary as the batch prints it at the end.
std::string formatBatchSummary(const BatchSummary& summary);

// How long a batch's statement waits for an SQLite database that another
// connection has locked, before it fails.
inline constexpr int kBatchBusyTimeoutMilliseconds = 10 * 60 * 1000;

// Runs the batch; returns the process exit status (kBatchExit..., or the
// converter's connection code as a status).
int runBatch(const BatchOptions& options, std::FILE* out, std::FILE* err);

}  // namespace tremcvt
