// Plain data of tremcvt_check: catalogue rows as read from FILELIST, the
// operator's selection of stations, channels and time, and the findings of a
// check. Nothing here touches a database or a file.
#pragma once

#include <cstdint>
#include <optional>
#include <string>
#include <string_view>
#include <vector>

#include "common/calendar/calendar.h"

namespace tremcvt::check {

// One FILELIST row, the columns a check needs.
struct CatalogueRow {
    std::string station;       // STA
    std::string channel;       // CH
    std::string locationCode;  // LCODE (empty when NULL)
    std::string creator;       // CREATER
    std::string path;          // CPATH: relative to the archive root, "/" separators
    double begin = 0.0;        // TBEGIN, seconds since 1970
    double length = 0.0;       // TQTY, seconds
    double rate = 0.0;         // SPS
    std::optional<double> end; // TEND, when the catalogue keeps it
    std::int32_t dataOffset = 0;  // FOFF: header bytes before the first sample

    // The samples the row accounts for: TQTY seconds at SPS to the nearest
    // whole sample (both are kept with two decimals).
    std::int64_t samples() const;
    // Time just after the row's last sample: begin + samples / rate.
    double sampleEnd() const;
    // The file size the row promises: FOFF + 4 bytes per sample.
    std::int64_t expectedSize() const;
};

// What the operator asked to look at. Empty lists select everything.
struct Selection {
    std::vector<std::string> stations;
    std::vector<std::string> channels;
    std::optional<double> from;  // seconds since 1970
    std::optional<double> to;

    bool selectsStation(std::string_view station) const;
    bool selectsChannel(std::string_view channel) const;
    // Whether [begin, end) meets the time window.
    bool selectsTime(double begin, double end) const;
};

// One inconsistency: its kind (a fixed word), the file it concerns and what
// differs. Printed as "<kind> <file>: <what>".
struct Finding {
    std::string kind;
    std::string file;
    std::string what;
};

std::string formatFinding(const Finding& finding);


// "YYYY-MM-DDTHH:MM" or "YYYY-MM-DDTHH:MM:SS" (also with a space instead of
// the "T") as UTC seconds since 1970. Nothing when the text is not such a time.
std::optional<double> parseUtcText(std::string_view text);

// A duration for people: "2d 03:04:05", "01:00:00", "0.500 s".
std::string durationText(double seconds);

}  // namespace tremcvt::check
