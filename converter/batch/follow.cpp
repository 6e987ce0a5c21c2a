#include "converter/batch/follow.h"

#include <algorithm>
#include <array>
#include <atomic>
#include <cctype>
#include <chrono>
#include <cmath>
#include <csignal>
#include <cstdint>
#include <filesystem>
#include <fstream>
#include <map>
#include <memory>
#include <optional>
#include <string>
#include <system_error>
#include <thread>
#include <vector>

#ifndef _WIN32
#include <signal.h>
#endif

#include "common/batch/output_merger.h"
#include "common/batch/time_texts.h"
#include "common/batch/win_files.h"
#include "common/calendar/calendar.h"
#include "common/profile.h"
#include "converter/archive/station_end.h"
#include "converter/batch/batch_internal.h"
#include "converter/writers/mseed_writer.h"

namespace tremcvt {
namespace {

namespace fs = std::filesystem;
using Clock = std::chrono::steady_clock;

// Minutes whose files are watched for changes after their conversion.
constexpr std::int64_t kWatchedMinutes = 120;
// How far a missing minute looks ahead for a later file.
constexpr std::int64_t kLookAheadMinutes = 1440;
constexpr double kLongestBackOffSeconds = 60.0;

std::atomic<bool> stopRequested{false};
// Counts SIGHUPs: each follower reads tremcvt.ini again when it sees a
// count it has not seen yet.
std::atomic<unsigned> reloadsRequested{0};

void onStopSignal(int) { stopRequested = true; }
#ifndef _WIN32
void onReloadSignal(int) { ++reloadsRequested; }
#endif

void installSignalHandlers()
{
#ifdef _WIN32
    std::signal(SIGINT, onStopSignal);
    std::signal(SIGTERM, onStopSignal);
#else
    // SA_RESTART: a read or write of the conversion in hand (the database's
    // socket, a file) goes on rather than fail with EINTR.
    struct sigaction action = {};
    sigemptyset(&action.sa_mask);
    action.sa_flags = SA_RESTART;
    action.sa_handler = onStopSignal;
    sigaction(SIGINT, &action, nullptr);
    sigaction(SIGTERM, &action, nullptr);
    action.sa_handler = onReloadSignal;
    sigaction(SIGHUP, &action, nullptr);
#endif
}

// Waits for the given seconds in steps of at most 0.1 s; false (at once)
// once a stop was asked for.
bool pause(double seconds)
{
    const Clock::time_point until =
        Clock::now() + std::chrono::duration_cast<Clock::duration>(std::chrono::duration<double>(seconds));
    while (!stopRequested) {
        const Clock::time_point now = Clock::now();
        if (now >= until) return true;
        std::this_thread::sleep_for(std::min<Clock::duration>(until - now, std::chrono::milliseconds(100)));
    }
    return false;
}

// What tells a file's versions apart.
struct FileStamp {
    std::uintmax_t size = 0;
    fs::file_time_type written{};

    bool operator==(const FileStamp&) const = default;
};

std::optional<FileStamp> stampOf(const std::string& path)
{
    std::error_code error;
    const std::uintmax_t size = fs::file_size(path, error);
    if (error) return std::nullopt;
    const fs::file_time_type written = fs::last_write_time(path, error);
    if (error) return std::nullopt;
    return FileStamp{size, written};
}

double secondsSince(fs::file_time_type written)
{
    return std::chrono::duration<double>(fs::file_time_type::clock::now() - written).count();
}

MinuteName nameOf(std::int64_t minute)
{
    MinuteName name;
    minuteName(60.0 * static_cast<double>(minute), name);
    return name;
}

// The minute's file where it lies now (the layouts in lookup order), by
// its directory entry alone.
std::optional<std::string> presentFile(const std::string& directory, std::int64_t minute)
{
    for (const std::string& path : winFileLayouts(directory, nameOf(minute))) {
        std::error_code error;
        if (fs::is_regular_file(path, error)) return path;
    }
    return std::nullopt;
}

// YYYY-MM-DDTHH:MM of a minute.
std::string minuteText(std::int64_t minute)
{
    CivilTime civil;
    if (!civilFromSeconds(60.0 * static_cast<double>(minute), civil)) return "?";
    char text[32];
    std::snprintf(text, sizeof text, "%04d-%02d-%02dT%02d:%02d", civil.year, civil.month, civil.day, civil.hour,
                  civil.minute);
    return text;
}

std::string hoursMinutesSeconds(double seconds)
{
    const auto whole = static_cast<long long>(std::max(0.0, seconds) + 0.5);
    char text[32];
    std::snprintf(text, sizeof text, "%lld:%02lld:%02lld", whole / 3600, whole / 60 % 60, whole % 60);
    return text;
}

std::int64_t minuteOf(double seconds) { return static_cast<std::int64_t>(std::floor(seconds / 60.0)); }

// The minute a WIN file name YYMMDDHH.MM stands for; nothing for other names.
std::optional<std::int64_t> minuteOfName(const std::string& name)
{
    if (name.size() != 11 || name[8] != '.') return std::nullopt;
    for (std::size_t i = 0; i < name.size(); ++i)
        if (i != 8 && !std::isdigit(static_cast<unsigned char>(name[i]))) return std::nullopt;
    const auto two = [&](std::size_t at) { return (name[at] - '0') * 10 + (name[at + 1] - '0'); };
    const int yy = two(0);
    char text[32];
    std::snprintf(text, sizeof text, "%04d-%02d-%02dT%02d:%02d", yy >= 70 ? 1900 + yy : 2000 + yy, two(2), two(4),
                  two(6), two(9));
    const std::optional<StartTime> start = parseBatchStart(text);
    if (!start) return std::nullopt;
    return minuteOf(startSeconds(*start));
}

// The earliest minute file in any of the three layouts below directory.
std::optional<std::int64_t> earliestMinuteFile(const std::string& directory)
{
    std::optional<std::int64_t> earliest;
    std::error_code error;
    for (fs::recursive_directory_iterator it(directory, error), end; !error && it != end; it.increment(error)) {
        if (it.depth() >= 2) it.disable_recursion_pending();
        if (!it->is_regular_file(error)) continue;
        const std::optional<std::int64_t> minute = minuteOfName(it->path().filename().string());
        if (minute && (!earliest || *minute < *earliest)) earliest = minute;
    }
    return earliest;
}

// The end of the last record of a miniSEED 2 day file (its fixed header:
// start time, sample count and rate, big-endian).
std::optional<double> lastRecordEnd(const fs::path& path)
{
    std::ifstream file(path, std::ios::binary | std::ios::ate);
    const std::streamoff size = file ? static_cast<std::streamoff>(file.tellg()) : 0;
    if (size < static_cast<std::streamoff>(kMseedRecordLength)) return std::nullopt;
    std::array<unsigned char, 48> header{};
    file.seekg(size - static_cast<std::streamoff>(kMseedRecordLength));
    if (!file.read(reinterpret_cast<char*>(header.data()), header.size())) return std::nullopt;
    const auto u16 = [&](std::size_t at) { return header[at] << 8 | header[at + 1]; };
    const auto s16 = [&](std::size_t at) { return static_cast<std::int16_t>(u16(at)); };
    const int factor = s16(32), multiplier = s16(34);
    double rate = 0.0;
    if (factor > 0 && multiplier > 0) rate = static_cast<double>(factor) * multiplier;
    else if (factor > 0 && multiplier < 0) rate = -static_cast<double>(factor) / multiplier;
    else if (factor < 0 && multiplier > 0) rate = -static_cast<double>(multiplier) / factor;
    else if (factor < 0 && multiplier < 0) rate = 1.0 / (static_cast<double>(factor) * multiplier);
    const int year = u16(20), dayOfYear = u16(22);
    if (rate <= 0.0 || year < 1970 || year > 2099 || dayOfYear < 1 || dayOfYear > 366) return std::nullopt;
    const double start = startSeconds(StartTime{year, 1, 1, header[24], header[25]}) + 86400.0 * (dayOfYear - 1) +
                         header[26] + u16(28) / 10000.0;
    return start + u16(30) / rate;
}

// The latest end among the station's SDS day files of the latest day that
// has any: <root>/<YEAR>/<NET>/<STA>/<CHAN>.D/<NET>.<STA>..<CHAN>.D.<YEAR>.<DOY>.
std::optional<double> latestSdsEnd(const std::string& root, const std::string& station)
{
    std::error_code error;
    std::vector<fs::path> years;
    for (fs::directory_iterator it(root, error), end; !error && it != end; it.increment(error))
        if (it->is_directory(error)) years.push_back(it->path());
    std::sort(years.rbegin(), years.rend());
    for (const fs::path& year : years) {
        std::vector<fs::path> days;
        for (fs::directory_iterator net(year, error), end; !error && net != end; net.increment(error))
            for (fs::directory_iterator chan(net->path() / station, error); !error && chan != end;
                 chan.increment(error))
                for (fs::directory_iterator day(chan->path(), error); !error && day != end; day.increment(error))
                    days.push_back(day->path());
        error.clear();
        if (days.empty()) continue;
        const auto dayNumber = [](const fs::path& p) { return p.filename().string().substr(p.filename().string().size() - 3); };
        std::sort(days.begin(), days.end(), [&](const fs::path& a, const fs::path& b) { return dayNumber(a) > dayNumber(b); });
        std::optional<double> latest;
        for (const fs::path& day : days) {
            if (dayNumber(day) != dayNumber(days.front())) break;
            const std::optional<double> end = lastRecordEnd(day);
            if (end && (!latest || *end > *latest)) latest = end;
        }
        if (latest) return latest;
    }
    return std::nullopt;
}

std::string upperCase(std::string text)
{
    for (char& c : text) c = static_cast<char>(std::toupper(static_cast<unsigned char>(c)));
    return text;
}

// Why the output of the settings cannot be followed; nullptr when it can.
const char* outputRefusal(const ConverterSettings& settings)
{
    if (settings.cssOutput)
        return "tremcvt_batch: css= writes one wfdisc file for every conversion and cannot follow; "
               "follow into the archive or mseed=\n";
    if (settings.mseedOutput && !mseedOutputAvailable()) return kMseedUnavailableText;
    return nullptr;
}

class Follower {
public:
    // cacheIni: the INI files are parsed once (and again on SIGHUP); only
    // for a follower alone in its process, the cache being the process's.
    Follower(const BatchOptions& options, std::FILE* out, std::FILE* err, bool cacheIni)
        : options_(options), out_(out), err_(err), cacheIni_(cacheIni),
          poll_(std::max(0.1, std::min(options.settleSeconds / 4.0, 5.0)))
    {
    }

    const BatchSummary& summary() const { return summary_; }

    // Follows until a stop is asked for: kBatchExitOk, or kBatchExitUsage
    // when the settings are refused.
    int run()
    {
        if (cacheIni_) cache_.emplace();
        settings_ = gatherBatchSettings(options_);
        if (settings_.status != SettingsStatus::kReady) {
            std::fputs(settings_.message.c_str(), err_);
            return kBatchExitUsage;
        }
        if (const char* refused = outputRefusal(settings_.settings)) {
            std::fputs(refused, err_);
            return kBatchExitUsage;
        }
        database_.configure(batchArchiveSettings(settings_.settings));
        std::optional<std::int64_t> start;
        while (!stopRequested && !(start = startMinute())) pause(poll_);
        if (start) {
            next_ = *start;
            say("following " + options_.directory + " from " + minuteText(next_) + ", settle " +
                std::to_string(options_.settleSeconds) + " s");
            nextStatus_ = Clock::now() + std::chrono::minutes(options_.statusEveryMinutes);
            while (!stopRequested) {
                if (const unsigned reloads = reloadsRequested; reloads != reloadsSeen_) {
                    reloadsSeen_ = reloads;
                    reload();
                }
                const bool worked = step();
                caughtUp_ = !worked;
                if (Clock::now() >= nextStatus_) {
                    status();
                    nextStatus_ = Clock::now() + std::chrono::minutes(options_.statusEveryMinutes);
                }
                if (!worked) pause(poll_);
            }
            status();
        }
        database_.disconnect();
        summary_.wallSeconds = std::chrono::duration<double>(Clock::now() - started_).count();
        return kBatchExitOk;
    }

private:
    // One line on standard error, named after the station.
    void say(const std::string& line)
    {
        std::fprintf(err_, "tremcvt_batch: %s: %s\n", options_.station.c_str(), line.c_str());
        std::fflush(err_);
    }

    void status()
    {
        double behind = 0.0;
        if (!caughtUp_ && newestConverted_) behind = secondsSince(*newestConverted_);
        std::fprintf(err_, "tremcvt_batch: following %s: %d minutes converted, %zu missing, %d failed, latest %s, "
                           "behind by %s\n",
                     options_.station.c_str(), summary_.converted, summary_.missing.size(), summary_.failures(),
                     latestMinute_ ? minuteText(*latestMinute_).c_str() : "none",
                     hoursMinutesSeconds(behind).c_str());
        std::fflush(err_);
    }

    // The station list and settings read afresh; the old ones stay when the
    // new ones are refused.
    void reload()
    {
        if (cacheIni_) {
            cache_.reset();
            cache_.emplace();
        }
        SettingsResult again = gatherBatchSettings(options_);
        if (again.status != SettingsStatus::kReady || again.settings.cssOutput) {
            say("tremcvt.ini read again but refused; the settings stay as they were");
            std::fputs(again.message.c_str(), err_);
            return;
        }
        settings_ = std::move(again);
        database_.disconnect();
        database_.configure(batchArchiveSettings(settings_.settings));
        say("tremcvt.ini read again");
    }

    // Connects, waiting with a back-off while the database is gone; false
    // when a stop was asked for meanwhile.
    bool ensureConnected()
    {
        double backOff = 1.0;
        bool gone = false;
        while (!database_.isConnected()) {
            if (database_.connect()) break;
            if (!gone) {
                std::string why = database_.lastDiagnostics();
                why = why.substr(0, why.find('\n'));
                say("the database is gone (" + why + "); waiting for it");
                gone = true;
            }
            if (!pause(backOff)) return false;
            backOff = std::min(2 * backOff, kLongestBackOffSeconds);
        }
        if (gone) say("the database is back");
        return true;
    }

    // Where the archive stands: the minute of the station's latest end, or
    // (nothing archived) --from or the earliest minute file. Nothing while
    // neither is known yet.
    std::optional<std::int64_t> startMinute()
    {
        std::optional<double> end;
        if (settings_.settings.mseedOutput) {
            end = latestSdsEnd(settings_.settings.mseed.c_str(), upperCase(settings_.settings.stationCode.c_str()));
        } else {
            if (!ensureConnected()) return std::nullopt;
            const CataloguedEnd catalogued =
                latestCataloguedEnd(database_, upperCase(settings_.settings.stationCode.c_str()));
            if (catalogued.code != kResultOk) {
                database_.disconnect();
                return std::nullopt;
            }
            end = catalogued.end;
        }
        if (end) return minuteOf(*end);
        if (options_.from) return minuteOf(startSeconds(*options_.from));
        return earliestMinuteFile(options_.directory);
    }

    // One piece of work: a changed or late minute converted, the next
    // minute converted or given up. False when there was nothing to do.
    bool step()
    {
        if (recheck()) return true;
        if (const std::optional<std::string> path = presentFile(options_.directory, next_)) {
            const std::optional<FileStamp> stamp = stampOf(*path);
            const bool complete = presentFile(options_.directory, next_ + 1) ||
                                  (stamp && secondsSince(stamp->written) >= options_.settleSeconds);
            if (!complete) return false;
            if (convertMinute(next_)) advance(next_ + 1);
            return true;
        }
        // The look-ahead tries up to a day of names: at rest it runs once
        // per settle time, not at every poll.
        const Clock::time_point now = Clock::now();
        if (lookedAhead_ && now - *lookedAhead_ < std::chrono::duration<double>(options_.settleSeconds)) return false;
        lookedAhead_ = now;
        for (std::int64_t later = next_ + 1; later <= next_ + kLookAheadMinutes; ++later) {
            const std::optional<std::string> path = presentFile(options_.directory, later);
            if (!path) continue;
            const std::optional<FileStamp> stamp = stampOf(*path);
            if (!stamp || secondsSince(stamp->written) < options_.settleSeconds) return false;
            const std::string first = winFileName(nameOf(next_));
            say(later - next_ == 1 ? "no WIN file for " + first + "; going on"
                                   : "no WIN files for " + first + " to " + winFileName(nameOf(later - 1)) + " (" +
                                         std::to_string(later - next_) + " minutes); going on");
            for (std::int64_t minute = next_; minute < later; ++minute) {
                summary_.missing.push_back(winFileName(nameOf(minute)));
                ++summary_.files;
                watched_[minute] = Watched{};
            }
            advance(later);
            return true;
        }
        return false;
    }

    // A watched minute whose file changed (or appeared, after it was given
    // up) and has settled since: converted again. False when none.
    bool recheck()
    {
        for (auto& [minute, watched] : watched_) {
            const std::optional<std::string> path =
                watched.stamp ? std::optional<std::string>(watched.path) : presentFile(options_.directory, minute);
            const std::optional<FileStamp> stamp = path ? stampOf(*path) : std::nullopt;
            if (!stamp || (watched.stamp && *stamp == *watched.stamp)) continue;
            if (secondsSince(stamp->written) < options_.settleSeconds) continue;
            const std::string name = winFileName(nameOf(minute));
            const bool late = !watched.stamp;
            say(late ? name + " arrived after it was given up; converting it" : name + " changed; converting it again");
            const std::int64_t at = minute;  // the entry is replaced by the conversion
            if (!convertMinute(at)) return true;
            if (late) {
                const auto missing = std::find(summary_.missing.begin(), summary_.missing.end(), name);
                if (missing != summary_.missing.end()) summary_.missing.erase(missing);
                --summary_.files;
            }
            return true;
        }
        return false;
    }

    void advance(std::int64_t next)
    {
        next_ = next;
        watched_.erase(watched_.begin(), watched_.lower_bound(next_ - kWatchedMinutes));
    }

    // Converts the minute's file; waits (with a back-off) for a database or
    // a store that is gone and tries the same file again. False when a stop
    // was asked for before it was done.
    bool convertMinute(std::int64_t minute)
    {
        const MinuteName name = nameOf(minute);
        double backOff = 1.0;
        bool refused = false;
        for (;;) {
            if (!ensureConnected()) return false;
            std::string lookup;
            const std::optional<std::string> path =
                FindWinFile(options_.directory, name, lookup, ReportLineEnd::kPlatform);
            const std::optional<FileStamp> stamp = path ? stampOf(*path) : std::nullopt;
            if (!path || !stamp) {
                vanished(winFileName(name));
                return true;
            }
            const FileConversion conversion =
                convertFile(settingsForWinFile(settings_.settings, *path), *path, database_);
            if (conversion.reconnected) ++summary_.reconnections;
            if (conversion.connectionGone) continue;  // ensureConnected waits for it
            const ConversionClass kind = classifyConversion(conversion.outcome);
            if (kind == ConversionClass::kCatalogueWrite || kind == ConversionClass::kMseedWrite) {
                if (!refused) {
                    say("the store refused " + winFileName(name) + "; trying again until it takes it");
                    std::fputs(conversion.report.reasons().c_str(), err_);
                    refused = true;
                }
                if (!pause(backOff)) return false;
                backOff = std::min(2 * backOff, kLongestBackOffSeconds);
                continue;
            }
            if (refused) say("the store took " + winFileName(name));
            std::fputs((lookup + shownReport(conversion.report, options_.fullReports, merger_)).c_str(), out_);
            std::fflush(out_);
            std::fputs(conversion.report.reasons().c_str(), err_);
            std::fflush(err_);
            if (kind == ConversionClass::kOpenFailed) {
                vanished(winFileName(name));
                return true;
            }
            ++summary_.files;
            summary_.channelProblems += conversion.outcome.problemCount;
            summary_.irregularChannels += conversion.outcome.irregularChannels;
            countFile(summary_, kind, *path);
            watched_[minute] = Watched{*path, stamp};
            if (!latestMinute_ || minute >= *latestMinute_) latestMinute_ = minute;
            if (!newestConverted_ || stamp->written > *newestConverted_) newestConverted_ = stamp->written;
            return true;
        }
    }

    void vanished(const std::string& name)
    {
        say(name + " vanished before it was converted");
        ++summary_.files;
        ++summary_.openFailures;
        summary_.failed.push_back(name + " (open)");
    }

    // A minute converted (its file's path and stamp when converted) or
    // given up (no stamp).
    struct Watched {
        std::string path;
        std::optional<FileStamp> stamp;
    };

    const BatchOptions& options_;
    std::FILE* out_;
    std::FILE* err_;
    const bool cacheIni_;
    const double poll_;
    unsigned reloadsSeen_ = reloadsRequested;
    std::optional<ProfileReadCache> cache_;
    SettingsResult settings_;
    ArchiveDatabase database_;
    OutputMerger merger_;
    BatchSummary summary_;
    std::int64_t next_ = 0;
    std::map<std::int64_t, Watched> watched_;
    std::optional<std::int64_t> latestMinute_;
    std::optional<fs::file_time_type> newestConverted_;
    bool caughtUp_ = false;
    std::optional<Clock::time_point> lookedAhead_;  // the last look-ahead for a missing minute
    Clock::time_point nextStatus_;
    const Clock::time_point started_ = Clock::now();
};

}  // namespace

int runFollow(const BatchOptions& options, std::FILE* out, std::FILE* err)
{
    installSignalHandlers();
    if (!options.stations) {
        Follower follower(options, out, err, true);
        const int status = follower.run();
        if (status != kBatchExitOk) return status;
        std::fputs(formatBatchSummary(follower.summary()).c_str(), out);
        std::fflush(out);
        return status;
    }
    // Every station of the choice at once, each over its own directory and
    // database connection; the INI files are read afresh for each file (the
    // process-wide cache could not be renewed by one follower alone).
    const SettingsResult gathered = gatherBatchSettings(options);
    if (gathered.status != SettingsStatus::kReady) {
        std::fputs(gathered.message.c_str(), err);
        return kBatchExitUsage;
    }
    if (const char* refused = outputRefusal(gathered.settings)) {
        std::fputs(refused, err);
        return kBatchExitUsage;
    }
    BatchSummary total;
    const std::vector<StationTask> tasks = stationTasks(options, gathered.settings.iniPath, total, err);
    std::vector<BatchOptions> own(tasks.size(), options);
    std::vector<std::unique_ptr<Follower>> followers;
    for (std::size_t i = 0; i < tasks.size(); ++i) {
        own[i].stations = false;
        own[i].station = tasks[i].code;
        own[i].directory = tasks[i].directory;
        followers.push_back(std::make_unique<Follower>(own[i], out, err, false));
    }
    std::vector<int> statuses(tasks.size(), kBatchExitOk);
    std::vector<std::thread> threads;
    for (std::size_t i = 0; i < followers.size(); ++i)
        threads.emplace_back([&, i] { statuses[i] = followers[i]->run(); });
    for (std::thread& thread : threads) thread.join();
    if (std::find(statuses.begin(), statuses.end(), kBatchExitUsage) != statuses.end()) return kBatchExitUsage;
    for (std::size_t i = 0; i < tasks.size(); ++i) {
        addStationSummary(total, followers[i]->summary(), tasks[i].code);
        total.wallSeconds = std::max(total.wallSeconds, followers[i]->summary().wallSeconds);
    }
    std::fputs(formatBatchSummary(total).c_str(), out);
    std::fflush(out);
    return kBatchExitOk;
}

}  // namespace tremcvt
