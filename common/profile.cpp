#include "common/profile.h"

#include <cctype>
#include <climits>
#include <cstdlib>
#include <fstream>
#include <optional>

#ifdef _WIN32
#include <windows.h>
#include <vector>
#endif

namespace tremcvt {
namespace {

#ifndef _WIN32
std::string cutToBuffer(std::string value, std::size_t bufferSize)
{
    if (bufferSize == 0) return std::string();
    if (value.size() > bufferSize - 1) value.resize(bufferSize - 1);
    return value;
}

bool equalsIgnoringCase(std::string_view a, std::string_view b)
{
    if (a.size() != b.size()) return false;
    for (std::size_t i = 0; i < a.size(); ++i) {
        if (std::tolower(static_cast<unsigned char>(a[i])) !=
            std::tolower(static_cast<unsigned char>(b[i])))
            return false;
    }
    return true;
}

std::string_view trim(std::string_view text)
{
    const auto blank = [](char c) { return c == ' ' || c == '\t' || c == '\r' || c == '\n'; };
    while (!text.empty() && blank(text.front())) text.remove_prefix(1);
    while (!text.empty() && blank(text.back())) text.remove_suffix(1);
    return text;
}

// The value of the first key of that name in the first section of that name.
std::optional<std::string> findValue(std::string_view section, std::string_view key,
                                     const std::string& path)
{
    std::ifstream in(path, std::ios::binary);
    if (!in) return std::nullopt;
    const std::string_view wantedKey = trim(key);
    const std::string_view wantedSection = trim(section);
    bool inSection = false;
    bool sectionSeen = false;
    std::string line;
    bool firstLine = true;
    while (std::getline(in, line)) {
        std::string_view text = trim(line);
        // An editor may save the file with a UTF-8 byte-order mark.
        if (firstLine && text.substr(0, 3) == "\xEF\xBB\xBF") text = trim(text.substr(3));
        firstLine = false;
        if (text.empty()) continue;
        if (text.front() == '[') {
            if (inSection) return std::nullopt;  // only the first section of that name counts
            const auto close = text.find(']');
            const std::string_view name =
                trim(text.substr(1, close == std::string_view::npos ? text.size() - 1 : close - 1));
            inSection = !sectionSeen && equalsIgnoringCase(name, wantedSection);
            sectionSeen = sectionSeen || inSection;
            continue;
        }
        if (!inSection || text.front() == ';') continue;
        const auto equals = text.find('=');
        if (equals == std::string_view::npos) continue;
        if (equalsIgnoringCase(trim(text.substr(0, equals)), wantedKey))
            return std::string(trim(text.substr(equals + 1)));
    }
    return std::nullopt;
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
    const std::string sectionText(section), keyText(key);
    return static_cast<int>(
        GetPrivateProfileIntA(sectionText.c_str(), keyText.c_str(), defaultValue, path.c_str()));
#else
    const std::optional<std::string> value = findValue(section, key, path);
    if (!value) return defaultValue;
    const char* text = value->c_str();
    const char* digits = text + ((*text == '-' || *text == '+') ? 1 : 0);
    if (!std::isdigit(static_cast<unsigned char>(*digits))) return defaultValue;
    const long long number = std::strtoll(text, nullptr, 10);
    if (number > INT_MAX) return INT_MAX;
    if (number < INT_MIN) return INT_MIN;
    return static_cast<int>(number);
#endif
}

}  // namespace tremcvt
