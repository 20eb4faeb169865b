#include <gtest/gtest.h>

#include <algorithm>
#include <cmath>
#include <limits>
#include <random>
#include <string>
#include <vector>

#include "layout.h"

using namespace vellox_core;

namespace {

constexpr double kNaN = std::numeric_limits<double>::quiet_NaN();
constexpr double kInf = std::numeric_limits<double>::infinity();

TextRun run(std::string text, double x, double y, double width = 10, double size = 12) {
    TextRun r;
    r.text = std::move(text);
    r.font = "F1";
    r.x = x;
    r.y = y;
    r.width = width;
    r.font_size = size;
    return r;
}

std::vector<std::string> line_texts(const PageText& page) {
    std::vector<std::string> out;
    for (const Line& l : page.lines) out.push_back(l.text);
    return out;
}

}  // namespace

TEST(Layout, GroupsRunsIntoLines) {
    struct Case {
        const char* name;
        std::vector<TextRun> runs;
        std::vector<std::string> expected;
    };
    const Case cases[] = {
        {"5 apart at size 12 is one line", {run("a", 0, 700), run("b", 10, 695)}, {"ab"}},
        {"7 apart at size 12 is two lines", {run("a", 0, 700), run("b", 10, 693)}, {"a", "b"}},
        {"exactly the tolerance stays", {run("a", 0, 700), run("b", 10, 694)}, {"ab"}},
        {"larger size of the pair decides",
         {run("a", 0, 700, 10, 2), run("b", 10, 693, 10, 16)},
         {"ab"}},
        {"size 1: tolerance floor of 1.0",
         {run("a", 0, 100, 10, 1), run("b", 10, 99.2, 10, 1)},
         {"ab"}},
        {"size 1: beyond the floor",
         {run("a", 0, 100, 10, 1), run("b", 10, 98.9, 10, 1)},
         {"a", "b"}},
        {"NaN sizes fall back to the floor",
         {run("a", 0, 100, 10, kNaN), run("b", 10, 99.5, 10, kNaN), run("c", 0, 98, 10, kNaN)},
         {"ab", "c"}},
        // 696 is within 6 of 700, 692 is within 6 of 696 but not of the first
        // run of the line: no drift.
        {"compared with the first run only",
         {run("a", 0, 700), run("b", 10, 696), run("c", 20, 692)},
         {"ab", "c"}},
        {"top to bottom whatever the input order",
         {run("C", 0, 100), run("A", 0, 700), run("B", 0, 400)},
         {"A", "B", "C"}},
        {"left to right within a line",
         {run("c", 20, 500), run("a", 0, 500), run("b", 10, 500)},
         {"abc"}},
        // Inside a line the sort key still puts the higher run first.
        {"y before x inside a line", {run("b", 10, 700), run("a", 0, 698)}, {"ba"}},
        {"equal keys keep input order",
         {run("1", 0, 500, 0), run("2", 0, 500, 0), run("3", 0, 500, 0)},
         {"123"}},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.name);
        const PageText page = layout_page(c.runs, Rect{0, 0, 612, 792});
        EXPECT_EQ(line_texts(page), c.expected);
        EXPECT_FALSE(page.needs_ocr);
        EXPECT_TRUE(page.tables.empty());
        EXPECT_TRUE(page.images.empty());
    }
}

TEST(Layout, LinePositionIsItsFirstRun) {
    const PageText page = layout_page({run("b", 50, 699), run("a", 80, 700)}, Rect{0, 0, 612, 792});
    ASSERT_EQ(page.lines.size(), 1u);
    EXPECT_EQ(page.lines[0].text, "ab");
    EXPECT_EQ(page.lines[0].x, 80);
    EXPECT_EQ(page.lines[0].y, 700);
}

TEST(Layout, SpaceInsertion) {
    struct Case {
        const char* name;
        std::vector<TextRun> runs;
        std::string expected;
    };
    const Case cases[] = {
        {"gap 3 > 2.4", {run("ab", 100, 700, 30), run("cd", 133, 700, 20)}, "ab cd"},
        {"gap 1", {run("ab", 100, 700, 30), run("cd", 131, 700, 20)}, "abcd"},
        {"gap equal to the threshold is not enough",
         {run("ab", 100, 700, 30, 12), run("cd", 132.5, 700, 20, 12.5)},
         "abcd"},
        {"threshold uses the later run's size",
         {run("ab", 100, 700, 30, 100), run("cd", 133, 700, 20, 12)},
         "ab cd"},
        {"size below 1 counts as 1",
         {run("ab", 100, 700, 30, 0.1), run("cd", 130.1, 700, 20, 0.1)},
         "abcd"},
        {"NaN size counts as 1",
         {run("ab", 100, 700, 30, kNaN), run("cd", 130.3, 700, 20, kNaN)},
         "ab cd"},
        {"next run begins with a space",
         {run("ab", 100, 700, 30), run(" cd", 140, 700, 20)},
         "ab cd"},
        {"text already ends with a space",
         {run("ab ", 100, 700, 30), run("cd", 140, 700, 20)},
         "ab cd"},
        {"end moves with each run",
         {run("a", 0, 700, 10), run("b", 10, 700, 50), run("c", 61, 700, 5)},
         "abc"},
        {"empty first run still gets the space", {run("", 0, 700, 0), run("x", 10, 700, 5)}, " x"},
        {"overlapping runs", {run("ab", 100, 700, 30), run("cd", 110, 700, 20)}, "abcd"},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.name);
        std::vector<const TextRun*> refs;
        for (const TextRun& r : c.runs) refs.push_back(&r);
        EXPECT_EQ(make_line(refs).text, c.expected);
    }
}

TEST(Layout, PageSizeAndOcrFlag) {
    const PageText empty = layout_page({}, Rect{0, 0, 612, 792});
    EXPECT_TRUE(empty.needs_ocr);
    EXPECT_TRUE(empty.lines.empty());
    EXPECT_EQ(empty.width, 612);
    EXPECT_EQ(empty.height, 792);
    EXPECT_EQ(empty.text(), "");

    const PageText flipped = layout_page({}, Rect{612, 792, 0, 0});
    EXPECT_EQ(flipped.width, 612);
    EXPECT_EQ(flipped.height, 792);

    const PageText shifted = layout_page({}, Rect{-10, 20, 90, -30});
    EXPECT_EQ(shifted.width, 100);
    EXPECT_EQ(shifted.height, 50);

    // Runs with no text still count as text runs.
    const PageText blank = layout_page({run("", 0, 700, 0)}, Rect{0, 0, 612, 792});
    EXPECT_FALSE(blank.needs_ocr);
    ASSERT_EQ(blank.lines.size(), 1u);
    EXPECT_EQ(blank.lines[0].text, "");
}

TEST(Layout, PageTextJoinsLines) {
    const PageText page =
        layout_page({run("B", 0, 500), run("C", 0, 300), run("A", 0, 700)}, Rect{0, 0, 612, 792});
    EXPECT_EQ(page.text(), "A\nB\nC");
}

TEST(Layout, NanCoordinates) {
    // A NaN y compares equal in y, so x decides.
    {
        const PageText page =
            layout_page({run("b", 10, kNaN, 10), run("a", 0, 700, 10)}, Rect{0, 0, 612, 792});
        // The NaN distance from the first run keeps "b" in the line.
        EXPECT_EQ(line_texts(page), std::vector<std::string>{"ab"});
    }
    // All-NaN positions leave the input order.
    {
        const PageText page =
            layout_page({run("1", kNaN, kNaN, 0), run("2", kNaN, kNaN, 0), run("3", kNaN, kNaN, 0)},
                        Rect{0, 0, 612, 792});
        EXPECT_EQ(page.text(), "123");
    }
}

// Hostile matrices can put NaN and infinities anywhere in a run. Whatever
// order the inconsistent comparisons give, every run must come out exactly
// once (checked by the multiset of their one-letter texts) and the sort must
// stay in bounds (checked by the sanitizer build).
TEST(Layout, NonFiniteRunsAreNeitherLostNorDuplicated) {
    std::mt19937 rng(12345);
    const double pool[] = {kNaN, kInf, -kInf, 0, 1, 700, 700.5, -3, 1e308, -1e308};
    for (int round = 0; round < 300; ++round) {
        SCOPED_TRACE(round);
        const std::size_t n = rng() % 70;
        std::vector<TextRun> runs;
        std::string letters;
        for (std::size_t i = 0; i < n; ++i) {
            const char ch = static_cast<char>('A' + (i % 26));
            letters.push_back(ch);
            runs.push_back(run(std::string(1, ch), pool[rng() % 10], pool[rng() % 10],
                               pool[rng() % 10], pool[rng() % 10]));
        }
        const PageText page = layout_page(runs, Rect{kNaN, kInf, 0, 0});
        std::string got;
        for (const char ch : page.text()) {
            if (ch != ' ' && ch != '\n') got.push_back(ch);
        }
        std::sort(got.begin(), got.end());
        std::sort(letters.begin(), letters.end());
        EXPECT_EQ(got, letters);
        EXPECT_EQ(page.needs_ocr, n == 0);
    }
}

// The page order against std::stable_sort with the same key written out
// here. Many ties (small integer coordinates) exercise stability.
TEST(Layout, ReadingOrderMatchesStableSort) {
    std::mt19937 rng(777);
    for (int round = 0; round < 200; ++round) {
        SCOPED_TRACE(round);
        const std::size_t n = 1 + rng() % 100;
        std::vector<TextRun> runs;
        for (std::size_t i = 0; i < n; ++i) {
            // Wide runs that overlap their successor, so no space is inserted
            // and the page text is the plain concatenation of the run texts.
            runs.push_back(run(std::string(1, static_cast<char>(33 + i % 90)),
                               static_cast<double>(rng() % 5), static_cast<double>(rng() % 8) * 3,
                               1000, 4));
        }
        std::vector<const TextRun*> expected;
        for (const TextRun& r : runs) expected.push_back(&r);
        std::stable_sort(expected.begin(), expected.end(), [](const TextRun* a, const TextRun* b) {
            if (a->y != b->y) return a->y > b->y;
            return a->x < b->x;
        });
        std::string want;
        for (const TextRun* r : expected) want += r->text;
        std::string got;
        for (const char ch : layout_page(runs, Rect{0, 0, 612, 792}).text()) {
            if (ch != '\n') got.push_back(ch);
        }
        EXPECT_EQ(got, want);
    }
}

// The library sort used for comparable pages against the hand-written merge
// sort: the same order for pages in order, in reverse, nearly in order and
// shuffled, with ties, signed zeros and infinities; and with a NaN anywhere
// both take the merge sort.
TEST(Layout, ReadingOrderAgreesWithMergeSort) {
    std::mt19937 rng(4321);
    const double odd[] = {0.0, -0.0, kInf, -kInf, 1e308, -1e-308};
    for (int round = 0; round < 2000; ++round) {
        SCOPED_TRACE(round);
        const std::size_t n = rng() % 300;
        std::vector<TextRun> runs;
        for (std::size_t i = 0; i < n; ++i) {
            double x = static_cast<double>(rng() % 7);
            double y = static_cast<double>(rng() % 9);
            if (rng() % 20 == 0) x = odd[rng() % std::size(odd)];
            if (rng() % 20 == 0) y = odd[rng() % std::size(odd)];
            runs.push_back(run("r", x, y));
        }
        switch (round % 4) {
            case 0:  // in reading order already
                std::stable_sort(runs.begin(), runs.end(), [](const TextRun& a, const TextRun& b) {
                    return a.y > b.y || (a.y == b.y && a.x < b.x);
                });
                break;
            case 1:  // reversed
                std::sort(runs.begin(), runs.end(), [](const TextRun& a, const TextRun& b) {
                    return a.y < b.y || (a.y == b.y && a.x > b.x);
                });
                break;
            case 2:  // in order but for a few swaps
                std::stable_sort(runs.begin(), runs.end(), [](const TextRun& a, const TextRun& b) {
                    return a.y > b.y || (a.y == b.y && a.x < b.x);
                });
                for (int k = 0; k < 3 && n > 1; ++k) std::swap(runs[rng() % n], runs[rng() % n]);
                break;
            default: break;
        }
        if (round % 10 == 9 && n > 0) runs[rng() % n].y = kNaN;
        ASSERT_EQ(reading_order(runs), reading_order_merge(runs));
    }
}
