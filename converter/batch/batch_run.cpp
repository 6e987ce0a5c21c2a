#include "converter/batch/batch_run.h"

#include <chrono>
#include <fstream>
#include <iostream>
#include <iterator>
#include <optional>
#include <sstream>

#include "common/exit_codes.h"
#include "common/platform.h"
#include "common/profile.h"
#include "converter/archive/archive_database.h"
#include "converter/driver/conversion_run.h"
#include "converter/driver/mseed_output.h"
#include "converter/driver/run_report.h"
#include "converter/driver/settings.h"
#include "converter/writers/mseed_writer.h"
#include "launcher/core/output_merger.h"
#include "launcher/core/time_texts.h"
#include "launcher/core/win_files.h"

namespace tremcvt {
namespace {

using Clock = std::chrono::steady_clock;

struct PlannedFile {
    std::string path;                 // empty for a minute not yet looked up
    std::optional<MinuteName> minute;  // an interval's minute
};

// The launcher's results text ends its lines with CR LF; a console keeps the
// platform's own line ends.
std::string platformLines(std::string text)
{
#ifndef _WIN32
    std::string out;
    out.reserve(text.size());
    for (std::size_t i = 0; i < text.size(); ++i)
        if (!(text[i] == '\r' && i + 1 < text.size() && text[i + 1] == '\n')) out += text[i];
    return out;
#else
    return text;
#endif
}

// The settings of one file's conversion, gathered exactly as tremcvt gathers
// them from its command line.
SettingsResult settingsFor(const BatchOptions& options, const std::string& path)
{
    std::vector<std::string> arguments = {"tremcvt", options.station, path};
    arguments.insert(arguments.end(), options.converterOptions.begin(), options.converterOptions.end());
    std::vector<const char*> argv;
    for (const std::string& argument : arguments) argv.push_back(argument.c_str());
    return gatherSettings(static_cast<int>(argv.size()), argv.data());
}

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

// Whether the conversion hit a database that went away: a failed connection
// test, or failures that a connection test now confirms.
bool lostConnection(const ConversionOutcome& outcome, ArchiveDatabase& database)
{
    if (outcome.connectionLost) return true;
    if (outcome.unstoredChannels == 0 && outcome.databaseErrors == 0) return false;
    return !database.testConnection();
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
    out << s.channelProblems << " channel problems, " << s.reconnections << " reconnections, wall " << wall
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
    // The options as a conversion takes them; a value that does not fit its
    // field refuses the whole batch before anything is touched.
    const SettingsResult first = settingsFor(options, options.interval ? options.directory : "-");
    if (first.status != SettingsStatus::kReady) {
        std::fputs(first.message.c_str(), err);
        return kBatchExitUsage;
    }
    if (first.settings.mseedOutput && !mseedOutputAvailable()) {
        std::fputs(kMseedUnavailableText, err);
        return kBatchExitUsage;
    }

    ArchiveDatabase database(archiveSettings(first.settings));
    RunReport direct(out, err, "tremcvt_batch: ");
    if (!database.connect()) {
        reportConnectionError(first.settings, database, direct);
        return processExitStatus(kExitConnectionFailed);
    }

    BatchSummary summary;
    summary.files = plan->count();
    OutputMerger merger;
    Progress progress(err, summary.files);
    bool connectionGone = false;
    int done = 0;
    for (int i = 0; i < plan->count(); ++i) {
        PlannedFile file = plan->at(i);
        if (!file.minute && file.path.empty()) {
            summary.missing.push_back("minute " + std::to_string(i + 1) + " of the interval (no date)");
            ++done;
            continue;
        }
        if (file.minute) {
            std::string lookup;
            const std::optional<std::string> found = FindWinFile(options.directory, *file.minute, lookup);
            direct.write(platformLines(lookup));
            progress.show(done, winFileName(*file.minute));
            if (!found) {
                summary.missing.push_back(winFileName(*file.minute));
                ++done;
                continue;
            }
            file.path = *found;
        } else {
            progress.show(done, file.path);
        }

        const SettingsResult settings = settingsFor(options, file.path);
        ConversionOutcome outcome;
        RunReport report(nullptr, nullptr, "tremcvt_batch: " + file.path + ": ");
        if (settings.status != SettingsStatus::kReady) {
            report.write(settings.message);
            outcome.winFileNotOpened = true;
        } else {
            outcome = convertWinFile(settings.settings, database, report);
            // The database went away: connect again once and convert the
            // file again (a store cut off half-way is repaired by that).
            if (lostConnection(outcome, database)) {
                ++summary.reconnections;
                if (!database.connect()) {
                    connectionGone = true;
                } else {
                    report = RunReport(nullptr, nullptr, "tremcvt_batch: " + file.path + ": ");
                    outcome = convertWinFile(settings.settings, database, report);
                }
            }
        }
        progress.interrupt();
        if (connectionGone) {
            reportConnectionError(settings.settings, database, direct);
            ++summary.connectionFailures;
            summary.failed.push_back(file.path + " (connection)");
            ++done;
            break;
        }

        std::string shown;
        if (options.fullReports)
            shown = report.text();
        else
            merger.merge(report.text(), shown);
        direct.write(shown);
        std::fputs(report.reasons().c_str(), err);
        std::fflush(err);

        summary.channelProblems += outcome.problemCount;
        const char* why = nullptr;
        if (outcome.winFileNotOpened) {
            ++summary.openFailures;
            why = "open";
        } else if (outcome.exitCode == kExitException) {
            ++summary.otherFailures;
            why = "error";
        } else if (outcome.unstoredChannels > 0) {
            ++summary.catalogueFailures;
            why = "catalogue write";
        } else if (outcome.cssWriteFailed) {
            ++summary.cssFailures;
            why = "CSS write";
        } else if (outcome.mseedUnstoredChannels > 0) {
            ++summary.otherFailures;
            why = "miniSEED write";
        } else {
            ++summary.converted;
        }
        ++done;
        if (why != nullptr) {
            summary.failed.push_back(file.path + " (" + why + ")");
            if (options.stopOnError) break;
        }
    }
    summary.leftUndone = summary.files - done;
    progress.show(done, "");
    progress.interrupt();
    database.disconnect();

    summary.wallSeconds = std::chrono::duration<double>(Clock::now() - started).count();
    direct.write(formatBatchSummary(summary));
    if (connectionGone) return processExitStatus(kExitConnectionFailed);
    if (summary.failures() > 0) return kBatchExitFailures;
    if (!summary.missing.empty()) return kBatchExitMissingFiles;
    return kBatchExitOk;
}

}  // namespace tremcvt
