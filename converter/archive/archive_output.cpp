#include "converter/archive/archive_output.h"

#include <span>
#include <string>

#include "converter/writers/trz_writer.h"

namespace tremcvt {
namespace {

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

}  // namespace

OutputResults ArchiveOutput::store(const ChannelTrace& trace)
{
    // Each segment goes through the catalogue on its own: one after a gap
    // continues no file across the gap, it starts one named by its start.
    OutputResults results;
    for (const TraceSegment& segment : segmentsOf(trace)) storeSegment(trace, segment, results);
    // The channel counts once however many of its segments failed.
    bool counted = false;
    for (OutputResult& result : results) {
        if (result.unstoredChannels == 0) continue;
        result.unstoredChannels = counted ? 0 : 1;
        counted = true;
    }
    return results;
}

void ArchiveOutput::storeSegment(const ChannelTrace& trace, const TraceSegment& segment, OutputResults& results)
{
    // A failure line with the database's reasons, which are cleared for the
    // next operation.
    auto report = [&](const char* what, ResultCode code, const std::string& archivePath, bool warning) {
        OutputResult failure;
        failure.code = code;
        failure.line = std::string(what) + " (" + trace.station.str() + "::" + trace.component.str() +
                       "::" + archivePath + ")";
        failure.reason = database_.lastDiagnostics();
        failure.unstoredChannels = warning ? 0 : 1;
        failure.warning = warning;
        results.push_back(std::move(failure));
        database_.clearDiagnostics();
    };

    // Files found shorter than their rows and cut back: a line each on
    // standard error, no failure.
    auto reportNotices = [&] {
        for (std::string& notice : database_.takeNotices()) {
            OutputResult note;
            note.reason = std::move(notice);
            note.warning = true;
            results.push_back(std::move(note));
        }
    };

    database_.clearDiagnostics();
    // The same naming rule as the archive writer, so that the removal finds
    // the file that an earlier conversion of this start wrote.
    const std::string archivePath =
        trzFilePath(database_.dataDir(), trace.station.view(), trace.component.view(), segment.startTime);
    if (archivePath.empty()) {
        // This channel fails alone; the others of the file are stored.
        OutputResult refused;
        refused.code = kResultPathOrMemoryFailed;
        refused.line = "Invalid file name (" + trace.station.str() + "::" + trace.component.str() + ")\n";
        refused.reason = nameRefusal(trace);
        refused.unstoredChannels = 1;
        results.push_back(std::move(refused));
        return;
    }

    ChannelStore channel;
    channel.station = trace.station.str();
    channel.channel = trace.component.str();
    channel.locationCode = kLocationCode;
    channel.creator = kCreatorName;
    channel.startTime = segment.startTime;
    channel.endTime = segment.endTime();
    channel.sampleRate = static_cast<double>(segment.sps);
    channel.samples = std::span<const float>(trace.samples).subspan(segment.firstSample, segment.sampleCount);

    // Data that an earlier conversion already put into one archive file is
    // replaced there in place: removing that file would lose every later
    // minute appended to it. When that cannot be told, nothing is removed;
    // the store itself then replaces what it finds archived.
    bool replaced = false;
    bool overlapsNothing = false;
    ResultCode result = database_.replaceArchivedData(channel, replaced, &overlapsNothing);
    reportNotices();
    if (result != kResultOk) {
        report("Delete error", result, archivePath, true);
    } else if (replaced) {
        return;
    } else {
        result = database_.removeArchivedFile(channel, archivePath);
        reportNotices();
        if (result != kResultOk) report("Delete error", result, archivePath, true);
    }
    result = database_.archiveChannel(channel, overlapsNothing);
    reportNotices();
    if (result != kResultOk) report("DB write error", result, archivePath, false);
}

}  // namespace tremcvt
