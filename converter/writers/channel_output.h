// One interface for every output of a conversion: the TRZ archive with its
// catalogue, CSS 3.0 and miniSEED. The run hands each completed channel to
// store() in table order and calls finish() once after the last one; every
// output answers with the same result shape, which carries the system's
// failure line for standard output as the output formats it and the reason
// for standard error. The run prints what it gets without knowing which
// output it talks to.
#pragma once

#include <cstdint>
#include <string>
#include <vector>

#include "common/result_codes.h"
#include "converter/win/channel_table.h"

namespace tremcvt {

enum class OutputKind {
    kArchive,  // TRZ archive files catalogued in FILELIST
    kCss,      // one wfdisc file and one ".w" file per channel
    kMseed,    // day files of an SDS archive
};

// One failure an output reports.
struct OutputResult {
    ResultCode code = kResultOk;
    // The line for standard output, exactly as the system prints it (some
    // lines end without a line feed, so that the next one continues them).
    std::string line;
    // Why, for standard error: one reason a line; empty when the line says
    // all there is.
    std::string reason;
    // Channels this failure left unstored.
    int unstoredChannels = 0;
    // The data were stored all the same (a failed removal of an earlier
    // file before a successful store): reported, but no failure of the
    // output.
    bool warning = false;
};

// What one call came to: its failures in the order they happened; empty when
// everything went well.
using OutputResults = std::vector<OutputResult>;

// The segments an output stores of a channel, each at its own start and
// rate: the trace's segments, or, for a trace that has none (one that was
// not put in time order), its whole samples as one segment.
inline std::vector<TraceSegment> segmentsOf(const ChannelTrace& trace)
{
    if (!trace.segments.empty()) return trace.segments;
    TraceSegment whole;
    whole.startTime = trace.startTime;
    whole.sps = trace.sps;
    whole.sampleCount = trace.samples.size();
    whole.seconds = static_cast<std::int32_t>(trace.endTime - trace.startTime);
    return {whole};
}

class ChannelOutput {
public:
    virtual ~ChannelOutput() = default;

    virtual OutputKind kind() const = 0;

    // Takes one channel whose station and component are completed and upper
    // case, and stores each of its segments (segmentsOf) at its own start and
    // rate, never joined. The one place where an output reads a channel's samples (or takes
    // them to write in finish()); the trace must stay as it is until finish()
    // returns.
    virtual OutputResults store(const ChannelTrace& trace) = 0;

    // Completes the output after the last channel (CSS writes its wfdisc
    // file over all of them here).
    virtual OutputResults finish() = 0;
};

}  // namespace tremcvt
