// Reading order: a page's lines grouped into blocks (paragraphs, headings,
// tables) and the blocks put in the order a person reads them: down each
// column, columns left to right, with what spans several columns (a title,
// a caption, a footer) where it falls between them.
#pragma once

#include <cstdint>
#include <span>
#include <vector>

#include "layout.h"
#include "pagetree.h"

namespace vellox_core {

enum class ReadingOrder : std::uint8_t {
    // Columns and blocks as described above; the default.
    Columns,
    // The lines exactly as layout_page puts them: top to bottom across the
    // whole page, each direction after the main one.
    Position,
};

// Fills page.blocks and, for ReadingOrder::Columns, puts page.lines in
// reading order. `pieces` are the lines' pieces (layout_page's), and
// `tables` the outer edges of the page's ruled tables in user space
// (Table::box), each read as one block row by row.
//
// In Columns order a line that runs across a column gap is split there
// into the lines of the columns (its pieces: each keeps its own text and
// its first run's x and y); pieces that end up next to each other in the
// same block are joined again, so a line is only ever split at a gap that
// separates columns. In Position order `lines` is left as it is and blocks
// are runs of consecutive lines that a reader takes together.
//
// Work per page is O(n log n) per level of cuts (n lines), at most
// limits::kMaxOrderDepth levels, plus limits::kMaxOrderColumns per band of
// lines in each.
void order_page(PageText& page, std::span<const LinePiece> pieces, std::span<const Rect> tables,
                ReadingOrder order);

// How the column gaps are found: a group of consecutive bands (lines side
// by side) whose projections on the line direction leave a gap of at least
// kMinGutter of the body size in every band reads as columns, unless it is
// a table (rows of cells side by side).
//
// The narrowest gutters in the corpora are the Federal Register's 7
// points at 9-point type (contrib-pr-00530-ml-lines.pdf) and LaTeX's
// twocolumn 10 points at 10-point type. A gutter must hold in every band
// of the group, which the rivers of white between words in justified
// text do not.
inline constexpr double kMinGutter = 0.6;

// A band further below the group above it than this many body sizes
// starts a new group: the white space above a footer or around a figure
// that spans the columns cuts the page across. A paragraph or a heading
// inside a column leaves at most two lines' worth (multicolumn.pdf 1.4
// sizes before its section headings).
inline constexpr double kMaxBandGap = 2.5;

// Two pieces are in one band (side by side) when their boxes overlap
// across the line direction by at least this share of the lower of them:
// lines set on the same baselines overlap fully, and the consecutive
// lines of one column, even set solid (leading equal to the size), do
// not overlap at all.
// Columns set half a line apart (the sidebar of a reportlab frame set at
// another leading) overlap by 0.4 and still make bands side by side.
inline constexpr double kBandOverlap = 0.3;

// A narrow heading above columns starts within this many body sizes of
// where its column starts.
inline constexpr double kColumnAlign = 1.0;

// A column is running text when it is at least kProseWidth body sizes
// wide (some 20 characters) and at least half of its lines fill
// kProseFill of its width; the columns of a table are narrow or ragged.
inline constexpr double kProseWidth = 10.0;
inline constexpr double kProseFill = 0.7;

// A table has at least kMinTableRows rows and its columns are at least
// kMinTableGap body sizes apart: a row of cells leaves wider gaps than
// the widest word spaces of loosely justified text (0.8 of the size in
// latex_twocolumn.pdf), whose gaps can line up over a few lines.
inline constexpr std::size_t kMinTableRows = 3;
inline constexpr double kMinTableGap = 1.0;

// And columns are read as such only over at least kMinColumnBands bands,
// with at least two lines in each column, each column at least
// kMinColumnWidth body sizes wide (a dozen characters: the narrowest side
// bars and newspaper columns are wider, while the words a river of white
// cuts off at the end of a few loose lines are narrower).
inline constexpr std::size_t kMinColumnBands = 3;
inline constexpr double kMinColumnWidth = 6.0;

// Paragraph blocks: a line starts a new block when its size differs from
// the line above by more than kSizeChange (a heading), when it lies more
// than kParagraphStep times the usual line step below it (the extra space
// between paragraphs), or when it starts indented by kIndent sizes or more
// while the lines around it do not (a first-line indent, as TeX sets
// paragraphs without space between them).
inline constexpr double kSizeChange = 1.15;
inline constexpr double kParagraphStep = 1.3;
inline constexpr double kIndent = 0.8;

}  // namespace vellox_core
