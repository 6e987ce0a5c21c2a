// Putting a channel's blocks in time order after the last block of a file.
#include <algorithm>
#include <limits>
#include <utility>
#include <vector>

#include "converter/win/win_decoder.h"

namespace tremcvt {
namespace {

// One channel block as decodeSecondBlock left it: its second, its n and
// where its samples lie, in the order the file held it.
struct DecodedBlock {
    double time = 0.0;
    std::int32_t sps = 0;
    std::size_t firstSample = 0;
    bool cameLate = false;  // a later second of the channel came before it
};

bool inTimeOrder(const std::vector<TraceSegment>& runs)
{
    for (std::size_t k = 1; k < runs.size(); ++k) {
        if (runs[k].startTime < runs[k - 1].endTime()) return false;
    }
    return true;
}

// Extends the last segment by one second of sps samples, or starts a new one.
void appendSecond(std::vector<TraceSegment>& segments, double time, std::int32_t sps, std::size_t firstSample)
{
    if (segments.empty() || segments.back().endTime() != time || segments.back().sps != sps) {
        segments.push_back({time, sps, firstSample, 0, 0});
    }
    segments.back().sampleCount += static_cast<std::size_t>(sps);
    segments.back().seconds += 1;
}

// Rebuilds the samples and segments of a channel whose runs overlap or are
// out of time order, and notes its repeated and out-of-order blocks.
void reorder(ChannelTrace& trace)
{
    std::vector<DecodedBlock> blocks;
    double latest = -std::numeric_limits<double>::infinity();
    for (const TraceSegment& run : trace.segments) {
        const auto sps = static_cast<std::size_t>(run.sps);
        for (std::int32_t s = 0; s < run.seconds; ++s) {
            const double time = run.startTime + s;
            blocks.push_back({time, run.sps, run.firstSample + static_cast<std::size_t>(s) * sps, time < latest});
            latest = std::max(latest, time);
        }
    }
    // Stable: of the copies of one second, the first in the file comes first.
    std::stable_sort(blocks.begin(), blocks.end(),
                     [](const DecodedBlock& a, const DecodedBlock& b) { return a.time < b.time; });

    const std::vector<float>& old = trace.samples;
    std::vector<float> samples;
    samples.reserve(old.size());
    std::vector<TraceSegment> segments;
    const DecodedBlock* kept = nullptr;
    for (const DecodedBlock& block : blocks) {
        if (kept != nullptr && block.time == kept->time) {
            const bool same = block.sps == kept->sps &&
                              std::equal(old.begin() + static_cast<std::ptrdiff_t>(block.firstSample),
                                         old.begin() + static_cast<std::ptrdiff_t>(block.firstSample + block.sps),
                                         old.begin() + static_cast<std::ptrdiff_t>(kept->firstSample));
            trace.irregularities.push_back(
                {IrregularityKind::RepeatedSecond, block.time, block.time + 1.0, 0, 0, !same});
            continue;
        }
        kept = &block;
        if (block.cameLate) {
            trace.irregularities.push_back({IrregularityKind::OutOfOrder, block.time, block.time + 1.0, 0, 0, false});
        }
        appendSecond(segments, block.time, block.sps, samples.size());
        const auto from = old.begin() + static_cast<std::ptrdiff_t>(block.firstSample);
        samples.insert(samples.end(), from, from + block.sps);
    }
    trace.samples = std::move(samples);
    trace.segments = std::move(segments);
}

// Joins runs that continue each other at the same rate; their samples are
// already adjacent because the runs are in time and file order.
void joinAdjacentRuns(std::vector<TraceSegment>& runs)
{
    std::size_t last = 0;
    for (std::size_t k = 1; k < runs.size(); ++k) {
        TraceSegment& into = runs[last];
        if (runs[k].startTime == into.endTime() && runs[k].sps == into.sps &&
            runs[k].firstSample == into.firstSample + into.sampleCount) {
            into.sampleCount += runs[k].sampleCount;
            into.seconds += runs[k].seconds;
        } else {
            runs[++last] = runs[k];
        }
    }
    if (!runs.empty()) runs.resize(last + 1);
}

void finishChannel(ChannelTrace& trace)
{
    if (trace.segments.empty()) {
        // A trace made without the decoder (by a test or a benchmark): all
        // its samples are one segment from its start at its rate.
        if (trace.endTime <= trace.startTime) return;
        trace.segments.push_back({trace.startTime, trace.sps, 0, trace.samples.size(),
                                  static_cast<std::int32_t>(trace.endTime - trace.startTime)});
    }
    if (!inTimeOrder(trace.segments)) reorder(trace);
    joinAdjacentRuns(trace.segments);

    // Gaps and rate changes follow from the segments alone: found afresh.
    std::vector<TraceIrregularity>& found = trace.irregularities;
    found.erase(std::remove_if(found.begin(), found.end(),
                               [](const TraceIrregularity& i) {
                                   return i.kind == IrregularityKind::Gap || i.kind == IrregularityKind::RateChange;
                               }),
                found.end());
    const std::vector<TraceSegment>& segments = trace.segments;
    for (std::size_t k = 1; k < segments.size(); ++k) {
        const TraceSegment& before = segments[k - 1];
        const TraceSegment& after = segments[k];
        if (after.startTime > before.endTime()) {
            found.push_back({IrregularityKind::Gap, before.endTime(), after.startTime, 0, 0, false});
        }
        if (after.sps != before.sps) {
            found.push_back({IrregularityKind::RateChange, after.startTime, after.startTime + 1.0, before.sps,
                             after.sps, false});
        }
    }
    std::stable_sort(found.begin(), found.end(), [](const TraceIrregularity& a, const TraceIrregularity& b) {
        return a.kind != b.kind ? a.kind < b.kind : a.from < b.from;
    });

    trace.startTime = segments.front().startTime;
    trace.endTime = segments.back().endTime();
}

}  // namespace

void finishChannels(ChannelTable& table)
{
    for (ChannelTrace& trace : table) finishChannel(trace);
}

}  // namespace tremcvt
