// The command line of tremcvt_batch:
//   tremcvt_batch STATION DIR START INTERVAL [converter options] [batch flags]
//   tremcvt_batch STATION --files FILE... | --files-from LIST|-  [the same]
//   tremcvt_batch --stations all|STA[,STA...] START INTERVAL [-j N]
//                 [--shard K/N] [the same]
//   tremcvt_batch STATION DIR --follow [--settle SECONDS]
//                 [--from YYYY-MM-DDTHH:MM] [--status-every MINUTES] [the same]
//   tremcvt_batch --stations all|STA[,STA...] --follow [--shard K/N] [the same]
// START is DD/MM/YYYY HH:MM or YYYY-MM-DDTHH:MM, INTERVAL is DDD HH:MM (the
// launcher's "time" and "timeqty"). Converter options are those of tremcvt
// (odbc=, user=, password=, data=, css=, ...); the batch flags are
// --full-reports, --keep-going (the default) and --stop-on-error. With
// --stations the batch takes the stations of tremcvt.ini, each over its own
// WIN directory, -j N of them at a time, or only the K-th of N shares of
// them.
#pragma once

#include <optional>
#include <string>
#include <string_view>
#include <vector>

#include "common/batch/time_texts.h"

namespace tremcvt {

// Exit codes of the batch program, besides the converter's own -1 (255 on
// POSIX) for a connection that cannot be made.
inline constexpr int kBatchExitOk = 0;
inline constexpr int kBatchExitMissingFiles = 1;  // some minutes had no WIN file; the rest was stored
inline constexpr int kBatchExitUsage = 2;         // the command line was refused; nothing was touched
inline constexpr int kBatchExitFailures = 3;      // some files failed (open, catalogue write, CSS write)

inline constexpr const char* kBatchUsageText =
    "usage: tremcvt_batch STATION DIR START INTERVAL [options]\n"
    "       tremcvt_batch STATION --files FILE... [options]\n"
    "       tremcvt_batch STATION --files-from LIST|- [options]\n"
    "       tremcvt_batch --stations all|STA[,STA...] START INTERVAL [-j N] [--shard K/N] [options]\n"
    "  START     DD/MM/YYYY HH:MM or YYYY-MM-DDTHH:MM (the first minute)\n"
    "  INTERVAL  DDD HH:MM (days, hours, minutes)\n"
    "  options   odbc=DSN user=NAME password=WORD data=DIR css=WFDISC mseed=DIR sync=0|1 (as tremcvt)\n"
    "            --full-reports  every report whole\n"
    "            --keep-going    go on after a failed file (the default)\n"
    "            --stop-on-error stop at the first failed file\n"
    "  --stations the stations of tremcvt.ini (all, or those named), each over its\n"
    "             WIN directory (dir of its sta section, else dir of [system])\n"
    "  -j N       N stations at a time (default 1; 0: one per processor core)\n"
    "  --shard K/N  only the K-th of N shares of the stations (1 <= K <= N)\n"
    "       tremcvt_batch STATION DIR --follow [--settle SECONDS] [--from START]\n"
    "                     [--status-every MINUTES] [options]\n"
    "       tremcvt_batch --stations all|STA[,STA...] --follow [--shard K/N] [the same]\n"
    "  --follow   convert each minute once its file is complete, as it arrives (with\n"
    "             --stations: every station at once, each over its WIN directory), until\n"
    "             SIGTERM or SIGINT; SIGHUP reads tremcvt.ini again\n"
    "  --settle   seconds a file must stay unchanged to count as complete (default 90)\n"
    "  --from     the first minute when the archive holds nothing of the station\n"
    "  --status-every  minutes between status lines on standard error (default 60)\n";

// One share of the station list: the stations whose position among those the
// command selects, counted from 0, leaves the remainder index - 1 when
// divided by count.
struct Shard {
    int index = 1;  // K, from 1
    int count = 1;  // N
};

// "K/N" with 1 <= K <= N; nothing otherwise.
std::optional<Shard> parseShard(std::string_view text);

// Whether the station at position (from 0) among the selected ones belongs
// to the shard.
bool inShard(const Shard& shard, std::size_t position);

struct BatchOptions {
    std::string station;
    // Interval batch: every minute from start for intervalText.
    bool interval = false;
    std::string directory;
    StartTime start;
    std::string intervalText;
    // Chosen files (in the order given, or read from a list).
    std::vector<std::string> files;
    std::string filesFrom;  // "-" for standard input; empty when not given
    // Stations of tremcvt.ini (an interval batch over each station's own
    // directory): every named one, or those listed.
    bool stations = false;
    std::vector<std::string> stationNames;  // empty: all
    int jobs = 1;                           // stations at a time; 0: one per core
    std::optional<Shard> shard;
    // Following DIR: every minute converted once its file is complete, for
    // as long as the program runs.
    bool follow = false;
    int settleSeconds = 90;
    std::optional<StartTime> from;  // where to begin when nothing is archived
    int statusEveryMinutes = 60;
    // Options handed to every conversion as tremcvt takes them.
    std::vector<std::string> converterOptions;
    bool fullReports = false;
    bool stopOnError = false;
};

struct BatchOptionsResult {
    std::optional<BatchOptions> options;
    std::string message;  // why the command line was refused
};

// A start minute in either accepted form; nothing when it is not one.
std::optional<StartTime> parseBatchStart(std::string_view text);

// Whether text has the interval's shape: days, a blank, hours, a colon and
// minutes, each one to three digits.
bool isIntervalText(std::string_view text);

// arguments without the program name.
BatchOptionsResult parseBatchOptions(const std::vector<std::string>& arguments);

// The files of a list, one path per line; blank lines are skipped and a
// trailing carriage return is dropped.
std::vector<std::string> readFileList(std::string_view text);

}  // namespace tremcvt
