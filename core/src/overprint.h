// Overprinted text: the same string drawn a second time at almost the same
// place, which a reader sees once.
#pragma once

#include <vector>

#include "text.h"

namespace vellox_core {

// Producers without a bold face fake one by drawing each string twice, the
// second copy shifted by a fraction of a point (the town names of
// contrib-issue-1008-inline-ascii85.pdf are drawn again 0.96 units right
// and down at size 10); some draw a shadow or an outline the same way. Read
// as they are, the two copies interleave letter by letter
// ("MMuunniicciipp...").
//
// A run is dropped when an earlier run of the same page has the same text,
// the same size (within kOverprintSizeRatio) and direction, and an origin
// that differs by less than kOverprintReach of the size across and along
// the writing direction and, along it, by less than kOverprintOverlap of
// the run's advance: the copy covers most of the original. Spaces count
// like letters, so a copied space does not double the gap it stands for. Repeated letters
// placed one by one ("l", "l" in "Hello") are a whole advance apart and
// stay.
void drop_overprinted(std::vector<TextRun>& runs);

// A copy sits within this share of the font size of the original, in both
// directions: the offsets of faked bold and of shadows seen in real files
// run from 0.02 to 0.1 of the size.
inline constexpr double kOverprintReach = 0.2;
// ...and overlaps it along the line by more than half its advance. A
// narrow letter (an "i" of 0.28 of the size) still covers its copy 0.1 of
// the size away; letters placed one by one are a whole advance apart.
inline constexpr double kOverprintOverlap = 0.5;
// Sizes differing by more than this ratio are different text.
inline constexpr double kOverprintSizeRatio = 0.02;

}  // namespace vellox_core
