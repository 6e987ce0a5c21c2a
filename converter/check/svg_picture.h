// The availability picture: an SVG timeline with one row per channel, the
// covered spans, gaps and overlaps in their own colours, a UTC time axis and
// each channel's percentage. Stretches narrower than a pixel are merged, so
// a year of data stays a picture of at most one element per pixel and kind;
// gaps and overlaps are drawn at least one pixel wide, so none disappears.
#pragma once

#include <string>

#include "converter/check/availability.h"

namespace tremcvt::check {

struct PictureLayout {
    int width = 1200;         // whole picture, pixels
    int labelWidth = 170;     // channel names on the left
    int percentWidth = 80;    // percentages on the right
    int rowHeight = 20;
};

std::string renderAvailabilitySvg(const AvailabilityReport& report, const PictureLayout& layout = {});

}  // namespace tremcvt::check
