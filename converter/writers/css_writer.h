// CSS 3.0 output: one wfdisc file that describes every channel in one text
// line, and beside it one ".w" file per channel with its samples as
// little-endian 32-bit floats (datatype "f4"), without a header.
#pragma once

#include <span>
#include <string>
#include <string_view>
#include <vector>

#include "converter/win/channel_table.h"
#include "common/result_codes.h"
#include "converter/writers/channel_output.h"

namespace tremcvt {

// Length of a wfdisc line without its line feed.
inline constexpr std::size_t kWfdiscLineLength = 283;

// The ".w" file name of a channel: "0-HHMMSSDDMMYYYY-<station>-<component>.w"
// from the channel's start time (no time zone applied).
std::string cssDataFileName(const ChannelTrace& trace);

// The channel's wfdisc lines, one per segment (segmentsOf) with its own time,
// nsamp, samprate and foff into dataFileName, each ended by a line feed.
std::string formatWfdiscLine(const ChannelTrace& trace, std::string_view dataFileName);

// The wfdisc path as written: wfdiscPath put below dataDir unless absolute,
// with "/" separators.
std::string cssWfdiscPath(std::string_view wfdiscPath, std::string_view dataDir);

// The CSS output of a run ("css="): the whole table written from scratch
// when the run finishes, the wfdisc file at cssWfdiscPath(wfdiscPath,
// dataDir) (every directory on the way is created) with one line per
// segment, and one ".w" file per channel beside it. A channel whose station or component cannot stand in a
// file name, or whose ".w" file cannot be created, gets no ".w" file; its
// wfdisc line stays. finish() fails with kResultFileOpenFailed when the
// wfdisc file cannot be created (then no ".w" file is written) or a file
// cannot be completely written, with kResultPathOrMemoryFailed when memory
// runs out; its one failure line is "CSS write error (<wfdisc path>)".
class CssOutput final : public ChannelOutput {
public:
    CssOutput(std::string_view wfdiscPath, std::string_view dataDir);

    OutputKind kind() const override { return OutputKind::kCss; }
    // Takes the channel's wfdisc lines, its ".w" name and its samples (the
    // segments one after another).
    OutputResults store(const ChannelTrace& trace) override;
    OutputResults finish() override;

    // The wfdisc path as written.
    const std::string& wfdiscPath() const { return path_; }

private:
    struct DataFile {
        std::string name;
        bool nameSafe = true;
        std::span<const float> samples;
    };

    OutputResults failure(ResultCode code, std::string reason) const;
    OutputResults write();

    std::string path_;
    std::string lines_;
    std::vector<DataFile> dataFiles_;
    bool outOfMemory_ = false;
};

}  // namespace tremcvt
