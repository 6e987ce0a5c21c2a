#include "common/platform.h"

#include <cerrno>
#include <cstdlib>
#include <cstring>
#include <filesystem>
#include <system_error>
#include <utility>

#include "common/fault_injection.h"

#ifdef _WIN32
#include <io.h>
#include <windows.h>
#else
#include <fcntl.h>
#include <unistd.h>
#endif

namespace tremcvt {
namespace {

FreeSpaceSource& freeSpaceOverride()
{
    static FreeSpaceSource source;
    return source;
}

#ifndef _WIN32
// The file system's figure for path, or for its nearest existing ancestor when
// the path (a data directory not yet created) does not exist.
std::optional<std::uint64_t> fileSystemFreeSpace(const std::string& path)
{
    std::error_code error;
    std::filesystem::path probe = path.empty() ? std::filesystem::path(".") : std::filesystem::path(path);
    for (int depth = 0; depth < 256; ++depth) {
        if (std::filesystem::exists(probe, error)) {
            const std::filesystem::space_info info = std::filesystem::space(probe, error);
            if (error) return std::nullopt;
            return static_cast<std::uint64_t>(info.available);
        }
        if (!probe.has_parent_path() || probe.parent_path() == probe) {
            if (probe.is_absolute()) return std::nullopt;
            probe = ".";
            continue;
        }
        probe = probe.parent_path();
    }
    return std::nullopt;
}
#else
// Windows asks the drive of the path's first three characters ("D:\").
std::optional<std::uint64_t> fileSystemFreeSpace(const std::string& path)
{
    const std::string root = path.substr(0, 3);
    ULARGE_INTEGER available;
    if (!GetDiskFreeSpaceExA(root.c_str(), &available, nullptr, nullptr)) return std::nullopt;
    return static_cast<std::uint64_t>(available.QuadPart);
}
#endif

FileCallResult failedCall(const std::string& path, const char* call, int error)
{
    FileCallResult result;
    result.ok = false;
    result.error = error;
    result.reason = path + ": " + call + ": " + std::strerror(error);
    return result;
}

FileCallResult failedCall(const std::string& path, const char* call, const std::error_code& error)
{
    FileCallResult result = failedCall(path, call, error.value());
    result.reason = path + ": " + call + ": " + error.message();
    return result;
}

}  // namespace

FileCallResult makeDirectory(const std::string& path)
{
    if (faultPoint(FaultSite::MakeDirectory) == FaultAction::Fail) return failedCall(path, "mkdir", EIO);
    journalMakeDirectory(path);
    std::error_code error;
    if (std::filesystem::create_directory(path, error)) return {};
    if (!error || std::filesystem::is_directory(path)) return {};
    return failedCall(path, "mkdir", error);
}

FileCallResult removeFile(const std::string& path)
{
    if (faultPoint(FaultSite::Remove) == FaultAction::Fail) return failedCall(path, "remove", EIO);
    journalRemove(path);
    // unlink never removes a directory, not even an empty one.
#ifdef _WIN32
    if (::_unlink(path.c_str()) == 0) return {};
#else
    if (::unlink(path.c_str()) == 0) return {};
#endif
    return failedCall(path, "remove", errno);
}

FileCallResult renameFile(const std::string& from, const std::string& to)
{
    if (faultPoint(FaultSite::Rename) == FaultAction::Fail) return failedCall(to, "rename", EIO);
    journalRename(from, to);
    std::error_code error;
    std::filesystem::rename(from, to, error);
    if (!error) return {};
    return failedCall(to, "rename", error);
}

FileCallResult syncDirectory(const std::string& path)
{
    if (faultPoint(FaultSite::Sync) == FaultAction::Fail) return failedCall(path, "fsync", EIO);
#ifndef _WIN32
    int fd;
    do {
        fd = ::open(path.c_str(), O_RDONLY | O_DIRECTORY | O_CLOEXEC);
    } while (fd < 0 && errno == EINTR);
    if (fd < 0) return failedCall(path, "open", errno);
    const int rc = ::fsync(fd);
    const int error = errno;
    ::close(fd);
    // File systems that cannot sync a directory say so with EINVAL; their
    // entries are as durable as they can be made.
    if (rc != 0 && error != EINVAL) return failedCall(path, "fsync", error);
#endif
    journalDirectorySynced(path);
    return {};
}

bool isTerminal(std::FILE* stream)
{
    if (stream == nullptr) return false;
#ifdef _WIN32
    return ::_isatty(::_fileno(stream)) != 0;
#else
    return ::isatty(::fileno(stream)) != 0;
#endif
}

std::string currentDirectory()
{
#ifdef _WIN32
    char buffer[1024] = {};
    const DWORD length = GetCurrentDirectoryA(sizeof buffer, buffer);
    if (length == 0 || length >= sizeof buffer) return std::string();
    return std::string(buffer, length);
#else
    std::error_code error;
    const std::filesystem::path here = std::filesystem::current_path(error);
    return error ? std::string() : here.string();
#endif
}

std::string systemConfigDirectory()
{
#ifdef _WIN32
    char buffer[1024] = {};
    const UINT length = GetWindowsDirectoryA(buffer, sizeof buffer);
    if (length == 0 || length >= sizeof buffer) return std::string();
    return std::string(buffer, length);
#else
    const char* overridden = std::getenv("TREMCVT_SYSCONFDIR");
    if (overridden != nullptr && *overridden != '\0') return overridden;
    return "/etc";
#endif
}

const char* defaultDataDirectory()
{
#ifdef _WIN32
    return "d:\\data";
#else
    return "/var/lib/tremcvt/data";
#endif
}

bool localCalendarTime(std::int64_t seconds, std::tm& out)
{
    const std::time_t t = static_cast<std::time_t>(seconds);
#ifdef _WIN32
    return localtime_s(&out, &t) == 0;
#else
    return localtime_r(&t, &out) != nullptr;
#endif
}

std::optional<std::uint64_t> freeSpace(const std::string& path)
{
    if (freeSpaceOverride()) return freeSpaceOverride()(path);
    return fileSystemFreeSpace(path);
}

void setFreeSpaceSource(FreeSpaceSource source)
{
    freeSpaceOverride() = std::move(source);
}

}  // namespace tremcvt
