#include "layout.h"

#include <algorithm>
#include <array>
#include <cmath>
#include <cstddef>
#include <iterator>
#include <limits>
#include <memory>

#include "nearly_sorted.h"
#include "spacing.h"

namespace vellox_core {

namespace {

// Sweep order: direction group first, then the first line of the direction
// first, then along the line. Coordinates are compared exactly; a NaN
// compares false both ways, so it falls through to the next key and finally
// leaves the two runs in their input order.
bool sweeps_before(const SweepKey& a, const SweepKey& b) {
    if (a.group != b.group) return a.group < b.group;
    if (a.across > b.across) return true;
    if (a.across < b.across) return false;
    return a.along < b.along;
}

// A size as layout measures with it: the magnitude (a mirrored matrix gives
// a negative one), and at least one unit, so that a zero or NaN size (a
// degenerate matrix, a missing Tf) still gives a line a band to hold it
// (std::max keeps its first argument when the second is NaN).
double layout_size(double font_size) { return std::max(1.0, std::fabs(font_size)); }

// One run in the frame of its direction.
struct Placed {
    std::size_t run = 0;
    double along = 0;   // origin along the writing direction
    double across = 0;  // baseline across it, growing toward the glyphs' tops
    double size = 0;    // layout_size of the run
    double width = 0;   // advance along the writing direction
};

bool same_line(const Placed& ref, const Placed& p) {
    // std::max and std::min, in line, where fmax and fmin are calls: they
    // differ only on a NaN across, and the baseline test below answers
    // false for it either way. Sizes are never NaN (layout_size).
    const double low =
        std::max(ref.across - kBelowBaseline * ref.size, p.across - kBelowBaseline * p.size);
    const double high =
        std::min(ref.across + kAboveBaseline * ref.size, p.across + kAboveBaseline * p.size);
    const double smaller = std::min(ref.size, p.size);
    // Written so that a NaN anywhere answers false: the run starts a line.
    return high - low >= kSameLineOverlap * smaller &&
           std::fabs(ref.across - p.across) <= kMaxBaselineShift * smaller;
}

// The frame of a direction: along is measured by `unit`, across by the
// vector a quarter turn counterclockwise from it, toward the tops of the
// glyphs.
struct Frame {
    Vec2 unit{1, 0};
    int bin = kUprightBin;
};

// Frame coordinates of a displayed point. The axis frames swap and negate,
// so that an infinite coordinate stays infinite instead of meeting a zero
// factor.
Vec2 to_frame(const Frame& f, Vec2 p) {
    switch (f.bin) {
        case kUprightBin: return {p.x, p.y};
        case kBottomToTopBin: return {p.y, -p.x};
        case kUpsideDownBin: return {-p.x, -p.y};
        case kTopToBottomBin: return {-p.y, p.x};
        default: return {p.x * f.unit.x + p.y * f.unit.y, -p.x * f.unit.y + p.y * f.unit.x};
    }
}

Vec2 from_frame(const Frame& f, double along, double across) {
    switch (f.bin) {
        case kUprightBin: return {along, across};
        case kBottomToTopBin: return {-across, along};
        case kUpsideDownBin: return {-along, -across};
        case kTopToBottomBin: return {across, -along};
        default:
            return {along * f.unit.x - across * f.unit.y, along * f.unit.y + across * f.unit.x};
    }
}

template <class Before>
std::vector<std::size_t> merge_order(std::size_t n, Before before) {
    std::vector<std::size_t> order(n);
    for (std::size_t i = 0; i < n; ++i) order[i] = i;
    std::vector<std::size_t> scratch(n);
    for (std::size_t width = 1; width < n; width *= 2) {
        for (std::size_t lo = 0; lo < n; lo += 2 * width) {
            const std::size_t mid = std::min(lo + width, n);
            const std::size_t hi = std::min(lo + 2 * width, n);
            std::size_t i = lo;
            std::size_t j = mid;
            std::size_t k = lo;
            while (i < mid && j < hi) {
                // Take from the right half only when strictly earlier, so
                // equal keys keep their input order.
                if (before(order[j], order[i])) {
                    scratch[k++] = order[j++];
                } else {
                    scratch[k++] = order[i++];
                }
            }
            while (i < mid) scratch[k++] = order[i++];
            while (j < hi) scratch[k++] = order[j++];
        }
        // Every pass writes all of [0, n), so the scratch list is complete.
        order.swap(scratch);
    }
    return order;
}

// A line as it is being formed: its runs, and the largest of them, which
// the runs that follow are measured against. Measuring against one run and
// not the growing line keeps a slowly descending baseline from pulling a
// whole paragraph into one line; the largest, so that a subscript after a
// superscript is measured against the base text both sit on.
//
// The runs a draft takes while the page is swept are consecutive in sweep
// order, so they are a range of the swept runs; only the runs of scripts
// moved into it afterwards (attach_scripts, a few lines a page) are kept
// apart, in a list of their own among the lay-out's joined lists. A draft
// is thus plain data, copied as bytes when the drafts grow, and a page's
// lines cost no allocation each.
constexpr std::size_t kNoJoined = std::numeric_limits<std::size_t>::max();

struct Draft {
    std::size_t begin = 0;  // its own runs: [begin, end) of the swept runs
    std::size_t end = 0;
    std::size_t joined = kNoJoined;  // index into the joined lists, if any
    Placed ref;

    std::span<const Placed> own(std::span<const Placed> swept) const {
        return swept.subspan(begin, end - begin);
    }
};

// The runs moved into each draft that took any, indexed by Draft::joined.
using JoinedLists = std::vector<std::vector<Placed>>;

std::span<const Placed> joined_of(const Draft& d, const JoinedLists& joined) {
    if (d.joined == kNoJoined) return {};
    return joined[d.joined];
}

bool is_empty(const Draft& d, const JoinedLists& joined) {
    return d.begin == d.end && joined_of(d, joined).empty();
}

// The interval a run's advance covers along the line. std::min and std::max
// keep their first argument when the second is NaN (a NaN or infinite
// width), as fmin and fmax would, and are done in line: layout takes them
// for every run several times.
double span_start(const Placed& p) { return std::min(p.along, p.along + p.width); }
double span_end(const Placed& p) { return std::max(p.along, p.along + p.width); }

// True when the short line `script` is a superscript or subscript of a run
// of `base`: set smaller than that run, its baseline near, and starting
// where the run ends or ending where it starts. A label set over an arrow
// (the "Vor." over an implication in GeoTopo-komprimiert.pdf) lies within
// its run instead, and stays a line of its own.
bool scripts_onto(const Draft& script, const Draft& base, std::span<const Placed> swept,
                  const JoinedLists& joined) {
    const double size = script.ref.size;
    if (!(size <= kScriptSizeRatio * base.ref.size)) return false;
    double lo = std::numeric_limits<double>::infinity();
    double hi = -lo;
    for (const std::span<const Placed> part : {script.own(swept), joined_of(script, joined)}) {
        // The bounds are never NaN, and std::min and std::max keep them
        // when the other argument is, as fmin and fmax would.
        for (const Placed& p : part) {
            lo = std::min(lo, span_start(p));
            hi = std::max(hi, span_end(p));
        }
    }
    if (!(hi - lo <= kMaxScriptLength * size)) return false;
    const double reach = kScriptReach * size;
    const auto next_to = [&](const Placed& b) {
        return size <= kScriptSizeRatio * b.size &&
               std::fabs(b.across - script.ref.across) <= kMaxBaselineShift * size &&
               (std::fabs(lo - span_end(b)) <= reach || std::fabs(hi - span_start(b)) <= reach);
    };
    const std::span<const Placed> own = base.own(swept);
    const std::span<const Placed> moved = joined_of(base, joined);
    return std::any_of(own.begin(), own.end(), next_to) ||
           std::any_of(moved.begin(), moved.end(), next_to);
}

// Scripts whose bands overlap their base text too little to join its line
// while the lines were swept (reportlab's, in scripts.pdf) are lines of
// their own so far, next to their base line in the direction's order: a
// superscript's just before it, a subscript's just after, or one further
// when another column's line sits between. Each such line is moved into
// the base line. Every line is compared with four others at most, so the
// pass is linear in the runs.
void attach_scripts(std::span<Draft> drafts, std::span<const Placed> swept, JoinedLists& joined) {
    for (std::size_t i = 0; i < drafts.size(); ++i) {
        Draft& script = drafts[i];
        if (is_empty(script, joined)) continue;
        for (const std::ptrdiff_t step : {1, -1, 2, -2}) {
            const std::ptrdiff_t j = static_cast<std::ptrdiff_t>(i) + step;
            if (j < 0 || j >= static_cast<std::ptrdiff_t>(drafts.size())) continue;
            Draft& base = drafts[static_cast<std::size_t>(j)];
            if (is_empty(base, joined) || !scripts_onto(script, base, swept, joined)) continue;
            // After the base's runs, the script's in their order: its own,
            // then those moved into it before.
            if (base.joined == kNoJoined) {
                base.joined = joined.size();
                joined.emplace_back();
            }
            std::vector<Placed>& into = joined[base.joined];
            const std::span<const Placed> own = script.own(swept);
            into.insert(into.end(), own.begin(), own.end());
            if (script.joined != kNoJoined) {
                std::vector<Placed>& from = joined[script.joined];
                into.insert(into.end(), from.begin(), from.end());
                from.clear();
            }
            script.begin = script.end;
            break;
        }
    }
}

// The extent of runs on the displayed page, from their extent in the frame.
struct Extent {
    double a0 = std::numeric_limits<double>::infinity();
    double a1 = -std::numeric_limits<double>::infinity();
    double c0 = std::numeric_limits<double>::infinity();
    double c1 = -std::numeric_limits<double>::infinity();

    // The bounds are never NaN and std::min and std::max keep them when the
    // other argument is NaN, so one bad run leaves the others' extent
    // standing.
    void add(const Placed& p) {
        a0 = std::min(a0, span_start(p));
        a1 = std::max(a1, span_end(p));
        c0 = std::min(c0, p.across - kBelowBaseline * p.size);
        c1 = std::max(c1, p.across + kAboveBaseline * p.size);
    }

    // The extent of the runs of both: the same bounds as adding the other's
    // runs one by one, since a minimum or maximum taken in parts is the
    // minimum or maximum of the whole (and ties keep the earlier value,
    // +0 or -0, either way).
    void add(const Extent& e) {
        a0 = std::min(a0, e.a0);
        a1 = std::max(a1, e.a1);
        c0 = std::min(c0, e.c0);
        c1 = std::max(c1, e.c1);
    }

    Box box(const Frame& frame) const {
        const Vec2 corners[4] = {from_frame(frame, a0, c0), from_frame(frame, a1, c0),
                                 from_frame(frame, a0, c1), from_frame(frame, a1, c1)};
        constexpr double kInf = std::numeric_limits<double>::infinity();
        Box b{kInf, kInf, -kInf, -kInf};
        for (const Vec2& c : corners) {
            b.x0 = std::min(b.x0, c.x);
            b.y0 = std::min(b.y0, c.y);
            b.x1 = std::max(b.x1, c.x);
            b.y1 = std::max(b.y1, c.y);
        }
        return b;
    }
};

// The line of `members`, which it sorts; with `pieces`, its pieces are
// appended there (their `line` left for the caller to set).
Line finish_line(const std::vector<TextRun>& runs, const Frame& frame, std::span<Placed> members,
                 std::vector<LinePiece>* pieces) {
    // Along the line, equal positions in sweep order.
    const bool comparable = std::none_of(members.begin(), members.end(),
                                         [](const Placed& p) { return std::isnan(p.along); });
    const auto before = [](const Placed& a, const Placed& b) { return a.along < b.along; };
    if (comparable) {
        // Most lines arrive in order already (their runs were swept along
        // the line); only scripts and overlapping runs move.
        sort_nearly_sorted(members, before);
    } else {
        const std::vector<std::size_t> order =
            merge_order(members.size(), [&members](std::size_t a, std::size_t b) {
                return members[a].along < members[b].along;
            });
        const std::vector<Placed> sorted(members.begin(), members.end());
        for (std::size_t i = 0; i < order.size(); ++i) members[i] = sorted[order[i]];
    }

    Line line;
    // The text's length is known within one space between runs.
    std::size_t bytes = 0;
    for (const Placed& p : members) bytes += runs[p.run].text.size() + 1;
    line.text.reserve(bytes);
    const TextRun& first = runs[members.front().run];
    line.x = first.x;
    line.y = first.y;
    line.direction = frame.unit;
    // The extent of the pieces before the one being formed, and of that
    // one: the line's is both.
    Extent whole;
    Extent piece;
    const std::size_t first_piece = pieces != nullptr ? pieces->size() : 0;
    if (pieces != nullptr) pieces->push_back({0, 0, 0, first.x, first.y, {}, 0});
    // The gap before a run is measured from the last run that has text: a
    // run of glyphs that map to no text (the space of habibi-rotated.pdf,
    // shown in a font without a ToUnicode entry for it) is a gap to the
    // reader too.
    const TextRun* last_text = nullptr;
    const Placed* last_placed = nullptr;
    for (const Placed& p : members) {
        const TextRun& r = runs[p.run];
        if (!r.text.empty()) {
            if (last_text != nullptr) {
                // Written so that a NaN answers false: no new piece.
                const bool apart = span_start(p) - span_end(*last_placed) >=
                                   kPieceGap * std::max(p.size, last_placed->size);
                if (pieces != nullptr && apart) {
                    pieces->back().box = piece.box(frame);
                    whole.add(piece);
                    piece = Extent{};
                    pieces->push_back({0, 0, line.text.size(), r.x, r.y, {}, 0});
                }
                append_run_text(line.text, *last_text, r);
                if (pieces != nullptr && apart) {
                    pieces->back().text_begin = line.text.size() - r.text.size();
                }
            } else {
                line.text = r.text;
            }
            last_text = &r;
            last_placed = &p;
        }
        piece.add(p);
        // The largest size so far is never NaN, and stays when this one is.
        line.font_size = std::max(line.font_size, std::fabs(r.font_size));
        if (pieces != nullptr) {
            pieces->back().font_size = std::max(pieces->back().font_size, std::fabs(r.font_size));
        }
    }
    whole.add(piece);
    line.box = whole.box(frame);
    if (pieces != nullptr) {
        // A line of one piece is the line itself.
        pieces->back().box = pieces->size() == first_piece + 1 ? line.box : piece.box(frame);
    }
    return line;
}

// The lines of one direction, as a group of the page.
struct Group {
    int bin = 0;
    std::size_t text_bytes = 0;
    // Its drafts: [draft_begin, draft_end) of the page's, which come a
    // group at a time since the runs are swept a group at a time.
    std::size_t draft_begin = 0;
    std::size_t draft_end = 0;
    std::vector<Line> lines;
    std::vector<LinePiece> pieces;  // `line` counts the group's lines
};

}  // namespace

void sweep_sort_merge(std::span<SweepKey> keys) {
    const std::vector<std::size_t> order = merge_order(
        keys.size(),
        [keys](std::size_t a, std::size_t b) { return sweeps_before(keys[a], keys[b]); });
    const std::vector<SweepKey> unsorted(keys.begin(), keys.end());
    for (std::size_t i = 0; i < order.size(); ++i) keys[i] = unsorted[order[i]];
}

void sweep_sort(std::span<SweepKey> keys) {
    // Without NaN the comparison is a strict weak ordering, so every stable
    // sort gives the same order and a quicker one than the merge sort may be
    // used: most pages arrive nearly or wholly in order.
    const bool comparable = std::none_of(keys.begin(), keys.end(), [](const SweepKey& k) {
        return std::isnan(k.across) || std::isnan(k.along);
    });
    if (!comparable) {
        sweep_sort_merge(keys);
        return;
    }
    sort_nearly_sorted(keys,
                       [](const SweepKey& a, const SweepKey& b) { return sweeps_before(a, b); });
}

// The lists one layout works in, emptied at its start: their room stays
// from one layout to the next.
struct LayoutScratch::Lists {
    std::vector<Frame> frames;
    std::vector<SweepKey> keys;
    std::vector<Placed> placed;
    std::vector<Group> groups;
    std::vector<Placed> swept;
    std::vector<Draft> drafts;
    JoinedLists joined;
    std::vector<Placed> members;  // a line's runs when scripts joined it
};

LayoutScratch::LayoutScratch() : lists(std::make_unique<Lists>()) {}
LayoutScratch::~LayoutScratch() = default;

namespace {

// The lines of the runs `chosen` picks out of `runs` (all of them when it
// is null), in the order layout_page gives them, on a page displayed turned
// by `rotation` degrees.
std::vector<Line> lay_out(const std::vector<TextRun>& runs,
                          const std::span<const std::size_t>* chosen, int rotation,
                          std::vector<LinePiece>* pieces, LayoutScratch::Lists& work) {
    const std::size_t count = chosen != nullptr ? chosen->size() : runs.size();
    // Each direction's frame is that of its first run in content order: the
    // axis itself for the axis bins, the run's own direction otherwise.
    std::array<int, kDirectionBins> group_of;
    group_of.fill(-1);
    std::vector<Frame>& frames = work.frames;
    frames.clear();
    std::vector<SweepKey>& keys = work.keys;
    keys.clear();
    keys.reserve(count);
    std::vector<Placed>& placed = work.placed;
    placed.clear();
    placed.reserve(count);
    Direction d;
    const TextRun* previous = nullptr;
    for (std::size_t i = 0; i < count; ++i) {
        const std::size_t at = chosen != nullptr ? (*chosen)[i] : i;
        const TextRun& r = runs[at];
        // Runs come in long stretches of one direction: each stretch is
        // binned once. A NaN component is unequal to itself, so such a run
        // is binned on its own.
        if (previous == nullptr || r.dir_x != previous->dir_x || r.dir_y != previous->dir_y) {
            d = display_direction(r.dir_x, r.dir_y, rotation);
        }
        previous = &r;
        int& group = group_of[static_cast<std::size_t>(d.bin)];
        if (group < 0) {
            group = static_cast<int>(frames.size());
            frames.push_back({d.unit, d.bin});
        }
        // An unturned page, nearly every one, is displayed as it is
        // (to_display gives the point itself): no call a run for it.
        const Vec2 shown = rotation == 0 ? Vec2{r.x, r.y} : to_display({r.x, r.y}, rotation);
        const Vec2 p = to_frame(frames[static_cast<std::size_t>(group)], shown);
        keys.push_back({group, p.y, p.x, i});
        placed.push_back({at, p.x, p.y, layout_size(r.font_size), r.width});
    }

    std::vector<Group>& groups = work.groups;
    groups.clear();
    groups.resize(frames.size());
    for (std::size_t g = 0; g < frames.size(); ++g) groups[g].bin = frames[g].bin;
    sweep_sort(keys);
    std::vector<Placed>& swept = work.swept;
    swept.clear();
    swept.reserve(keys.size());
    std::vector<Draft>& drafts = work.drafts;
    drafts.clear();
    JoinedLists& joined = work.joined;
    joined.clear();
    Draft* draft = nullptr;
    int draft_group = -1;
    for (const SweepKey& key : keys) {
        const Placed& p = placed[key.item];
        const int group = key.group;
        Group& g = groups[static_cast<std::size_t>(group)];
        if (group != draft_group || !same_line(draft->ref, p)) {
            if (group != draft_group) g.draft_begin = drafts.size();
            draft = &drafts.emplace_back();
            draft_group = group;
            draft->begin = swept.size();
            draft->ref = p;
            g.draft_end = drafts.size();
        } else if (p.size > draft->ref.size) {
            draft->ref = p;
        }
        swept.push_back(p);
        draft->end = swept.size();
        g.text_bytes += runs[p.run].text.size();
    }
    std::vector<Placed>& members = work.members;
    for (std::size_t g = 0; g < groups.size(); ++g) {
        Group& group = groups[g];
        const std::span<Draft> group_drafts = std::span<Draft>(drafts).subspan(
            group.draft_begin, group.draft_end - group.draft_begin);
        attach_scripts(group_drafts, swept, joined);
        // At most a line a draft: the lines are moved once, into place. And
        // most lines are one piece.
        group.lines.reserve(group_drafts.size());
        if (pieces != nullptr) group.pieces.reserve(group_drafts.size());
        for (const Draft& d : group_drafts) {
            if (is_empty(d, joined)) continue;
            // Most lines are a range of the swept runs, sorted in place:
            // only this line reads that range from here on.
            std::span<Placed> line_runs =
                std::span<Placed>(swept).subspan(d.begin, d.end - d.begin);
            const std::span<const Placed> moved = joined_of(d, joined);
            if (!moved.empty()) {
                members.assign(line_runs.begin(), line_runs.end());
                members.insert(members.end(), moved.begin(), moved.end());
                line_runs = members;
            }
            const std::size_t from = group.pieces.size();
            group.lines.push_back(finish_line(runs, frames[g], line_runs,
                                              pieces != nullptr ? &group.pieces : nullptr));
            for (std::size_t k = from; k < group.pieces.size(); ++k) {
                group.pieces[k].line = group.lines.size() - 1;
            }
        }
    }

    // The main direction first (most text; on a tie the lower bin, so
    // upright text before other directions), then the others by the top of
    // their first line, highest first; a NaN top counts as the lowest.
    std::size_t main = 0;
    for (std::size_t g = 1; g < groups.size(); ++g) {
        const Group& a = groups[g];
        const Group& b = groups[main];
        if (a.text_bytes > b.text_bytes || (a.text_bytes == b.text_bytes && a.bin < b.bin)) {
            main = g;
        }
    }
    if (groups.size() == 1) {
        if (pieces != nullptr) {
            pieces->insert(pieces->end(), groups[0].pieces.begin(), groups[0].pieces.end());
        }
        return std::move(groups[0].lines);
    }
    const auto top = [](const Group& g) {
        const double y = g.lines.front().box.y1;
        return std::isnan(y) ? -std::numeric_limits<double>::infinity() : y;
    };
    std::vector<std::size_t> rest;
    for (std::size_t g = 0; g < groups.size(); ++g) {
        if (g != main) rest.push_back(g);
    }
    std::sort(rest.begin(), rest.end(), [&](std::size_t a, std::size_t b) {
        if (top(groups[a]) != top(groups[b])) return top(groups[a]) > top(groups[b]);
        return groups[a].bin < groups[b].bin;
    });
    rest.insert(rest.begin(), main);
    std::size_t total = 0;
    for (const Group& g : groups) total += g.lines.size();
    std::vector<Line> lines;
    lines.reserve(total);
    for (const std::size_t g : rest) {
        if (pieces != nullptr) {
            for (LinePiece& piece : groups[g].pieces) {
                piece.line += lines.size();
                pieces->push_back(piece);
            }
        }
        std::move(groups[g].lines.begin(), groups[g].lines.end(), std::back_inserter(lines));
    }
    return lines;
}

}  // namespace

PageText layout_page(const std::vector<TextRun>& runs, const Rect& media_box, std::int64_t rotate,
                     std::vector<LinePiece>* pieces, LayoutScratch* scratch) {
    PageText page;
    page.width = std::fabs(media_box[2] - media_box[0]);
    page.height = std::fabs(media_box[3] - media_box[1]);
    page.rotation = page_rotation(rotate);
    page.needs_ocr = runs.empty();
    if (runs.empty()) return page;
    LayoutScratch::Lists own;  // empty lists, which allocate nothing until used
    LayoutScratch::Lists& work = scratch != nullptr ? *scratch->lists : own;
    page.lines = lay_out(runs, nullptr, page.rotation, pieces, work);
    // Each line a block of its own, until order_page groups them.
    page.blocks.reserve(page.lines.size());
    for (std::size_t i = 0; i < page.lines.size(); ++i) page.blocks.push_back({i, i + 1, false});
    return page;
}

std::vector<Line> layout_lines(const std::vector<TextRun>& runs,
                               std::span<const std::size_t> chosen, std::int64_t rotate,
                               LayoutScratch* scratch) {
    if (chosen.empty()) return {};
    LayoutScratch::Lists own;  // empty lists, which allocate nothing until used
    LayoutScratch::Lists& work = scratch != nullptr ? *scratch->lists : own;
    return lay_out(runs, &chosen, page_rotation(rotate), nullptr, work);
}

std::string PageText::text() const {
    std::string out;
    for (std::size_t i = 0; i < lines.size(); ++i) {
        if (i > 0) out.push_back('\n');
        out += lines[i].text;
    }
    return out;
}

}  // namespace vellox_core
