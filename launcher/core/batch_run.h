// One batch of converter runs as a plan of steps: every minute of an
// interval, or picked files in the order of their names. The batch looks the
// minutes' files up, builds each command line, merges the reports, counts
// what happened, takes a request to stop and ends with the results text and
// its summary line. The shell walks the steps, runs each command and hands
// back how the run ended; it owns the windows and the processes.
#pragma once

#include <optional>
#include <string>
#include <vector>

#include "common/batch/output_merger.h"
#include "common/batch/time_texts.h"
#include "launcher/core/converter_run.h"

namespace tremcvt {

// What every step of a batch shares.
struct BatchSettings {
    std::string station;                 // the selected station's code
    std::optional<std::string> cssPath;  // the wfdisc path when CSS output is chosen
    ConverterLocation converter;         // named in the message when it cannot be started
};

struct BatchStep {
    int index = 0;                            // from 0
    std::string fileName;                     // the WIN file's name, as the progress shows it
    std::optional<ConverterCommand> command;  // nothing when the minute's file was not found
};

struct BatchCounts {
    int steps = 0;              // planned
    int stepsStarted = 0;
    int filesConverted = 0;     // runs that ended without a converter failure
    int minutesMissing = 0;     // minutes whose file no layout holds
    int timeOuts = 0;
    int converterFailures = 0;  // failure exit codes and crashes
    int notStarted = 0;

    int failedRuns() const { return timeOuts + converterFailures + notStarted; }
    // What the message box at the end reports.
    int failures() const { return minutesMissing + failedRuns(); }
    int stepsLeftUndone() const { return steps - stepsStarted; }
};

// The text that stands in for the results of a batch that gathered none.
inline constexpr const char* kCompletedText = "Operation has been completed successfully!";

// What the message box at the end of a batch says (UTF-8):
// "Операция завершена!\nОшибки = <failures>".
std::string completionMessage(const BatchCounts& counts);

class BatchRun {
public:
    // Every minute of the interval: stepCount steps from start on, each
    // looking for its minute's file below dataDirectory.
    static BatchRun interval(BatchSettings settings, std::string dataDirectory, const StartTime& start,
                             int stepCount);
    // The picked files in the order of their names (the time order of WIN
    // names), whatever order they come in; each run is handed the archive
    // directory of the settings file at settingsPath, read afresh per file.
    static BatchRun pickedFiles(BatchSettings settings, std::vector<std::string> paths, std::string settingsPath);

    const BatchSettings& settings() const { return settings_; }
    int stepCount() const { return counts_.steps; }

    // The next step; nothing when every step is done, a stop was requested
    // or the batch has ended. An interval step looks its minute's file up
    // first: each layout that does not hold it adds a "File open error" line
    // to the results, and a minute found nowhere is counted as missing and
    // has no command. A step with a command is complete once recordRun has
    // told how its run ended.
    std::optional<BatchStep> nextStep();

    // How the current step's run ended: a run that ended by itself or
    // crashed has its report merged; every run is counted by the failure
    // rule of isFailedRun. A converter that cannot be started is named in
    // the results once per batch.
    void recordRun(const RunResult& result);

    // Skips every step not yet started; the running one still ends and is
    // recorded.
    void requestStop() { stopRequested_ = true; }
    bool stopRequested() const { return stopRequested_; }

    const BatchCounts& counts() const { return counts_; }

    // "i / K  name": the step's number from 1, the step count and the file.
    std::string progressText(const BatchStep& step) const;

    // The progress bar runs from 0 to progressMaximum() and stands at the
    // step's index while it runs. A bar of one value would show nothing (or
    // a busy indicator), so short batches get 0 ... 1.
    int progressMaximum() const;
    // Where the bar stands when the batch ends: full, or as far as a
    // stopped batch got.
    int progressEndPosition() const;

    // The lookup messages and merged reports so far.
    const std::string& resultsText() const { return results_; }

    // "Steps: K, files converted: ..., failed runs: ... (...)." with the
    // steps left undone when the batch was stopped, ending in "\r\n".
    std::string summaryLine() const;

    // Ends the batch and gives its results text: the merged reports (or
    // kCompletedText when there are none), then the summary line.
    std::string finish();

private:
    enum class Kind { Interval, PickedFiles };

    BatchRun(Kind kind, BatchSettings settings) : kind_(kind), settings_(std::move(settings)) {}
    BatchStep intervalStep(int index);
    BatchStep pickedFileStep(int index);

    Kind kind_;
    BatchSettings settings_;
    std::string dataDirectory_;
    double minute_ = 0.0;
    std::vector<std::string> paths_;
    std::string settingsPath_;

    BatchCounts counts_;
    OutputMerger merger_;
    std::string results_;
    bool runPending_ = false;
    std::string pendingCommandText_;
    bool stopRequested_ = false;
    bool ended_ = false;
    bool notStartedReported_ = false;
};

}  // namespace tremcvt
