// Word spacing: when the gap between two runs set one after the other on a
// line stands for a space that the file does not show.
#pragma once

#include <algorithm>
#include <cmath>
#include <string>

#include "text.h"

namespace vellox_core {

// Many producers place every word, or every glyph, with its own Td or Tm
// instead of showing a space glyph (encryption-unencrypted.pdf sets each
// letter on its own), and others kern the letters of a word apart with TJ
// numbers (contrib-issue-00352-asw-oct96-p41.pdf breaks "reported" into
// "r", "epor", "t", "ed"). Measured in user space along the writing
// direction, over the font size, the gaps between letters-or-digits of
// consecutive runs on one line across the three corpora fall in two groups:
// kerning and glyph placement from -0.10 to +0.06 of the size (a few TJ
// adjustments reach 0.11), word spaces from 0.22 up (TeX's justified lines,
// whose spaces shrink to 2/9 of the size in pdflatex-4-pages.pdf and
// multicolumn.pdf) with TeX's thin space of 1/6 in formulas (cos v, ln D in
// GeoTopo-komprimiert.pdf) just below. The threshold sits between the two.
inline constexpr double kSpaceGap = 0.15;

// Sizes below this count as this when the gap is measured, so that a zero or
// non-finite size (a degenerate matrix) does not make every gap a space.
inline constexpr double kMinSpaceSize = 1.0;

// True when `after` starts past the end of `before`, along before's writing
// direction in user space, by more than kSpaceGap of the larger of their
// font sizes (a superscript next to its word is measured at the word's
// size). A NaN anywhere gives false.
//
// Defined here, with append_run_text, so that layout, which joins nearly
// every run of a page with it, takes both in line: the call cost a fifth of
// the work.
inline bool gap_is_space(const TextRun& before, const TextRun& after) {
    // The direction as layout reads it (display_direction): a unit vector,
    // and left to right when it has no length or is not finite.
    double dx = before.dir_x;
    double dy = before.dir_y;
    if (dx != 1 || dy != 0) {
        const double length = std::hypot(dx, dy);
        if (std::isfinite(length) && length > 0) {
            dx /= length;
            dy /= length;
        } else {
            dx = 1;
            dy = 0;
        }
    }
    const double end_x = before.x + before.width * dx;
    const double end_y = before.y + before.width * dy;
    const double gap = (after.x - end_x) * dx + (after.y - end_y) * dy;
    // std::max keeps its first argument when the second is NaN, so a NaN
    // size is passed over; fabs takes a size from a mirrored matrix.
    const double size =
        std::max(std::max(kMinSpaceSize, std::fabs(before.font_size)), std::fabs(after.font_size));
    return gap > kSpaceGap * size;
}

// Appends after.text to `text`, with a space first when gap_is_space says so
// and neither side already has one there. Lines join their runs with it.
inline void append_run_text(std::string& text, const TextRun& before, const TextRun& after) {
    // The spaces first: they are cheaper to look at than the gap.
    if ((text.empty() || text.back() != ' ') && (after.text.empty() || after.text.front() != ' ') &&
        gap_is_space(before, after)) {
        text.push_back(' ');
    }
    text += after.text;
}

}  // namespace vellox_core
