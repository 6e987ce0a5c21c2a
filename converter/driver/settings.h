// The converter's run settings: gathered from the command line, tremcvt.ini in
// the current directory, trz.ini in the system configuration directory and the
// built-in defaults, in that order of precedence.
#pragma once

#include <string>
#include <string_view>

#include "common/exit_codes.h"
#include "common/fixed_text.h"
#include "converter/archive/archive_settings.h"

namespace tremcvt {

// Exit code of a run that only printed the usage text.
inline constexpr int kExitUsage = 0;

inline constexpr const char* kUsageText = "[USAGE]\ntremcvt.exe [STATION CODE] [PATH TO FILE]\n";

// The archive database's built-in defaults.
inline constexpr const char* kDefaultOdbc = kDefaultDataSource;
inline constexpr const char* kDefaultUser = kDefaultUserName;

struct ConverterSettings {
    FixedText<8> stationCode;
    FixedText<1024> winPath;
    FixedText<32> odbc;
    FixedText<32> user;
    FixedText<32> password;
    FixedText<512> data;
    FixedText<1024> css;
    bool cssOutput = false;
    // Root of the SDS archive that miniSEED output goes to ("mseed=").
    FixedText<512> mseed;
    bool mseedOutput = false;
    int useTend = 0;
    // [DATABASE] TSINDEX: miniSEED output keeps the tsindex table of the
    // archive database for every day file it stores (not 0: on).
    int tsindex = 0;
    // Stores synced to the disk before their catalogue rows: "sync=" on the
    // command line, else [DATABASE] SYNC of tremcvt.ini, else of trz.ini;
    // on unless 0.
    int sync = 1;
    // tremcvt.ini of the current directory; the station list is read from it
    // for the whole run.
    std::string iniPath;
    // trz.ini of the system configuration directory.
    std::string trzIniPath;
};

enum class SettingsStatus {
    kReady,            // settings complete, the run may start
    kUsage,            // too few arguments: print message, exit kExitUsage
    kArgumentTooLong,  // a value does not fit: print message, exit kExitArgumentTooLong
};

struct SettingsResult {
    SettingsStatus status = SettingsStatus::kReady;
    ConverterSettings settings;
    std::string message;  // what the caller prints (usage text or refusal), empty when ready
    // When both "css=" and "mseed=" are given: which of the two the run
    // writes, for the report. Empty otherwise.
    std::string outputNotice;
    int exitCode = 0;     // exit code for kUsage and kArgumentTooLong
};

// Whether an argument carries one of the converter's options ("odbc=",
// "user=", "password=", "data=", "css=", "mseed=", "sync=", matched without
// regard to case).
bool isConverterOption(std::string_view argument);

// Gathers the settings of one run. Prints nothing and touches no database;
// with fewer than two arguments after the program name it reads no file.
SettingsResult gatherSettings(int argc, const char* const* argv);

// The settings of a run over another WIN file: settings with winPath set to
// path (separators made native). A path that does not fit is refused with the
// message and exit code gatherSettings gives for it.
SettingsResult settingsForWinFile(const ConverterSettings& settings, std::string_view path);

// The settings handed to the archive database: data source, user, password,
// data directory, TEND asked for when useTend is not 0, stores synced when
// sync is not 0.
ArchiveSettings archiveSettings(const ConverterSettings& settings);

}  // namespace tremcvt
