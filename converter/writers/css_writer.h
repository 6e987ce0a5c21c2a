// CSS 3.0 output: one wfdisc file that describes every channel in one text
// line, and beside it one ".w" file per channel with its samples as
// little-endian 32-bit floats (datatype "f4"), without a header.
#pragma once

#include <string>
#include <string_view>

#include "converter/win/channel_table.h"
#include "common/result_codes.h"

namespace tremcvt {

// Length of a wfdisc line without its line feed.
inline constexpr std::size_t kWfdiscLineLength = 283;

// The ".w" file name of a channel: "0-HHMMSSDDMMYYYY-<station>-<component>.w"
// from the channel's start time (no time zone applied).
std::string cssDataFileName(const ChannelTrace& trace);

// The channel's wfdisc line, ended by a line feed, naming dataFileName.
std::string formatWfdiscLine(const ChannelTrace& trace, std::string_view dataFileName);

// The wfdisc path as written: wfdiscPath put below dataDir unless absolute,
// with "/" separators.
std::string cssWfdiscPath(std::string_view wfdiscPath, std::string_view dataDir);

// Writes the whole table from scratch: the wfdisc file at
// cssWfdiscPath(wfdiscPath, dataDir) (every directory on the way is created)
// and one ".w" file per channel beside it. wfdiscPath receives the path
// written. A channel whose station or component cannot stand in a file name,
// or whose ".w" file cannot be created, gets no ".w" file; its wfdisc line
// stays. kResultOk; kResultFileOpenFailed when the wfdisc file cannot be
// created (then no ".w" file is written) or a file cannot be completely
// written.
int writeCssOutput(const ChannelTable& table, std::string& wfdiscPath, std::string_view dataDir);

}  // namespace tremcvt
