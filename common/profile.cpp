#include "common/profile.h"

#include <cctype>
#include <climits>
#include <cstdlib>
#include <fstream>
#include <mutex>
#include <optional>
#include <unordered_map>
#include <unordered_set>

#ifdef _WIN32
#include <windows.h>
#include <vector>
#endif

namespace tremcvt {
namespace {

#ifdef _WIN32
// Room for any number an INI file sensibly holds; the digits beyond it would
// only push the value further past the int range it is clamped to anyway.
constexpr std::size_t kIntegerTextBuffer = 64;
#endif

// The leading decimal number (optional sign) of a value, clamped to int, or
// defaultValue when the value does not start with one. Both platforms parse
// the text themselves: GetPrivateProfileIntA answers 0 instead of the
// default for a value that is not a number.
int leadingNumber(const std::string& value, int defaultValue)
{
    const char* text = value.c_str();
    const char* digits = text + ((*text == '-' || *text == '+') ? 1 : 0);
    if (!std::isdigit(static_cast<unsigned char>(*digits))) return defaultValue;
    const long long number = std::strtoll(text, nullptr, 10);
    if (number > INT_MAX) return INT_MAX;
    if (number < INT_MIN) return INT_MIN;
    return static_cast<int>(number);
}

#ifndef _WIN32
std::string cutToBuffer(std::string value, std::size_t bufferSize)
{
    if (bufferSize == 0) return std::string();
    if (value.size() > bufferSize - 1) value.resize(bufferSize - 1);
    return value;
}

std::string_view trim(std::string_view text)
{
    const auto blank = [](char c) { return c == ' ' || c == '\t' || c == '\r' || c == '\n'; };
    while (!text.empty() && blank(text.front())) text.remove_prefix(1);
    while (!text.empty() && blank(text.back())) text.remove_suffix(1);
    return text;
}

// A file's sections and keys as the profile rules see them: names folded to
// lower case, the first section and the first key of a name winning.
struct ParsedProfile {
    std::unordered_map<std::string, std::unordered_map<std::string, std::string>> sections;
};

std::string lowerCase(std::string_view text)
{
    std::string lowered(text);
    for (char& c : lowered) c = static_cast<char>(std::tolower(static_cast<unsigned char>(c)));
    return lowered;
}

std::optional<ParsedProfile> parseProfile(const std::string& path)
{
    std::ifstream in(path, std::ios::binary);
    if (!in) return std::nullopt;
    ParsedProfile parsed;
    std::unordered_set<std::string> seenSections;
    std::unordered_map<std::string, std::string>* current = nullptr;
    std::string line;
    bool firstLine = true;
    while (std::getline(in, line)) {
        std::string_view text = trim(line);
        // An editor may save the file with a UTF-8 byte-order mark.
        if (firstLine && text.substr(0, 3) == "\xEF\xBB\xBF") text = trim(text.substr(3));
        firstLine = false;
        if (text.empty()) continue;
        if (text.front() == '[') {
            const auto close = text.find(']');
            const std::string name =
                lowerCase(trim(text.substr(1, close == std::string_view::npos ? text.size() - 1 : close - 1)));
            // Only the first section of a name counts; a repeated one is skipped.
            current = seenSections.insert(name).second ? &parsed.sections[name] : nullptr;
            continue;
        }
        if (current == nullptr || text.front() == ';') continue;
        const auto equals = text.find('=');
        if (equals == std::string_view::npos) continue;
        std::string_view value = trim(text.substr(equals + 1));
        // As on Windows, one pair of matching quotes around a value is dropped.
        if (value.size() >= 2 && (value.front() == '"' || value.front() == '\'') && value.back() == value.front())
            value = value.substr(1, value.size() - 2);
        current->emplace(lowerCase(trim(text.substr(0, equals))), std::string(value));
    }
    return parsed;
}

// Files parsed while a ProfileReadCache is alive, by path. The batch reads
// the station list from several threads at once: every use of the cache
// holds its lock.
struct ReadCache {
    std::mutex lock;
    int scopes = 0;
    std::unordered_map<std::string, std::optional<ParsedProfile>> files;
};

ReadCache& readCache()
{
    static ReadCache cache;
    return cache;
}

// The value of the first key of that name in the first section of that name.
std::optional<std::string> findValue(std::string_view section, std::string_view key,
                                     const std::string& path)
{
    std::optional<ParsedProfile> uncached;
    const std::optional<ParsedProfile>* parsed = &uncached;
    ReadCache& cache = readCache();
    const std::lock_guard<std::mutex> held(cache.lock);
    if (cache.scopes > 0) {
        auto found = cache.files.find(path);
        if (found == cache.files.end()) found = cache.files.emplace(path, parseProfile(path)).first;
        parsed = &found->second;
    } else {
        uncached = parseProfile(path);
    }
    if (!parsed->has_value()) return std::nullopt;
    const auto& sections = (*parsed)->sections;
    const auto sectionEntry = sections.find(lowerCase(trim(section)));
    if (sectionEntry == sections.end()) return std::nullopt;
    const auto keyEntry = sectionEntry->second.find(lowerCase(trim(key)));
    if (keyEntry == sectionEntry->second.end()) return std::nullopt;
    return keyEntry->second;
}
#endif

}  // namespace

std::string readProfileString(std::string_view section, std::string_view key,
                              std::string_view defaultValue, std::size_t bufferSize,
                              const std::string& path)
{
#ifdef _WIN32
    if (bufferSize == 0) return std::string();
    std::vector<char> buffer(bufferSize, '\0');
    const std::string sectionText(section), keyText(key), defaultText(defaultValue);
    const DWORD length = GetPrivateProfileStringA(sectionText.c_str(), keyText.c_str(),
                                                  defaultText.c_str(), buffer.data(),
                                                  static_cast<DWORD>(bufferSize), path.c_str());
    return std::string(buffer.data(), length);
#else
    std::optional<std::string> value = findValue(section, key, path);
    return cutToBuffer(value ? std::move(*value) : std::string(defaultValue), bufferSize);
#endif
}

int readProfileInt(std::string_view section, std::string_view key, int defaultValue,
                   const std::string& path)
{
#ifdef _WIN32
    // A missing key reads as an empty text, which holds no number either.
    return leadingNumber(readProfileString(section, key, "", kIntegerTextBuffer, path), defaultValue);
#else
    const std::optional<std::string> value = findValue(section, key, path);
    if (!value) return defaultValue;
    return leadingNumber(*value, defaultValue);
#endif
}

ProfileReadCache::ProfileReadCache()
{
#ifndef _WIN32
    ReadCache& cache = readCache();
    const std::lock_guard<std::mutex> held(cache.lock);
    ++cache.scopes;
#endif
}

ProfileReadCache::~ProfileReadCache()
{
#ifndef _WIN32
    ReadCache& cache = readCache();
    const std::lock_guard<std::mutex> held(cache.lock);
    if (--cache.scopes == 0) cache.files.clear();
#endif
}

}  // namespace tremcvt
