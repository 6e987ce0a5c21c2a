// Reading INI ("profile") files with the semantics of the Windows profile
// functions: section and key names compared without regard to case, the
// first occurrence of a section and of a key wins, blanks around names and
// values are trimmed, and a missing file, section or key gives the default.
#pragma once

#include <cstddef>
#include <string>
#include <string_view>

namespace tremcvt {

// The value of [section] key in the file at path, or defaultValue when the
// file, the section or the key is missing. Like a read into a buffer of
// bufferSize bytes, the result is cut to bufferSize - 1 characters.
std::string readProfileString(std::string_view section, std::string_view key,
                              std::string_view defaultValue, std::size_t bufferSize,
                              const std::string& path);

// The leading decimal number (optional sign) of [section] key, or
// defaultValue when the value is missing or does not start with a number.
int readProfileInt(std::string_view section, std::string_view key, int defaultValue,
                   const std::string& path);

// While an object of this type lives, each INI file is parsed once and its
// contents are reused by every read: a converter run looks up the station list
// many times and its settings do not change under it. Reads outside any such
// scope see the file as it is at that moment.
class ProfileReadCache {
public:
    ProfileReadCache();
    ~ProfileReadCache();
    ProfileReadCache(const ProfileReadCache&) = delete;
    ProfileReadCache& operator=(const ProfileReadCache&) = delete;
};

}  // namespace tremcvt
