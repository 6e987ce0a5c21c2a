#include "converter/driver/conversion_run.h"

#include <cctype>
#include <cstdint>
#include <memory>
#include <string>
#include <utility>
#include <vector>

#include "common/profile.h"
#include "converter/archive/archive_database.h"
#include "converter/archive/archive_output.h"
#include "converter/driver/run_report.h"
#include "converter/driver/settings.h"
#include "converter/driver/station_list.h"
#include "converter/tsindex/tsindex_table.h"
#include "converter/win/irregularity_text.h"
#include "converter/win/win_decoder.h"
#include "converter/win/win_reader.h"
#include "converter/writers/css_writer.h"
#include "converter/writers/mseed_output.h"
#include "converter/writers/mseed_writer.h"

namespace tremcvt {
namespace {

constexpr const char* kSeparatorLine = "============================================================\n";

template <std::size_t Capacity>
void toUpperInPlace(FixedText<Capacity>& text)
{
    for (char* c = text.data(); *c != '\0'; ++c)
        *c = static_cast<char>(std::toupper(static_cast<unsigned char>(*c)));
}

void storeComponent(ChannelTrace& trace, const std::string& iniPath, std::string_view stationCode)
{
    // The lookup always yields a text that fits the field: a name too long
    // for it falls back to the channel key.
    trace.component.cut(lookupComponent(iniPath, stationCode, trace.channelId).component);
}

// The SITECHAN half of the first-block checks; returns the problems found.
int checkSitechanOfFirstBlock(ChannelTable& table, const ConverterSettings& settings,
                              ArchiveDatabase& database, RunReport& out, ConversionOutcome& outcome)
{
    out.write(kSeparatorLine);
    out.write("Checking SITECHAN\n");
    int problems = 0;
    for (ChannelTrace& trace : table) {
        storeComponent(trace, settings.iniPath, settings.stationCode.view());
        toUpperInPlace(trace.station);
        toUpperInPlace(trace.component);
        const ResultCode result = database.checkSitechan(trace.station.view(), trace.component.view(),
                                                         kLocationCode, static_cast<double>(trace.sps));
        if (result == kResultSitechanRateDiffers) {
            out.print("SPS differs from SITECHAN (%s::%s::%d)\n", trace.station.c_str(), trace.component.c_str(),
                      trace.sps);
            ++problems;
        } else if (result == kResultAbsentFromSitechan) {
            out.print("Absent from SITECHAN (%s::%s::%d)\n", trace.station.c_str(), trace.component.c_str(),
                      trace.sps);
            ++problems;
        } else if (result != kResultOk) {
            if (result == kResultConnectionTestFailed) outcome.connectionLost = true;
            ++outcome.databaseErrors;
            out.write("Database error\n");
            out.addReasons(database.lastDiagnostics());
        }
    }
    out.write(kSeparatorLine);
    return problems;
}

// Station and component of every channel as they go to the output: the
// station from the command line where the first-block checks did not set it,
// the component looked up afresh, both upper-cased.
void completeChannels(ChannelTable& table, const ConverterSettings& settings)
{
    for (ChannelTrace& trace : table) {
        if (trace.station.empty()) trace.station.cut(settings.stationCode.view());
        storeComponent(trace, settings.iniPath, trace.station.view());
        toUpperInPlace(trace.station);
        toUpperInPlace(trace.component);
    }
}

// What was irregular in each channel's data, on standard error.
int reportIrregularities(const ChannelTable& table, RunReport& out)
{
    int irregular = 0;
    for (const ChannelTrace& trace : table) {
        if (trace.irregularities.empty()) continue;
        ++irregular;
        for (const std::string& line :
             describeIrregularities(trace.station.str() + "::" + trace.component.str(), trace.irregularities))
            out.addReasons(line);
    }
    return irregular;
}

// Every failure line of the output on standard output, its reasons on
// standard error, and what they mean for the outcome.
void reportOutput(const OutputResults& results, OutputKind kind, RunReport& out, ConversionOutcome& outcome)
{
    for (const OutputResult& result : results) {
        if (result.code == kResultConnectionTestFailed) outcome.connectionLost = true;
        outcome.unstoredChannels += result.unstoredChannels;
        if (!result.warning) outcome.failedOutput = kind;
        out.write(result.line);
        out.addReasons(result.reason);
    }
}

// Every channel in table order into the output, then its end step.
void writeOutput(const ChannelTable& table, ChannelOutput& output, RunReport& out, ConversionOutcome& outcome)
{
    for (const ChannelTrace& trace : table) reportOutput(output.store(trace), output.kind(), out, outcome);
    reportOutput(output.finish(), output.kind(), out, outcome);
}

}  // namespace

ConversionClass classifyConversion(const ConversionOutcome& outcome)
{
    if (outcome.winFileNotOpened) return ConversionClass::kOpenFailed;
    if (outcome.exitCode == kExitException) return ConversionClass::kError;
    if (!outcome.failedOutput) return ConversionClass::kConverted;
    switch (*outcome.failedOutput) {
    case OutputKind::kArchive: return ConversionClass::kCatalogueWrite;
    case OutputKind::kCss: return ConversionClass::kCssWrite;
    case OutputKind::kMseed: return ConversionClass::kMseedWrite;
    }
    return ConversionClass::kConverted;
}

const char* conversionClassName(ConversionClass kind)
{
    switch (kind) {
    case ConversionClass::kConverted: return nullptr;
    case ConversionClass::kOpenFailed: return "open";
    case ConversionClass::kError: return "error";
    case ConversionClass::kCatalogueWrite: return "catalogue write";
    case ConversionClass::kCssWrite: return "CSS write";
    case ConversionClass::kMseedWrite: return "miniSEED write";
    }
    return nullptr;
}

std::unique_ptr<ChannelOutput> makeOutput(const ConverterSettings& settings, ArchiveDatabase& database)
{
    if (settings.mseedOutput) {
        const std::string iniPath = settings.iniPath;
        DayFileStored indexDayFile;
        if (settings.tsindex != 0) {
            // A day file's rows follow every store; a failure is reported as
            // the catalogue's are, and the channel counts as not stored.
            auto table = std::make_shared<TsindexTable>(database);
            indexDayFile = [table](const ChannelTrace& trace, const std::string& dayFile) {
                OutputResult result;
                result.code = table->update(dayFile);
                if (result.code == kResultOk) return result;
                result.line = "DB write error (" + trace.station.str() + "::" + trace.component.str() +
                              "::" + dayFile + ")\n";
                result.reason = table->reason();
                result.unstoredChannels = 1;
                return result;
            };
        }
        return std::make_unique<MseedOutput>(
            settings.mseed.view(), settings.data.view(),
            [iniPath](std::string_view station) { return lookupNetwork(iniPath, station); },
            [iniPath](std::string_view station) { return lookupUtcOffset(iniPath, station); },
            std::move(indexDayFile));
    }
    if (settings.cssOutput) return std::make_unique<CssOutput>(settings.css.view(), settings.data.view());
    return std::make_unique<ArchiveOutput>(database);
}

void reportConnectionError(const ConverterSettings& settings, const ArchiveDatabase& database, RunReport& report)
{
    report.print("Connection error (ODBC: %s, USER: %s).\n", settings.odbc.c_str(), settings.user.c_str());
    report.addReasons(database.lastDiagnostics());
}

ConversionOutcome convertWinFile(const ConverterSettings& settings, ArchiveDatabase& database, RunReport& report)
{
    ConversionOutcome outcome;
    WinFileReader reader;
    if (!reader.open(settings.winPath.str())) {
        report.print("File open error (%s).\n", settings.winPath.c_str());
        outcome.winFileNotOpened = true;
        outcome.exitCode = kExitWinFileNotOpened;
        return outcome;
    }

    ChannelTable table;
    try {
        std::vector<std::uint8_t> body;
        bool firstBlock = true;
        for (;;) {
            const WinReadStatus status = reader.next(body);
            if (status == WinReadStatus::End) break;
            // A file that ends inside a block still hands over the complete
            // channel blocks of its last, partial block.
            if (status == WinReadStatus::Block || !body.empty()) {
                // Reserve every channel's samples once, from the file's size
                // and its first block, instead of growing them block by block.
                if (firstBlock) table.setSizeHintForFile(reader.fileSize(), body.size() + 4);
                decodeSecondBlock(body.data(), body.size(), table);
                if (firstBlock) {
                    outcome.problemCount += runIniCheck(table, settings.stationCode.view(), settings.iniPath, report);
                    outcome.problemCount += checkSitechanOfFirstBlock(table, settings, database, report, outcome);
                    firstBlock = false;
                }
            }
            if (status == WinReadStatus::Truncated) {
                // What was complete is converted; the operator learns that
                // the rest of the file could not be read.
                report.print("File truncated (%s).\n", settings.winPath.c_str());
                outcome.truncated = true;
                break;
            }
        }
        reader.close();
        finishChannels(table);

        completeChannels(table, settings);
        outcome.irregularChannels = reportIrregularities(table, report);
        const std::unique_ptr<ChannelOutput> output = makeOutput(settings, database);
        writeOutput(table, *output, report, outcome);
    } catch (...) {
        table.clear();
        outcome.exitCode = kExitException;
        return outcome;
    }
    table.clear();
    outcome.exitCode = outcome.unstoredChannels > 0 ? kExitChannelsNotStored : outcome.problemCount;
    return outcome;
}

int runConverter(int argc, const char* const* argv, std::FILE* out, std::FILE* err)
{
    RunReport report(out, err);
    // The settings and the station list are read many times during one run;
    // each INI file is parsed once.
    const ProfileReadCache profileCache;
    const SettingsResult gathered = gatherSettings(argc, argv);
    if (gathered.status != SettingsStatus::kReady) {
        report.write(gathered.message);
        return gathered.exitCode;
    }
    const ConverterSettings& settings = gathered.settings;
    if (settings.mseedOutput && !mseedOutputAvailable()) {
        report.write(kMseedUnavailableText);
        return kExitMseedUnavailable;
    }
    report.write(gathered.outputNotice);

    ArchiveDatabase database(archiveSettings(settings));

    if (!database.connect()) {
        reportConnectionError(settings, database, report);
        return kExitConnectionFailed;
    }
    const ConversionOutcome outcome = convertWinFile(settings, database, report);
    database.disconnect();
    return outcome.exitCode;
}

}  // namespace tremcvt
