#include "converter/driver/settings.h"

#include <cstddef>
#include <cstdlib>
#include <optional>
#include <string_view>

#include "common/paths.h"
#include "common/platform.h"
#include "common/profile.h"

namespace tremcvt {
namespace {

enum class Option { kOdbc, kUser, kPassword, kData, kCss, kMseed, kSync, kCount };

struct OptionPrefix {
    std::string_view prefix;
    Option option;
};

// Compared in this order; the first prefix that matches takes the argument.
constexpr OptionPrefix kOptionPrefixes[] = {
    {"odbc=", Option::kOdbc},   {"user=", Option::kUser}, {"password=", Option::kPassword},
    {"data=", Option::kData},   {"css=", Option::kCss},   {"mseed=", Option::kMseed},
    {"sync=", Option::kSync},
};

std::string_view argumentText(const char* argument)
{
    return argument != nullptr ? std::string_view(argument) : std::string_view();
}

std::string commandLineTooLong(const char* name, std::size_t maxLength)
{
    return "Argument too long (" + std::string(name) + ", at most " + std::to_string(maxLength) +
           " characters).\n";
}

std::string iniValueTooLong(const char* section, const char* key, const std::string& path,
                            std::size_t maxLength)
{
    return "Setting too long ([" + std::string(section) + "] " + key + " in " + path +
           ", at most " + std::to_string(maxLength) + " characters).\n";
}

// One INI-backed field: where it is read from, and how it is described.
template <std::size_t Capacity>
struct IniField {
    FixedText<Capacity>& field;
    const char* section;
    const char* key;
};

// Reads an INI value into a field that is still empty. The read uses a buffer
// one byte larger than the field, so a value that does not fit comes back
// longer than the field can hold and is refused instead of being cut.
template <std::size_t Capacity>
bool fillFromIni(const IniField<Capacity>& entry, const std::string& path, std::string& message)
{
    if (!entry.field.empty()) return true;
    const std::string value =
        readProfileString(entry.section, entry.key, "", Capacity + 1, path);
    if (!entry.field.assign(value)) {
        message = iniValueTooLong(entry.section, entry.key, path, Capacity - 1);
        return false;
    }
    return true;
}

bool fillAllFromIni(ConverterSettings& s, const std::string& path, std::string& message)
{
    return fillFromIni(IniField<32>{s.odbc, "DATABASE", "ODBC"}, path, message) &&
           fillFromIni(IniField<32>{s.user, "DATABASE", "USER"}, path, message) &&
           fillFromIni(IniField<32>{s.password, "DATABASE", "PASSWORD"}, path, message) &&
           fillFromIni(IniField<512>{s.data, "DATA", "DIR"}, path, message);
}

template <std::size_t Capacity>
void applyDefault(FixedText<Capacity>& field, const char* value)
{
    if (field.empty()) field.cut(value);
}

template <std::size_t Capacity>
void makeNative(FixedText<Capacity>& field)
{
    // Separator changes never change the length, so the text still fits.
    std::string text = field.str();
    toNativeSeparators(text);
    field.assign(text);
}

std::string fileIn(const std::string& directory, const char* name)
{
    if (directory.empty()) return name;  // unknown directory: name it relative to the current one
    return directory + kNativeSeparator + name;
}

SettingsResult tooLong(SettingsResult& result, std::string message)
{
    result.status = SettingsStatus::kArgumentTooLong;
    result.exitCode = kExitArgumentTooLong;
    result.message = std::move(message);
    return std::move(result);
}

}  // namespace

bool isConverterOption(std::string_view argument)
{
    for (const OptionPrefix& candidate : kOptionPrefixes)
        if (startsWithIgnoringCase(argument, candidate.prefix)) return true;
    return false;
}

SettingsResult gatherSettings(int argc, const char* const* argv)
{
    SettingsResult result;
    if (argc < 3 || argv == nullptr) {
        result.status = SettingsStatus::kUsage;
        result.exitCode = kExitUsage;
        result.message = kUsageText;
        return result;
    }
    ConverterSettings& s = result.settings;

    if (!s.stationCode.assign(argumentText(argv[1])))
        return tooLong(result, commandLineTooLong("station code", s.stationCode.kMaxLength));
    if (!s.winPath.assign(argumentText(argv[2])))
        return tooLong(result, commandLineTooLong("path to file", s.winPath.kMaxLength));

    // Every argument, the station code and the path included, may carry an
    // option; a later argument with the same prefix replaces an earlier one.
    std::optional<std::string_view> given[static_cast<int>(Option::kCount)];
    int givenAt[static_cast<int>(Option::kCount)] = {};
    for (int i = 1; i < argc; ++i) {
        const std::string_view argument = argumentText(argv[i]);
        for (const OptionPrefix& candidate : kOptionPrefixes) {
            if (startsWithIgnoringCase(argument, candidate.prefix)) {
                given[static_cast<int>(candidate.option)] = argument.substr(candidate.prefix.size());
                givenAt[static_cast<int>(candidate.option)] = i;
                break;
            }
        }
    }
    const auto value = [&](Option option) { return given[static_cast<int>(option)]; };
    if (value(Option::kOdbc) && !s.odbc.assign(*value(Option::kOdbc)))
        return tooLong(result, commandLineTooLong("odbc", s.odbc.kMaxLength));
    if (value(Option::kUser) && !s.user.assign(*value(Option::kUser)))
        return tooLong(result, commandLineTooLong("user", s.user.kMaxLength));
    if (value(Option::kPassword) && !s.password.assign(*value(Option::kPassword)))
        return tooLong(result, commandLineTooLong("password", s.password.kMaxLength));
    if (value(Option::kData) && !s.data.assign(*value(Option::kData)))
        return tooLong(result, commandLineTooLong("data", s.data.kMaxLength));
    if (value(Option::kCss)) {
        if (!s.css.assign(*value(Option::kCss)))
            return tooLong(result, commandLineTooLong("css", s.css.kMaxLength));
        s.cssOutput = true;  // chosen by the presence of "css=", even with an empty path
    }
    if (value(Option::kMseed)) {
        if (!s.mseed.assign(*value(Option::kMseed)))
            return tooLong(result, commandLineTooLong("mseed", s.mseed.kMaxLength));
        s.mseedOutput = true;
    }
    if (s.cssOutput && s.mseedOutput) {
        // Both outputs replace the TRZ archive: the later argument wins.
        const bool mseedLater = givenAt[static_cast<int>(Option::kMseed)] > givenAt[static_cast<int>(Option::kCss)];
        s.cssOutput = !mseedLater;
        s.mseedOutput = mseedLater;
        result.outputNotice = mseedLater ? "Output: miniSEED (mseed= given after css=).\n"
                                         : "Output: CSS (css= given after mseed=).\n";
    }

    s.iniPath = fileIn(currentDirectory(), "tremcvt.ini");
    s.trzIniPath = fileIn(systemConfigDirectory(), "trz.ini");
    std::string message;
    if (!fillAllFromIni(s, s.iniPath, message) || !fillAllFromIni(s, s.trzIniPath, message))
        return tooLong(result, std::move(message));

    applyDefault(s.odbc, kDefaultOdbc);
    applyDefault(s.user, kDefaultUser);
    applyDefault(s.password, kDefaultPassword);
    applyDefault(s.data, defaultDataDirectory());

    // The switch of the database layer belongs to this converter's own INI
    // file only; trz.ini is shared with other programs.
    s.useTend = readProfileInt("DATABASE", "USE_TEND", 0, s.iniPath);
    // Like the connection's keys: tremcvt.ini first, then trz.ini.
    s.tsindex = readProfileInt("DATABASE", "TSINDEX", -1, s.iniPath);
    if (s.tsindex == -1) s.tsindex = readProfileInt("DATABASE", "TSINDEX", 0, s.trzIniPath);
    // Syncing is a matter of the machine as much as of the archive: trz.ini
    // may turn it off for every program, tremcvt.ini and the command line
    // for this converter.
    if (value(Option::kSync)) {
        s.sync = std::atoi(std::string(*value(Option::kSync)).c_str());
    } else {
        s.sync = readProfileInt("DATABASE", "SYNC", readProfileInt("DATABASE", "SYNC", 1, s.trzIniPath), s.iniPath);
    }

    makeNative(s.winPath);
    makeNative(s.data);
    makeNative(s.css);
    makeNative(s.mseed);
    return result;
}

SettingsResult settingsForWinFile(const ConverterSettings& settings, std::string_view path)
{
    SettingsResult result;
    result.settings = settings;
    if (!result.settings.winPath.assign(path))
        return tooLong(result, commandLineTooLong("path to file", result.settings.winPath.kMaxLength));
    makeNative(result.settings.winPath);
    return result;
}

ArchiveSettings archiveSettings(const ConverterSettings& settings)
{
    ArchiveSettings archive{settings.odbc.str(), settings.user.str(), settings.password.str(), settings.data.str(),
                            settings.useTend != 0};
    archive.sync = settings.sync != 0;
    return archive;
}

}  // namespace tremcvt
