#include "common/paths.h"

#include <cctype>

namespace tremcvt {
namespace {

bool isSeparator(char c) { return c == '/' || c == '\\'; }

}  // namespace

void toNativeSeparators(std::string& path)
{
    for (char& c : path)
        if (isSeparator(c)) c = kNativeSeparator;
}

void toForwardSlashes(std::string& path)
{
    for (char& c : path)
        if (c == '\\') c = '/';
}

bool isAbsolutePath(std::string_view path)
{
    if (!path.empty() && isSeparator(path.front())) return true;
#ifdef _WIN32
    if (path.size() >= 2 && path[1] == ':') return true;
#endif
    return false;
}

bool startsWithIgnoringCase(std::string_view text, std::string_view prefix)
{
    if (text.size() < prefix.size()) return false;
    for (std::size_t i = 0; i < prefix.size(); ++i) {
        if (std::tolower(static_cast<unsigned char>(text[i])) !=
            std::tolower(static_cast<unsigned char>(prefix[i])))
            return false;
    }
    return true;
}

std::string archiveRelativePath(std::string_view path, std::string_view dataDir)
{
    std::string text(path);
    toNativeSeparators(text);
    std::string dir(dataDir);
    toNativeSeparators(dir);
    // Only a path that continues dataDir with a separator lies below it:
    // "d:\database\x" is not below "d:\data".
    if (dir.empty() || !startsWithIgnoringCase(text, dir)) return text;
    if (text.size() > dir.size() && text[dir.size()] != kNativeSeparator &&
        dir.back() != kNativeSeparator)
        return text;
#ifdef _WIN32
    // A UNC path ("\\server\...") is kept whole.
    if (text.front() == '\\') return text;
#endif
    const std::size_t cut = dir.back() == kNativeSeparator ? dir.size() : dir.size() + 1;
    return cut >= text.size() ? std::string() : text.substr(cut);
}

std::string absoluteArchivePath(std::string_view path, std::string_view dataDir)
{
    std::string text(path);
    toNativeSeparators(text);
    std::string dir(dataDir);
    toNativeSeparators(dir);
    if (startsWithIgnoringCase(text, dir) || isAbsolutePath(text)) return text;
    return joinPath(dir, text);
}

std::string joinPath(std::string_view a, std::string_view b)
{
    std::string joined(a);
    if (!joined.empty() && joined.back() != kNativeSeparator) joined += kNativeSeparator;
    joined += b;
    return joined;
}

}  // namespace tremcvt
