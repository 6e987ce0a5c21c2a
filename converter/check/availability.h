// Availability of a channel's data over a time window: the spans it covers,
// the gaps between them, the stretches held twice (overlaps) and the share
// of the window covered; and the reports of it as text, CSV and JSON. Plain
// functions on plain data: the caller gathers the pieces (catalogue rows or
// miniSEED records).
#pragma once

#include <cstdint>
#include <optional>
#include <string>
#include <vector>

namespace tremcvt::check {

// [begin, end): end is the time just after the last sample.
struct Interval {
    double begin = 0.0;
    double end = 0.0;
};

// The pieces of one channel's data (files or records), in any order.
struct ChannelPieces {
    std::string name;  // as reports show it, e.g. "KAM::BHZ" or "XX.KAM..BHZ"
    double rate = 0.0; // samples per second; pieces closer than half an interval join
    std::vector<Interval> pieces;
};

struct ChannelAvailability {
    std::string name;
    double rate = 0.0;
    std::vector<Interval> spans;     // covered, joined where pieces meet
    std::vector<Interval> gaps;      // uncovered parts of the window
    std::vector<Interval> overlaps;  // covered by more than one piece
    double coveredSeconds = 0.0;
    double percent = 0.0;            // of the window
};

struct AvailabilityReport {
    Interval window;
    std::vector<ChannelAvailability> channels;  // in the order given
};

// The window is [from, to) when given; otherwise it reaches from the
// earliest to the latest piece of all channels. Pieces are cut to the window.
AvailabilityReport computeAvailability(const std::vector<ChannelPieces>& channels, std::optional<double> from,
                                       std::optional<double> to);

// A percentage with the given decimals, rounded down: a channel that lacks
// a single sample never shows 100.
std::string percentText(double percent, int decimals);

// Samples of a stretch at a rate, to the nearest whole sample.
std::int64_t samplesIn(const Interval& interval, double rate);

std::string formatAvailabilityText(const AvailabilityReport& report);
// "channel,kind,start,end,seconds,samples,percent": one "channel" line per
// channel (its window, covered seconds and percentage) followed by its
// "span", "gap" and "overlap" lines.
std::string formatAvailabilityCsv(const AvailabilityReport& report);
std::string formatAvailabilityJson(const AvailabilityReport& report);

}  // namespace tremcvt::check
