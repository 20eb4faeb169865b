#include "layout.h"

#include <algorithm>
#include <cmath>
#include <cstddef>

namespace vellox_core {

namespace {

// Reading order: higher on the page first, then left to right. Coordinates
// are compared exactly; a NaN (reachable through a degenerate or hostile text
// matrix) compares false both ways, so it falls through to the next key and
// finally leaves the two runs in their input order.
bool reads_before(const TextRun& a, const TextRun& b) {
    if (a.y > b.y) return true;
    if (a.y < b.y) return false;
    return a.x < b.x;
}

}  // namespace

// A stable merge sort over indices. std::stable_sort is only defined for a
// strict weak ordering, and "NaN equals everything" is not one (NaN ~ 1 and
// NaN ~ 2 while 1 < 2). Here the comparator only ever decides which of two
// in-range indices goes next, so an inconsistent comparator can produce an
// odd order but never reads outside the lists; for consistent input the
// result is exactly the stable order.
std::vector<std::size_t> reading_order_merge(const std::vector<TextRun>& runs) {
    const std::size_t n = runs.size();
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
                if (reads_before(runs[order[j]], runs[order[i]])) {
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

std::vector<std::size_t> reading_order(const std::vector<TextRun>& runs) {
    // Without NaN the comparison is a strict weak ordering, so every stable
    // sort gives the same order and the library's may be used; most pages
    // arrive nearly or wholly in reading order, which it is quick on, and
    // an already ordered page needs no sort at all.
    const bool comparable = std::none_of(runs.begin(), runs.end(), [](const TextRun& r) {
        return std::isnan(r.x) || std::isnan(r.y);
    });
    if (!comparable) return reading_order_merge(runs);
    std::vector<std::size_t> order(runs.size());
    for (std::size_t i = 0; i < order.size(); ++i) order[i] = i;
    const auto before = [&runs](std::size_t a, std::size_t b) {
        return reads_before(runs[a], runs[b]);
    };
    if (!std::is_sorted(order.begin(), order.end(), before)) {
        std::stable_sort(order.begin(), order.end(), before);
    }
    return order;
}

Line make_line(const std::vector<const TextRun*>& runs) {
    Line line;
    if (runs.empty()) return line;
    const TextRun& first = *runs.front();
    line.text = first.text;
    line.x = first.x;
    line.y = first.y;
    double end = first.x + first.width;
    for (std::size_t i = 1; i < runs.size(); ++i) {
        const TextRun& r = *runs[i];
        // Producers often position each word with its own Td/Tm instead of
        // showing a space glyph; a visible gap of a fifth of the font size
        // stands for the missing space. fmax ignores a NaN size.
        const double gap = r.x - end;
        if (gap > 0.2 * std::fmax(r.font_size, 1.0) &&
            (line.text.empty() || line.text.back() != ' ') &&
            (r.text.empty() || r.text.front() != ' ')) {
            line.text.push_back(' ');
        }
        line.text += r.text;
        end = r.x + r.width;
    }
    return line;
}

PageText layout_page(const std::vector<TextRun>& runs, const Rect& media_box,
                     std::int64_t rotation) {
    PageText page;
    page.rotation = rotation;
    page.width = std::fabs(media_box[2] - media_box[0]);
    page.height = std::fabs(media_box[3] - media_box[1]);
    page.needs_ocr = runs.empty();

    const std::vector<std::size_t> order = reading_order(runs);
    std::vector<const TextRun*> current;
    for (const std::size_t index : order) {
        const TextRun& r = runs[index];
        if (!current.empty()) {
            // Measured against the line's first run, never its last, so a
            // slowly descending baseline cannot pull a whole paragraph into
            // one line. A NaN difference keeps the run in the line.
            const TextRun& f = *current.front();
            const double tol = std::fmax(0.5 * std::fmax(f.font_size, r.font_size), 1.0);
            if (std::fabs(f.y - r.y) > tol) {
                page.lines.push_back(make_line(current));
                current.clear();
            }
        }
        current.push_back(&r);
    }
    if (!current.empty()) page.lines.push_back(make_line(current));
    return page;
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
