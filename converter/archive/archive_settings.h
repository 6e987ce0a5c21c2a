// The settings of the archive database: which data source to connect to and
// as whom, the root directory of the TRZ archive, whether catalogue rows
// carry the column TEND, and whether stores are synced to the disk. The built-in defaults are written here once; the
// converter's settings fall back to them.
#pragma once

#include <cstddef>
#include <string>

#include "common/platform.h"

namespace tremcvt {

inline constexpr const char* kDefaultDataSource = "TRZ";
inline constexpr const char* kDefaultUserName = "TRZ";
inline constexpr const char* kDefaultPassword = "KPV";

struct ArchiveSettings {
    // The archive database keeps at most this many characters of the data
    // source, user name and password; it cuts longer values.
    static constexpr std::size_t kCredentialLength = 31;

    std::string dataSource = kDefaultDataSource;
    std::string userName = kDefaultUserName;
    std::string password = kDefaultPassword;
    // Catalogue paths are kept relative to it.
    std::string dataDir = defaultDataDirectory();
    // Asks for the column TEND: whether rows carry it is then decided by
    // asking the data source whether FILELIST has it.
    bool useTend = true;
    // On SQLite: how long a statement waits for a database that another
    // connection has locked before it fails. 0 leaves the data source's
    // own setting.
    int busyTimeoutMilliseconds = 0;
    // Syncs a piece's samples to the disk before the catalogue row that
    // records them, so that a power cut never leaves a row promising samples
    // its file lacks. (A new file's directory is synced after its creation
    // either way.)
    bool sync = true;
};

}  // namespace tremcvt
