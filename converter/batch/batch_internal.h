// The steps of tremcvt_batch that the interval batch and the follower share:
// the settings gathered once, one file's conversion with its reconnection,
// how a file is counted and how its report is shown. Only the batch's own
// sources include this.
#pragma once

#include <cstdio>
#include <string>
#include <vector>

#include "common/batch/output_merger.h"
#include "converter/archive/archive_database.h"
#include "converter/batch/batch_job.h"
#include "converter/batch/batch_options.h"
#include "converter/driver/conversion_run.h"
#include "converter/driver/run_report.h"
#include "converter/driver/settings.h"

namespace tremcvt {

// The options as a conversion takes them, gathered as tremcvt gathers its
// command line (the WIN directory, or "-", standing in for each file).
SettingsResult gatherBatchSettings(const BatchOptions& options);

// The archive database of a batch: its statements wait for a locked SQLite
// database rather than fail.
ArchiveSettings batchArchiveSettings(const ConverterSettings& settings);

// One file's conversion, with its report kept for merging.
struct FileConversion {
    ConversionOutcome outcome;
    RunReport report;
    bool reconnected = false;     // the connection was made again once
    bool connectionGone = false;  // and that failed: the batch cannot go on
};

// A report whose reasons name the file.
RunReport fileReport(const std::string& path);

// Converts one file; when the database went away, connects again once and
// converts the file again.
FileConversion convertFile(const SettingsResult& settings, const std::string& path, ArchiveDatabase& database);

// Counts a converted file in the summary: as converted, or by its failure.
void countFile(BatchSummary& summary, ConversionClass kind, const std::string& path);

// A file's report as standard output shows it: whole, or merged as the
// launcher merges reports.
std::string shownReport(const RunReport& report, bool fullReports, OutputMerger& merger);

// Adds what one station's files came to into the batch's summary; its
// missing minutes are named with the station.
void addStationSummary(BatchSummary& total, const BatchSummary& part, const std::string& station);

// One station of a --stations batch, ready to convert: its settings as
// "tremcvt_batch STATION DIR ..." would gather them.
struct StationTask {
    std::string code;
    std::string directory;
    SettingsResult settings;
};

// The stations of tremcvt.ini that the options choose and that can be
// converted; each other one is reported on err and listed in the summary.
std::vector<StationTask> stationTasks(const BatchOptions& options, const std::string& iniPath, BatchSummary& summary,
                                      std::FILE* err);

}  // namespace tremcvt
