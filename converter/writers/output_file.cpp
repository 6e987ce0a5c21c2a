#include "converter/writers/output_file.h"

#include <algorithm>
#include <bit>
#include <cerrno>
#include <cstring>
#include <vector>

#include "common/fault_injection.h"

#include <fcntl.h>
#include <sys/stat.h>
#ifdef _WIN32
#include <io.h>
#include <climits>
#else
#include <unistd.h>
#endif

#ifndef O_BINARY
#define O_BINARY 0
#endif
#ifndef O_CLOEXEC
#define O_CLOEXEC 0
#endif

namespace tremcvt::detail {
namespace {

#ifdef _WIN32
// The Windows C runtime counts a transfer in an unsigned int and has no
// positioned reads and writes: a seek and a transfer do the same for the one
// owner of the descriptor (no caller relies on the position afterwards).
constexpr std::size_t kMaxTransfer = INT_MAX;

ssize_t writeSome(int fd, const void* data, std::size_t length)
{
    return ::_write(fd, data, static_cast<unsigned>(std::min(length, kMaxTransfer)));
}

ssize_t writeSomeAt(int fd, const void* data, std::size_t length, std::int64_t offset)
{
    if (::_lseeki64(fd, offset, SEEK_SET) < 0) return -1;
    return writeSome(fd, data, length);
}

ssize_t readSomeAt(int fd, void* data, std::size_t length, std::int64_t offset)
{
    if (::_lseeki64(fd, offset, SEEK_SET) < 0) return -1;
    return ::_read(fd, data, static_cast<unsigned>(std::min(length, kMaxTransfer)));
}
#else
ssize_t writeSome(int fd, const void* data, std::size_t length) { return ::write(fd, data, length); }

ssize_t writeSomeAt(int fd, const void* data, std::size_t length, std::int64_t offset)
{
    return ::pwrite(fd, data, length, static_cast<off_t>(offset));
}

ssize_t readSomeAt(int fd, void* data, std::size_t length, std::int64_t offset)
{
    return ::pread(fd, data, length, static_cast<off_t>(offset));
}
#endif

// Samples are converted in slices of this many on big-endian hosts.
constexpr std::size_t kSwapSlice = 16384;

std::uint32_t swapBytes(std::uint32_t v)
{
    return (v >> 24) | ((v >> 8) & 0x0000ff00u) | ((v << 8) & 0x00ff0000u) | (v << 24);
}

void toLittleEndian(const float* samples, std::size_t count, std::uint32_t* out)
{
    for (std::size_t i = 0; i < count; ++i) {
        std::uint32_t bits;
        std::memcpy(&bits, &samples[i], sizeof bits);
        out[i] = swapBytes(bits);
    }
}

}  // namespace

bool hostIsLittleEndian() { return std::endian::native == std::endian::little; }

OutputFile::OutputFile(const std::string& path, Mode mode) : path_(path)
{
    if (path.empty()) {
        errno = ENOENT;
        fail("open");
        return;
    }
    if (faultPoint(FaultSite::Open) == FaultAction::Fail) {
        fail("open");
        return;
    }
    if (mode == Mode::CreateTruncate) journalFileCreate(path);
    const int flags = mode == Mode::CreateTruncate   ? O_WRONLY | O_CREAT | O_TRUNC
                      : mode == Mode::ExistingUpdate ? O_RDWR
                      : mode == Mode::ReadOnly       ? O_RDONLY
                                                     : O_WRONLY;
    // Readable by everyone as the process's umask allows, like the other
    // files of a data centre's archive; only the owner may write.
#ifdef _WIN32
    const int permissions = S_IREAD | S_IWRITE;
#else
    const int permissions = S_IRUSR | S_IWUSR | S_IRGRP | S_IROTH;
#endif
#ifdef _WIN32
    // Not inherited by child processes, like O_CLOEXEC elsewhere.
    fd_ = ::_open(path.c_str(), flags | O_BINARY | _O_NOINHERIT, permissions);
#else
    do {
        fd_ = ::open(path.c_str(), flags | O_BINARY | O_CLOEXEC, permissions);
    } while (fd_ < 0 && errno == EINTR);
#endif
    if (fd_ < 0) fail("open");
}

OutputFile::~OutputFile()
{
#ifdef _WIN32
    if (fd_ >= 0) ::_close(fd_);
#else
    if (fd_ >= 0) ::close(fd_);
#endif
}

std::int64_t OutputFile::size()
{
    if (fd_ < 0) return -1;
    if (faultPoint(FaultSite::Stat) == FaultAction::Fail) {
        fail("fstat");
        return -1;
    }
#ifdef _WIN32
    const auto length = static_cast<std::int64_t>(::_filelengthi64(fd_));
    if (length < 0) fail("fstat");
    return length;
#else
    struct stat info;
    if (::fstat(fd_, &info) != 0) {
        fail("fstat");
        return -1;
    }
    return static_cast<std::int64_t>(info.st_size);
#endif
}

bool OutputFile::fail(const char* call)
{
    const int error = errno;
    error_ = error;
    failure_ = path_ + ": " + call + ": " + std::strerror(error);
    return false;
}

bool OutputFile::writeAll(const void* data, std::size_t length)
{
    if (fd_ < 0) return false;
    const char* bytes = static_cast<const char*>(data);
    while (length > 0) {
        const FaultAction action = faultPoint(FaultSite::Write);
        if (action == FaultAction::Fail) return fail("write");
        if (action == FaultAction::TearWrite) {
            writeSome(fd_, bytes, length / 2);
            crashAtFaultPoint();
        }
        if (powerCutPlanned()) journalFileWrite(path_, position(), length);
        const ssize_t written = writeSome(fd_, bytes, length);
        if (written < 0 && errno == EINTR) continue;
        if (written < 0) return fail("write");
        if (written == 0) {
            errno = ENOSPC;
            return fail("write");
        }
        bytes += written;
        length -= static_cast<std::size_t>(written);
    }
    return true;
}

bool OutputFile::writeAllAt(const void* data, std::size_t length, std::int64_t offset)
{
    if (fd_ < 0 || offset < 0) return false;
    const char* bytes = static_cast<const char*>(data);
    while (length > 0) {
        const FaultAction action = faultPoint(FaultSite::Write);
        if (action == FaultAction::Fail) return fail("write");
        if (action == FaultAction::TearWrite) {
            writeSomeAt(fd_, bytes, length / 2, offset);
            crashAtFaultPoint();
        }
        journalFileWrite(path_, offset, length);
        const ssize_t written = writeSomeAt(fd_, bytes, length, offset);
        if (written < 0 && errno == EINTR) continue;
        if (written < 0) return fail("write");
        if (written == 0) {
            errno = ENOSPC;
            return fail("write");
        }
        bytes += written;
        length -= static_cast<std::size_t>(written);
        offset += written;
    }
    return true;
}

bool OutputFile::readAllAt(void* data, std::size_t length, std::int64_t offset)
{
    if (fd_ < 0 || offset < 0) return false;
    char* bytes = static_cast<char*>(data);
    while (length > 0) {
        if (faultPoint(FaultSite::Read) == FaultAction::Fail) return fail("read");
        const ssize_t got = readSomeAt(fd_, bytes, length, offset);
        if (got < 0 && errno == EINTR) continue;
        if (got < 0) return fail("read");
        if (got == 0) {
            errno = EIO;
            return fail("read");
        }
        bytes += got;
        length -= static_cast<std::size_t>(got);
        offset += got;
    }
    return true;
}

bool OutputFile::writeSamples(const float* samples, std::size_t count)
{
    if (count == 0) return fd_ >= 0;
    if (hostIsLittleEndian()) return writeAll(samples, count * sizeof(float));
    std::vector<std::uint32_t> slice(std::min(count, kSwapSlice));
    for (std::size_t done = 0; done < count;) {
        const std::size_t n = std::min(count - done, kSwapSlice);
        toLittleEndian(samples + done, n, slice.data());
        if (!writeAll(slice.data(), n * sizeof(float))) return false;
        done += n;
    }
    return true;
}

bool OutputFile::writeSamplesAt(const float* samples, std::size_t count, std::int64_t offset)
{
    if (count == 0) return fd_ >= 0;
    if (hostIsLittleEndian()) return writeAllAt(samples, count * sizeof(float), offset);
    std::vector<std::uint32_t> slice(std::min(count, kSwapSlice));
    for (std::size_t done = 0; done < count;) {
        const std::size_t n = std::min(count - done, kSwapSlice);
        toLittleEndian(samples + done, n, slice.data());
        if (!writeAllAt(slice.data(), n * sizeof(float), offset + static_cast<std::int64_t>(done * sizeof(float))))
            return false;
        done += n;
    }
    return true;
}

bool OutputFile::seekToEnd()
{
#ifdef _WIN32
    return fd_ >= 0 && ::_lseeki64(fd_, 0, SEEK_END) >= 0;
#else
    return fd_ >= 0 && ::lseek(fd_, 0, SEEK_END) >= 0;
#endif
}

bool OutputFile::truncate(std::int64_t length)
{
    if (fd_ < 0 || length < 0) return false;
    if (faultPoint(FaultSite::Truncate) == FaultAction::Fail) return fail("truncate");
    journalFileTruncate(path_, length);
#ifdef _WIN32
    const errno_t rc = ::_chsize_s(fd_, length);
    if (rc != 0) errno = rc;
    return rc == 0 || fail("truncate");
#else
    int rc;
    do {
        rc = ::ftruncate(fd_, static_cast<off_t>(length));
    } while (rc != 0 && errno == EINTR);
    return rc == 0 || fail("truncate");
#endif
}

std::int64_t OutputFile::position() const
{
#ifdef _WIN32
    return static_cast<std::int64_t>(::_lseeki64(fd_, 0, SEEK_CUR));
#else
    return static_cast<std::int64_t>(::lseek(fd_, 0, SEEK_CUR));
#endif
}

bool OutputFile::sync()
{
    if (fd_ < 0) return false;
    if (faultPoint(FaultSite::Sync) == FaultAction::Fail) return fail("fsync");
#ifdef _WIN32
    if (::_commit(fd_) != 0) return fail("fsync");
#else
    int rc;
    do {
        rc = ::fsync(fd_);
    } while (rc != 0 && errno == EINTR);
    if (rc != 0) return fail("fsync");
#endif
    journalFileSynced(path_);
    return true;
}

bool OutputFile::close()
{
    if (fd_ < 0) return false;
    // A failed close still releases the descriptor, as the system's does.
    const bool injected = faultPoint(FaultSite::Close) == FaultAction::Fail;
    const int savedErrno = errno;
#ifdef _WIN32
    const int rc = ::_close(fd_);
#else
    const int rc = ::close(fd_);
#endif
    fd_ = -1;
    if (injected) {
        errno = savedErrno;
        return fail("close");
    }
    return rc == 0 || fail("close");
}

}  // namespace tremcvt::detail
