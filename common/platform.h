// The small platform layer: directories, local time and free space.
// Everything that differs between Windows and POSIX systems stays here.
#pragma once

#include <cstdint>
#include <cstdio>
#include <ctime>
#include <functional>
#include <optional>
#include <string>
#include <system_error>

namespace tremcvt {

// The process's current directory (empty when it cannot be read).
std::string currentDirectory();

// Where trz.ini lives: the Windows directory on Windows; elsewhere the
// directory named by TREMCVT_SYSCONFDIR, else /etc.
std::string systemConfigDirectory();

// The built-in archive directory of the converter and the launcher.
const char* defaultDataDirectory();

// Local calendar breakdown of a time in whole seconds since 1970 (the TZ
// environment variable decides the zone). False when it cannot be formed.
bool localCalendarTime(std::int64_t seconds, std::tm& out);

// Free bytes available to the caller on the file system that holds path
// (or its nearest existing ancestor); nothing when that is unknown.
using FreeSpaceSource = std::function<std::optional<std::uint64_t>(const std::string& path)>;
std::optional<std::uint64_t> freeSpace(const std::string& path);

// Replaces the source of free-space figures (tests simulate a nearly full
// disk with it); an empty function restores the file system's own figures.
void setFreeSpaceSource(FreeSpaceSource source);

// Whether a stream is an interactive terminal (progress is drawn in place
// there, and written as plain lines elsewhere).
bool isTerminal(std::FILE* stream);

// The outcome of one file-system call of the writers and the archive. Each
// such call passes a fault point (common/fault_injection.h).
struct FileCallResult {
    bool ok = true;
    int error = 0;       // the system's error number when it failed
    std::string reason;  // "<path>: <call>: <system message>" when it failed

    explicit operator bool() const { return ok; }
};

// Creates one directory; one that exists already counts as made.
FileCallResult makeDirectory(const std::string& path);
// Removes one file. A directory is never removed, whether empty or not.
FileCallResult removeFile(const std::string& path);
// Renames from to to, replacing a file of that name.
FileCallResult renameFile(const std::string& from, const std::string& to);
// Makes the entries of a directory (files created, removed or renamed in
// it) durable on the disk. Windows has no such call: there it only passes
// its fault point.
FileCallResult syncDirectory(const std::string& path);

}  // namespace tremcvt
