#include "converter/batch/batch_job.h"

#include <chrono>
#include <fstream>
#include <iostream>
#include <iterator>
#include <optional>
#include <sstream>
#include <string>
#include <vector>

#include "common/batch/output_merger.h"
#include "common/batch/time_texts.h"
#include "common/batch/win_files.h"
#include "common/exit_codes.h"
#include "common/platform.h"
#include "common/profile.h"
#include "converter/archive/archive_database.h"
#include "converter/driver/conversion_run.h"
#include "converter/driver/run_report.h"
#include "converter/driver/settings.h"
#include "converter/writers/mseed_writer.h"

namespace tremcvt {
namespace {

using Clock = std::chrono::steady_clock;

struct PlannedFile {
    std::string path;                 // empty for a minute not yet looked up
    std::optional<MinuteName> minute;  // an interval's minute
};

std::string formatSeconds(double seconds)
{
    const auto whole = static_cast<long long>(seconds + 0.5);
    char text[32];
    if (whole >= 3600)
        std::snprintf(text, sizeof text, "%lld:%02lld:%02lld", whole / 3600, whole / 60 % 60, whole % 60);
    else
        std::snprintf(text, sizeof text, "%lld:%02lld", whole / 60, whole % 60);
    return text;
}

// Progress on standard error: one line drawn in place on a terminal, plain
// lines every ten seconds elsewhere (a log that a scheduler keeps).
class Progress {
public:
    Progress(std::FILE* err, int total) : err_(err), total_(total), terminal_(isTerminal(err)) {}

    void show(int done, const std::string& current)
    {
        const Clock::time_point now = Clock::now();
        const double elapsed = std::chrono::duration<double>(now - start_).count();
        const double rate = elapsed > 0.0 ? done / elapsed : 0.0;
        const std::string left = rate > 0.0 ? formatSeconds((total_ - done) / rate) : std::string("?");
        if (terminal_) {
            if (done > 0 && done < total_ && now - shown_ < std::chrono::milliseconds(100)) return;
            std::fprintf(err_, "\r%d/%d %s  %.1f files/s, %s left\x1b[K", done, total_, current.c_str(), rate,
                         left.c_str());
            drawn_ = true;
        } else {
            if (now - shown_ < std::chrono::seconds(10)) return;
            std::fprintf(err_, "tremcvt_batch: %d of %d files, %.1f files/s, about %s left\n", done, total_, rate,
                         left.c_str());
        }
        shown_ = now;
        std::fflush(err_);
    }

    // Before other lines go to standard error: they start on a line of
    // their own.
    void interrupt()
    {
        if (!drawn_) return;
        std::fputs("\n", err_);
        drawn_ = false;
    }

private:
    std::FILE* err_;
    int total_;
    bool terminal_;
    bool drawn_ = false;
    Clock::time_point start_ = Clock::now();
    Clock::time_point shown_ = Clock::now();
};

// The files of the batch, in the order they are converted: an interval's
// minutes are made one at a time (a year of them needs no list), chosen
// files are held in name order.
class FilePlan {
public:
    // Nothing, with the reason in message, when a list cannot be read.
    static std::optional<FilePlan> make(const BatchOptions& options, std::string& message)
    {
        FilePlan plan;
        if (options.interval) {
            plan.interval_ = true;
            plan.first_ = startSeconds(options.start);
            plan.count_ = intervalStepCount(options.intervalText);
            return plan;
        }
        plan.files_ = options.files;
        if (!options.filesFrom.empty()) {
            std::string text;
            if (options.filesFrom == "-") {
                text.assign(std::istreambuf_iterator<char>(std::cin), std::istreambuf_iterator<char>());
            } else {
                std::ifstream list(options.filesFrom, std::ios::binary);
                if (!list) {
                    message = "tremcvt_batch: cannot read the list " + options.filesFrom + "\n";
                    return std::nullopt;
                }
                std::ostringstream all;
                all << list.rdbuf();
                text = all.str();
            }
            plan.files_ = readFileList(text);
        }
        // Name order is the time order of WIN files by minute, whatever
        // order they were given in: out of order, minutes would fragment the
        // archive.
        sortByFileName(plan.files_);
        plan.count_ = static_cast<int>(plan.files_.size());
        return plan;
    }

    int count() const { return count_; }

    // File number i (from 0); a minute that no date forms is skipped as if
    // its file were missing.
    PlannedFile at(int i) const
    {
        if (!interval_) return PlannedFile{files_[static_cast<std::size_t>(i)], std::nullopt};
        MinuteName name;
        if (!minuteName(first_ + 60.0 * i, name)) return PlannedFile{};
        return PlannedFile{std::string(), name};
    }

private:
    bool interval_ = false;
    double first_ = 0.0;
    int count_ = 0;
    std::vector<std::string> files_;
};

// The options as a conversion takes them, gathered once for the whole batch
// exactly as tremcvt gathers its command line; the WIN path stands in until
// each file sets its own. A value that does not fit its field is refused
// here, before anything is touched.
SettingsResult gatherBatchSettings(const BatchOptions& options)
{
    std::vector<std::string> arguments = {"tremcvt", options.station, options.interval ? options.directory : "-"};
    arguments.insert(arguments.end(), options.converterOptions.begin(), options.converterOptions.end());
    std::vector<const char*> argv;
    for (const std::string& argument : arguments) argv.push_back(argument.c_str());
    return gatherSettings(static_cast<int>(argv.size()), argv.data());
}

// Where one planned file is. A minute is looked up in the data directory;
// its lookup lines keep the platform's own line ends.
struct LocatedFile {
    std::optional<std::string> path;  // nothing: the file is missing
    std::string name;                 // shown in the progress, or listed as missing
    std::string lookupText;           // "File open error" lines of the layouts tried
    bool dated = true;                // false: no date forms for the minute
};

LocatedFile locateFile(const PlannedFile& file, int index, const std::string& directory)
{
    LocatedFile located;
    if (!file.minute && file.path.empty()) {
        located.dated = false;
        located.name = "minute " + std::to_string(index + 1) + " of the interval (no date)";
        return located;
    }
    if (!file.minute) {
        located.path = file.path;
        located.name = file.path;
        return located;
    }
    located.name = winFileName(*file.minute);
    located.path = FindWinFile(directory, *file.minute, located.lookupText, ReportLineEnd::kPlatform);
    return located;
}

// Whether the conversion hit a database that went away: a failed connection
// test, or failures that a connection test now confirms.
bool lostConnection(const ConversionOutcome& outcome, ArchiveDatabase& database)
{
    if (outcome.connectionLost) return true;
    const bool archiveFailed = outcome.failedOutput == OutputKind::kArchive;
    if (!archiveFailed && outcome.databaseErrors == 0) return false;
    return !database.testConnection();
}

// One file's conversion, with its report kept for merging.
struct FileConversion {
    ConversionOutcome outcome;
    RunReport report;
    bool reconnected = false;     // the connection was made again once
    bool connectionGone = false;  // and that failed: the batch cannot go on
};

RunReport fileReport(const std::string& path)
{
    return RunReport(nullptr, nullptr, "tremcvt_batch: " + path + ": ");
}

// Converts one file. When the database went away, connects again once and
// converts the file again (a store cut off half-way is repaired by that).
// Settings that were refused count as a file that could not be opened.
FileConversion convertFile(const SettingsResult& settings, const std::string& path, ArchiveDatabase& database)
{
    FileConversion conversion{ConversionOutcome{}, fileReport(path)};
    if (settings.status != SettingsStatus::kReady) {
        conversion.report.write(settings.message);
        conversion.outcome.winFileNotOpened = true;
        return conversion;
    }
    conversion.outcome = convertWinFile(settings.settings, database, conversion.report);
    if (!lostConnection(conversion.outcome, database)) return conversion;
    conversion.reconnected = true;
    if (!database.connect()) {
        conversion.connectionGone = true;
        return conversion;
    }
    conversion.report = fileReport(path);
    conversion.outcome = convertWinFile(settings.settings, database, conversion.report);
    return conversion;
}

// Counts a converted file in the summary: as converted, or by its failure
// (listed with the reason the summary gives for it).
void countFile(BatchSummary& summary, ConversionClass kind, const std::string& path)
{
    struct Counted {
        ConversionClass kind;
        int BatchSummary::*counter;
    };
    static constexpr Counted kCounted[] = {
        {ConversionClass::kOpenFailed, &BatchSummary::openFailures},
        {ConversionClass::kError, &BatchSummary::otherFailures},
        {ConversionClass::kCatalogueWrite, &BatchSummary::catalogueFailures},
        {ConversionClass::kCssWrite, &BatchSummary::cssFailures},
        {ConversionClass::kMseedWrite, &BatchSummary::otherFailures},
    };
    for (const Counted& counted : kCounted) {
        if (counted.kind != kind) continue;
        ++(summary.*counted.counter);
        summary.failed.push_back(path + " (" + conversionClassName(kind) + ")");
        return;
    }
    ++summary.converted;
}

// A file's report on standard output, whole or merged as the launcher merges
// reports; its reasons on standard error.
void showReport(const RunReport& report, bool fullReports, OutputMerger& merger, RunReport& direct,
                std::FILE* err)
{
    std::string shown;
    if (fullReports)
        shown = report.text();
    else
        merger.merge(report.text(), shown);
    direct.write(shown);
    std::fputs(report.reasons().c_str(), err);
    std::fflush(err);
}

// What the files of the plan came to, and whether the connection was lost
// for good.
struct FilesDone {
    BatchSummary summary;
    bool connectionGone = false;
};

// Converts the planned files in order over the connected database.
FilesDone convertFiles(const FilePlan& plan, const BatchOptions& options, const ConverterSettings& settings,
                       ArchiveDatabase& database, RunReport& direct, std::FILE* err)
{
    FilesDone result;
    BatchSummary& summary = result.summary;
    summary.files = plan.count();
    OutputMerger merger;
    Progress progress(err, summary.files);
    int done = 0;
    for (int i = 0; i < plan.count(); ++i) {
        const LocatedFile located = locateFile(plan.at(i), i, options.directory);
        if (located.dated) {
            direct.write(located.lookupText);
            progress.show(done, located.name);
        }
        if (!located.path) {
            summary.missing.push_back(located.name);
            ++done;
            continue;
        }
        const std::string& path = *located.path;
        const SettingsResult fileSettings = settingsForWinFile(settings, path);
        const FileConversion conversion = convertFile(fileSettings, path, database);
        if (conversion.reconnected) ++summary.reconnections;
        progress.interrupt();
        ++done;
        if (conversion.connectionGone) {
            reportConnectionError(fileSettings.settings, database, direct);
            ++summary.connectionFailures;
            summary.failed.push_back(path + " (connection)");
            result.connectionGone = true;
            break;
        }
        showReport(conversion.report, options.fullReports, merger, direct, err);
        summary.channelProblems += conversion.outcome.problemCount;
        summary.irregularChannels += conversion.outcome.irregularChannels;
        const ConversionClass kind = classifyConversion(conversion.outcome);
        countFile(summary, kind, path);
        if (kind != ConversionClass::kConverted && options.stopOnError) break;
    }
    summary.leftUndone = summary.files - done;
    progress.show(done, "");
    progress.interrupt();
    return result;
}

// The exit status a batch ends with.
int batchExitStatus(const FilesDone& done)
{
    if (done.connectionGone) return processExitStatus(kExitConnectionFailed);
    if (done.summary.failures() > 0) return kBatchExitFailures;
    if (!done.summary.missing.empty()) return kBatchExitMissingFiles;
    return kBatchExitOk;
}

}  // namespace

std::string formatBatchSummary(const BatchSummary& s)
{
    std::ostringstream out;
    out << "Batch: " << s.files << " files, " << s.converted << " converted, " << s.missing.size()
        << " missing, " << s.failures() << " failed (connection " << s.connectionFailures << ", open "
        << s.openFailures << ", catalogue write " << s.catalogueFailures << ", CSS write " << s.cssFailures
        << ", other " << s.otherFailures << "), ";
    if (s.leftUndone > 0) out << s.leftUndone << " left undone, ";
    char wall[32];
    std::snprintf(wall, sizeof wall, "%.1f", s.wallSeconds);
    out << s.channelProblems << " channel problems, " << s.irregularChannels << " irregular channels, "
        << s.reconnections << " reconnections, wall " << wall
        << " s\n";
    for (const std::string& minute : s.missing) out << "Missing: " << minute << "\n";
    for (const std::string& file : s.failed) out << "Failed: " << file << "\n";
    return out.str();
}

int runBatch(const BatchOptions& options, std::FILE* out, std::FILE* err)
{
    const Clock::time_point started = Clock::now();
    std::string message;
    const std::optional<FilePlan> plan = FilePlan::make(options, message);
    if (!plan) {
        std::fputs(message.c_str(), err);
        return kBatchExitUsage;
    }

    // Every INI file is parsed once for the whole batch.
    const ProfileReadCache profileCache;
    const SettingsResult gathered = gatherBatchSettings(options);
    if (gathered.status != SettingsStatus::kReady) {
        std::fputs(gathered.message.c_str(), err);
        return kBatchExitUsage;
    }
    if (gathered.settings.mseedOutput && !mseedOutputAvailable()) {
        std::fputs(kMseedUnavailableText, err);
        return kBatchExitUsage;
    }

    ArchiveDatabase database(archiveSettings(gathered.settings));
    RunReport direct(out, err, "tremcvt_batch: ");
    if (!database.connect()) {
        reportConnectionError(gathered.settings, database, direct);
        return processExitStatus(kExitConnectionFailed);
    }

    FilesDone done = convertFiles(*plan, options, gathered.settings, database, direct, err);
    database.disconnect();

    done.summary.wallSeconds = std::chrono::duration<double>(Clock::now() - started).count();
    direct.write(formatBatchSummary(done.summary));
    return batchExitStatus(done);
}

}  // namespace tremcvt
