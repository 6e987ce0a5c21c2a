#include "launcher/core/batch_run.h"

#include <algorithm>
#include <filesystem>
#include <utility>

#include "common/batch/win_files.h"
#include "launcher/core/launcher_settings.h"

namespace tremcvt {
namespace {

constexpr double kSecondsPerMinute = 60.0;

std::string fileNameOf(const std::string& path)
{
    return std::filesystem::path(path).filename().string();
}

}  // namespace

BatchRun BatchRun::interval(BatchSettings settings, std::string dataDirectory, const StartTime& start,
                            int stepCount)
{
    BatchRun batch(Kind::Interval, std::move(settings));
    batch.dataDirectory_ = std::move(dataDirectory);
    batch.minute_ = startSeconds(start);
    batch.counts_.steps = std::max(stepCount, 0);
    return batch;
}

BatchRun BatchRun::pickedFiles(BatchSettings settings, std::vector<std::string> paths, std::string settingsPath)
{
    BatchRun batch(Kind::PickedFiles, std::move(settings));
    sortByFileName(paths);
    batch.counts_.steps = static_cast<int>(paths.size());
    batch.paths_ = std::move(paths);
    batch.settingsPath_ = std::move(settingsPath);
    return batch;
}

std::optional<BatchStep> BatchRun::nextStep()
{
    runPending_ = false;
    if (ended_ || stopRequested_ || counts_.stepsStarted >= counts_.steps) return std::nullopt;
    const int index = counts_.stepsStarted++;
    BatchStep step = kind_ == Kind::Interval ? intervalStep(index) : pickedFileStep(index);
    runPending_ = step.command.has_value();
    if (runPending_) pendingCommandText_ = step.command->displayText;
    return step;
}

BatchStep BatchRun::intervalStep(int index)
{
    BatchStep step;
    step.index = index;
    MinuteName name;
    const bool dated = minuteName(minute_, name);
    minute_ += kSecondsPerMinute;
    if (!dated) {
        ++counts_.minutesMissing;
        return step;
    }
    step.fileName = winFileName(name);
    if (const std::optional<std::string> path =
            FindWinFile(dataDirectory_, name, results_, ReportLineEnd::kCrLf)) {
        step.command = buildConverterCommand(settings_.station, *path, settings_.cssPath, std::nullopt);
    } else {
        ++counts_.minutesMissing;
    }
    return step;
}

BatchStep BatchRun::pickedFileStep(int index)
{
    const std::string& path = paths_[static_cast<std::size_t>(index)];
    BatchStep step;
    step.index = index;
    step.fileName = fileNameOf(path);
    step.command = buildConverterCommand(settings_.station, path, settings_.cssPath, archiveDirectory(settingsPath_));
    return step;
}

void BatchRun::recordRun(const RunResult& result)
{
    if (!runPending_) return;
    runPending_ = false;
    switch (result.end) {
    case RunEnd::Exited:
    case RunEnd::Crashed:
        merger_.merge(result.output, results_);
        if (isFailedRun(result)) {
            ++counts_.converterFailures;
        } else {
            ++counts_.filesConverted;
        }
        break;
    case RunEnd::TimedOut:
        ++counts_.timeOuts;
        break;
    case RunEnd::NotStarted:
        ++counts_.notStarted;
        if (!notStartedReported_) {
            notStartedReported_ = true;
            results_ += "The converter could not be started: " + pendingCommandText_ + " (looked for " +
                        settings_.converter.searched + ").\r\n";
        }
        break;
    }
}

std::string BatchRun::progressText(const BatchStep& step) const
{
    return std::to_string(step.index + 1) + " / " + std::to_string(counts_.steps) + "  " + step.fileName;
}

int BatchRun::progressMaximum() const
{
    return std::max(counts_.steps - 1, 1);
}

int BatchRun::progressEndPosition() const
{
    return std::min(counts_.stepsStarted, progressMaximum());
}

std::string completionMessage(const BatchCounts& counts)
{
    // The source and the compilers' execution character set are UTF-8.
    return "Операция завершена!\nОшибки = " + std::to_string(counts.failures());
}

std::string BatchRun::summaryLine() const
{
    std::string line = "Steps: " + std::to_string(counts_.steps);
    if (stopRequested_) line += " (stopped, " + std::to_string(counts_.stepsLeftUndone()) + " left undone)";
    line += ", files converted: " + std::to_string(counts_.filesConverted) +
            ", minutes missing: " + std::to_string(counts_.minutesMissing) +
            ", failed runs: " + std::to_string(counts_.failedRuns()) +
            " (time-outs: " + std::to_string(counts_.timeOuts) +
            ", converter failures: " + std::to_string(counts_.converterFailures) +
            ", not started: " + std::to_string(counts_.notStarted) + ").\r\n";
    return line;
}

std::string BatchRun::finish()
{
    ended_ = true;
    runPending_ = false;
    std::string text = results_.empty() ? std::string(kCompletedText) : results_;
    if (text.back() != '\n') text += "\r\n";
    return text + summaryLine();
}

}  // namespace tremcvt
