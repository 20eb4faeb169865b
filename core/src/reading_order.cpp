#include "reading_order.h"

#include <algorithm>
#include <cmath>
#include <cstddef>
#include <iterator>
#include <limits>
#include <string>
#include <utility>

#include "bounds.h"
#include "orientation.h"

namespace vellox_core {

namespace {

constexpr std::size_t kNoTable = std::numeric_limits<std::size_t>::max();

// A rule position and a text box count as touching within this many units
// (tables.cpp measures its grid with the same tolerance).
constexpr double kTableTolerance = 2.0;

// Coordinates in the frame of a writing direction `u` on the displayed
// page: along it, and across it toward the glyphs' tops. For an axis
// direction the products are by 0 and 1 only.
struct Frame {
    Vec2 u{1, 0};
    double along(Vec2 p) const { return p.x * u.x + p.y * u.y; }
    double across(Vec2 p) const { return -p.x * u.y + p.y * u.x; }
};

// A box in a frame: a0..a1 along, c0..c1 across (c1 the top).
struct Span {
    double a0 = 0, a1 = 0, c0 = 0, c1 = 0;
};

Span in_frame(const Frame& f, const Box& b) {
    // Upright text, nearly all of it: along is x + 0·y and across -0·x + y,
    // which are x and y themselves when the other coordinate is finite (a
    // zero may change sign, which no comparison or difference made with
    // these bounds can tell). An infinite one gives NaN products there, so
    // such a box takes the general way.
    if (f.u.x == 1 && f.u.y == 0 && std::isfinite(b.x0) && std::isfinite(b.y0) &&
        std::isfinite(b.x1) && std::isfinite(b.y1)) {
        return {std::min(b.x0, b.x1), std::max(b.x0, b.x1), std::min(b.y0, b.y1),
                std::max(b.y0, b.y1)};
    }
    const Vec2 corners[4] = {{b.x0, b.y0}, {b.x1, b.y0}, {b.x0, b.y1}, {b.x1, b.y1}};
    constexpr double kInf = std::numeric_limits<double>::infinity();
    // The bounds are never NaN, and std::min and std::max keep them when
    // the other argument is (a NaN corner is passed over, as fmin and fmax
    // would), in line instead of four calls into libm a corner.
    Span s{kInf, -kInf, kInf, -kInf};
    for (const Vec2& c : corners) {
        s.a0 = std::min(s.a0, f.along(c));
        s.a1 = std::max(s.a1, f.along(c));
        s.c0 = std::min(s.c0, f.across(c));
        s.c1 = std::max(s.c1, f.across(c));
    }
    return s;
}

double order_size(double font_size) { return std::fmax(std::fabs(font_size), 1.0); }

// What the cuts move about: one piece of a line, or all the pieces of a
// ruled table taken as one.
struct Item {
    Span span;
    double size = 1;
    std::size_t key = 0;           // its (first) piece: position order
    std::size_t table = kNoTable;  // index into Orderer::table_pieces
};

// A line of the output with what paragraph grouping measures of it.
struct Placed {
    Span span;
    double base = 0;  // the first run's baseline, across
    double size = 1;
};

struct Interval {
    double lo = 0, hi = 0;
};

// `a` and `b` (each sorted) as one sorted list in `out`, intervals closer
// than `gutter` merged. More than kMaxOrderColumns intervals become one
// across the whole.
void merge_intervals(std::span<const Interval> a, std::span<const Interval> b, double gutter,
                     std::vector<Interval>& out) {
    out.clear();
    std::size_t i = 0, j = 0;
    while (i < a.size() || j < b.size()) {
        const Interval next =
            (j == b.size() || (i < a.size() && a[i].lo <= b[j].lo)) ? a[i++] : b[j++];
        if (!out.empty() && next.lo - out.back().hi < gutter) {
            out.back().hi = std::fmax(out.back().hi, next.hi);
        } else {
            out.push_back(next);
        }
    }
    if (out.size() > limits::kMaxOrderColumns) {
        const Interval all{out.front().lo, out.back().hi};
        out.assign(1, all);
    }
}

class Orderer {
public:
    // Lines are written to `lines` (page.lines itself in position order,
    // where none moves) and blocks to `blocks`.
    Orderer(PageText& page, std::span<const LinePiece> pieces, Frame frame,
            std::vector<Line>& lines, std::vector<Block>& blocks)
        : lines(lines), blocks(blocks), page_(page), pieces_(pieces), frame_(frame) {}

    std::vector<Line>& lines;
    std::vector<Block>& blocks;
    // The pieces of each ruled table of the direction, in position order.
    std::vector<std::vector<std::size_t>> table_pieces;

    Item item_of_piece(std::size_t k) const {
        const LinePiece& p = pieces_[k];
        return {in_frame(frame_, p.box), order_size(p.font_size), k, kNoTable};
    }

    // Pieces [from, to) of one direction in reading order.
    void order(std::size_t from, std::size_t to, std::span<const Rect> tables) {
        std::vector<bool> in_table(to - from, false);
        std::vector<Item> items;
        for (const Rect& t : tables) {
            const Box shown = display_box(t);
            std::vector<std::size_t> members;
            for (std::size_t k = from; k < to; ++k) {
                const Box& b = pieces_[k].box;
                const double cx = (b.x0 + b.x1) / 2;
                const double cy = (b.y0 + b.y1) / 2;
                if (!in_table[k - from] && cx >= shown.x0 - kTableTolerance &&
                    cx <= shown.x1 + kTableTolerance && cy >= shown.y0 - kTableTolerance &&
                    cy <= shown.y1 + kTableTolerance) {
                    in_table[k - from] = true;
                    members.push_back(k);
                }
            }
            if (members.empty()) continue;
            Item item{in_frame(frame_, shown), 1, members.front(), table_pieces.size()};
            for (const std::size_t k : members) {
                const Item piece = item_of_piece(k);
                item.span.a0 = std::fmin(item.span.a0, piece.span.a0);
                item.span.a1 = std::fmax(item.span.a1, piece.span.a1);
                item.span.c0 = std::fmin(item.span.c0, piece.span.c0);
                item.span.c1 = std::fmax(item.span.c1, piece.span.c1);
                item.size = std::fmax(item.size, piece.size);
            }
            table_pieces.push_back(std::move(members));
            items.push_back(item);
        }
        for (std::size_t k = from; k < to; ++k) {
            if (!in_table[k - from]) items.push_back(item_of_piece(k));
        }
        // Coordinates from a hostile matrix leave the direction in position
        // order: nothing can be measured about them.
        const bool finite = std::all_of(items.begin(), items.end(), [](const Item& it) {
            return std::isfinite(it.span.a0) && std::isfinite(it.span.a1) &&
                   std::isfinite(it.span.c0) && std::isfinite(it.span.c1) && std::isfinite(it.size);
        });
        items_ = std::move(items);
        std::vector<std::size_t> all(items_.size());
        for (std::size_t i = 0; i < all.size(); ++i) all[i] = i;
        if (!finite) {
            leaf(all, false);
        } else {
            cut(std::move(all), 0);
        }
    }

    // Lines [from, to) of one direction as they are, in blocks.
    void keep(std::size_t from, std::size_t to, std::span<const Rect> tables) {
        std::vector<Box> shown;
        for (const Rect& t : tables) shown.push_back(display_box(t));
        const auto inside = [&shown](const Box& b) {
            const double cx = (b.x0 + b.x1) / 2;
            const double cy = (b.y0 + b.y1) / 2;
            return std::any_of(shown.begin(), shown.end(), [&](const Box& t) {
                return cx >= t.x0 - kTableTolerance && cx <= t.x1 + kTableTolerance &&
                       cy >= t.y0 - kTableTolerance && cy <= t.y1 + kTableTolerance;
            });
        };
        std::size_t i = from;
        while (i < to) {
            const bool table = inside(lines[i].box);
            std::size_t j = i + 1;
            while (j < to && inside(lines[j].box) == table) ++j;
            if (table) {
                blocks.push_back({i, j, true});
            } else {
                paragraphs(i, j);
            }
            i = j;
        }
    }

private:
    PageText& page_;
    std::span<const LinePiece> pieces_;
    Frame frame_;
    std::vector<Item> items_;
    // Scratch lists of cut() and group(), reused from call to call: each is
    // filled and read within one call, never across the cuts it recurses
    // into.
    std::vector<double> sizes_;
    std::vector<Interval> spans_;
    std::vector<Interval> merged_;
    std::vector<std::size_t> touched_;
    // And of leaf() and paragraphs(), which call neither cut() nor
    // themselves.
    std::vector<std::size_t> run_;
    std::vector<Placed> at_;
    std::vector<double> steps_;

    Box display_box(const Rect& r) const {
        const Vec2 a = to_display({r[0], r[1]}, page_.rotation);
        const Vec2 b = to_display({r[2], r[3]}, page_.rotation);
        return {std::fmin(a.x, b.x), std::fmin(a.y, b.y), std::fmax(a.x, b.x), std::fmax(a.y, b.y)};
    }

    bool first_of_line(std::size_t k) const {
        return k == 0 || pieces_[k - 1].line != pieces_[k].line;
    }
    bool last_of_line(std::size_t k) const {
        return k + 1 == pieces_.size() || pieces_[k + 1].line != pieces_[k].line;
    }

    // The line of pieces [k, m] of one line: the line itself when they are
    // all of it (then read only this once, so it is moved).
    Line joined(std::size_t k, std::size_t m) {
        Line& whole = page_.lines[pieces_[k].line];
        if (first_of_line(k) && last_of_line(m)) return std::move(whole);
        const std::size_t end = last_of_line(m) ? whole.text.size() : pieces_[m + 1].join_begin;
        const std::size_t begin = std::min(pieces_[k].text_begin, end);
        Line line;
        line.text = whole.text.substr(begin, end - begin);
        while (!last_of_line(m) && !line.text.empty() && line.text.back() == ' ') {
            line.text.pop_back();
        }
        line.x = pieces_[k].x;
        line.y = pieces_[k].y;
        line.direction = whole.direction;
        line.box = pieces_[k].box;
        for (std::size_t q = k; q <= m; ++q) {
            const Box& b = pieces_[q].box;
            line.box.x0 = std::fmin(line.box.x0, b.x0);
            line.box.y0 = std::fmin(line.box.y0, b.y0);
            line.box.x1 = std::fmax(line.box.x1, b.x1);
            line.box.y1 = std::fmax(line.box.y1, b.y1);
            line.font_size = std::fmax(line.font_size, pieces_[q].font_size);
        }
        return line;
    }

    // Appends the lines of `sorted` (piece indices, ascending), the
    // consecutive pieces of a line joined again.
    void emit_pieces(const std::vector<std::size_t>& sorted) {
        std::size_t i = 0;
        while (i < sorted.size()) {
            std::size_t j = i;
            while (j + 1 < sorted.size() && sorted[j + 1] == sorted[j] + 1 &&
                   pieces_[sorted[j + 1]].line == pieces_[sorted[i]].line) {
                ++j;
            }
            lines.push_back(joined(sorted[i], sorted[j]));
            i = j + 1;
        }
    }

    // A region read as it stands: its items in position order, a ruled
    // table among them as a block of its own; all of it one table block
    // when `table`.
    void leaf(std::vector<std::size_t> region, bool table) {
        std::sort(region.begin(), region.end(),
                  [this](std::size_t a, std::size_t b) { return items_[a].key < items_[b].key; });
        std::vector<std::size_t>& run = run_;
        run.clear();
        const auto flush = [&](bool as_table) {
            if (run.empty()) return;
            std::sort(run.begin(), run.end());
            const std::size_t first = lines.size();
            emit_pieces(run);
            if (as_table) {
                blocks.push_back({first, lines.size(), true});
            } else {
                paragraphs(first, lines.size());
            }
            run.clear();
        };
        for (const std::size_t i : region) {
            const Item& item = items_[i];
            if (item.table == kNoTable) {
                run.push_back(item.key);
                continue;
            }
            if (!table) flush(false);
            const std::vector<std::size_t>& members = table_pieces[item.table];
            run.insert(run.end(), members.begin(), members.end());
            if (!table) flush(true);
        }
        flush(table);
    }

    Placed placed(const Line& line) const {
        const Vec2 origin = to_display({line.x, line.y}, page_.rotation);
        return {in_frame(frame_, line.box), frame_.across(origin), order_size(line.font_size)};
    }

    // Cuts lines [first, end) into paragraph blocks.
    void paragraphs(std::size_t first, std::size_t end) {
        const std::size_t n = end - first;
        if (n == 0) return;
        std::vector<Placed>& at = at_;
        at.resize(n);
        for (std::size_t i = 0; i < n; ++i) at[i] = placed(lines[first + i]);
        // The usual step from a line to the next: the median of the steps
        // between lines of one size, one line below the other.
        std::vector<double>& steps = steps_;
        steps.clear();
        for (std::size_t i = 1; i < n; ++i) {
            const double step = at[i - 1].base - at[i].base;
            const double size = std::fmax(at[i - 1].size, at[i].size);
            if (at[i - 1].size == at[i].size && step > 0.5 * size && step < 3 * size) {
                steps.push_back(step / size);
            }
        }
        double usual = 1.2;
        if (steps.size() >= 2) {
            std::nth_element(steps.begin(),
                             steps.begin() + static_cast<std::ptrdiff_t>(steps.size() / 2),
                             steps.end());
            usual = steps[steps.size() / 2];
        }
        std::size_t start = 0;
        for (std::size_t i = 1; i < n; ++i) {
            const Placed& p = at[i - 1];
            const Placed& l = at[i];
            const double size = std::fmax(p.size, l.size);
            const double step = p.base - l.base;
            const bool resized = size > kSizeChange * std::fmin(p.size, l.size);
            const bool spaced = step > kParagraphStep * usual * size;
            const bool apart = l.span.a1 < p.span.a0 || l.span.a0 > p.span.a1;
            const bool indented = i + 1 < n && l.span.a0 - p.span.a0 >= kIndent * size &&
                                  l.span.a0 - at[i + 1].span.a0 >= kIndent * size;
            if (resized || spaced || apart || indented) {
                blocks.push_back({first + start, first + i, false});
                start = i;
            }
        }
        blocks.push_back({first + start, first + n, false});
    }

    struct Band {
        std::size_t begin = 0, end = 0;  // in the region sorted by top
        double top = 0, bottom = 0;
        // Along, apart by the gutter: [cover_begin, cover_end) of covers.
        std::size_t cover_begin = 0, cover_end = 0;
    };

    // The region cut into groups of bands, and each group of columns into
    // its columns, each read in turn; what cannot be cut is a leaf.
    void cut(std::vector<std::size_t> region, std::uint32_t depth) {
        if (region.size() <= 1 || depth >= limits::kMaxOrderDepth) {
            leaf(std::move(region), false);
            return;
        }
        std::vector<double>& sizes = sizes_;
        sizes.resize(region.size());
        for (std::size_t i = 0; i < region.size(); ++i) sizes[i] = items_[region[i]].size;
        const auto middle = sizes.begin() + static_cast<std::ptrdiff_t>(sizes.size() / 2);
        std::nth_element(sizes.begin(), middle, sizes.end());
        const double body = *middle;
        const double gutter = kMinGutter * body;

        std::sort(region.begin(), region.end(), [this](std::size_t a, std::size_t b) {
            const Item& x = items_[a];
            const Item& y = items_[b];
            if (x.span.c1 != y.span.c1) return x.span.c1 > y.span.c1;
            return x.key < y.key;
        });
        std::vector<Band> bands;
        for (std::size_t i = 0; i < region.size(); ++i) {
            const Span& s = items_[region[i]].span;
            if (!bands.empty()) {
                const Span& ref = items_[region[bands.back().begin]].span;
                const double overlap = s.c1 - std::fmax(ref.c0, s.c0);
                const double lower = std::fmin(ref.c1 - ref.c0, s.c1 - s.c0);
                if (overlap >= kBandOverlap * lower) {
                    Band& band = bands.back();
                    band.end = i + 1;
                    band.bottom = std::fmin(band.bottom, s.c0);
                    continue;
                }
            }
            bands.push_back({i, i + 1, s.c1, s.c0, 0, 0});
        }
        // Each band's cover, all in one list; the scratch lists are reused
        // from band to band.
        std::vector<Interval> covers;
        std::vector<Interval>& spans = spans_;
        std::vector<Interval>& merged = merged_;
        for (Band& band : bands) {
            spans.clear();
            for (std::size_t i = band.begin; i < band.end; ++i) {
                spans.push_back({items_[region[i]].span.a0, items_[region[i]].span.a1});
            }
            std::sort(spans.begin(), spans.end(),
                      [](const Interval& a, const Interval& b) { return a.lo < b.lo; });
            merge_intervals(spans, {}, gutter, merged);
            band.cover_begin = covers.size();
            covers.insert(covers.end(), merged.begin(), merged.end());
            band.cover_end = covers.size();
        }
        const auto cover_of = [&covers](const Band& band) {
            return std::span<const Interval>(covers).subspan(band.cover_begin,
                                                             band.cover_end - band.cover_begin);
        };

        // Consecutive bands whose column gaps line up form a group.
        std::size_t g = 0;
        std::vector<Interval> cover(cover_of(bands[0]).begin(), cover_of(bands[0]).end());
        std::vector<Interval> both;
        double bottom = bands[0].bottom;
        for (std::size_t b = 1; b <= bands.size(); ++b) {
            bool joins = false;
            if (b < bands.size()) {
                const Band& band = bands[b];
                const std::span<const Interval> band_cover = cover_of(band);
                merge_intervals(cover, band_cover, gutter, both);
                if (bottom - band.top > kMaxBandGap * body) {
                    joins = false;
                } else if (cover.size() >= 2) {
                    // Columns go on while the band crosses none of them.
                    joins = both.size() >= 2;
                } else if (band_cover.size() < 2) {
                    joins = true;
                } else if (both.size() >= 2) {
                    // Text above columns joins them only as a heading of
                    // one: starting where a column starts, and not
                    // bridging a gap. A centered title over two columns
                    // (multicolumn.pdf) can fall clear of the gap when the
                    // first band's left piece is short, but is not aligned.
                    joins = both.size() == band_cover.size() &&
                            std::all_of(cover.begin(), cover.end(), [&](const Interval& c) {
                                return std::any_of(
                                    band_cover.begin(), band_cover.end(), [&](const Interval& d) {
                                        return std::fabs(c.lo - d.lo) <= kColumnAlign * body;
                                    });
                            });
                } else {
                    // Text across, then a band with a gap the text covers:
                    // columns start here if the next band has the gap too;
                    // otherwise it is a wide word space or a row of its
                    // own within the text.
                    bool columns_follow = false;
                    if (b + 1 < bands.size() &&
                        bands[b].bottom - bands[b + 1].top <= kMaxBandGap * body) {
                        merge_intervals(band_cover, cover_of(bands[b + 1]), gutter, merged);
                        columns_follow = merged.size() >= 2;
                    }
                    joins = !columns_follow;
                }
                if (joins) {
                    cover.swap(both);
                    bottom = std::fmin(bottom, band.bottom);
                }
            }
            if (joins) continue;
            group(region, bands, g, b, cover, body, depth);
            if (b < bands.size()) {
                g = b;
                cover.assign(cover_of(bands[b]).begin(), cover_of(bands[b]).end());
                bottom = bands[b].bottom;
            }
        }
    }

    // Bands [from, to) of `region`, whose projection is `cover`.
    void group(const std::vector<std::size_t>& region, const std::vector<Band>& bands,
               std::size_t from, std::size_t to, const std::vector<Interval>& cover, double body,
               std::uint32_t depth) {
        std::vector<std::size_t> members(
            region.begin() + static_cast<std::ptrdiff_t>(bands[from].begin),
            region.begin() + static_cast<std::ptrdiff_t>(bands[to - 1].end));
        // One band is a row, however far apart its pieces: read across.
        if (cover.size() < 2 || to - from < 2) {
            leaf(std::move(members), false);
            return;
        }
        const auto column_of = [&cover](const Item& item) {
            const auto it = std::upper_bound(cover.begin(), cover.end(), item.span.a0,
                                             [](double a, const Interval& c) { return a < c.lo; });
            return it == cover.begin() ? std::size_t{0}
                                       : static_cast<std::size_t>(it - cover.begin()) - 1;
        };
        std::vector<std::vector<std::size_t>> columns(cover.size());
        for (const std::size_t i : members) columns[column_of(items_[i])].push_back(i);

        // A table: rows of cells side by side in most bands, and no two
        // columns of running text. Text columns set on shared baselines
        // (LaTeX's) have rows too; a label column beside a column of
        // descriptions is a table, and so, read as it was, is a narrow
        // side bar whose lines share the main text's baselines. A column's
        // line in a band is the extent of the band's pieces in it: the
        // loose lines of narrow justified columns split into pieces at
        // their widest spaces (latex_twocolumn.pdf).
        std::size_t rows = 0;
        std::vector<std::size_t> lines_in(cover.size(), 0);
        std::vector<std::size_t> full(cover.size(), 0);
        std::vector<Interval> extent(cover.size());
        std::vector<std::size_t>& touched = touched_;
        for (std::size_t b = from; b < to; ++b) {
            touched.clear();
            for (std::size_t i = bands[b].begin; i < bands[b].end; ++i) {
                const Span& s = items_[region[i]].span;
                const std::size_t c = column_of(items_[region[i]]);
                if (std::find(touched.begin(), touched.end(), c) == touched.end()) {
                    touched.push_back(c);
                    extent[c] = {s.a0, s.a1};
                } else {
                    extent[c] = {std::fmin(extent[c].lo, s.a0), std::fmax(extent[c].hi, s.a1)};
                }
            }
            if (touched.size() >= 2) ++rows;
            for (const std::size_t c : touched) {
                ++lines_in[c];
                if (extent[c].hi - extent[c].lo >= kProseFill * (cover[c].hi - cover[c].lo)) {
                    ++full[c];
                }
            }
        }
        std::size_t prose = 0;
        for (std::size_t c = 0; c < cover.size(); ++c) {
            if (cover[c].hi - cover[c].lo >= kProseWidth * body && lines_in[c] >= 2 &&
                2 * full[c] >= lines_in[c]) {
                ++prose;
            }
        }
        double narrowest = std::numeric_limits<double>::infinity();
        for (std::size_t c = 1; c < cover.size(); ++c) {
            narrowest = std::fmin(narrowest, cover[c].lo - cover[c - 1].hi);
        }
        if (rows >= kMinTableRows && 2 * rows >= to - from && prose < 2 &&
            narrowest >= kMinTableGap * body) {
            leaf(std::move(members), true);
            return;
        }
        // Columns hold several lines each and are several words wide: gaps
        // that line up over a few lines are the rivers of loosely justified
        // text (latex_twocolumn.pdf), not columns.
        bool columns_hold = to - from >= kMinColumnBands;
        for (std::size_t c = 0; c < cover.size() && columns_hold; ++c) {
            columns_hold = lines_in[c] >= 2 && cover[c].hi - cover[c].lo >= kMinColumnWidth * body;
        }
        if (!columns_hold) {
            leaf(std::move(members), false);
            return;
        }
        for (std::vector<std::size_t>& column : columns) cut(std::move(column), depth + 1);
    }
};

}  // namespace

void order_page(PageText& page, std::span<const LinePiece> pieces, std::span<const Rect> tables,
                ReadingOrder order) {
    // Without pieces, each line is one.
    std::vector<LinePiece> own;
    if (order == ReadingOrder::Columns && pieces.empty() && !page.lines.empty()) {
        own.reserve(page.lines.size());
        for (std::size_t i = 0; i < page.lines.size(); ++i) {
            const Line& l = page.lines[i];
            own.push_back({i, 0, 0, l.x, l.y, l.box, l.font_size});
        }
        pieces = own;
    }
    std::vector<Line> lines;
    std::vector<Block> blocks;
    if (order == ReadingOrder::Columns) lines.reserve(page.lines.size());
    // Each direction's lines are consecutive; each is ordered in its own
    // frame. A direction's pieces are consecutive too, in line order.
    std::size_t first = 0;
    std::size_t piece = 0;
    while (first < page.lines.size()) {
        const Vec2 u = page.lines[first].direction;
        std::size_t end = first + 1;
        while (end < page.lines.size() && page.lines[end].direction.x == u.x &&
               page.lines[end].direction.y == u.y) {
            ++end;
        }
        if (order == ReadingOrder::Columns) {
            std::size_t stop = piece;
            while (stop < pieces.size() && pieces[stop].line < end) ++stop;
            Orderer(page, pieces, Frame{u}, lines, blocks).order(piece, stop, tables);
            piece = stop;
        } else {
            Orderer(page, pieces, Frame{u}, page.lines, blocks).keep(first, end, tables);
        }
        first = end;
    }
    if (order == ReadingOrder::Columns) page.lines = std::move(lines);
    page.blocks = std::move(blocks);
}

}  // namespace vellox_core
