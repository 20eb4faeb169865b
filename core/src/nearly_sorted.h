// Sorting items that arrive nearly in order.
#pragma once

#include <algorithm>
#include <cstddef>
#include <span>
#include <utility>

#include "bounds.h"

namespace vellox_core {

// Sorts `items` stably by `before`, a strict weak ordering. A content
// stream draws most of a page in the order it is read, so the runs of a
// page, and of a line, arrive nearly sorted: the runs of
// GeoTopo-komprimiert.pdf are out of order with 2.7 others each on
// average (scripts and formulas set before or after their line's text). An
// insertion sort moves each item only past those, where a merge sort pays
// for every level of its merges. A page drawn in some other order would
// make it quadratic: past kMaxSortMovesPerItem moves an item on average,
// the rest is left to the library's stable sort. The insertion sort only
// moves an item past strictly greater ones, so equal items are still in
// their input order and that sort gives the same result it would have
// given from the start.
template <class T, class Before>
void sort_nearly_sorted(std::span<T> items, Before before) {
    const std::size_t budget = limits::kMaxSortMovesPerItem * items.size();
    std::size_t moves = 0;
    for (std::size_t i = 1; i < items.size(); ++i) {
        if (!before(items[i], items[i - 1])) continue;
        T item = std::move(items[i]);
        std::size_t j = i;
        do {
            items[j] = std::move(items[j - 1]);
            --j;
        } while (j > 0 && before(item, items[j - 1]));
        items[j] = std::move(item);
        moves += i - j;
        if (moves > budget) {
            std::stable_sort(items.begin(), items.end(), before);
            return;
        }
    }
}

}  // namespace vellox_core
