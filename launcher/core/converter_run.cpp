#include "launcher/core/converter_run.h"

#include <cstdlib>
#include <filesystem>
#include <system_error>

#include "common/paths.h"

namespace tremcvt {
namespace {

#ifdef _WIN32
constexpr char kSearchPathSeparator = ';';
#else
constexpr char kSearchPathSeparator = ':';
#endif

std::vector<std::string> pathVariableDirectories()
{
    std::vector<std::string> directories;
    const char* variable = std::getenv("PATH");
    if (!variable) return directories;
    const std::string_view text(variable);
    std::size_t start = 0;
    while (start <= text.size()) {
        std::size_t end = text.find(kSearchPathSeparator, start);
        if (end == std::string_view::npos) end = text.size();
        if (end > start) directories.emplace_back(text.substr(start, end - start));
        start = end + 1;
    }
    return directories;
}

// A regular file that the system would run: on Windows every such file,
// elsewhere one with an execute permission bit.
bool isRunnable(const std::filesystem::path& path)
{
    std::error_code error;
    const std::filesystem::file_status status = std::filesystem::status(path, error);
    if (error || !std::filesystem::is_regular_file(status)) return false;
#ifdef _WIN32
    return true;
#else
    using std::filesystem::perms;
    return (status.permissions() & (perms::owner_exec | perms::group_exec | perms::others_exec)) != perms::none;
#endif
}

std::string joined(const std::vector<std::string>& parts, char separator)
{
    std::string text;
    for (const std::string& part : parts) {
        if (!text.empty()) text += separator;
        text += part;
    }
    return text;
}

}  // namespace

ConverterLocation locateConverter(const std::string& ownDirectory, const std::vector<std::string>& searchPaths)
{
    ConverterLocation location;
    std::string beside = joinPath(ownDirectory, kConverterProgramName);
    toNativeSeparators(beside);
    if (isRunnable(beside)) {
        std::error_code error;
        const std::filesystem::path absolute = std::filesystem::absolute(beside, error);
        location.program = error ? beside : absolute.string();
    } else {
        const std::vector<std::string> directories = searchPaths.empty() ? pathVariableDirectories() : searchPaths;
        for (const std::string& directory : directories) {
            const std::string candidate = joinPath(directory, kConverterProgramName);
            if (isRunnable(candidate)) {
                location.program = candidate;
                break;
            }
        }
    }
    location.searched = beside + (searchPaths.empty() ? std::string(" and on the search path (PATH)")
                                                      : " and in " + joined(searchPaths, kSearchPathSeparator));
    return location;
}

ConverterCommand buildConverterCommand(std::string_view station, std::string_view winPath,
                                       const std::optional<std::string>& cssPath,
                                       const std::optional<std::string>& dataDirectory)
{
    ConverterCommand command;
    command.arguments.emplace_back(station);
    command.arguments.emplace_back(winPath);
    if (cssPath) command.arguments.push_back("css=" + *cssPath);
    if (dataDirectory) command.arguments.push_back("data=" + *dataDirectory);
    command.displayText = kConverterProgramName;
    for (const std::string& argument : command.arguments) {
        command.displayText += ' ';
        command.displayText += argument;
    }
    return command;
}

}  // namespace tremcvt
