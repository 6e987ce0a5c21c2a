// Path texts as the converter handles them. Paths from the command line and
// INI files are brought to the platform's native separator; the catalogue
// keeps paths relative to the data directory with "/" separators, so an
// archive can move between machines.
#pragma once

#include <string>
#include <string_view>

namespace tremcvt {

#ifdef _WIN32
inline constexpr char kNativeSeparator = '\\';
#else
inline constexpr char kNativeSeparator = '/';
#endif

// Every "\" or "/" becomes the native separator.
void toNativeSeparators(std::string& path);
// Every "\" becomes "/": the catalogue form of separators.
void toForwardSlashes(std::string& path);

// Absolute: starts with a separator, or (Windows) has ":" as second character.
bool isAbsolutePath(std::string_view path);

// Whether text begins with prefix, compared without regard to letter case
// over the length of prefix.
bool startsWithIgnoringCase(std::string_view text, std::string_view prefix);

// The path below dataDir, with native separators, when path lies below
// dataDir; otherwise path itself with native separators.
std::string archiveRelativePath(std::string_view path, std::string_view dataDir);

// path with native separators, put below dataDir unless it is absolute or
// already begins with dataDir.
std::string absoluteArchivePath(std::string_view path, std::string_view dataDir);

// a and b joined by one native separator.
std::string joinPath(std::string_view a, std::string_view b);

}  // namespace tremcvt
