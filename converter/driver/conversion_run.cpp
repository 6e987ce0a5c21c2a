#include "converter/driver/conversion_run.h"

#include <cctype>
#include <cstdint>
#include <string>
#include <vector>

#include "common/profile.h"
#include "converter/archive/archive_database.h"
#include "converter/driver/mseed_output.h"
#include "converter/driver/run_report.h"
#include "converter/driver/settings.h"
#include "converter/driver/station_list.h"
#include "converter/win/win_decoder.h"
#include "converter/win/win_reader.h"
#include "converter/writers/css_writer.h"
#include "converter/writers/mseed_writer.h"
#include "converter/writers/trz_writer.h"

namespace tremcvt {
namespace {

constexpr const char* kSeparatorLine = "============================================================\n";
// Why a code cannot stand in an archive file name, for the operator.
std::string nameRefusal(const ChannelTrace& trace)
{
    std::string why;
    if (!isSafeNameCode(trace.station.view()))
        why += "station code \"" + trace.station.str() + "\" cannot stand in a file name";
    if (!isSafeNameCode(trace.component.view())) {
        if (!why.empty()) why += "; ";
        why += "component code \"" + trace.component.str() + "\" cannot stand in a file name";
    }
    if (why.empty()) why = "no local time can be formed for the start of " + trace.station.str() + "::" +
                           trace.component.str();
    return why + " (separators, control characters, : * ? \" < > | and the names . and .. are refused)";
}

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
// the component looked up afresh, both upper-cased. Returns the data-file
// names ("<station>_<component>.DAT" in the case before upper-casing).
std::vector<std::string> completeChannels(ChannelTable& table, const ConverterSettings& settings)
{
    std::vector<std::string> dataFileNames;
    dataFileNames.reserve(table.size());
    for (ChannelTrace& trace : table) {
        if (trace.station.empty()) trace.station.cut(settings.stationCode.view());
        storeComponent(trace, settings.iniPath, trace.station.view());
        dataFileNames.push_back(trace.station.str() + "_" + trace.component.str() + ".DAT");
        toUpperInPlace(trace.station);
        toUpperInPlace(trace.component);
    }
    return dataFileNames;
}

void archiveChannels(ChannelTable& table, const std::vector<std::string>& dataFileNames,
                     const ConverterSettings& settings, ArchiveDatabase& database, RunReport& out,
                     ConversionOutcome& outcome)
{
    // A failure line on standard output, then its reasons on standard error.
    auto report = [&](const char* what, ResultCode result, const ChannelTrace& trace,
                      const std::string& archivePath) {
        if (result == kResultConnectionTestFailed) outcome.connectionLost = true;
        out.print("%s (%s::%s::%s)", what, trace.station.c_str(), trace.component.c_str(), archivePath.c_str());
        out.addReasons(database.lastDiagnostics());
        database.clearDiagnostics();
    };
    for (std::size_t i = 0; i < table.size(); ++i) {
        const ChannelTrace& trace = table[i];
        database.clearDiagnostics();
        // The same naming rule as the archive writer, so that the removal
        // finds the file that an earlier conversion of this start wrote.
        const std::string archivePath =
            trzFilePath(settings.data.view(), trace.station.view(), trace.component.view(), trace.startTime);
        if (archivePath.empty()) {
            // This channel fails alone; the others of the file are stored.
            ++outcome.unstoredChannels;
            out.print("Invalid file name (%s::%s)\n", trace.station.c_str(), trace.component.c_str());
            out.addReasons(nameRefusal(trace));
            continue;
        }
        // Data that an earlier conversion already put into one archive file
        // is replaced there in place: removing that file would lose every
        // later minute appended to it. When that cannot be told, nothing is
        // removed; the store itself then replaces what it finds archived.
        bool replaced = false;
        ResultCode result = database.replaceArchivedData(
            trace.samples.data(), trace.sampleCount(), trace.station.view(), trace.component.view(), kLocationCode,
            kCreatorName, trace.startTime, trace.endTime, static_cast<double>(trace.sps), replaced);
        if (result != kResultOk) {
            report("Delete error", result, trace, archivePath);
        } else if (replaced) {
            continue;
        } else {
            result = database.removeArchivedFile(trace.station.view(), trace.component.view(), kLocationCode,
                                                 trace.startTime, archivePath);
            if (result != kResultOk) report("Delete error", result, trace, archivePath);
        }
        result = database.archiveChannel(trace.samples.data(), trace.sampleCount(), trace.station.view(),
                                         trace.component.view(), kLocationCode, dataFileNames[i], kCreatorName,
                                         trace.startTime, trace.endTime, static_cast<double>(trace.sps), 0.0, 0.0);
        if (result != kResultOk) {
            ++outcome.unstoredChannels;
            report("DB write error", result, trace, archivePath);
        }
    }
}

void writeCss(const ChannelTable& table, const ConverterSettings& settings, RunReport& out,
              ConversionOutcome& outcome)
{
    std::string wfdiscPath = settings.css.str();
    if (writeCssOutput(table, wfdiscPath, settings.data.view()) != kResultOk) {
        outcome.cssWriteFailed = true;
        out.print("CSS write error (%s)\n", wfdiscPath.c_str());
    }
}

}  // namespace

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

        const std::vector<std::string> dataFileNames = completeChannels(table, settings);
        if (settings.mseedOutput)
            outcome.mseedUnstoredChannels = writeMseedOutput(table, settings, report);
        else if (settings.cssOutput)
            writeCss(table, settings, report, outcome);
        else
            archiveChannels(table, dataFileNames, settings, database, report, outcome);
    } catch (...) {
        table.clear();
        outcome.exitCode = kExitException;
        return outcome;
    }
    table.clear();
    outcome.exitCode = outcome.problemCount;
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

    ArchiveDatabase database;
    for (const DatabaseParameter& parameter : databaseParameters(settings))
        database.setParameter(parameter.key, parameter.value);

    if (!database.connect()) {
        reportConnectionError(settings, database, report);
        return kExitConnectionFailed;
    }
    const ConversionOutcome outcome = convertWinFile(settings, database, report);
    database.disconnect();
    return outcome.exitCode;
}

}  // namespace tremcvt
