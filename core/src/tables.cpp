#include "tables.h"

#include <algorithm>
#include <cmath>
#include <cstddef>
#include <optional>
#include <string>
#include <utility>

#include "bounds.h"
#include "layout.h"
#include "nearly_sorted.h"

namespace vellox_core {

namespace {

// How far apart two rule positions (or a rule and a text origin) may be and
// still count as the same line of the grid, in the user-space units text runs
// are placed in. Table rules drawn as thin filled rectangles are about one
// unit thick, so both of their long edges fall within it.
constexpr double kTolerance = 2.0;

using Point = RulePath::Point;

Point transform(const Matrix& m, double x, double y) {
    return {m.a * x + m.c * y + m.e, m.b * x + m.d * y + m.f};
}

// vector::push_back out of line. Inlined, its growth path makes every path
// step that records something save and restore six registers; called last
// in a step, this is a jump, and the step stays a leaf.
template <class T>
[[gnu::noinline]] void record(std::vector<T>& out, const T& value) {
    out.push_back(value);
}

// Straight pieces: a horizontal rule when flat in y and long in x, a
// vertical one the other way round; only the start's coordinate is kept.
// Both tests need finite coordinates, so a NaN or infinity from a hostile
// matrix is never recorded.
inline void edge_test(Point s, Point p, Segments& out) {
    const double dx = std::fabs(s.x - p.x);
    const double dy = std::fabs(s.y - p.y);
    if (dy < kTolerance && dx > kTolerance && std::isfinite(dx)) {
        record(out.horizontals, s.y);
    } else if (dx < kTolerance && dy > kTolerance && std::isfinite(dy)) {
        record(out.verticals, s.x);
    }
}

// std::fmin and std::fmax, in line: the path operators of a page add every
// point to a box, and the library calls cost more than the comparisons. A
// NaN argument gives the other one, so a box that starts at a NaN point (a
// hostile matrix) takes the finite points that follow.
double least(double a, double b) { return a < b || std::isnan(b) ? a : b; }
double greatest(double a, double b) { return a > b || std::isnan(b) ? a : b; }

// Most painted paths (text underlines, a glyph's outline, a filled area)
// give no rule of one direction or of either: those return at once.
inline void keep(std::vector<double>& rules, const std::vector<double>& found) {
    if (found.empty()) return;
    const std::size_t room = limits::kMaxPageRules - std::min(rules.size(), limits::kMaxPageRules);
    rules.insert(rules.end(), found.begin(),
                 found.begin() + static_cast<std::ptrdiff_t>(std::min(room, found.size())));
}

}  // namespace

// The steps of a path below are inline: apply() takes every point of every
// path through them, and a page of figures has hundreds of thousands.
inline void RulePath::Box::add(Point p) {
    if (empty) {
        x0 = x1 = p.x;
        y0 = y1 = p.y;
        empty = false;
        return;
    }
    x0 = least(x0, p.x);
    x1 = greatest(x1, p.x);
    y0 = least(y0, p.y);
    y1 = greatest(y1, p.y);
}

// Each step records last, so that its record() is a jump.
inline void RulePath::start_subpath(Point p) {
    const Box finished = box_;
    box_ = Box{};
    box_.add(p);
    start_ = current_ = p;
    if (!finished.empty) record(boxes_, finished);
}

inline void RulePath::line_to(Point p) {
    const Point from = current_;
    box_.add(p);
    current_ = p;
    edge_test(from, p, edges_);
}

inline void RulePath::close_subpath() {
    const Point from = current_;
    current_ = start_;
    edge_test(from, start_, edges_);
}

inline void RulePath::clear() {
    edges_.verticals.clear();
    edges_.horizontals.clear();
    boxes_.clear();
    box_ = Box{};
}

// A curve is no rule, but its control points bound the subpath and it moves
// the current point to its end (the last pair).
void RulePath::curve_to(std::span<const Operand> args, const Matrix& ctm) {
    const auto point = [&](std::size_t k) {
        return transform(ctm, number_at(args, k, 0.0), number_at(args, k + 1, 0.0));
    };
    const std::size_t pairs = std::min<std::size_t>(args.size() / 2, 3);
    for (std::size_t k = 0; k < pairs; ++k) {
        const Point p = point(2 * k);
        box_.add(p);
        current_ = p;
    }
}

// A filled path gives the rules of its thin subpaths (edges_, unused by a
// fill, holds them meanwhile).
void RulePath::keep_thin(Segments& rules) {
    if (!box_.empty) record(boxes_, box_);
    edges_.verticals.clear();
    edges_.horizontals.clear();
    for (const Box& b : boxes_) {
        const double w = b.x1 - b.x0;
        const double h = b.y1 - b.y0;
        if (h <= kTolerance && w > kTolerance && std::isfinite(w)) {
            edges_.horizontals.push_back((b.y0 + b.y1) / 2);
        } else if (w <= kTolerance && h > kTolerance && std::isfinite(h)) {
            edges_.verticals.push_back((b.x0 + b.x1) / 2);
        }
    }
    keep(rules.verticals, edges_.verticals);
    keep(rules.horizontals, edges_.horizontals);
}

void RulePath::apply(const Op& op, const Matrix& ctm, Segments& rules) {
    const std::span<const Operand> args = op.operands;
    const auto point = [&](std::size_t k) {
        return transform(ctm, number_at(args, k, 0.0), number_at(args, k + 1, 0.0));
    };
    switch (op.code) {
        case Operator::MoveTo: start_subpath(point(0)); return;
        case Operator::LineTo: line_to(point(0)); return;
        case Operator::CurveTo: curve_to(args, ctm); return;
        case Operator::ClosePath: close_subpath(); return;
        case Operator::Rectangle: {
            const double x = number_at(args, 0, 0.0);
            const double y = number_at(args, 1, 0.0);
            const double w = number_at(args, 2, 0.0);
            const double h = number_at(args, 3, 0.0);
            start_subpath(transform(ctm, x, y));
            line_to(transform(ctm, x + w, y));
            line_to(transform(ctm, x + w, y + h));
            line_to(transform(ctm, x, y + h));
            close_subpath();
            return;
        }
        case Operator::EndPath: break;
        case Operator::CloseStroke:
        case Operator::CloseFillStroke:
        case Operator::CloseFillStrokeEvenOdd: close_subpath(); [[fallthrough]];
        case Operator::Stroke:
        case Operator::FillStroke:
        case Operator::FillStrokeEvenOdd:
            keep(rules.verticals, edges_.verticals);
            keep(rules.horizontals, edges_.horizontals);
            break;
        case Operator::Fill:
        case Operator::FillOld:
        case Operator::FillEvenOdd: keep_thin(rules); break;
        default: return;  // not a path operator
    }
    clear();
}

namespace {

// The grid searches below find, exactly as a left-to-right scan would, the
// first cell whose span (widened by the tolerance on both sides) holds the
// coordinate. The boundaries being sorted, "before the far edge" holds for a
// suffix of the cells and "after the near edge" for a prefix, so the first
// cell of the suffix is the answer when it also passes the near-edge test,
// and no cell is otherwise. Binary search keeps a page of many runs and many
// boundaries from going quadratic.

// xs ascending; a column i spans xs[i] .. xs[i + 1].
std::optional<std::size_t> column_of(const std::vector<double>& xs, double x) {
    const std::size_t cells = xs.size() - 1;
    std::size_t lo = 0;
    std::size_t hi = cells;
    while (lo < hi) {
        const std::size_t mid = lo + (hi - lo) / 2;
        if (x < xs[mid + 1] + kTolerance) {
            hi = mid;
        } else {
            lo = mid + 1;
        }
    }
    if (lo == cells || !(x >= xs[lo] - kTolerance)) return std::nullopt;
    return lo;
}

// ys descending (top first); a row j spans ys[j] down to ys[j + 1].
std::optional<std::size_t> row_of(const std::vector<double>& ys, double y) {
    const std::size_t cells = ys.size() - 1;
    std::size_t lo = 0;
    std::size_t hi = cells;
    while (lo < hi) {
        const std::size_t mid = lo + (hi - lo) / 2;
        if (y > ys[mid + 1] - kTolerance) {
            hi = mid;
        } else {
            lo = mid + 1;
        }
    }
    if (lo == cells || !(y <= ys[lo] + kTolerance)) return std::nullopt;
    return lo;
}

}  // namespace

std::vector<double> cluster(std::vector<double> values, bool descending) {
    // Rule positions from the page scan are always finite; a NaN or infinity
    // handed in otherwise is dropped, because it names no place on the page
    // and a NaN would leave the sort without a consistent order.
    std::erase_if(values, [](double v) { return !std::isfinite(v); });
    std::sort(values.begin(), values.end());
    std::vector<double> kept;
    for (const double v : values) {
        // Each group is measured from its smallest member, so a chain of
        // values each close to the next does not merge without end.
        if (kept.empty() || v - kept.back() >= kTolerance) kept.push_back(v);
    }
    if (descending) std::reverse(kept.begin(), kept.end());
    return kept;
}

namespace {

// Grids of this many cells or more must show text in at least as many cells
// as their shorter side has: a table has a header row or column filled, or
// rows of entries; a grid with fewer is the line work of a figure (the axes
// and hatching of GeoTopo-komprimiert.pdf's diagrams, AutoCad_Diagram.pdf's
// drawing, each with a few labels). Smaller grids with some text are kept:
// a form's box of two cells with one filled is a table.
constexpr std::size_t kSparseGridCells = 100;

// Whether the runs placed in the grid (cell, run pairs sorted by cell) make
// it a table rather than a drawing: a grid none of whose cells holds text
// (a plot's frame and ticks, contrib-matplotlib.pdf; shapes, simple2.pdf)
// is no table, and neither is a large grid with text in only a few cells.
bool holds_a_table(const std::vector<std::pair<std::size_t, std::size_t>>& placed, std::size_t rows,
                   std::size_t cols) {
    std::size_t filled = 0;
    for (std::size_t k = 0; k < placed.size(); ++k) {
        if (k == 0 || placed[k].first != placed[k - 1].first) ++filled;
    }
    if (filled == 0) return false;
    return rows * cols < kSparseGridCells || filled >= std::min(rows, cols);
}

}  // namespace

std::vector<Table> detect_tables(const Segments& rules, const std::vector<TextRun>& runs,
                                 std::int64_t rotation) {
    const std::vector<double> xs = cluster(rules.verticals, false);
    const std::vector<double> ys = cluster(rules.horizontals, true);
    // One cell is a frame, not a table.
    if (xs.size() < 2 || ys.size() < 2 || (xs.size() == 2 && ys.size() == 2)) return {};

    Table table;
    table.cols = xs.size() - 1;
    table.rows = ys.size() - 1;
    std::size_t cells = 0;
    if (__builtin_mul_overflow(xs.size() - 1, ys.size() - 1, &cells) ||
        cells > limits::kMaxTableCells) {
        return {};
    }
    table.box = {xs.front(), ys.back(), xs.back(), ys.front()};

    // The runs of each cell, as (cell, run) pairs sorted by cell: most of a
    // large grid's cells are empty, and most others hold one run.
    std::vector<std::pair<std::size_t, std::size_t>> placed;
    for (std::size_t k = 0; k < runs.size(); ++k) {
        const std::optional<std::size_t> col = column_of(xs, runs[k].x);
        const std::optional<std::size_t> row = row_of(ys, runs[k].y);
        if (!col || !row) continue;
        placed.emplace_back(*row * table.cols + *col, k);
    }
    // Tables are mostly drawn row by row, so the pairs arrive nearly sorted.
    sort_nearly_sorted(std::span<std::pair<std::size_t, std::size_t>>(placed),
                       [](const auto& a, const auto& b) { return a.first < b.first; });
    if (!holds_a_table(placed, table.rows, table.cols)) return {};
    table.cells.assign(table.rows, std::vector<std::string>(table.cols));
    std::vector<std::size_t> cell_runs;  // of one cell, in content order
    LayoutScratch scratch;
    for (std::size_t start = 0; start < placed.size();) {
        const std::size_t i = placed[start].first;
        std::size_t end = start;
        while (end < placed.size() && placed[end].first == i) ++end;
        std::string& cell = table.cells[i / table.cols][i % table.cols];
        if (end - start == 1) {
            // One run makes one line of its own text.
            cell = runs[placed[start].second].text;
            start = end;
            continue;
        }
        cell_runs.clear();
        for (std::size_t k = start; k < end; ++k) cell_runs.push_back(placed[k].second);
        start = end;
        for (const Line& line : layout_lines(runs, cell_runs, rotation, &scratch)) {
            // Lines are joined by one space, not two when a line already
            // ends or starts with one.
            if (!cell.empty() && cell.back() != ' ' && !line.text.starts_with(' ')) {
                cell.push_back(' ');
            }
            cell += line.text;
        }
    }

    std::vector<Table> out;
    out.push_back(std::move(table));
    return out;
}

bool table_covers(const Table& table, double x, double y) {
    const auto [x0, x1] = std::minmax(table.box[0], table.box[2]);
    const auto [y0, y1] = std::minmax(table.box[1], table.box[3]);
    // NaN compares false, so a point or box that is not finite is outside.
    return x >= x0 && x <= x1 && y >= y0 && y <= y1;
}

}  // namespace vellox_core
