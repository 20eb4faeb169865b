#include <gtest/gtest.h>

#include <algorithm>
#include <cmath>
#include <cstdio>
#include <cstdlib>
#include <initializer_list>
#include <limits>
#include <optional>
#include <random>
#include <string>
#include <string_view>
#include <vector>

#include "bounds.h"
#include "content.h"
#include "page.h"
#include "support/stored_content.h"
#include "tables.h"

using namespace vellox_core;

namespace {

constexpr double kNaN = std::numeric_limits<double>::quiet_NaN();
constexpr double kInf = std::numeric_limits<double>::infinity();

// The rules a page's content draws, as the page's interpretation finds them.
Segments rules_of(std::string_view text) {
    return interpret_content(as_bytes(text), FontMap{}).rules;
}

// A number as content text, exactly: a NaN or an infinity as the object
// parser reads them ("+nan", "-inf"), anything else with 17 digits.
std::string number_text(double v) {
    if (std::isnan(v)) return "+nan";
    if (std::isinf(v)) return v > 0 ? "+inf" : "-inf";
    char buf[40];
    std::snprintf(buf, sizeof buf, "%.17g", v);
    return buf;
}

// Appends "operands keyword" to a content stream being written.
void add(std::string& content, std::string_view keyword,
         std::initializer_list<double> operands = {}) {
    for (const double v : operands) content += number_text(v) + " ";
    content += keyword;
    content += '\n';
}

TextRun run(std::string text, double x, double y) {
    TextRun r;
    r.text = std::move(text);
    r.x = x;
    r.y = y;
    r.width = 10;
    r.font_size = 12;
    return r;
}

using Cells = std::vector<std::vector<std::string>>;

}  // namespace

TEST(Tables, NoTable) {
    struct Case {
        const char* name;
        const char* content;
    };
    const Case cases[] = {
        {"no paths", "BT /F1 12 Tf (x) Tj ET"},
        {"only curves", "0 0 m 10 100 20 100 100 0 c 0 100 m 50 0 100 100 v S"},
        {"two horizontal rules", "0 0 m 100 0 l 0 50 m 100 50 l S"},
        {"two vertical rules", "0 0 m 0 100 l 50 0 m 50 100 l S"},
        {"rectangle narrower and lower than 2", "10 10 1.5 1.5 re S"},
        {"diagonals only", "0 0 m 100 100 l 0 100 m 100 0 l S"},
        {"clipping rectangle only", "0 0 612 792 re W n"},
        {"even-odd clip", "0 0 612 792 re W* n"},
        {"path never painted", "0 0 100 100 re"},
        {"path discarded, then an empty paint", "0 0 100 100 re n S"},
    };
    const std::vector<TextRun> runs = {run("x", 50, 50)};
    for (const Case& c : cases) {
        SCOPED_TRACE(c.name);
        EXPECT_TRUE(detect_tables(rules_of(c.content), runs).empty());
    }
}

// Which painted shapes are rules: stroked straight pieces of some length,
// and filled shapes thin in one direction; not filled areas, curves, or
// what a clipping path outlines.
TEST(Tables, WhatCountsAsARule) {
    struct Case {
        const char* name;
        std::string content;
        std::vector<double> verticals, horizontals;
    };
    const Case cases[] = {
        {"stroked rectangle", "100 100 200 50 re S", {100, 300}, {100, 150}},
        {"closed and stroked", "100 100 m 300 100 l 300 150 l 100 150 l s", {300, 100}, {100, 150}},
        {"filled and stroked", "100 100 200 50 re B*", {100, 300}, {100, 150}},
        {"close, fill and stroke", "100 100 m 300 100 l 300 150 l b", {300}, {100}},
        {"filled area: a paragraph box", "100 100 200 50 re f", {}, {}},
        {"filled row shading", "0 700 612 14 re f*", {}, {}},
        {"thin filled rectangle: a horizontal rule", "100 100 200 0.5 re f", {}, {100.25}},
        {"thin filled rectangle: a vertical rule", "100 100 1 200 re F", {100.5}, {}},
        {"thin filled polygon", "0 10 m 300 10 l 300 11 l 0 11 l h f", {}, {10.5}},
        {"two thin subpaths in one fill", "0 0 300 1 re 0 50 300 1 re f", {}, {0.5, 50.5}},
        {"a dot is no rule", "10 10 1 1 re f 10 10 m 11 10 l S", {}, {}},
        {"short tick marks are no rules", "56.70 768.20 m 56.70 768.15 l S", {}, {}},
        {"clipping path", "0 0 612 792 re W n", {}, {}},
        {"path never painted", "0 0 100 100 re", {}, {}},
        {"curves are no rules; they move the point",
         "0 0 m 50 50 100 50 150 0 c 150 100 l S",
         {150},
         {}},
        {"h draws the closing edge", "0 0 m 100 0 l 100 100 l h S", {100}, {0}},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.name);
        Segments rules = rules_of(c.content);
        std::sort(rules.verticals.begin(), rules.verticals.end());
        std::sort(rules.horizontals.begin(), rules.horizontals.end());
        std::vector<double> v = c.verticals, h = c.horizontals;
        std::sort(v.begin(), v.end());
        std::sort(h.begin(), h.end());
        EXPECT_EQ(rules.verticals, v);
        EXPECT_EQ(rules.horizontals, h);
    }
}

// A page keeps at most kMaxPageRules of each direction: those of the path
// painted when the limit is reached are kept in the order drawn, up to it,
// and later paths add none.
TEST(Tables, RulesStopAtThePageLimitInDrawingOrder) {
    const vellox_test::StoredContent content = vellox_test::read_content(
        as_bytes("0 10 m 100 10 l 0 20 m 100 20 l 0 30 m 100 30 l 5 0 m 5 100 l S "
                 "0 50 m 100 50 l S"));
    Segments rules;
    rules.horizontals.assign(limits::kMaxPageRules - 2, 0.0);
    RulePath path;
    for (const Op& op : content) path.apply(op, Matrix{}, rules);
    ASSERT_EQ(rules.horizontals.size(), limits::kMaxPageRules);
    EXPECT_EQ(rules.horizontals[limits::kMaxPageRules - 2], 10);
    EXPECT_EQ(rules.horizontals[limits::kMaxPageRules - 1], 20);
    EXPECT_EQ(rules.verticals, std::vector<double>{5});
}

// A grid of one cell is a frame or a page border, not a table; two cells
// are.
TEST(Tables, OneCellIsNoTable) {
    const std::vector<TextRun> runs = {run("in", 150, 120), run("side", 250, 120)};
    EXPECT_TRUE(detect_tables(rules_of("100 100 200 50 re S"), runs).empty());
    const auto two = detect_tables(rules_of("100 100 100 50 re 200 100 100 50 re S"), runs);
    ASSERT_EQ(two.size(), 1u);
    EXPECT_EQ(two[0].cells, (Cells{{"in", "side"}}));
    // A clipping path does not count, a later painted path does.
    const auto clipped =
        detect_tables(rules_of("q 0 0 612 792 re W* n 100 100 100 50 re 200 100 100 50 re S Q"),
                      {run("page", 10, 700), run("box", 150, 120)});
    ASSERT_EQ(clipped.size(), 1u);
    EXPECT_EQ(clipped[0].cells, (Cells{{"box", ""}}));
}

TEST(Tables, GridOfRulesOfAnyLength) {
    // Four verticals and three horizontals with different lengths and
    // positions, drawn in no particular order.
    const char* content =
        "300 0 m 300 5 l 0 200 m 0 0 l 100 50 m 100 60 l 200 0 m 200 500 l "
        "0 200 m 5 200 l 0 100 m 1000 100 l 0 0 m 300 0 l S";
    const std::vector<TextRun> runs = {
        run("a", 50, 150), run("b", 150, 150), run("c", 250, 150),
        run("d", 50, 50),  run("e", 150, 50),  run("f", 250, 50),
        run("g", 50, 60),  run("h ", 150, 60), run("i", 150, 55),
    };
    const auto tables = detect_tables(rules_of(content), runs);
    ASSERT_EQ(tables.size(), 1u);
    EXPECT_EQ(tables[0].cols, 3u);
    EXPECT_EQ(tables[0].rows, 2u);
    // Within a cell, lines top to bottom.
    EXPECT_EQ(tables[0].cells, (Cells{{"a", "b", "c"}, {"g d", "h i e", "f"}}));
}

TEST(Tables, Cluster) {
    struct Case {
        const char* name;
        std::vector<double> values;
        bool descending;
        std::vector<double> expected;
    };
    const Case cases[] = {
        {"group measured from its first member", {12.5, 10, 11.5}, false, {10, 12.5}},
        {"just under the tolerance merges", {101.5, 100}, false, {100}},
        {"exactly the tolerance separates", {102, 100}, false, {100, 102}},
        {"a chain does not merge without end", {100, 101, 102, 103, 104}, false, {100, 102, 104}},
        {"descending reverses the kept values", {10, 50, 11, 30}, true, {50, 30, 10}},
        {"non-finite values are dropped", {kNaN, 5, kInf, -kInf, 1, kNaN}, false, {1, 5}},
        {"empty", {}, true, {}},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.name);
        EXPECT_EQ(cluster(c.values, c.descending), c.expected);
    }
}

TEST(Tables, PlacementTolerance) {
    // Columns 100 | 200 | 300, rows 400 / 300 / 200 (top first).
    const char* content =
        "100 200 m 100 400 l 200 200 m 200 400 l 300 200 m 300 400 l "
        "100 400 m 300 400 l 100 300 m 300 300 l 100 200 m 300 200 l S";
    struct Case {
        const char* name;
        double x, y;
        std::optional<std::pair<int, int>> cell;  // row, col
    };
    const Case cases[] = {
        {"middle of the top-left cell", 150, 350, std::pair{0, 0}},
        {"on an inner column boundary goes left", 200, 350, std::pair{0, 0}},
        {"just past the overlap goes right", 202, 350, std::pair{0, 1}},
        {"on an inner row boundary goes up", 150, 300, std::pair{0, 0}},
        {"just below the overlap goes down", 150, 298, std::pair{1, 0}},
        {"2 left of the first boundary is inside", 98, 350, std::pair{0, 0}},
        {"more than 2 left of the first boundary", 97.9, 350, std::nullopt},
        {"just under 2 right of the last boundary", 301.9, 350, std::pair{0, 1}},
        {"2 right of the last boundary", 302, 350, std::nullopt},
        {"2 above the top boundary is inside", 150, 402, std::pair{0, 0}},
        {"more than 2 above the top", 150, 402.1, std::nullopt},
        {"just under 2 below the bottom", 150, 198.1, std::pair{1, 0}},
        {"2 below the bottom", 150, 198, std::nullopt},
        {"NaN x", kNaN, 350, std::nullopt},
        {"infinite y", 150, kInf, std::nullopt},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.name);
        // The bottom-right cell holds text in every case: a grid with no
        // text at all is no table.
        const auto tables =
            detect_tables(rules_of(content), {run("t", c.x, c.y), run("anchor", 250, 250)});
        ASSERT_EQ(tables.size(), 1u);
        Cells expected(2, std::vector<std::string>(2));
        expected[1][1] = "anchor";
        if (c.cell) expected[c.cell->first][c.cell->second] = "t";
        EXPECT_EQ(tables[0].cells, expected);
    }
}

// A cell's text is made by the line rules of the page: its runs in reading
// order, a space only where two runs are apart (kSpaceGap of the size), its
// lines joined by one space. Letters placed one by one stay one word, and
// the numbers of a cell's lines stay apart.
TEST(Tables, CellTextJoining) {
    const char* grid = "0 0 100 100 re 100 0 100 100 re S";
    const auto at = [](std::string text, double x, double y, double width) {
        TextRun r = run(std::move(text), x, y);
        r.width = width;
        return r;
    };
    struct Case {
        const char* name;
        std::vector<TextRun> runs;
        std::string expected;
    };
    const Case cases[] = {
        {"lines top to bottom, joined by one space",
         {at("a", 10, 10, 5), at("b", 10, 90, 5)},
         "b a"},
        {"a line left to right", {at("b", 50, 10, 5), at("a", 10, 10, 5)}, "a b"},
        {"letters placed one by one",
         {at("R", 10, 10, 7), at("e", 17, 10, 6), at("g", 23, 10, 6)},
         "Reg"},
        {"a gap under kSpaceGap of the size joins",
         {at("3.9", 10, 10, 15), at("2", 26.5, 10, 6)},
         "3.92"},
        {"a wider gap is a space", {at("3.9", 10, 10, 15), at("2.33", 28, 10, 20)}, "3.9 2.33"},
        {"no doubled space", {at("a ", 10, 10, 10), at("b", 40, 10, 5)}, "a b"},
        {"lines of numbers", {at("0.25", 10, 50, 20), at("1.16", 10, 36, 20)}, "0.25 1.16"},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.name);
        const auto tables = detect_tables(rules_of(grid), c.runs);
        ASSERT_EQ(tables.size(), 1u);
        EXPECT_EQ(tables[0].cells, (Cells{{c.expected, ""}}));
    }
}

// The cells of one grid are laid out in turn in one scratch: a cell of two
// lines, one of an upright and a vertical run (two directions), then one
// of letters placed one by one come out as each would alone.
TEST(Tables, CellsOfOneGridLaidOutInTurn) {
    const auto at = [](std::string text, double x, double y, double width, double dx = 1,
                       double dy = 0) {
        TextRun r = run(std::move(text), x, y);
        r.width = width;
        r.dir_x = dx;
        r.dir_y = dy;
        return r;
    };
    const std::vector<TextRun> runs = {
        at("a", 10, 10, 5),     at("b", 10, 90, 5),  at("up", 120, 20, 10, 0, 1),
        at("xyz", 150, 50, 15), at("R", 210, 10, 7), at("e", 217, 10, 6),
        at("g", 223, 10, 6),
    };
    const auto tables =
        detect_tables(rules_of("0 0 100 100 re 100 0 100 100 re 200 0 100 100 re S"), runs);
    ASSERT_EQ(tables.size(), 1u);
    EXPECT_EQ(tables[0].cells, (Cells{{"b a", "xyz up", "Reg"}}));
}

// Rules are placed through the CTM in force when their path is built.
TEST(Tables, TransformationMatrix) {
    struct Case {
        const char* name;
        const char* content;
        std::vector<double> verticals, horizontals;
    };
    const Case cases[] = {
        // The later cm applies first: x -> 2x + 100.
        {"cm concatenates onto the matrix in force",
         "1 0 0 1 100 0 cm 2 0 0 1 0 0 cm 0 0 50 50 re S",
         {100, 200},
         {0, 50}},
        // A quarter turn maps (x, y) to (-y, x).
        {"rotation", "0 1 -1 0 0 0 cm 0 0 50 100 re S", {-100, 0}, {0, 50}},
        {"Q restores the matrix of q", "q 1 0 0 1 500 500 cm Q 0 0 50 50 re S", {0, 50}, {0, 50}},
        {"rules inside q/cm/Q use the inner matrix",
         "q 1 0 0 1 500 500 cm 0 0 50 50 re S Q",
         {500, 550},
         {500, 550}},
        {"nested q", "q 1 0 0 1 10 0 cm q 1 0 0 1 100 0 cm Q 0 0 50 50 re S Q", {10, 60}, {0, 50}},
        {"unmatched Q changes nothing", "1 0 0 1 500 0 cm Q Q 0 0 50 50 re S", {500, 550}, {0, 50}},
        {"cm without operands is the identity",
         "1 0 0 1 500 0 cm cm 0 0 50 50 re S",
         {500, 550},
         {0, 50}},
        {"m and l are transformed too",
         "1 0 0 1 0 300 cm 0 0 m 0 50 l 50 0 m 50 50 l 0 0 m 50 0 l 0 50 m 50 50 l S",
         {0, 50},
         {300, 350}},
        {"l without m starts at the origin", "0 100 l S", {0}, {}},
        {"ill-typed operands take defaults", "/X 0 50 50 re S", {0, 50}, {0, 50}},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.name);
        const Segments rules = rules_of(c.content);
        EXPECT_EQ(cluster(rules.verticals, false), c.verticals);
        EXPECT_EQ(cluster(rules.horizontals, false), c.horizontals);
    }
}

TEST(Tables, SlopedRuleRecordsItsStart) {
    // Both rules lean by 1.5 units; the grid uses where each one starts
    // (x = 0 and y = 100), not where it ends.
    const Segments rules =
        rules_of("0 0 m 1.5 100 l 100 0 m 100 100 l 0 0 m 100 0 l 0 100 m 100 101.5 l S");
    EXPECT_EQ(cluster(rules.verticals, false), (std::vector<double>{0, 100}));
    EXPECT_EQ(cluster(rules.horizontals, false), (std::vector<double>{0, 100}));
}

// A grid is the line work of a figure, not a table, when none of its cells
// holds text, or when it is large (100 cells or more) and fewer of its cells
// hold text than its shorter side has: not even a header row or column.
TEST(Tables, DrawingsAreNoTables) {
    // n + 1 vertical and m + 1 horizontal rules 10 units apart: n x m cells,
    // cell (row r, column c) centred at (10c + 5, 10(m - r) - 5).
    auto grid = [](int n, int m) {
        std::string content;
        for (int i = 0; i <= n; ++i) {
            add(content, "m", {10.0 * i, 0});
            add(content, "l", {10.0 * i, 10.0 * m});
        }
        for (int j = 0; j <= m; ++j) {
            add(content, "m", {0, 10.0 * j});
            add(content, "l", {10.0 * n, 10.0 * j});
        }
        add(content, "S");
        return content;
    };
    auto in_cell = [](std::string text, int row, int col, int m) {
        return run(std::move(text), 10.0 * col + 5, 10.0 * (m - row) - 5);
    };
    struct Case {
        const char* name;
        int cols, rows;
        std::vector<std::pair<int, int>> filled;  // (row, column)
        bool table;
    };
    const Case cases[] = {
        {"a small grid with no text", 3, 2, {}, false},
        {"a small grid with one cell of text", 3, 2, {{1, 2}}, true},
        {"a large grid with no text", 20, 10, {}, false},
        {"a large grid with labels in a few cells", 20, 10, {{0, 0}, {5, 7}, {9, 19}}, false},
        {"a large grid with its header row",
         20,
         10,
         {{0, 0}, {0, 1}, {0, 2}, {0, 3}, {0, 4}, {0, 5}, {0, 6}, {0, 7}, {0, 8}, {0, 9}},
         true},
        {"a large grid with its first column",
         20,
         10,
         {{0, 0}, {1, 0}, {2, 0}, {3, 0}, {4, 0}, {5, 0}, {6, 0}, {7, 0}, {8, 0}, {9, 0}},
         true},
        {"just under 100 cells with one label", 9, 11, {{3, 3}}, true},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.name);
        std::vector<TextRun> runs;
        for (const auto& [row, col] : c.filled) runs.push_back(in_cell("t", row, col, c.rows));
        // Text outside the grid does not count.
        runs.push_back(run("caption", -50, -50));
        const auto tables = detect_tables(rules_of(grid(c.cols, c.rows)), runs);
        ASSERT_EQ(tables.size(), c.table ? 1u : 0u);
        if (!c.table) continue;
        EXPECT_EQ(tables[0].rows, static_cast<std::size_t>(c.rows));
        EXPECT_EQ(tables[0].cols, static_cast<std::size_t>(c.cols));
        for (const auto& [row, col] : c.filled) {
            EXPECT_EQ(tables[0].cells[static_cast<std::size_t>(row)][static_cast<std::size_t>(col)],
                      "t");
        }
    }
}

TEST(Tables, GridTooLargeGivesNoTable) {
    // n vertical and n horizontal rules 3 units apart: (n-1)^2 cells.
    auto grid = [](int n) {
        std::string content;
        for (int i = 0; i < n; ++i) {
            const double p = 3 * i;
            add(content, "m", {p, 0});
            add(content, "l", {p, 1000});
            add(content, "m", {0, p});
            add(content, "l", {1000, p});
        }
        add(content, "S");
        return content;
    };
    static_assert(255u * 255u <= limits::kMaxTableCells && 300u * 300u > limits::kMaxTableCells);
    // A column of the grid is filled, as a table's would be; "x" is placed
    // on its own.
    std::vector<TextRun> runs = {run("x", 4, 4)};
    for (int i = 0; i < 255; ++i) runs.push_back(run("c", 302.5, 3 * i + 0.5));
    const std::string fitting = grid(256);
    const auto fits = detect_tables(rules_of(fitting), runs);
    ASSERT_EQ(fits.size(), 1u);
    EXPECT_EQ(fits[0].cols, 255u);
    EXPECT_EQ(fits[0].rows, 255u);
    // Rows run top first: boundaries 765, 762, ..., 6, 3, 0; y = 4 lies in
    // the row between 6 and 3, the 254th.
    EXPECT_EQ(fits[0].cells[253][0], "x");
    EXPECT_EQ(fits[0].cells[0][100], "c");
    const std::string too_large = grid(301);
    EXPECT_TRUE(detect_tables(rules_of(too_large), runs).empty());
}

// Hostile matrices and operands: NaN and infinities must neither crash (the
// sanitizer build checks) nor produce a table with non-finite boundaries.
TEST(Tables, NonFiniteOperands) {
    const double pool[] = {kNaN, kInf, -kInf, 1e308, -1e308, 0, 1, 2, 50, 100};
    const char* names[] = {"q", "Q", "cm", "m", "l", "re", "S", "f", "n", "h"};
    std::mt19937 rng(4242);
    for (int round = 0; round < 500; ++round) {
        SCOPED_TRACE(round);
        std::string text;
        const int count = static_cast<int>(rng() % 40);
        for (int i = 0; i < count; ++i) {
            const int k = static_cast<int>(rng() % 7);
            for (int j = 0; j < k; ++j) text += number_text(pool[rng() % 10]) + " ";
            add(text, names[rng() % 10]);
        }
        std::vector<TextRun> runs;
        for (int i = 0; i < 5; ++i) runs.push_back(run("r", pool[rng() % 10], pool[rng() % 10]));
        const auto tables = detect_tables(rules_of(text), runs);
        ASSERT_LE(tables.size(), 1u);
        if (tables.empty()) continue;
        ASSERT_EQ(tables[0].cells.size(), tables[0].rows);
        for (const auto& row : tables[0].cells) ASSERT_EQ(row.size(), tables[0].cols);
    }
}

constexpr char kLetters[] = "ABCDEFGHIJKLMNOPQRSTUVWXYZabcdefghijklmnopqrstuvwxyz0123456789";

// The grid search is a binary search; a plain left-to-right scan, written
// from the placement rule, must agree with it on random grids and points.
TEST(Tables, PlacementMatchesLinearScan) {
    std::mt19937 rng(99);
    std::uniform_real_distribution<double> coord(0, 400);
    for (int round = 0; round < 300; ++round) {
        SCOPED_TRACE(round);
        std::string text;
        std::vector<double> vs, hs;
        const int nv = 2 + static_cast<int>(rng() % 12);
        const int nh = 2 + static_cast<int>(rng() % 12);
        for (int i = 0; i < nv; ++i) {
            const double x = std::round(coord(rng) * 2) / 2;  // half units: many near-ties
            vs.push_back(x);
            add(text, "m", {x, 0.0});
            add(text, "l", {x, 400.0});
        }
        for (int i = 0; i < nh; ++i) {
            const double y = std::round(coord(rng) * 2) / 2;
            hs.push_back(y);
            add(text, "m", {0.0, y});
            add(text, "l", {400.0, y});
        }
        add(text, "S");
        const std::vector<double> xs = cluster(vs, false);
        const std::vector<double> ys = cluster(hs, true);

        std::vector<TextRun> runs;
        for (int i = 0; i < 60; ++i) {
            // Points on and next to boundaries as well as anywhere.
            double x = coord(rng);
            double y = coord(rng);
            if (rng() % 2) x = xs[rng() % xs.size()] + static_cast<double>(rng() % 9) * 0.5 - 2;
            if (rng() % 2) y = ys[rng() % ys.size()] + static_cast<double>(rng() % 9) * 0.5 - 2;
            // One distinct letter a run: a cell's letters show which runs
            // it got, however its text spaces them.
            runs.push_back(run(std::string(1, kLetters[i]), x, y));
        }
        const auto tables = detect_tables(rules_of(text), runs);
        if (xs.size() < 2 || ys.size() < 2 || (xs.size() == 2 && ys.size() == 2)) {
            EXPECT_TRUE(tables.empty());
            continue;
        }
        Cells expected(ys.size() - 1, std::vector<std::string>(xs.size() - 1));
        for (const TextRun& r : runs) {
            std::optional<std::size_t> col, row;
            for (std::size_t i = 0; i + 1 < xs.size() && !col; ++i) {
                if (r.x >= xs[i] - 2.0 && r.x < xs[i + 1] + 2.0) col = i;
            }
            for (std::size_t j = 0; j + 1 < ys.size() && !row; ++j) {
                if (r.y <= ys[j] + 2.0 && r.y > ys[j + 1] - 2.0) row = j;
            }
            if (!col || !row) continue;
            expected[*row][*col] += r.text;
        }
        ASSERT_EQ(tables.size(), 1u);
        Cells got = tables[0].cells;
        for (auto* cells : {&got, &expected}) {
            for (auto& row : *cells) {
                for (std::string& cell : row) {
                    std::erase(cell, ' ');
                    std::sort(cell.begin(), cell.end());
                }
            }
        }
        EXPECT_EQ(got, expected);
    }
}
