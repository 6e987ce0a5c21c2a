// The miniSEED output of a run ("mseed="): every channel into its day files
// of the SDS archive, with a failure line for each channel that is refused
// or cannot be stored.
#pragma once

#include <functional>
#include <string>
#include <string_view>

#include "converter/writers/channel_output.h"

namespace tremcvt {

// The network code of a station as configured (any case; upper-cased by the
// output).
using NetworkLookup = std::function<std::string(std::string_view station)>;
// The offset of a station's WIN clock from UTC as configured ("+09:00"; see
// parseUtcOffset).
using UtcOffsetLookup = std::function<std::string(std::string_view station)>;

// Told, after each channel's store, the path of every day file the store
// concerned (whether or not it succeeded); answers a failure to report, or
// code kResultOk.
using DayFileStored = std::function<OutputResult(const ChannelTrace& trace, const std::string& dayFile)>;

// Writes every channel below the SDS root: root (the mseed= directory), put
// below dataDir when relative. A channel whose codes do not fit or are not
// valid is refused with "<what> (STA::CMP::NET)", one whose station's UTC
// offset is not valid with "UTC offset not valid for miniSEED
// (STA::CMP::<offset>)"; one that cannot be stored
// gives "miniSEED write error (STA::CMP::<day file or root>)" and the
// writer's reason. An empty root names no directory: nothing is stored and
// finish() reports "miniSEED write error (mseed= names no directory)".
class MseedOutput final : public ChannelOutput {
public:
    // Without utcOffsetOf the WIN times are taken as UTC; dayFileStored,
    // when given, is told of every day file a channel's store concerned.
    MseedOutput(std::string_view root, std::string_view dataDir, NetworkLookup networkOf,
                UtcOffsetLookup utcOffsetOf = {}, DayFileStored dayFileStored = {});

    OutputKind kind() const override { return OutputKind::kMseed; }
    OutputResults store(const ChannelTrace& trace) override;
    OutputResults finish() override;

private:
    // Empty when no directory is named.
    std::string root_;
    NetworkLookup networkOf_;
    UtcOffsetLookup utcOffsetOf_;
    DayFileStored dayFileStored_;
    int channelsTaken_ = 0;
};

}  // namespace tremcvt
