#include "nearly_sorted.h"

#include <gtest/gtest.h>

#include <algorithm>
#include <cstddef>
#include <random>
#include <span>
#include <utility>
#include <vector>

#include "bounds.h"

namespace vellox_core {
namespace {

// Items that compare by key alone, tagged with their input position so that
// the order among equal keys shows.
using Item = std::pair<int, std::size_t>;

bool key_before(const Item& a, const Item& b) { return a.first < b.first; }

// Against the library's stable sort: the same order for input in order, a
// few items out of place, blocks drawn late (a page's formulas after its
// text), reversed (past the move budget, so the hand-over is taken midway)
// and shuffled, with many equal keys.
TEST(NearlySorted, SortsAsStableSortDoes) {
    std::mt19937 rng(97);
    for (int round = 0; round < 3000; ++round) {
        SCOPED_TRACE(round);
        const std::size_t n = rng() % 400;
        std::vector<Item> items(n);
        for (std::size_t i = 0; i < n; ++i) items[i] = {static_cast<int>(rng() % 50), i};
        std::stable_sort(items.begin(), items.end(), key_before);
        switch (round % 5) {
            case 0: break;
            case 1:
                for (int k = 0; k < 5 && n > 1; ++k) std::swap(items[rng() % n], items[rng() % n]);
                break;
            case 2:
                if (n > 1) {
                    const std::size_t from = rng() % n;
                    std::rotate(items.begin() + static_cast<std::ptrdiff_t>(from),
                                items.begin() + static_cast<std::ptrdiff_t>(from + (n - from) / 2),
                                items.end());
                }
                break;
            case 3: std::reverse(items.begin(), items.end()); break;
            default: std::shuffle(items.begin(), items.end(), rng); break;
        }
        for (std::size_t i = 0; i < n; ++i) items[i].second = i;
        std::vector<Item> expected = items;
        std::stable_sort(expected.begin(), expected.end(), key_before);
        sort_nearly_sorted(std::span<Item>(items), key_before);
        ASSERT_EQ(items, expected);
    }
}

// The moves stay within the budget plus one item's worth: a reversed input
// of n items would take n²/2 of them.
TEST(NearlySorted, BoundsItsMoves) {
    for (const std::size_t n : {std::size_t{2}, std::size_t{40}, std::size_t{5000}}) {
        SCOPED_TRACE(n);
        std::vector<Item> items(n);
        for (std::size_t i = 0; i < n; ++i) items[i] = {static_cast<int>(n - i), i};
        std::size_t compares = 0;
        sort_nearly_sorted(std::span<Item>(items), [&](const Item& a, const Item& b) {
            ++compares;
            return key_before(a, b);
        });
        EXPECT_TRUE(std::is_sorted(items.begin(), items.end(), key_before));
        // The insertion sort's comparisons, one per move and one per item,
        // then the merge sort's, n log n at most.
        std::size_t log = 1;
        while ((std::size_t{1} << log) < n) ++log;
        EXPECT_LE(compares, (limits::kMaxSortMovesPerItem + 2) * n + n + 2 * n * log);
    }
}

}  // namespace
}  // namespace vellox_core
