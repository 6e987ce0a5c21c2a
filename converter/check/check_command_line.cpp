#include "converter/check/check_command_line.h"

#include <string_view>

#include "common/paths.h"

namespace tremcvt::check {

const char* const kCheckUsage =
    "Usage:\n"
    "  tremcvt_check verify       [--read-data] [SELECTION] [SETTINGS]\n"
    "  tremcvt_check availability [--format text|csv|json] [--picture FILE.svg] [SELECTION] [SETTINGS]\n"
    "  tremcvt_check repair       [SELECTION] [SETTINGS]\n"
    "SELECTION:\n"
    "  --station STA     a station (repeatable; every station when none is given)\n"
    "  --channel CMP     a channel (repeatable; every channel when none is given)\n"
    "  --from YYYY-MM-DDTHH:MM[:SS]   start of the time window, UTC\n"
    "  --to   YYYY-MM-DDTHH:MM[:SS]   end of the time window, UTC\n"
    "  --sds DIR         the SDS tree of miniSEED day files below DIR instead of the TRZ\n"
    "                    archive (no database is needed)\n"
    "SETTINGS, as the converter takes them: odbc=NAME user=NAME password=TEXT data=DIR,\n"
    "  else tremcvt.ini in the current directory, else trz.ini in the system\n"
    "  configuration directory.\n"
    "verify checks every FILELIST row against its file (present, size, header), rows that\n"
    "  overlap and files no row names (the time window narrows the rows, not the search\n"
    "  for such files); --read-data also reads every sample. With --sds: every day file\n"
    "  record by record, the records' order and overlaps, and leftover temporary files.\n"
    "availability lists each channel's spans, gaps and overlaps over the window and the\n"
    "  share covered; --picture draws them as an SVG timeline.\n"
    "repair cuts stray samples beyond a row, rewrites a header from its row, cuts a row\n"
    "  back to the whole samples its file holds (deletes it when the file is gone) and\n"
    "  prints the span lost, to be converted again; with --sds it removes leftover\n"
    "  temporary files. Orphans and overlaps are listed, never changed.\n"
    "Exit codes: 0 consistent (gaps are not inconsistencies) or repaired, 3 inconsistencies\n"
    "  found (availability: overlaps; repair: some left unrepaired), 1 the picture could\n"
    "  not be written, 2 command line refused, 255 no database connection.\n";

namespace {

constexpr std::string_view kSettingsPrefixes[] = {"odbc=", "user=", "password=", "data="};

ParsedCheckCommandLine refuse(std::string message)
{
    ParsedCheckCommandLine parsed;
    parsed.status = ParsedCheckCommandLine::Status::kRefused;
    parsed.message = std::move(message);
    return parsed;
}

}  // namespace

ParsedCheckCommandLine parseCheckCommandLine(const std::vector<std::string>& arguments)
{
    ParsedCheckCommandLine parsed;
    CheckOptions& o = parsed.options;
    if (arguments.empty()) return refuse("no command given");
    const std::string& command = arguments[0];
    if (command == "--help" || command == "-h" || command == "help") {
        parsed.status = ParsedCheckCommandLine::Status::kHelp;
        return parsed;
    }
    if (command == "verify") {
        o.command = CheckCommand::kVerify;
    } else if (command == "availability") {
        o.command = CheckCommand::kAvailability;
    } else if (command == "repair") {
        o.command = CheckCommand::kRepair;
    } else {
        return refuse("unknown command '" + command + "'");
    }

    for (std::size_t i = 1; i < arguments.size(); ++i) {
        std::string name = arguments[i];
        std::string value;
        bool hasValue = false;
        if (name == "-h") {
            parsed.status = ParsedCheckCommandLine::Status::kHelp;
            return parsed;
        }
        if (name.rfind("--", 0) == 0) {
            const std::size_t equals = name.find('=');
            if (equals != std::string::npos) {
                value = name.substr(equals + 1);
                name.resize(equals);
                hasValue = true;
            }
        } else {
            bool setting = false;
            for (const std::string_view prefix : kSettingsPrefixes) {
                if (startsWithIgnoringCase(name, prefix)) {
                    o.settingsArguments.push_back(name);
                    setting = true;
                    break;
                }
            }
            if (setting) continue;
            if (startsWithIgnoringCase(name, "mseed=")) {
                o.sds = name.substr(6);
                if (o.sds.empty()) return refuse("mseed= names no directory");
                continue;
            }
            return refuse("unexpected argument '" + name + "'");
        }
        const auto takeValue = [&]() -> bool {
            if (hasValue) return true;
            if (i + 1 >= arguments.size()) return false;
            value = arguments[++i];
            return true;
        };
        if (name == "--help") {
            parsed.status = ParsedCheckCommandLine::Status::kHelp;
            return parsed;
        }
        if (name == "--read-data" && !hasValue) {
            if (o.command != CheckCommand::kVerify) return refuse("--read-data belongs to verify");
            o.readData = true;
        } else if (name == "--format") {
            if (o.command != CheckCommand::kAvailability) return refuse("--format belongs to availability");
            if (!takeValue()) return refuse("--format needs text, csv or json");
            if (value == "text") o.format = ReportFormat::kText;
            else if (value == "csv") o.format = ReportFormat::kCsv;
            else if (value == "json") o.format = ReportFormat::kJson;
            else return refuse("--format needs text, csv or json, not '" + value + "'");
        } else if (name == "--picture") {
            if (o.command != CheckCommand::kAvailability) return refuse("--picture belongs to availability");
            if (!takeValue() || value.empty()) return refuse("--picture needs a file name");
            o.picture = value;
        } else if (name == "--station" || name == "--channel") {
            if (!takeValue() || value.empty()) return refuse(name + " needs a code");
            (name == "--station" ? o.selection.stations : o.selection.channels).push_back(value);
        } else if (name == "--from" || name == "--to") {
            if (!takeValue()) return refuse(name + " needs a time YYYY-MM-DDTHH:MM[:SS]");
            const std::optional<double> time = parseUtcText(value);
            if (!time) return refuse(name + " needs a time YYYY-MM-DDTHH:MM[:SS], not '" + value + "'");
            (name == "--from" ? o.selection.from : o.selection.to) = time;
        } else if (name == "--sds") {
            if (!takeValue() || value.empty()) return refuse("--sds needs a directory");
            o.sds = value;
        } else {
            return refuse("unknown option '" + arguments[i] + "'");
        }
    }
    if (o.selection.from && o.selection.to && *o.selection.to <= *o.selection.from)
        return refuse("--to must lie after --from");
    return parsed;
}

}  // namespace tremcvt::check
