// Sorting items that arrive nearly in order.
#pragma once

#include <algorithm>
#include <cstddef>
#include <span>
#include <utility>
#include <vector>

#include "bounds.h"

namespace vellox_core {

// Sorts `items` stably by `before`, a strict weak ordering. A content
// stream draws most of a page in the order it is read, so the runs of a
// page, and of a line, arrive nearly sorted, in two ways. Most items are
// out of order with a few neighbours: the runs of GeoTopo-komprimiert.pdf
// with 2.7 others on average (scripts and formulas set before or after
// their line's text). And whole stretches are out of order with one
// another: a page of two columns, drawn one column after the other, is two
// sorted stretches to be interleaved line by line.
//
// So an item that belongs at most kMaxSortShift places back is moved there
// (an insertion sort, within the stretch being grown); one that belongs
// further back starts a new stretch. The stretches are then merged, pairs
// of neighbours at a time. An insertion moves an item only past strictly
// greater ones and a merge takes from the earlier stretch on a tie, so
// equal items keep their input order. The work is at most kMaxSortShift
// steps an item, and a merge sort's over the stretches.
// Merges the sorted stretches [lo, mid) and [mid, hi) of `items`. Only
// what overlaps moves: the first stretch's items up to the first greater
// than the second's first item, and the second's items from the first that
// is not less than the first's last, are already in place. On a tie the
// first stretch's item comes first.
template <class T, class Before>
void merge_stretches(std::span<T> items, std::size_t lo, std::size_t mid, std::size_t hi,
                     std::vector<T>& scratch, Before before) {
    const auto at = [&](std::size_t i) { return items.begin() + static_cast<std::ptrdiff_t>(i); };
    if (!before(items[mid], items[mid - 1])) return;  // in order already
    const std::size_t from =
        static_cast<std::size_t>(std::upper_bound(at(lo), at(mid), items[mid], before) - at(0));
    const std::size_t to =
        static_cast<std::size_t>(std::lower_bound(at(mid), at(hi), items[mid - 1], before) - at(0));
    scratch.assign(std::make_move_iterator(at(from)), std::make_move_iterator(at(mid)));
    // The write position never passes the next item of the second stretch
    // to be read: it is behind it by what is left in the scratch list.
    std::size_t w = from;
    std::size_t a = 0;
    std::size_t b = mid;
    while (a < scratch.size() && b < to) {
        if (before(items[b], scratch[a])) {
            items[w++] = std::move(items[b++]);
        } else {
            items[w++] = std::move(scratch[a++]);
        }
    }
    while (a < scratch.size()) items[w++] = std::move(scratch[a++]);
}

template <class T, class Before>
void sort_nearly_sorted(std::span<T> items, Before before) {
    const std::size_t n = items.size();
    // Where the stretch being grown starts, and where each one does once
    // there are two: most lines and many pages are one stretch, which
    // costs no allocation.
    std::size_t start = 0;
    std::vector<std::size_t> starts;
    for (std::size_t i = 1; i < n; ++i) {
        if (!before(items[i], items[i - 1])) continue;
        const std::size_t floor = i - std::min(i - start, limits::kMaxSortShift);
        std::size_t j = i - 1;
        while (j > floor && before(items[i], items[j - 1])) --j;
        if (j == floor && floor > start && before(items[i], items[floor - 1])) {
            if (starts.empty()) starts.push_back(0);
            starts.push_back(i);
            start = i;
            continue;
        }
        // A few places, one at a time: a call to memmove costs more.
        T item = std::move(items[i]);
        for (std::size_t k = i; k > j; --k) items[k] = std::move(items[k - 1]);
        items[j] = std::move(item);
    }
    if (starts.empty()) return;
    starts.push_back(n);
    std::vector<T> scratch;  // the part of a stretch being merged
    std::vector<std::size_t> next;
    while (starts.size() > 2) {
        next.clear();
        for (std::size_t k = 0; k + 1 < starts.size(); k += 2) {
            next.push_back(starts[k]);
            if (k + 2 == starts.size()) break;  // an odd stretch out
            merge_stretches(items, starts[k], starts[k + 1], starts[k + 2], scratch, before);
        }
        next.push_back(n);
        starts.swap(next);
    }
}

}  // namespace vellox_core
