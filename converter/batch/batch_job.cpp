#include "converter/batch/batch_job.h"
#include "converter/batch/batch_internal.h"

#include <algorithm>
#include <atomic>
#include <chrono>
#include <filesystem>
#include <fstream>
#include <iostream>
#include <iterator>
#include <mutex>
#include <optional>
#include <sstream>
#include <string>
#include <thread>
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

// The batch's standard output and standard error, shared by every worker:
// the texts of one file go out whole under one lock, never mixed with
// another file's, and the progress counts the files of all workers.
class BatchLog {
public:
    BatchLog(std::FILE* out, std::FILE* err, int total) : out_(out), err_(err), progress_(err, total) {}

    // A file is about to be converted: the progress names it.
    void starting(const std::string& name)
    {
        const std::lock_guard<std::mutex> held(lock_);
        progress_.show(done_, name);
    }

    // A file is done: its reports and lookup lines to standard output, its
    // reasons to standard error.
    void fileDone(const std::string& text, const std::string& reasons, const std::string& name = std::string())
    {
        const std::lock_guard<std::mutex> held(lock_);
        if (!reasons.empty() || !text.empty()) progress_.interrupt();
        if (!text.empty()) {
            std::fputs(text.c_str(), out_);
            std::fflush(out_);
        }
        std::fputs(reasons.c_str(), err_);
        std::fflush(err_);
        ++done_;
        if (!name.empty()) progress_.show(done_, name);
    }

    // A line on standard error (a station that cannot be converted).
    void note(const std::string& line)
    {
        const std::lock_guard<std::mutex> held(lock_);
        progress_.interrupt();
        std::fputs(line.c_str(), err_);
        std::fflush(err_);
    }

    void finish()
    {
        const std::lock_guard<std::mutex> held(lock_);
        progress_.show(done_, "");
        progress_.interrupt();
    }

private:
    std::mutex lock_;
    std::FILE* out_;
    std::FILE* err_;
    Progress progress_;
    int done_ = 0;
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

}  // namespace

// The options as a conversion takes them, gathered once for the whole batch
// exactly as tremcvt gathers its command line; the WIN path stands in until
// each file sets its own. A value that does not fit its field is refused
// here, before anything is touched.
SettingsResult gatherBatchSettings(const BatchOptions& options)
{
    std::vector<std::string> arguments = {"tremcvt", options.station,
                                          options.interval || options.follow ? options.directory : "-"};
    arguments.insert(arguments.end(), options.converterOptions.begin(), options.converterOptions.end());
    std::vector<const char*> argv;
    for (const std::string& argument : arguments) argv.push_back(argument.c_str());
    return gatherSettings(static_cast<int>(argv.size()), argv.data());
}

namespace {

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

}  // namespace

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

// A file's report as standard output shows it: whole, or merged as the
// launcher merges reports.
std::string shownReport(const RunReport& report, bool fullReports, OutputMerger& merger)
{
    if (fullReports) return report.text();
    std::string shown;
    merger.merge(report.text(), shown);
    return shown;
}

namespace {

// What the files of the plan came to, and whether the connection was lost
// for good.
struct FilesDone {
    BatchSummary summary;
    bool connectionGone = false;
};

// Converts the planned files in order over the connected database, the
// minutes below directory. Stops before the next file once stop is set
// (another worker lost its connection or met a failure with
// --stop-on-error). The progress names each file after `station`.
FilesDone convertFiles(const FilePlan& plan, const BatchOptions& options, const std::string& directory,
                       const ConverterSettings& settings, ArchiveDatabase& database, BatchLog& log,
                       const std::atomic<bool>& stop, const std::string& station = std::string())
{
    FilesDone result;
    BatchSummary& summary = result.summary;
    summary.files = plan.count();
    OutputMerger merger;
    int done = 0;
    for (int i = 0; i < plan.count() && !stop; ++i) {
        const LocatedFile located = locateFile(plan.at(i), i, directory);
        if (!located.path) {
            summary.missing.push_back(located.name);
            ++done;
            log.fileDone(located.lookupText, std::string(), located.dated ? station + located.name : std::string());
            continue;
        }
        if (located.dated) log.starting(station + located.name);
        const std::string& path = *located.path;
        const SettingsResult fileSettings = settingsForWinFile(settings, path);
        const FileConversion conversion = convertFile(fileSettings, path, database);
        if (conversion.reconnected) ++summary.reconnections;
        ++done;
        if (conversion.connectionGone) {
            RunReport lost = fileReport(path);
            lost.write(located.lookupText);
            reportConnectionError(fileSettings.settings, database, lost);
            log.fileDone(lost.text(), lost.reasons());
            ++summary.connectionFailures;
            summary.failed.push_back(path + " (connection)");
            result.connectionGone = true;
            break;
        }
        log.fileDone(located.lookupText + shownReport(conversion.report, options.fullReports, merger),
                     conversion.report.reasons());
        summary.channelProblems += conversion.outcome.problemCount;
        summary.irregularChannels += conversion.outcome.irregularChannels;
        const ConversionClass kind = classifyConversion(conversion.outcome);
        countFile(summary, kind, path);
        if (kind != ConversionClass::kConverted && options.stopOnError) break;
    }
    summary.leftUndone = summary.files - done;
    return result;
}

// The exit status a batch ends with.
int batchExitStatus(const FilesDone& done)
{
    if (done.connectionGone) return processExitStatus(kExitConnectionFailed);
    if (done.summary.failures() > 0) return kBatchExitFailures;
    if (!done.summary.missing.empty() || !done.summary.stationsWithoutDirectory.empty())
        return kBatchExitMissingFiles;
    return kBatchExitOk;
}

}  // namespace

// The archive database of a batch: its statements wait for a locked SQLite
// database rather than fail.
ArchiveSettings batchArchiveSettings(const ConverterSettings& settings)
{
    ArchiveSettings archive = archiveSettings(settings);
    archive.busyTimeoutMilliseconds = kBatchBusyTimeoutMilliseconds;
    return archive;
}

// Adds what one station's files came to into the batch's summary; its
// missing minutes are named with the station.
void addStationSummary(BatchSummary& total, const BatchSummary& part, const std::string& station)
{
    total.files += part.files;
    total.converted += part.converted;
    for (const std::string& minute : part.missing) total.missing.push_back(station + " " + minute);
    total.connectionFailures += part.connectionFailures;
    total.openFailures += part.openFailures;
    total.catalogueFailures += part.catalogueFailures;
    total.cssFailures += part.cssFailures;
    total.otherFailures += part.otherFailures;
    total.failed.insert(total.failed.end(), part.failed.begin(), part.failed.end());
    total.leftUndone += part.leftUndone;
    total.channelProblems += part.channelProblems;
    total.irregularChannels += part.irregularChannels;
    total.reconnections += part.reconnections;
}

// The stations that can be converted; each other one is reported on
// standard error and listed in the summary.
std::vector<StationTask> stationTasks(const BatchOptions& options, const std::string& iniPath, BatchSummary& summary,
                                      std::FILE* err)
{
    std::vector<StationTask> tasks;
    const std::vector<StationChoice> chosen =
        chooseStations(readStationEntries(iniPath), options.stationNames, options.shard);
    summary.stationBatch = true;
    summary.stations = static_cast<int>(chosen.size());
    if (chosen.empty()) std::fputs("tremcvt_batch: no station of the station list to convert\n", err);
    for (const StationChoice& station : chosen) {
        std::string why;
        std::error_code error;
        if (!station.directory) {
            why = "not in the station list";
        } else if (station.directory->empty()) {
            why = "no WIN directory (dir of its section, or of [system])";
        } else if (!std::filesystem::is_directory(*station.directory, error)) {
            why = "WIN directory " + *station.directory + " does not exist";
        }
        StationTask task{station.code, station.directory.value_or(std::string()), SettingsResult{}};
        if (why.empty()) {
            BatchOptions own = options;
            own.station = task.code;
            own.directory = task.directory;
            task.settings = gatherBatchSettings(own);
            if (task.settings.status != SettingsStatus::kReady) why = task.settings.message;
            while (!why.empty() && why.back() == '\n') why.pop_back();
        }
        if (!why.empty()) {
            std::fprintf(err, "tremcvt_batch: station %s: %s\n", station.code.c_str(), why.c_str());
            summary.stationsWithoutDirectory.push_back(station.code + " (" + why + ")");
            continue;
        }
        tasks.push_back(std::move(task));
    }
    std::fflush(err);
    return tasks;
}

namespace {

// Converts every station's interval over its own directory, `workers`
// stations at a time. Each worker takes the next station not yet taken and
// keeps one database connection for all the stations it takes, so a station
// is only ever converted by one worker and over one connection. A worker
// whose connection cannot be made, or is lost for good, stops the batch
// before the next file; so does a failed file with --stop-on-error.
FilesDone convertStations(const std::vector<StationTask>& tasks, const FilePlan& plan, const BatchOptions& options,
                          const ConverterSettings& shared, unsigned workers, BatchLog& log)
{
    std::vector<FilesDone> results(tasks.size());
    std::vector<char> started(tasks.size(), 0);  // one element per worker's station
    std::atomic<std::size_t> next{0};
    std::atomic<bool> stop{false};
    const auto work = [&] {
        ArchiveDatabase database(batchArchiveSettings(shared));
        bool connected = false;
        while (!stop) {
            const std::size_t i = next++;
            if (i >= tasks.size()) break;
            const StationTask& task = tasks[i];
            started[i] = 1;
            if (!connected && !database.connect()) {
                RunReport report = fileReport(task.code);
                reportConnectionError(task.settings.settings, database, report);
                log.fileDone(report.text(), report.reasons());
                results[i].connectionGone = true;
                stop = true;
                break;
            }
            connected = true;
            results[i] = convertFiles(plan, options, task.directory, task.settings.settings, database, log, stop,
                                      task.code + " ");
            if (results[i].connectionGone || (options.stopOnError && results[i].summary.failures() > 0)) stop = true;
        }
    };
    std::vector<std::thread> threads;
    for (unsigned w = 1; w < workers; ++w) threads.emplace_back(work);
    work();
    for (std::thread& thread : threads) thread.join();

    FilesDone total;
    for (std::size_t i = 0; i < tasks.size(); ++i) {
        if (!started[i] || results[i].summary.files == 0) {
            // Never taken, or its connection could not be made: its minutes
            // were left undone.
            results[i].summary.files = plan.count();
            results[i].summary.leftUndone = plan.count();
        }
        addStationSummary(total.summary, results[i].summary, tasks[i].code);
        total.connectionGone = total.connectionGone || results[i].connectionGone;
    }
    return total;
}

// How many stations are converted at a time: -j, 0 standing for one per
// processor core, never more than there are stations.
unsigned workerCount(int jobs, std::size_t stations)
{
    unsigned count = jobs > 0 ? static_cast<unsigned>(jobs) : std::max(1u, std::thread::hardware_concurrency());
    if (stations < count) count = static_cast<unsigned>(std::max<std::size_t>(stations, 1));
    return count;
}

}  // namespace

std::vector<StationChoice> chooseStations(const std::vector<StationEntry>& entries,
                                          const std::vector<std::string>& wanted, const std::optional<Shard>& shard)
{
    std::vector<std::string> wantedCodes;
    for (const std::string& name : wanted) wantedCodes.push_back(stationCodeOf(name));
    const auto isWanted = [&](const std::string& code) {
        return wanted.empty() || std::find(wantedCodes.begin(), wantedCodes.end(), code) != wantedCodes.end();
    };
    std::vector<StationChoice> chosen;
    const auto alreadyChosen = [&](const std::string& code) {
        return std::any_of(chosen.begin(), chosen.end(), [&](const StationChoice& c) { return c.code == code; });
    };
    for (const StationEntry& entry : entries) {
        const std::string code = stationCodeOf(entry.name);
        if (code.empty() || !isWanted(code) || alreadyChosen(code)) continue;
        // The directory the launcher shows for the name: that of its last
        // section.
        chosen.push_back(StationChoice{code, stationDirectory(entries, code)});
    }
    for (const std::string& code : wantedCodes) {
        if (!alreadyChosen(code)) chosen.push_back(StationChoice{code, std::nullopt});
    }
    if (!shard) return chosen;
    std::vector<StationChoice> share;
    for (std::size_t position = 0; position < chosen.size(); ++position)
        if (inShard(*shard, position)) share.push_back(chosen[position]);
    return share;
}

std::string formatBatchSummary(const BatchSummary& s)
{
    std::ostringstream out;
    if (s.stationBatch)
        out << "Stations: " << s.stations << ", " << s.stationsWithoutDirectory.size()
            << " without a WIN directory\n";
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
    for (const std::string& station : s.stationsWithoutDirectory) out << "Not converted: " << station << "\n";
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
    // Each conversion writes its wfdisc file from scratch: two stations at a
    // time would write the one file at once.
    if (options.stations && gathered.settings.cssOutput && options.jobs != 1) {
        std::fputs("tremcvt_batch: css= writes one wfdisc file for every conversion; convert the stations "
                   "one at a time (-j 1)\n",
                   err);
        return kBatchExitUsage;
    }

    FilesDone done;
    if (options.stations) {
        const std::vector<StationTask> tasks = stationTasks(options, gathered.settings.iniPath, done.summary, err);
        BatchLog log(out, err, plan->count() * static_cast<int>(tasks.size()));
        BatchSummary stations = std::move(done.summary);
        done = convertStations(tasks, *plan, options, gathered.settings, workerCount(options.jobs, tasks.size()),
                               log);
        done.summary.stationBatch = true;
        done.summary.stations = stations.stations;
        done.summary.stationsWithoutDirectory = std::move(stations.stationsWithoutDirectory);
        log.finish();
    } else {
        ArchiveDatabase database(batchArchiveSettings(gathered.settings));
        if (!database.connect()) {
            RunReport direct(out, err, "tremcvt_batch: ");
            reportConnectionError(gathered.settings, database, direct);
            return processExitStatus(kExitConnectionFailed);
        }
        BatchLog log(out, err, plan->count());
        const std::atomic<bool> never{false};
        done = convertFiles(*plan, options, options.directory, gathered.settings, database, log, never);
        database.disconnect();
        log.finish();
    }

    done.summary.wallSeconds = std::chrono::duration<double>(Clock::now() - started).count();
    std::fputs(formatBatchSummary(done.summary).c_str(), out);
    std::fflush(out);
    return batchExitStatus(done);
}

}  // namespace tremcvt
