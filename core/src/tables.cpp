#include "tables.h"

#include <algorithm>
#include <cmath>
#include <cstddef>
#include <optional>

#include "bounds.h"

namespace vellox_core {

namespace {

// How far apart two rule positions (or a rule and a text origin) may be and
// still count as the same line of the grid, in the user-space units text runs
// are placed in. Table rules drawn as thin filled rectangles are about one
// unit thick, so both of their long edges fall within it.
constexpr double kTolerance = 2.0;

struct Point {
    double x = 0;
    double y = 0;
};

Point transform(const Matrix& m, double x, double y) {
    return {m.a * x + m.c * y + m.e, m.b * x + m.d * y + m.f};
}

// A straight piece that is flat in y is a horizontal rule, else one flat in x
// a vertical rule; only the start's coordinate is kept. A difference under
// the tolerance needs both of its coordinates finite, so a NaN or infinity
// from a hostile matrix is never recorded.
void edge_test(Point s, Point p, Segments& out) {
    if (std::fabs(s.y - p.y) < kTolerance) {
        out.horizontals.push_back(s.y);
    } else if (std::fabs(s.x - p.x) < kTolerance) {
        out.verticals.push_back(s.x);
    }
}

// The operators that paint the current path. A path ended by `n` instead is
// only a clipping path (or discarded) and draws no rule: many producers open
// every page with `0 0 612 792 re W n`, which would otherwise make the whole
// page one table cell.
bool paints(Operator op) {
    switch (op) {
        case Operator::Stroke:
        case Operator::CloseStroke:
        case Operator::Fill:
        case Operator::FillOld:
        case Operator::FillEvenOdd:
        case Operator::FillStroke:
        case Operator::FillStrokeEvenOdd:
        case Operator::CloseFillStroke:
        case Operator::CloseFillStrokeEvenOdd: return true;
        default: return false;
    }
}

Segments collect_rules(std::span<const Op> ops) {
    Segments rules;
    // The pieces of the path under construction, each transformed by the
    // matrix in force when it was drawn; kept until the path is painted or
    // dropped. Grows by at most four per operation.
    Segments pending;
    Matrix ctm;
    std::vector<Matrix> saved;
    Point current;
    for (const Op& op : ops) {
        const Operator name = op.code;
        const std::span<const Operand> args = op.operands;
        if (name == Operator::Save) {
            saved.push_back(ctm);
        } else if (name == Operator::Restore) {
            if (!saved.empty()) {
                ctm = saved.back();
                saved.pop_back();
            }
        } else if (name == Operator::Concat) {
            // The operand matrix applies first, then the one in force.
            ctm = multiply(matrix_of(args), ctm);
        } else if (name == Operator::MoveTo) {
            current = transform(ctm, number_at(args, 0, 0.0), number_at(args, 1, 0.0));
        } else if (name == Operator::LineTo) {
            const Point p = transform(ctm, number_at(args, 0, 0.0), number_at(args, 1, 0.0));
            edge_test(current, p, pending);
            current = p;
        } else if (name == Operator::Rectangle) {
            const double x = number_at(args, 0, 0.0);
            const double y = number_at(args, 1, 0.0);
            const double w = number_at(args, 2, 0.0);
            const double h = number_at(args, 3, 0.0);
            const Point corners[4] = {transform(ctm, x, y), transform(ctm, x + w, y),
                                      transform(ctm, x + w, y + h), transform(ctm, x, y + h)};
            for (int i = 0; i < 4; ++i) edge_test(corners[i], corners[(i + 1) % 4], pending);
        } else if (paints(name)) {
            rules.verticals.insert(rules.verticals.end(), pending.verticals.begin(),
                                   pending.verticals.end());
            rules.horizontals.insert(rules.horizontals.end(), pending.horizontals.begin(),
                                     pending.horizontals.end());
            pending.verticals.clear();
            pending.horizontals.clear();
        } else if (name == Operator::EndPath) {
            pending.verticals.clear();
            pending.horizontals.clear();
        }
    }
    return rules;
}

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

std::vector<Table> detect_tables(std::span<const Op> ops, const std::vector<TextRun>& runs) {
    Segments rules = collect_rules(ops);
    const std::vector<double> xs = cluster(std::move(rules.verticals), false);
    const std::vector<double> ys = cluster(std::move(rules.horizontals), true);
    if (xs.size() < 2 || ys.size() < 2) return {};

    Table table;
    table.cols = xs.size() - 1;
    table.rows = ys.size() - 1;
    std::size_t cells = 0;
    if (__builtin_mul_overflow(xs.size() - 1, ys.size() - 1, &cells) ||
        cells > limits::kMaxTableCells) {
        return {};
    }
    table.cells.assign(ys.size() - 1, std::vector<std::string>(xs.size() - 1));

    for (const TextRun& run : runs) {
        const std::optional<std::size_t> col = column_of(xs, run.x);
        const std::optional<std::size_t> row = row_of(ys, run.y);
        if (!col || !row) continue;
        std::string& cell = table.cells[*row][*col];
        if (!cell.empty() && cell.back() != ' ') cell.push_back(' ');
        cell += run.text;
    }

    std::vector<Table> out;
    out.push_back(std::move(table));
    return out;
}

}  // namespace vellox_core
