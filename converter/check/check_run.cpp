#include "common/version.h"
#include "converter/check/check_run.h"

#include <algorithm>
#include <fstream>
#include <map>

#include "converter/check/availability.h"
#include "converter/check/catalogue_reader.h"
#include "converter/check/check_command_line.h"
#include "converter/check/repair.h"
#include "converter/check/sds_check.h"
#include "converter/check/svg_picture.h"
#include "converter/check/trz_check.h"
#include "converter/driver/settings.h"

namespace tremcvt::check {
namespace {

void print(std::FILE* stream, const std::string& text) { std::fwrite(text.data(), 1, text.size(), stream); }

// "3 inconsistencies (1 missing, 2 orphan)".
std::string countText(const std::vector<Finding>& findings)
{
    std::map<std::string, int> byKind;
    for (const Finding& finding : findings) ++byKind[finding.kind];
    std::string kinds;
    for (const auto& [kind, count] : byKind) {
        if (!kinds.empty()) kinds += ", ";
        kinds += std::to_string(count) + " " + kind;
    }
    return std::to_string(findings.size()) + (findings.size() == 1 ? " inconsistency (" : " inconsistencies (") + kinds +
           ")";
}

int reportFindings(const std::vector<Finding>& findings, const std::string& counted, std::FILE* out)
{
    std::string text;
    for (const Finding& finding : findings) text += formatFinding(finding) + "\n";
    if (findings.empty())
        text += "Summary: consistent, " + counted + "\n";
    else
        text += "Summary: " + countText(findings) + " in " + counted + "\n";
    print(out, text);
    return findings.empty() ? kCheckConsistent : kCheckInconsistent;
}

int reportAvailability(const CheckOptions& options, const std::vector<ChannelPieces>& channels, std::FILE* out,
                       std::FILE* err)
{
    const AvailabilityReport report = computeAvailability(channels, options.selection.from, options.selection.to);
    switch (options.format) {
    case ReportFormat::kText: print(out, formatAvailabilityText(report)); break;
    case ReportFormat::kCsv: print(out, formatAvailabilityCsv(report)); break;
    case ReportFormat::kJson: print(out, formatAvailabilityJson(report)); break;
    }
    if (!options.picture.empty()) {
        const std::string svg = renderAvailabilitySvg(report);
        std::ofstream file(options.picture, std::ios::binary | std::ios::trunc);
        file.write(svg.data(), static_cast<std::streamsize>(svg.size()));
        file.close();
        if (!file) {
            print(err, "tremcvt_check: the picture " + options.picture + " cannot be written\n");
            return kCheckPictureNotWritten;
        }
    }
    const bool overlaps = std::any_of(report.channels.begin(), report.channels.end(),
                                      [](const ChannelAvailability& c) { return !c.overlaps.empty(); });
    return overlaps ? kCheckInconsistent : kCheckConsistent;
}

std::vector<ChannelPieces> piecesOfRows(const std::vector<const CatalogueRow*>& rows)
{
    std::map<std::string, ChannelPieces> channels;
    for (const CatalogueRow* selected : rows) {
        const CatalogueRow& row = *selected;
        std::string name = row.station + "::" + row.channel;
        if (!row.locationCode.empty() && row.locationCode != "??") name += "::" + row.locationCode;
        ChannelPieces& channel = channels[name];
        channel.name = name;
        channel.rate = row.rate;
        if (row.samples() > 0) channel.pieces.push_back({row.begin, row.sampleEnd()});
    }
    std::vector<ChannelPieces> out;
    for (auto& [name, channel] : channels) out.push_back(std::move(channel));
    return out;
}

int runSds(const CheckOptions& options, std::FILE* out, std::FILE* err)
{
    if (!sdsCheckAvailable()) {
        print(err, "tremcvt_check: this build cannot read miniSEED (built without libmseed)\n");
        return kCheckRefused;
    }
    if (options.command == CheckCommand::kRepair) return repairSdsTree(options, out, err);
    SdsScan scan = scanSdsTree(options.sds, options.selection, options.readData);
    if (options.command == CheckCommand::kAvailability) return reportAvailability(options, scan.channels, out, err);
    return reportFindings(scan.findings,
                          std::to_string(scan.dayFiles) + " day files, " + std::to_string(scan.records) +
                              " records below " + options.sds,
                          out);
}

int runTrz(const CheckOptions& options, std::FILE* out, std::FILE* err)
{
    // The converter's own settings sources: the two arguments it requires
    // stand in as placeholders, the settings arguments follow.
    std::vector<const char*> argv = {"tremcvt_check", "-", "-"};
    for (const std::string& argument : options.settingsArguments) argv.push_back(argument.c_str());
    const SettingsResult gathered = gatherSettings(static_cast<int>(argv.size()), argv.data());
    if (gathered.status != SettingsStatus::kReady) {
        print(err, "tremcvt_check: " + gathered.message);
        return kCheckRefused;
    }
    if (options.command == CheckCommand::kRepair) return repairTrzArchive(options, gathered.settings, out, err);
    const CatalogueReadResult catalogue = readCatalogue(gathered.settings);
    if (catalogue.status != CatalogueReadStatus::kRead) {
        print(err, std::string("tremcvt_check: ") +
                       (catalogue.status == CatalogueReadStatus::kNoConnection
                            ? "no connection to the data source " + gathered.settings.odbc.str()
                            : "the catalogue FILELIST cannot be read") +
                       (catalogue.reason.empty() ? "" : ": " + catalogue.reason) + "\n");
        return kCheckNoConnection;
    }
    const std::string root = gathered.settings.data.str();
    if (options.command == CheckCommand::kAvailability)
        return reportAvailability(options, piecesOfRows(selectRows(catalogue.rows, options.selection)), out, err);
    VerifyTotals totals;
    const std::vector<Finding> findings =
        verifyTrzArchive(catalogue.rows, root, options.selection, options.readData, totals);
    std::string counted = std::to_string(totals.rows) + " catalogue rows and " + std::to_string(totals.filesSeen) +
                          " files below " + root;
    if (options.readData) counted += ", " + std::to_string(totals.samplesRead) + " samples read";
    return reportFindings(findings, counted, out);
}

}  // namespace

int runCheck(const std::vector<std::string>& arguments, std::FILE* out, std::FILE* err)
{
    const ParsedCheckCommandLine parsed = parseCheckCommandLine(arguments);
    if (parsed.status == ParsedCheckCommandLine::Status::kHelp) {
        print(out, kCheckUsage);
        return kCheckConsistent;
    }
    if (parsed.status == ParsedCheckCommandLine::Status::kRefused) {
        print(err, "tremcvt_check: " + parsed.message + "\n" + kCheckUsage);
        return kCheckRefused;
    }
    // The log of a scheduled check names the build that made it.
    print(err, versionLine("tremcvt_check") + "\n");
    try {
        return parsed.options.sds.empty() ? runTrz(parsed.options, out, err) : runSds(parsed.options, out, err);
    } catch (const std::exception& error) {
        print(err, std::string("tremcvt_check: ") + error.what() + "\n");
        return kCheckNoConnection;
    }
}

}  // namespace tremcvt::check
