#include "converter/win/irregularity_text.h"

#include <cstdio>

#include "common/calendar/calendar.h"

namespace tremcvt {
namespace {

struct KindWords {
    IrregularityKind kind;
    const char* one;
    const char* many;
    const char* closingOne;   // after the single occurrence
    const char* closingMany;  // after the list
};

constexpr KindWords kKinds[] = {
    {IrregularityKind::Gap, "gap", "gaps", "", ""},
    {IrregularityKind::RepeatedSecond, "repeated second", "repeated seconds", "", ""},
    {IrregularityKind::OutOfOrder, "out-of-order block", "out-of-order blocks", " (put in its place)",
     " (put in their place)"},
    {IrregularityKind::RateChange, "rate change", "rate changes", "", ""},
};

std::string occurrenceText(const TraceIrregularity& irregularity)
{
    char text[160];
    switch (irregularity.kind) {
    case IrregularityKind::Gap:
        std::snprintf(text, sizeof text, "%s - %s (%.0f s)", calendarText(irregularity.from).c_str(),
                      calendarText(irregularity.to).c_str(), irregularity.to - irregularity.from);
        return text;
    case IrregularityKind::RepeatedSecond:
        return calendarText(irregularity.from) +
               (irregularity.differing ? " (differing copy dropped)" : " (identical copy dropped)");
    case IrregularityKind::OutOfOrder: return calendarText(irregularity.from);
    case IrregularityKind::RateChange:
        std::snprintf(text, sizeof text, "%d -> %d sps at %s", static_cast<int>(irregularity.fromSps),
                      static_cast<int>(irregularity.toSps), calendarText(irregularity.from).c_str());
        return text;
    }
    return {};
}

}  // namespace

std::string calendarText(double seconds)
{
    CivilTime civil;
    char text[48];
    if (civilFromSeconds(seconds, civil)) {
        std::snprintf(text, sizeof text, "%04d-%02d-%02dT%02d:%02d:%02d", civil.year, civil.month, civil.day,
                      civil.hour, civil.minute, static_cast<int>(civil.second));
    } else {
        std::snprintf(text, sizeof text, "%.0f", seconds);
    }
    return text;
}

std::vector<std::string> describeIrregularities(std::string_view channelName,
                                                const std::vector<TraceIrregularity>& irregularities)
{
    std::vector<std::string> lines;
    for (const KindWords& words : kKinds) {
        std::size_t count = 0;
        std::string list;
        for (const TraceIrregularity& irregularity : irregularities) {
            if (irregularity.kind != words.kind) continue;
            if (count < kIrregularitiesListed) {
                if (count > 0) list += ", ";
                list += occurrenceText(irregularity);
            } else if (count == kIrregularitiesListed) {
                list += ", ...";
            }
            ++count;
        }
        if (count == 0) continue;
        std::string line(channelName);
        if (count == 1) {
            line += std::string(": ") + words.one + " " + list + words.closingOne;
        } else {
            line += ": " + std::to_string(count) + " " + words.many + ": " + list + words.closingMany;
        }
        lines.push_back(std::move(line));
    }
    return lines;
}

}  // namespace tremcvt
