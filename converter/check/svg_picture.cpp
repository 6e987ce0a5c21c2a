#include "converter/check/svg_picture.h"

#include <algorithm>
#include <cmath>
#include <cstdio>
#include <vector>

#include "common/calendar/calendar.h"
#include "converter/check/check_model.h"

namespace tremcvt::check {
namespace {

constexpr int kTop = 52;          // first row
constexpr int kAxisHeight = 40;   // tick labels below the rows
constexpr int kLabelRoom = 110;   // pixels one tick label needs
constexpr const char* kSpanColour = "#2e7d32";
constexpr const char* kGapColour = "#d32f2f";
constexpr const char* kOverlapColour = "#f9a825";
constexpr const char* kRowColour = "#eeeeee";

std::string xmlText(const std::string& text)
{
    std::string out;
    for (const char c : text) {
        switch (c) {
        case '&': out += "&amp;"; break;
        case '<': out += "&lt;"; break;
        case '>': out += "&gt;"; break;
        case '"': out += "&quot;"; break;
        default: out += c;
        }
    }
    return out;
}

std::string format(const char* pattern, double a, double b, double c, double d)
{
    char text[160];
    std::snprintf(text, sizeof text, pattern, a, b, c, d);
    return text;
}

// Stretches of one kind as whole-pixel runs, neighbours merged.
struct PixelRun {
    int x0 = 0;
    int x1 = 0;
    int count = 0;       // stretches merged into it
    Interval first;      // first and last stretch, for its title
    Interval last;
};

class TimeScale {
public:
    TimeScale(const Interval& window, int x0, int x1) : window_(window), x0_(x0), x1_(x1) {}
    double x(double t) const
    {
        const double span = window_.end - window_.begin;
        if (!(span > 0.0)) return x0_;
        return x0_ + (t - window_.begin) / span * (x1_ - x0_);
    }
    int left() const { return x0_; }
    int right() const { return x1_; }

private:
    Interval window_;
    int x0_;
    int x1_;
};

// minWidth: gaps and overlaps stay visible however short they are.
std::vector<PixelRun> pixelRuns(const std::vector<Interval>& stretches, const TimeScale& scale, int minWidth)
{
    std::vector<PixelRun> runs;
    for (const Interval& s : stretches) {
        int x0 = static_cast<int>(std::floor(scale.x(s.begin)));
        int x1 = static_cast<int>(std::ceil(scale.x(s.end)));
        x0 = std::clamp(x0, scale.left(), scale.right() - minWidth);
        x1 = std::clamp(std::max(x1, x0 + minWidth), x0 + minWidth, scale.right());
        if (!runs.empty() && x0 <= runs.back().x1) {
            runs.back().x1 = std::max(runs.back().x1, x1);
            ++runs.back().count;
            runs.back().last = s;
            continue;
        }
        runs.push_back({x0, x1, 1, s, s});
    }
    return runs;
}

std::string runTitle(const char* kind, const PixelRun& run)
{
    if (run.count == 1)
        return std::string(kind) + " " + utcText(run.first.begin) + " to " + utcText(run.first.end) + " (" +
               durationText(run.first.end - run.first.begin) + ")";
    return std::to_string(run.count) + " " + kind + "s from " + utcText(run.first.begin) + " to " +
           utcText(run.last.end);
}

// Tick steps: seconds, or whole months when months is above 0.
struct TickStep {
    double seconds;
    int months;
};
constexpr TickStep kSteps[] = {
    {1, 0},      {2, 0},      {5, 0},      {10, 0},     {15, 0},      {30, 0},      {60, 0},       {120, 0},
    {300, 0},    {600, 0},    {900, 0},    {1800, 0},   {3600, 0},    {7200, 0},    {10800, 0},    {21600, 0},
    {43200, 0},  {86400, 0},  {172800, 0}, {604800, 0}, {1209600, 0}, {0, 1},       {0, 3},        {0, 6},
    {0, 12},     {0, 24},     {0, 60},     {0, 120},
};

struct Tick {
    double time;
    std::string label;
};

std::vector<Tick> ticks(const Interval& window, int pixels)
{
    std::vector<Tick> out;
    const double span = window.end - window.begin;
    if (!(span > 0.0)) return out;
    const int most = std::max(2, pixels / kLabelRoom);
    for (const TickStep& step : kSteps) {
        const double approx = step.months > 0 ? step.months * 30.44 * 86400.0 : step.seconds;
        if (span / approx > most && &step != &kSteps[std::size(kSteps) - 1]) continue;
        char text[32];
        if (step.months == 0) {
            for (double t = std::ceil(window.begin / step.seconds) * step.seconds; t <= window.end; t += step.seconds) {
                CivilTime c;
                civilFromSeconds(t, c);
                if (step.seconds < 60)
                    std::snprintf(text, sizeof text, "%02d:%02d:%02d", c.hour, c.minute, static_cast<int>(c.second));
                else if (step.seconds < 86400)
                    std::snprintf(text, sizeof text, "%02d-%02d %02d:%02d", c.month, c.day, c.hour, c.minute);
                else
                    std::snprintf(text, sizeof text, "%04d-%02d-%02d", c.year, c.month, c.day);
                out.push_back({t, text});
            }
        } else {
            CivilTime c;
            civilFromSeconds(window.begin, c);
            int year = c.year;
            int month = c.month;  // the first month start at or after the window's start
            if (secondsFromCivil(year, month, 1, 0, 0, 0.0f) < window.begin && ++month > 12) {
                month = 1;
                ++year;
            }
            while (true) {
                const int index = year * 12 + month - 1;
                if (index % step.months == 0) {
                    const double t = secondsFromCivil(year, month, 1, 0, 0, 0.0f);
                    if (t > window.end) break;
                    std::snprintf(text, sizeof text, "%04d-%02d", year, month);
                    out.push_back({t, text});
                }
                if (++month > 12) {
                    month = 1;
                    ++year;
                }
                if (secondsFromCivil(year, month, 1, 0, 0, 0.0f) > window.end) break;
            }
        }
        break;
    }
    return out;
}

void appendRuns(std::string& out, const std::vector<PixelRun>& runs, const char* kind, const char* colour, int y,
                int height, bool titled)
{
    for (const PixelRun& run : runs) {
        out += "<rect class=\"" + std::string(kind) + "\" x=\"" + std::to_string(run.x0) + "\" y=\"" +
               std::to_string(y) + "\" width=\"" + std::to_string(run.x1 - run.x0) + "\" height=\"" +
               std::to_string(height) + "\" fill=\"" + colour + "\"";
        if (titled)
            out += "><title>" + xmlText(runTitle(kind, run)) + "</title></rect>\n";
        else
            out += "/>\n";
    }
}

}  // namespace

std::string renderAvailabilitySvg(const AvailabilityReport& report, const PictureLayout& layout)
{
    const int rows = static_cast<int>(report.channels.size());
    const int height = kTop + rows * layout.rowHeight + kAxisHeight;
    const TimeScale scale(report.window, layout.labelWidth, layout.width - layout.percentWidth);
    const int bar = std::max(4, layout.rowHeight - 6);

    std::string out = "<?xml version=\"1.0\" encoding=\"UTF-8\"?>\n";
    out += "<svg xmlns=\"http://www.w3.org/2000/svg\" width=\"" + std::to_string(layout.width) + "\" height=\"" +
           std::to_string(height) + "\" viewBox=\"0 0 " + std::to_string(layout.width) + " " +
           std::to_string(height) + "\" font-family=\"sans-serif\" font-size=\"12\">\n";
    out += "<rect class=\"background\" x=\"0\" y=\"0\" width=\"" + std::to_string(layout.width) + "\" height=\"" +
           std::to_string(height) + "\" fill=\"#ffffff\"/>\n";
    out += "<text class=\"title\" x=\"10\" y=\"18\" font-size=\"14\">" +
           xmlText("Availability " + utcText(report.window.begin, 0) + " to " + utcText(report.window.end, 0) +
                   " UTC (" + durationText(report.window.end - report.window.begin) + ")") +
           "</text>\n";
    // Legend.
    const struct {
        const char* label;
        const char* colour;
    } legend[] = {{"covered", kSpanColour}, {"gap", kGapColour}, {"overlap", kOverlapColour}};
    int lx = layout.labelWidth;
    for (const auto& item : legend) {
        out += "<rect class=\"legend\" x=\"" + std::to_string(lx) + "\" y=\"28\" width=\"12\" height=\"12\" fill=\"" +
               item.colour + "\"/><text x=\"" + std::to_string(lx + 16) + "\" y=\"38\">" + item.label + "</text>\n";
        lx += 90;
    }
    // Grid lines and the time axis.
    const int axisY = kTop + rows * layout.rowHeight;
    out += "<g class=\"axis\">\n";
    for (const Tick& tick : ticks(report.window, scale.right() - scale.left())) {
        const std::string x = format("%.1f", scale.x(tick.time), 0, 0, 0);
        out += "<line x1=\"" + x + "\" y1=\"" + std::to_string(kTop - 2) + "\" x2=\"" + x + "\" y2=\"" +
               std::to_string(axisY + 4) + "\" stroke=\"#bbbbbb\" stroke-width=\"1\"/>";
        out += "<text x=\"" + x + "\" y=\"" + std::to_string(axisY + 18) + "\" text-anchor=\"middle\">" +
               xmlText(tick.label) + "</text>\n";
    }
    out += "<text x=\"" + std::to_string(layout.width - layout.percentWidth) + "\" y=\"" +
           std::to_string(axisY + 34) + "\" text-anchor=\"end\">UTC</text>\n</g>\n";

    for (int r = 0; r < rows; ++r) {
        const ChannelAvailability& c = report.channels[static_cast<std::size_t>(r)];
        const int y = kTop + r * layout.rowHeight;
        const int barY = y + (layout.rowHeight - bar) / 2;
        out += "<g class=\"channel\" data-channel=\"" + xmlText(c.name) + "\">\n";
        out += "<text class=\"label\" x=\"" + std::to_string(layout.labelWidth - 6) + "\" y=\"" +
               std::to_string(barY + bar - 3) + "\" text-anchor=\"end\">" + xmlText(c.name) + "</text>\n";
        out += "<rect class=\"row\" x=\"" + std::to_string(scale.left()) + "\" y=\"" + std::to_string(barY) +
               "\" width=\"" + std::to_string(scale.right() - scale.left()) + "\" height=\"" + std::to_string(bar) +
               "\" fill=\"" + kRowColour + "\"/>\n";
        appendRuns(out, pixelRuns(c.spans, scale, 1), "span", kSpanColour, barY, bar, false);
        appendRuns(out, pixelRuns(c.gaps, scale, 2), "gap", kGapColour, barY, bar, true);
        appendRuns(out, pixelRuns(c.overlaps, scale, 2), "overlap", kOverlapColour, barY, bar, true);
        out += "<text class=\"percent\" x=\"" + std::to_string(layout.width - 8) + "\" y=\"" +
               std::to_string(barY + bar - 3) + "\" text-anchor=\"end\">" + percentText(c.percent, 2) + " %" +
               "</text>\n</g>\n";
    }
    out += "</svg>\n";
    return out;
}

}  // namespace tremcvt::check
