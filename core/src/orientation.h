// The displayed page: the page's /Rotate, and writing directions as they
// appear once the page is turned by it.
#pragma once

#include <cstdint>

namespace vellox_core {

struct Vec2 {
    double x = 0;
    double y = 0;
};

// The page's /Rotate (already reduced to 0..359 by the page tree) as 0, 90,
// 180 or 270: how far the page is turned clockwise when displayed.
int page_rotation(std::int64_t rotate);

// A point or direction of user space turned clockwise by `rotation` (0, 90,
// 180 or 270), so that it lies where the displayed page shows it: x to the
// right, y up, about the same origin. Only swaps and sign changes, so an
// infinite coordinate never meets a zero factor and turns into NaN.
Vec2 to_display(Vec2 p, int rotation);

// Writing directions on the displayed page fall into bins of two degrees,
// counted counterclockwise from left to right. Text set at one angle always
// shares a bin; directions within a degree of an axis share that axis's bin,
// which takes in the slight skew real files have (0.14 degrees off vertical
// in the side notes of contrib-issue_495_pdfobjref.pdf) while text set at a
// real angle of its own (the 14 and -50 degree labels of the maps in
// GeoTopo-komprimiert.pdf) keeps to itself.
inline constexpr int kDirectionBins = 180;
inline constexpr int kUprightBin = 0;        // left to right
inline constexpr int kBottomToTopBin = 45;   // turned 90 degrees counterclockwise
inline constexpr int kUpsideDownBin = 90;    // right to left, upside down
inline constexpr int kTopToBottomBin = 135;  // turned 90 degrees clockwise, or vertical writing

struct Direction {
    // Unit vector on the displayed page; exactly an axis for the axis bins,
    // so that the text of an upright page is compared in plain x and y.
    Vec2 unit{1, 0};
    int bin = kUprightBin;
};

// The displayed direction of a run whose writing direction in user space is
// (dir_x, dir_y). A direction that is not finite or has no length (from a
// degenerate or hostile text matrix) is taken as upright, as most text is.
Direction display_direction(double dir_x, double dir_y, int rotation);

}  // namespace vellox_core
