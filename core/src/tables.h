// Ruled-table detection from a page's line and rectangle paths.
#pragma once

#include <cstdint>
#include <span>
#include <string>
#include <vector>

#include "content.h"
#include "pagetree.h"
#include "text.h"

namespace vellox_core {

struct Table {
    std::vector<std::vector<std::string>> cells;  // rows × cols
    std::uint64_t rows = 0;
    std::uint64_t cols = 0;
    // Not in the output: the grid's outer edges in user space (x0, y0, x1,
    // y1), for placing the table among the page's lines.
    Rect box{};
    bool operator==(const Table&) const = default;
};

// The ruling lines of a page, in user space: the position of each.
struct Segments {
    std::vector<double> verticals;    // x of each vertical rule
    std::vector<double> horizontals;  // y of each horizontal rule
};

// The path under construction in one content stream, and the rules it
// gives when it is painted. Only what a reader sees as a ruling line is a
// rule:
// - a straight stroked piece (a line, a rectangle's edge) that is flat in
//   one direction (within the tolerance) and longer than the tolerance in
//   the other;
// - a filled subpath thin in one direction (at most the tolerance) and
//   longer in the other: a rule drawn as a thin rectangle, kept at its
//   middle.
// A filled area is no rule otherwise: the white boxes LibreOffice paints
// behind paragraphs and the shading of table rows are areas, not lines. A
// path ended by n (a clipping path) draws nothing.
class RulePath {
public:
    // Applies a path construction or painting operator, points mapped
    // through `ctm`; rules of a painted path go to `rules`, until
    // kMaxPageRules.
    void apply(const Op& op, const Matrix& ctm, Segments& rules);

    struct Point {
        double x = 0;
        double y = 0;
    };
    struct Box {
        double x0 = 0, y0 = 0, x1 = 0, y1 = 0;
        bool empty = true;
        void add(Point p);
    };

private:
    void start_subpath(Point p);
    void line_to(Point p);
    void close_subpath();
    void curve_to(std::span<const Operand> args, const Matrix& ctm);
    void keep_thin(Segments& rules);
    void clear();

    Segments edges_;          // flat straight pieces of the path so far
    std::vector<Box> boxes_;  // bounding boxes of the finished subpaths
    Box box_;                 // of the current subpath
    Point start_;             // of the current subpath
    Point current_;
};

// Zero or one table: the grid of the rules, with the runs placed in its
// cells. A grid of one cell (a frame, a page border) is no table.
// Each cell's text is made as the page's lines are (layout_lines, with the
// page's `rotation`): runs in reading order, a space where they are apart,
// the cell's lines joined by one space.
std::vector<Table> detect_tables(const Segments& rules, const std::vector<TextRun>& runs,
                                 std::int64_t rotation = 0);
std::vector<double> cluster(std::vector<double> values, bool descending);

// Whether the point (x, y) in user space lies inside the table's outer
// edges: a line whose origin does is one of the table's lines, and its text
// is in the table's cells.
bool table_covers(const Table& table, double x, double y);

}  // namespace vellox_core
