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
// few items out of place, blocks drawn late (a page's second column after
// its first), reversed and shuffled, with many equal keys.
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

// The comparisons stay within kMaxSortShift and a few an item for the
// insertions, and a merge sort's for the stretches: for input in reverse
// (every item a stretch of its own) an insertion sort would take n²/2.
// Two sorted halves drawn one after the other (two columns) take one merge.
TEST(NearlySorted, BoundsItsWork) {
    struct Case {
        std::size_t n;
        bool halves;  // else reversed
    };
    for (const Case c : {Case{2, false}, Case{40, false}, Case{5000, false}, Case{5000, true}}) {
        SCOPED_TRACE(c.n);
        SCOPED_TRACE(c.halves);
        std::vector<Item> items(c.n);
        for (std::size_t i = 0; i < c.n; ++i) {
            const std::size_t key =
                c.halves ? (i < c.n / 2 ? 2 * i : 2 * (i - c.n / 2) + 1) : c.n - i;
            items[i] = {static_cast<int>(key), i};
        }
        std::size_t compares = 0;
        sort_nearly_sorted(std::span<Item>(items), [&](const Item& a, const Item& b) {
            ++compares;
            return key_before(a, b);
        });
        EXPECT_TRUE(std::is_sorted(items.begin(), items.end(), key_before));
        std::size_t log = 1;
        while ((std::size_t{1} << log) < c.n) ++log;
        if (c.halves) {
            EXPECT_LE(compares, (limits::kMaxSortShift + 2) * c.n / 2 + 2 * c.n);
        } else {
            EXPECT_LE(compares, (limits::kMaxSortShift + 2) * c.n + c.n * log);
        }
    }
}

}  // namespace
}  // namespace vellox_core
