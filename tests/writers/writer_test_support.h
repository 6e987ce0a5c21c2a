// Helpers shared by the writer tests: a temporary directory, a fixed time
// zone, a file size limit, whole files and the expected little-endian sample
// bytes.
#pragma once

#include <algorithm>
#include <bit>
#include <cstdint>
#include <cstdlib>
#include <ctime>
#include <filesystem>
#include <string>
#include <vector>

#include <signal.h>
#include <sys/resource.h>
#include <unistd.h>

#include "tests/support/test_support.h"

namespace writer_test {

class TempDir : public tremcvt::test::TempDir {
public:
    std::string str() const { return path().string(); }
};

// Sets TZ for the lifetime of the guard.
class TimeZone {
public:
    explicit TimeZone(const char* zone)
    {
        const char* old = std::getenv("TZ");
        hadOld_ = old != nullptr;
        if (hadOld_) old_ = old;
        ::setenv("TZ", zone, 1);
        ::tzset();
    }
    ~TimeZone()
    {
        if (hadOld_) ::setenv("TZ", old_.c_str(), 1);
        else ::unsetenv("TZ");
        ::tzset();
    }

private:
    bool hadOld_ = false;
    std::string old_;
};

// Limits the size of files this process may write, so that a write past the
// limit fails as on a full disk.
class FileSizeLimit {
public:
    explicit FileSizeLimit(rlim_t bytes)
    {
        ::getrlimit(RLIMIT_FSIZE, &old_);
        oldHandler_ = ::signal(SIGXFSZ, SIG_IGN);
        rlimit limit = old_;
        limit.rlim_cur = bytes;
        ::setrlimit(RLIMIT_FSIZE, &limit);
    }
    ~FileSizeLimit()
    {
        ::setrlimit(RLIMIT_FSIZE, &old_);
        ::signal(SIGXFSZ, oldHandler_);
    }

private:
    rlimit old_{};
    void (*oldHandler_)(int) = SIG_DFL;
};

inline std::string readBytes(const std::filesystem::path& path) { return tremcvt::test::readFile(path); }
inline void writeBytes(const std::filesystem::path& path, const std::string& bytes)
{
    tremcvt::test::writeFile(path, bytes);
}

// IEEE 754 single precision, least significant byte first.
inline std::string littleEndianBytes(const std::vector<float>& samples)
{
    std::string bytes;
    for (const float sample : samples) {
        const auto bits = std::bit_cast<std::uint32_t>(sample);
        for (int shift = 0; shift < 32; shift += 8) bytes += static_cast<char>((bits >> shift) & 0xffu);
    }
    return bytes;
}

inline std::vector<std::string> directoryEntries(const std::filesystem::path& dir)
{
    std::vector<std::string> names;
    std::error_code error;
    for (const auto& entry : std::filesystem::recursive_directory_iterator(dir, error))
        names.push_back(std::filesystem::relative(entry.path(), dir).string());
    std::sort(names.begin(), names.end());
    return names;
}

}  // namespace writer_test
