// Line layout: a page's runs grouped into lines as the displayed page shows
// them, and the lines put in order.
#pragma once

#include <cstddef>
#include <cstdint>
#include <memory>
#include <span>
#include <string>
#include <vector>

#include "image.h"
#include "orientation.h"
#include "pagetree.h"
#include "tables.h"
#include "text.h"

namespace vellox_core {

// A rectangle on the displayed page (user space turned by the page's
// rotation, see to_display): x0 <= x1 and y0 <= y1 when finite.
struct Box {
    double x0 = 0;
    double y0 = 0;
    double x1 = 0;
    double y1 = 0;
};

struct Line {
    std::string text;
    // The origin of the line's first run in user space, as the output
    // reports it.
    double x = 0;
    double y = 0;
    // Not in the output; what grouping lines into blocks needs. The extent
    // of the line's runs on the displayed page: each run spans its advance
    // along the line and its em box across it (kBelowBaseline and
    // kAboveBaseline of its size about the baseline).
    Box box;
    // The largest font size among the line's runs, in user-space units.
    double font_size = 0;
    // The writing direction on the displayed page, a unit vector.
    Vec2 direction{1, 0};
};

// Consecutive lines of a page that a reader takes as one unit: a
// paragraph, a heading, a caption, or a table read row by row.
struct Block {
    std::size_t begin = 0;  // index of the block's first line in PageText::lines
    std::size_t end = 0;    // one past its last line
    // The lines of the page's ruled table, or of an unruled tabular layout
    // (rows of aligned cells), in row order.
    bool table = false;
    // 1 to 3 for a heading and its level (1 the largest), 0 for anything
    // else; set from the font sizes of the whole document (headings.h).
    int heading = 0;
};

struct PageText {
    std::size_t number = 0;  // 1-based position of the page in the document
    double width = 0;
    double height = 0;
    int rotation = 0;  // 0, 90, 180 or 270 degrees clockwise, as displayed
    std::vector<Line> lines;
    // Not in the dict or JSON: `lines` cut into blocks, in order, every line
    // in exactly one block (order_page in reading_order.h fills them).
    std::vector<Block> blocks;
    bool needs_ocr = false;
    std::vector<Table> tables;
    std::vector<ParsedImage> images;

    // Line texts joined by "\n", no trailing line feed.
    std::string text() const;
};

// A stretch of a line's runs between gaps of at least kPieceGap of their
// size: the part of a line that lies in one column when the line runs
// across a gutter. Layout joins runs on one baseline whatever their
// distance, so the lines of two columns set on the same baselines (the two
// columns of multicolumn.pdf, of every LaTeX twocolumn page) are one line
// each; reading order splits them here again where it finds a column gap.
struct LinePiece {
    std::size_t line = 0;  // index of the line in PageText::lines
    // Where the piece's own text starts in the line's text, and where the
    // space joining it to the piece before starts (equal when no space was
    // put there; both 0 for a line's first piece).
    std::size_t text_begin = 0;
    std::size_t join_begin = 0;
    // The origin of the piece's first run in user space.
    double x = 0;
    double y = 0;
    Box box;  // the extent of its runs on the displayed page, as Line::box
    double font_size = 0;
};

// Two runs of a line further apart than this share of the larger of their
// sizes start different pieces. The narrowest column gutters are under
// one size wide (the Federal Register's 7 points between columns of
// 9-point type in contrib-pr-00530-ml-lines.pdf), a little more than the
// word spaces of the loosest justified lines; a piece split at a wide word
// space is joined again, since no column gap runs through it.
inline constexpr double kPieceGap = 0.6;

// Latin fonts put about a quarter of the em below the baseline (Helvetica's
// descender is 0.207 of the size, Times' 0.217) and the rest above: the band
// across the line that a run of size s covers is [base - 0.25 s, base +
// 0.75 s].
inline constexpr double kBelowBaseline = 0.25;
inline constexpr double kAboveBaseline = 0.75;

// Lines of `runs` on a page of `media_box` displayed turned by `rotate`
// degrees (the page's /Rotate; anything but a multiple of 90 counts as 0).
//
// Runs are grouped by their writing direction on the displayed page
// (display_direction). Within a direction, a run joins the line being formed
// when its band overlaps the band of the line's largest run by at least
// kSameLineOverlap of the smaller of the two, and its baseline is at most
// kMaxBaselineShift of the smaller size away from that run's. Lines of a
// direction come in the order that direction is read (upright text top to
// bottom; text turned 90 degrees counterclockwise left to right; vertical
// writing right to left), and the runs of a line along the direction.
//
// The page's main direction, the one holding the most text, comes first;
// the lines of each other direction follow it, a direction at a time, the
// directions in the order of their first line's top on the displayed page.
//
// With `pieces`, each line's pieces (LinePiece) are appended to it, line by
// line and left to right along each line; reading order works on them.
// With `scratch`, its lists are worked in (LayoutScratch, below).
struct LayoutScratch;
PageText layout_page(const std::vector<TextRun>& runs, const Rect& media_box,
                     std::int64_t rotate = 0, std::vector<LinePiece>* pieces = nullptr,
                     LayoutScratch* scratch = nullptr);

// The working lists of a layout, for a caller that lays out many sets of
// runs one after another (the pages of a document; the cells of a table:
// the grids of the sample files have 973 cells of two runs or more, most
// of two to five): each set reuses the room the sets before it needed
// instead of allocating its own, which cost a cell of a few runs as much
// as laying them out.
struct LayoutScratch {
    struct Lists;  // what lay-out keeps in it, defined in layout.cpp
    LayoutScratch();
    ~LayoutScratch();
    LayoutScratch(const LayoutScratch&) = delete;
    LayoutScratch& operator=(const LayoutScratch&) = delete;
    std::unique_ptr<Lists> lists;
};

// The lines of the runs `chosen` (indices into `runs`, ascending), the same
// lines and in the same order as layout_page gives for a page of just those
// runs: a table's cells are laid out this way, without copies of their
// runs. With `scratch`, its lists are worked in.
std::vector<Line> layout_lines(const std::vector<TextRun>& runs,
                               std::span<const std::size_t> chosen, std::int64_t rotate = 0,
                               LayoutScratch* scratch = nullptr);

// Two runs whose bands overlap by less than this share of the smaller band
// are on different lines: the line under a large heading stays apart from it
// ("Big Text" at 24 over "Small Text" at 10, 10 units lower, overlap 0.35)
// while superscripts and subscripts (raised or lowered by a third of the
// size, set at two thirds of it: overlap 0.7 and more) and baselines a
// fraction of a unit apart stay on theirs.
inline constexpr double kSameLineOverlap = 0.6;

// And two runs whose baselines are further apart than this share of the
// smaller size are on different lines even when one band covers the other:
// a watermark or a huge initial would otherwise take in every line its
// band covers. Superscripts are raised by up to 0.6 of their own size
// (LaTeX's superscripts in pdflatex-4-pages.pdf: 3.6 units at size 7).
inline constexpr double kMaxBaselineShift = 0.8;

// A line whose runs are all set smaller than a run of a line next to it,
// that spans at most kMaxScriptLength of its size along the line, whose
// baseline is within kMaxBaselineShift of its size from that run's, and
// which starts within kScriptReach of its size from where that run ends, or
// ends as near where it starts, is a
// superscript or subscript of it and joins its line. reportlab raises and
// lowers scripts set at 0.8 of the size by half the base size (scripts.pdf):
// their bands overlap the base's by 0.56 and 0.44, too little for
// kSameLineOverlap, which keeps a column of 8-unit type apart from the
// 11-unit column beside it in Seige_of_Vicksburg_Sample_OCR.pdf (0.56
// too, but 5.4 units away along the line, not touching). Scripts are set at
// 0.58 to 0.8 of the base size in the corpora and fixtures, and are a few
// characters long: exponents, footnote marks, "[cited]" in toy.pdf (3.5
// of its size).
inline constexpr double kScriptSizeRatio = 0.9;
inline constexpr double kMaxScriptLength = 4.0;
inline constexpr double kScriptReach = 0.25;

// The keys a run is swept in: its direction's place among the page's
// directions, then across its direction (descending: the first line of the
// direction first), then along it (ascending). `item` says which run the
// key is for and is not compared: the keys are sorted themselves, so that
// a comparison reads them where they lie.
struct SweepKey {
    int group = 0;
    double across = 0;
    double along = 0;
    std::size_t item = 0;
};

// Sorts `keys` into sweep order, equal keys in input order. A NaN key
// compares false both ways; sweep_sort then falls back on
// sweep_sort_merge, a merge sort that stays in bounds whatever the
// comparisons say (std::stable_sort may not), and that it is tested
// against.
void sweep_sort(std::span<SweepKey> keys);
void sweep_sort_merge(std::span<SweepKey> keys);

}  // namespace vellox_core
