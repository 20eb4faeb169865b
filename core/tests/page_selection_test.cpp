#include "page_selection.h"

#include <gtest/gtest.h>

#include <cstdint>
#include <limits>
#include <variant>
#include <vector>

using namespace vellox_core;

namespace {

using Kind = PageRequest::Kind;
constexpr std::int64_t kMax = std::numeric_limits<std::int64_t>::max();
constexpr std::int64_t kMin = std::numeric_limits<std::int64_t>::min();

PageSelection of(std::vector<PageRequest> parts) { return PageSelection{false, std::move(parts)}; }

}  // namespace

TEST(ResolvePages, EveryPageByDefault) {
    EXPECT_EQ(std::get<0>(resolve_pages({}, 4)), (std::vector<std::size_t>{0, 1, 2, 3}));
    EXPECT_TRUE(std::get<0>(resolve_pages({}, 0)).empty());
}

// The expectations are what Python gives for the same request on
// list(range(5)): indices and ranges must name pages, slices are clamped.
TEST(ResolvePages, FollowsPythonIndexRangeAndSliceRules) {
    struct Case {
        const char* name;
        std::vector<PageRequest> parts;
        std::vector<std::size_t> expected;
    } cases[] = {
        {"indices in order asked, repeats kept",
         {{Kind::Index, 3}, {Kind::Index, 0}, {Kind::Index, 3}},
         {3, 0, 3}},
        {"negative index from the end", {{Kind::Index, -1}, {Kind::Index, -5}}, {4, 0}},
        {"range", {{Kind::Range, 1, 4, 1}}, {1, 2, 3}},
        {"range with step", {{Kind::Range, 0, 5, 2}}, {0, 2, 4}},
        {"descending range", {{Kind::Range, 4, -1, -2}}, {4, 2, 0}},
        {"range over negatives", {{Kind::Range, -2, 0, 1}}, {3, 4}},
        {"empty range", {{Kind::Range, 3, 3, 1}, {Kind::Range, 9, 2, 1}}, {}},
        {"slice", {{Kind::Slice, 1, 3, 1}}, {1, 2}},
        {"slice clamped", {{Kind::Slice, -100, 100, 1}}, {0, 1, 2, 3, 4}},
        {"slice from the end", {{Kind::Slice, -2, kMax, 1}}, {3, 4}},
        {"reversed slice, open ends", {{Kind::Slice, kMax, kMin, -1}}, {4, 3, 2, 1, 0}},
        {"reversed slice with step", {{Kind::Slice, kMax, kMin, -2}}, {4, 2, 0}},
        {"slice past the end", {{Kind::Slice, 7, kMax, 1}}, {}},
        {"parts concatenated",
         {{Kind::Range, 0, 2, 1}, {Kind::Index, -1}, {Kind::Slice, 3, kMax, 1}},
         {0, 1, 4, 3, 4}},
    };
    for (const auto& c : cases) {
        SCOPED_TRACE(c.name);
        const auto got = resolve_pages(of(c.parts), 5);
        ASSERT_EQ(got.index(), 0u);
        EXPECT_EQ(std::get<0>(got), c.expected);
    }
}

TEST(ResolvePages, ReportsTheFirstIndexPastTheDocument) {
    struct Case {
        const char* name;
        std::vector<PageRequest> parts;
        std::int64_t index;
    } cases[] = {
        {"index", {{Kind::Index, 0}, {Kind::Index, 5}, {Kind::Index, 9}}, 5},
        {"negative index", {{Kind::Index, -6}}, -6},
        {"huge index", {{Kind::Index, kMax}}, kMax},
        {"lowest index", {{Kind::Index, kMin}}, kMin},
        {"range start", {{Kind::Range, 7, 9, 1}}, 7},
        {"range runs past the end", {{Kind::Range, 3, 9, 1}}, 5},
        {"stepped range past the end", {{Kind::Range, 1, 100, 3}}, 7},
        {"descending range past the start", {{Kind::Range, 2, -100, -4}}, -6},
        {"range to the largest value", {{Kind::Range, 0, kMax, kMax / 2}}, kMax / 2},
    };
    for (const auto& c : cases) {
        SCOPED_TRACE(c.name);
        const auto got = resolve_pages(of(c.parts), 5);
        ASSERT_EQ(got.index(), 1u);
        EXPECT_EQ(std::get<1>(got).index, c.index);
        EXPECT_EQ(std::get<1>(got).count, 5u);
    }
}

TEST(ResolvePages, NothingNamesAPageOfAnEmptyDocument) {
    EXPECT_EQ(resolve_pages(of({{Kind::Index, 0}}), 0).index(), 1u);
    EXPECT_TRUE(std::get<0>(resolve_pages(of({{Kind::Slice, 0, kMax, 1}}), 0)).empty());
}
