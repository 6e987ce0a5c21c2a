#include "converter/check/availability.h"

#include <algorithm>
#include <cmath>
#include <cstdio>

#include "converter/check/check_model.h"

namespace tremcvt::check {
namespace {

double toleranceOf(double rate) { return rate > 0.0 ? 0.5 / rate : 0.0; }

void addJoined(std::vector<Interval>& list, Interval piece, double tolerance)
{
    if (!list.empty() && piece.begin <= list.back().end + tolerance) {
        list.back().end = std::max(list.back().end, piece.end);
        return;
    }
    list.push_back(piece);
}

ChannelAvailability channelAvailability(const ChannelPieces& channel, const Interval& window)
{
    ChannelAvailability out;
    out.name = channel.name;
    out.rate = channel.rate;
    const double tolerance = toleranceOf(channel.rate);
    std::vector<Interval> pieces;
    for (const Interval& piece : channel.pieces) {
        const Interval cut{std::max(piece.begin, window.begin), std::min(piece.end, window.end)};
        if (cut.end > cut.begin) pieces.push_back(cut);
    }
    std::sort(pieces.begin(), pieces.end(), [](const Interval& a, const Interval& b) {
        return a.begin != b.begin ? a.begin < b.begin : a.end < b.end;
    });
    for (const Interval& piece : pieces) {
        if (!out.spans.empty()) {
            const Interval& last = out.spans.back();
            if (piece.begin < last.end - tolerance)
                addJoined(out.overlaps, {piece.begin, std::min(piece.end, last.end)}, tolerance);
            else if (piece.begin > last.end + tolerance)
                out.gaps.push_back({last.end, piece.begin});
        }
        addJoined(out.spans, piece, tolerance);
    }
    const double length = window.end - window.begin;
    if (out.spans.empty()) {
        if (length > 0.0) out.gaps.push_back(window);
    } else {
        if (out.spans.front().begin > window.begin + tolerance)
            out.gaps.insert(out.gaps.begin(), Interval{window.begin, out.spans.front().begin});
        if (out.spans.back().end < window.end - tolerance) out.gaps.push_back({out.spans.back().end, window.end});
    }
    for (const Interval& span : out.spans) out.coveredSeconds += span.end - span.begin;
    out.percent = length > 0.0 ? std::min(100.0, 100.0 * out.coveredSeconds / length) : 0.0;
    return out;
}

std::string number(double value, const char* format = "%.4f")
{
    char text[64];
    std::snprintf(text, sizeof text, format, value);
    return text;
}

std::string jsonText(const std::string& text)
{
    std::string out = "\"";
    for (const char c : text) {
        const auto u = static_cast<unsigned char>(c);
        if (c == '"' || c == '\\') {
            out += '\\';
            out += c;
        } else if (u < 0x20) {
            char escape[8];
            std::snprintf(escape, sizeof escape, "\\u%04x", u);
            out += escape;
        } else {
            out += c;
        }
    }
    return out + "\"";
}

std::string csvText(const std::string& text)
{
    if (text.find_first_of(",\"\n") == std::string::npos) return text;
    std::string out = "\"";
    for (const char c : text) {
        if (c == '"') out += '"';
        out += c;
    }
    return out + "\"";
}

const char* plural(std::size_t n, const char* one, const char* many) { return n == 1 ? one : many; }

}  // namespace

std::string percentText(double percent, int decimals)
{
    const double scale = std::pow(10.0, decimals);
    char text[64];
    std::snprintf(text, sizeof text, "%.*f", decimals, std::floor((percent + 1e-6) * scale) / scale);
    return text;
}

std::int64_t samplesIn(const Interval& interval, double rate)
{
    const double samples = std::round((interval.end - interval.begin) * rate);
    return std::isfinite(samples) && samples > 0.0 ? static_cast<std::int64_t>(samples) : 0;
}

AvailabilityReport computeAvailability(const std::vector<ChannelPieces>& channels, std::optional<double> from,
                                       std::optional<double> to)
{
    AvailabilityReport report;
    double earliest = 0.0;
    double latest = 0.0;
    bool any = false;
    for (const ChannelPieces& channel : channels) {
        for (const Interval& piece : channel.pieces) {
            if (!any || piece.begin < earliest) earliest = piece.begin;
            if (!any || piece.end > latest) latest = piece.end;
            any = true;
        }
    }
    report.window.begin = from ? *from : earliest;
    report.window.end = to ? *to : latest;
    if (report.window.end < report.window.begin) report.window.end = report.window.begin;
    for (const ChannelPieces& channel : channels) report.channels.push_back(channelAvailability(channel, report.window));
    return report;
}

std::string formatAvailabilityText(const AvailabilityReport& report)
{
    std::string out = "Availability from " + utcText(report.window.begin) + " to " + utcText(report.window.end) +
                      " UTC (" + durationText(report.window.end - report.window.begin) + "), " +
                      std::to_string(report.channels.size()) + plural(report.channels.size(), " channel", " channels") +
                      "\n";
    for (const ChannelAvailability& c : report.channels) {
        out += c.name + " at " + number(c.rate, "%.2f") + " sps: " + percentText(c.percent, 3) + " % covered, " +
               std::to_string(c.spans.size()) + plural(c.spans.size(), " span, ", " spans, ") +
               std::to_string(c.gaps.size()) + plural(c.gaps.size(), " gap, ", " gaps, ") +
               std::to_string(c.overlaps.size()) + plural(c.overlaps.size(), " overlap\n", " overlaps\n");
        const auto lines = [&out, &c](const std::vector<Interval>& list, const char* kind, bool withSamples) {
            for (const Interval& i : list) {
                out += std::string("  ") + kind + " " + utcText(i.begin, 4) + " to " + utcText(i.end, 4) + "  " +
                       durationText(i.end - i.begin);
                if (withSamples) out += " (" + std::to_string(samplesIn(i, c.rate)) + " samples)";
                out += "\n";
            }
        };
        lines(c.spans, "span   ", false);
        lines(c.gaps, "gap    ", true);
        lines(c.overlaps, "overlap", true);
    }
    return out;
}

std::string formatAvailabilityCsv(const AvailabilityReport& report)
{
    std::string out = "channel,kind,start,end,seconds,samples,percent\n";
    for (const ChannelAvailability& c : report.channels) {
        const std::string name = csvText(c.name);
        out += name + ",channel," + utcText(report.window.begin, 4) + "," + utcText(report.window.end, 4) + "," +
               number(c.coveredSeconds) + "," +
               std::to_string(samplesIn({0.0, c.coveredSeconds}, c.rate)) + "," + percentText(c.percent, 3) + "\n";
        const auto lines = [&](const std::vector<Interval>& list, const char* kind) {
            for (const Interval& i : list)
                out += name + "," + kind + "," + utcText(i.begin, 4) + "," + utcText(i.end, 4) + "," +
                       number(i.end - i.begin) + "," + std::to_string(samplesIn(i, c.rate)) + ",\n";
        };
        lines(c.spans, "span");
        lines(c.gaps, "gap");
        lines(c.overlaps, "overlap");
    }
    return out;
}

std::string formatAvailabilityJson(const AvailabilityReport& report)
{
    const auto interval = [](const Interval& i, double rate) {
        return "{\"start\":" + jsonText(utcText(i.begin, 4)) + ",\"end\":" + jsonText(utcText(i.end, 4)) +
               ",\"seconds\":" + number(i.end - i.begin) + ",\"samples\":" + std::to_string(samplesIn(i, rate)) + "}";
    };
    const auto list = [&interval](const std::vector<Interval>& items, double rate) {
        std::string out = "[";
        for (std::size_t k = 0; k < items.size(); ++k) {
            if (k > 0) out += ',';
            out += interval(items[k], rate);
        }
        return out + "]";
    };
    std::string out = "{\"window\":{\"start\":" + jsonText(utcText(report.window.begin, 4)) +
                      ",\"end\":" + jsonText(utcText(report.window.end, 4)) +
                      ",\"seconds\":" + number(report.window.end - report.window.begin) + "},\n\"channels\":[";
    for (std::size_t k = 0; k < report.channels.size(); ++k) {
        const ChannelAvailability& c = report.channels[k];
        out += k > 0 ? ",\n" : "\n";
        out += "{\"channel\":" + jsonText(c.name) + ",\"rate\":" +
               number(c.rate, "%.2f") + ",\"percent\":" + percentText(c.percent, 3) +
               ",\"covered_seconds\":" + number(c.coveredSeconds) + ",\"spans\":" + list(c.spans, c.rate) +
               ",\"gaps\":" + list(c.gaps, c.rate) + ",\"overlaps\":" + list(c.overlaps, c.rate) + "}";
    }
    return out + "\n]}\n";
}

}  // namespace tremcvt::check
