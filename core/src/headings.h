// Headings: the blocks a reader takes for the titles of sections, judged
// from the font sizes of the document as a whole.
#pragma once

#include <cstddef>
#include <vector>

#include "layout.h"

namespace vellox_core {

// The body text is the size that sets the most characters in the document
// (outside tables). A block is a heading when all of its lines are set at
// least this much larger. The heading styles of the common producers sit
// above it: LibreOffice's Heading 3 is 14.1 against a 12-point body (1.17),
// LaTeX's \subsection 12 against 10 (1.2), Word's Heading 3 12 against 11
// (1.09), reportlab's sample Heading3 12 against 10 (1.2); a 10.5-point
// line in 10-point text (1.05, a different font's rounding) stays body.
inline constexpr double kHeadingSizeRatio = 1.08;

// Sizes that differ by less than this share are one size: the same style
// measured through different matrices, rounded by the producer.
inline constexpr double kSameSizeShare = 0.04;

// Heading levels: the largest heading size is level 1, the next level 2,
// and every smaller one level 3, as HTML's <h1> to <h3> and Markdown's #
// to ### show them.
inline constexpr int kHeadingLevels = 3;

// Consecutive lines of one heading size, each next below the other with a
// gap across the line of at most kHeadingLineGap of their size, are one
// heading wrapped over several lines. Line spacing leaves 0.15 to 0.25 of
// the size between the boxes of consecutive lines (kAboveBaseline +
// kBelowBaseline = 1 of a leading of 1.15 to 1.25); two headings in a row
// are further apart: reportlab's Title and Heading1, both 18 units, leave
// 10 between their boxes (0.56, reportlab-headings.pdf). Lines that start,
// end or are centred within kHeadingAlignment of their size of each other
// may be up to kAlignedHeadingLineGap apart: a title page's centred title
// is spaced wider (0.6 in GeoTopo-komprimiert.pdf), and reportlab's
// centred Title stands over a Heading1 at the left margin. A heading has at
// most kMaxHeadingLines lines and kMaxHeadingChars characters: more is a
// paragraph set large (a lead paragraph, a pull quote, large print), not a
// title.
inline constexpr double kHeadingLineGap = 0.4;
inline constexpr double kAlignedHeadingLineGap = 0.8;
inline constexpr double kHeadingAlignment = 0.5;
inline constexpr std::size_t kMaxHeadingLines = 3;
inline constexpr std::size_t kMaxHeadingChars = 200;

// A heading needs this many letters: page numbers, figure labels ("2.5"),
// large mathematical operators and drop capitals are set large too.
inline constexpr std::size_t kMinHeadingLetters = 2;

// Nor is a heading a line of a table of contents (its dot leaders, this
// many dots with at most a space between them, "1 Overview ........ 3"),
// an item of a list (a line that starts with a bullet: the features of
// unreadablemetadata.pdf, set larger than its text), or the end of a
// sentence set large: a heading does not start with a lower-case Latin
// letter ("them." at a larger size in the OCR text of
// Seige_of_Vicksburg_Sample_OCR.pdf).
inline constexpr std::size_t kLeaderDots = 4;

// A text that comes back on another page of the document, digits aside
// ("Page 3 of 9", "Chapter 2"), with its top within this share of its size
// of the same place, is a running header or footer, not a heading.
inline constexpr double kRunningShift = 1.0;

// Font sizes outside (0, kMaxTextSize] user-space units are not text sizes
// (a hostile matrix, a glyph scaled to fill the page) and are not counted.
inline constexpr double kMaxTextSize = 10000;

// The body text's size in `pages`: the size (to a tenth of a unit) that
// sets the most characters outside tables; 0 when no line has a usable
// size.
double body_font_size(const std::vector<PageText>& pages);

// Sets Block::heading on the headings of `pages`, judged from all of them,
// and merges the blocks of a heading wrapped over several lines into one.
// A page whose `blocks` is empty gets one block per line first.
void mark_headings(std::vector<PageText>& pages);

}  // namespace vellox_core
