#include "converter/writers/output_file.h"

#include <algorithm>
#include <bit>
#include <cerrno>
#include <cstring>
#include <vector>

#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

#ifndef O_BINARY
#define O_BINARY 0
#endif
#ifndef O_CLOEXEC
#define O_CLOEXEC 0
#endif

namespace tremcvt::detail {
namespace {

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

OutputFile::OutputFile(const std::string& path, Mode mode)
{
    if (path.empty()) return;
    const int flags = mode == Mode::CreateTruncate ? O_WRONLY | O_CREAT | O_TRUNC
                      : mode == Mode::ExistingUpdate ? O_RDWR
                                                     : O_WRONLY;
    // Readable by everyone as the process's umask allows, like the other
    // files of a data centre's archive; only the owner may write.
#ifdef _WIN32
    const int permissions = S_IREAD | S_IWRITE;
#else
    const int permissions = S_IRUSR | S_IWUSR | S_IRGRP | S_IROTH;
#endif
    do {
        fd_ = ::open(path.c_str(), flags | O_BINARY | O_CLOEXEC, permissions);
    } while (fd_ < 0 && errno == EINTR);
}

OutputFile::~OutputFile()
{
    if (fd_ >= 0) ::close(fd_);
}

std::int64_t OutputFile::size() const
{
    struct stat info;
    if (fd_ < 0 || ::fstat(fd_, &info) != 0) return -1;
    return static_cast<std::int64_t>(info.st_size);
}

bool OutputFile::writeAll(const void* data, std::size_t length)
{
    if (fd_ < 0) return false;
    const char* bytes = static_cast<const char*>(data);
    while (length > 0) {
        const ssize_t written = ::write(fd_, bytes, length);
        if (written < 0 && errno == EINTR) continue;
        if (written <= 0) return false;
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
        const ssize_t written = ::pwrite(fd_, bytes, length, static_cast<off_t>(offset));
        if (written < 0 && errno == EINTR) continue;
        if (written <= 0) return false;
        bytes += written;
        length -= static_cast<std::size_t>(written);
        offset += written;
    }
    return true;
}

bool OutputFile::readAllAt(void* data, std::size_t length, std::int64_t offset) const
{
    if (fd_ < 0 || offset < 0) return false;
    char* bytes = static_cast<char*>(data);
    while (length > 0) {
        const ssize_t got = ::pread(fd_, bytes, length, static_cast<off_t>(offset));
        if (got < 0 && errno == EINTR) continue;
        if (got <= 0) return false;
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
    return fd_ >= 0 && ::lseek(fd_, 0, SEEK_END) >= 0;
}

bool OutputFile::truncate(std::int64_t length)
{
    if (fd_ < 0 || length < 0) return false;
    int rc;
    do {
        rc = ::ftruncate(fd_, static_cast<off_t>(length));
    } while (rc != 0 && errno == EINTR);
    return rc == 0;
}

bool OutputFile::close()
{
    if (fd_ < 0) return false;
    const int rc = ::close(fd_);
    fd_ = -1;
    return rc == 0;
}

}  // namespace tremcvt::detail
