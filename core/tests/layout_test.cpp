#include <gtest/gtest.h>

#include <algorithm>
#include <cmath>
#include <limits>
#include <random>
#include <string>
#include <vector>

#include "content.h"
#include "doc.h"
#include "font.h"
#include "layout.h"
#include "support/read_file.h"

using namespace vellox_core;

namespace {

constexpr double kNaN = std::numeric_limits<double>::quiet_NaN();
constexpr double kInf = std::numeric_limits<double>::infinity();
const Rect kLetter{0, 0, 612, 792};

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

// A run written in direction (dx, dy), in user space.
TextRun toward(double dx, double dy, std::string text, double x, double y, double width = 10,
               double size = 12) {
    TextRun r = run(std::move(text), x, y, width, size);
    r.dir_x = dx;
    r.dir_y = dy;
    return r;
}

// One run per glyph of `text`, each `advance` wide, from (x, y) along (dx, dy).
std::vector<TextRun> glyphs(const std::string& text, double x, double y, double dx, double dy,
                            double advance = 6, double size = 10) {
    std::vector<TextRun> out;
    for (std::size_t i = 0; i < text.size(); ++i) {
        const double d = advance * static_cast<double>(i);
        out.push_back(
            toward(dx, dy, std::string(1, text[i]), x + d * dx, y + d * dy, advance, size));
    }
    return out;
}

std::vector<TextRun> joined(std::vector<std::vector<TextRun>> parts) {
    std::vector<TextRun> out;
    for (auto& p : parts) out.insert(out.end(), p.begin(), p.end());
    return out;
}

std::vector<std::string> line_texts(const PageText& page) {
    std::vector<std::string> out;
    for (const Line& l : page.lines) out.push_back(l.text);
    return out;
}

struct Case {
    const char* name;
    std::vector<TextRun> runs;
    std::vector<std::string> expected;
    std::int64_t rotate = 0;
};

void check_cases(const std::vector<Case>& cases) {
    for (const Case& c : cases) {
        SCOPED_TRACE(c.name);
        const PageText page = layout_page(c.runs, kLetter, c.rotate);
        EXPECT_EQ(line_texts(page), c.expected);
        EXPECT_FALSE(page.needs_ocr);
    }
}

}  // namespace

// Upright text: which runs share a line, and in what order.
TEST(Layout, GroupsUprightRunsIntoLines) {
    check_cases({
        // Size 10 covers [y - 2.5, y + 7.5]: 4 units apart the bands overlap
        // by 6 of 10, exactly the share that keeps them together.
        {"4 apart at size 10 is one line",
         {run("a", 0, 700, 10, 10), run("b", 10, 696, 10, 10)},
         {"ab"}},
        {"5 apart at size 10 is two lines",
         {run("a", 0, 700, 10, 10), run("b", 10, 695, 10, 10)},
         {"a", "b"}},
        {"top to bottom whatever the input order",
         {run("C", 0, 100), run("A", 0, 700), run("B", 0, 400)},
         {"A", "B", "C"}},
        {"left to right within a line",
         {run("c", 20, 500), run("a", 0, 500), run("b", 10, 500)},
         {"abc"}},
        // A higher run further right no longer comes first.
        {"x decides within a line, not y", {run("b", 10, 700), run("a", 0, 698)}, {"ab"}},
        {"equal positions keep input order",
         {run("1", 0, 500, 0), run("2", 0, 500, 0), run("3", 0, 500, 0)},
         {"123"}},
        // Table cells whose baselines differ by a fraction of a unit, the
        // higher ones further right: sorted by y first they came out glued
        // and shuffled.
        {"baselines a fraction apart",
         {run("2.33", 130, 700, 15, 10), run("3.9", 100, 700.3, 15, 10),
          run("0.25", 190, 700.1, 15, 10), run("1.16", 160, 700.2, 15, 10)},
         {"3.9 2.33 1.16 0.25"}},
        {"superscript stays where it is printed",
         {run("E = mc", 100, 700, 40, 10), run("2", 140.2, 704, 4, 7)},
         {"E = mc2"}},
        {"subscript stays where it is printed",
         {run("H", 100, 700, 7, 10), run("2", 107, 698, 4, 7), run("O", 111, 700, 8, 10)},
         {"H2O"}},
        {"a subscript and a superscript on one letter",
         {run("x", 100, 700, 5, 10), run("i", 105, 697.5, 2, 7), run("2", 105, 704.2, 3.5, 7),
          run("+ y", 109, 700, 12, 10)},
         {"x2i + y"}},
        // reportlab's scripts: 0.8 of the size, raised or lowered by half
        // the base size; their bands overlap the base's too little, but
        // they touch a larger run whose baseline is near.
        {"raised by half the base size",
         {run("E = mc", 72, 704, 70, 10), run("2", 142, 709, 4, 8),
          run("exactly", 149, 704, 35, 10)},
         {"E = mc2 exactly"}},
        {"lowered by half the base size",
         {run("Water is H", 72, 674, 50, 10), run("2", 122, 669, 4, 8), run("O", 126, 674, 8, 10)},
         {"Water is H2O"}},
        {"a script before its base", {run("2", 100, 705, 4, 8), run("H", 104, 700, 7, 10)}, {"2H"}},
        // Both scripts join the base line at one place: in sweep order,
        // the raised one first.
        {"a raised and a lowered script at one place",
         {run("Water is H", 72, 674, 50, 10), run("i", 122, 669, 4, 8), run("2", 122, 679, 4, 8)},
         {"Water is H2i"}},
        // The exponent of an exponent joins the exponent, which then joins
        // its base with it.
        {"a script of a script",
         {run("e", 100, 700, 6, 10), run("x", 106, 705, 4, 8), run("2", 110, 709, 3, 6)},
         {"ex2"}},
        {"a script of a script, base first",
         {run("2", 110, 709, 3, 6), run("e", 100, 700, 6, 10), run("x", 106, 705, 4, 8)},
         {"ex2"}},
        {"scripts set one run per glyph",
         joined({glyphs("E = mc", 72, 704, 1, 0), glyphs("12", 108, 709, 1, 0, 4, 8),
                 glyphs("ok", 118, 704, 1, 0)}),
         {"E = mc12 ok"}},
        // A label set over an arrow lies within its run, not beside it.
        {"a label over an arrow",
         {run("=====)", 100, 700, 40, 10), run("Vor.", 110, 705, 15, 8)},
         {"Vor.", "=====)"}},
        // Seige_of_Vicksburg_Sample_OCR.pdf: a column of 8-unit type beside
        // one of 11-unit type, 5.4 units apart, baselines 5.8 apart.
        {"small type beside a larger column",
         {run("them", 183.12, 378.96, 18, 8), run("cause,", 208.56, 373.2, 28, 11)},
         {"them", "cause,"}},
        {"a long run of small type is no script",
         {run("a long line of small type", 72, 709, 100, 8), run("base", 172, 704, 20, 10)},
         {"a long line of small type", "base"}},
        {"big heading over small text",
         {run("Big Text", 72, 700, 100, 24), run("Small Text", 72, 690, 50, 10)},
         {"Big Text", "Small Text"}},
        {"big and small text on one baseline",
         {run("Chapter", 72, 700, 100, 24), run("page 5", 400, 700, 30, 10)},
         {"Chapter page 5"}},
        // A watermark's band covers many lines; only a line whose baseline
        // is near its own joins it.
        {"watermark does not swallow the lines it covers",
         {run("line1", 72, 424, 50, 10), run("line2", 72, 412, 50, 10),
          run("line3", 72, 400, 50, 10), run("DRAFT", 200, 400, 300, 200),
          run("line4", 72, 388, 50, 10), run("line5", 72, 376, 50, 10)},
         {"line1", "line2", "line3 DRAFT", "line4", "line5"}},
        // 696 is near 700 and 692 near 696, but a line is measured against
        // its largest run, not its last: no drift down a slanted paragraph.
        {"no drift down a slowly falling baseline",
         {run("a", 0, 700, 10, 10), run("b", 10, 696, 10, 10), run("c", 20, 692, 10, 10)},
         {"ab", "c"}},
        {"one run per glyph",
         joined({glyphs("Hello", 72, 700, 1, 0), glyphs("world", 72 + 30 + 3, 700, 1, 0)}),
         {"Hello world"}},
        {"one run per glyph, baselines jittering",
         {run("a", 0, 700.02, 6, 10), run("b", 6, 699.98, 6, 10), run("c", 12, 700.01, 6, 10)},
         {"abc"}},
        {"one run per word",
         {run("Hello", 72, 700, 30), run("world", 105, 700, 30)},
         {"Hello world"}},
        {"NaN sizes measure as size 1",
         {run("a", 0, 100, 10, kNaN), run("b", 10, 99.7, 10, kNaN), run("c", 0, 98, 10, kNaN)},
         {"ab", "c"}},
        {"negative sizes measure by their magnitude",
         {run("a", 0, 700, 10, -10), run("b", 10, 697, 10, -10)},
         {"ab"}},
    });
}

// Runs that are not upright on the displayed page form lines along their
// own baseline.
TEST(Layout, GroupsRunsAlongTheirDirection) {
    const double c = std::sqrt(0.5);
    check_cases({
        {"turned counterclockwise: read upward, lines left to right",
         {toward(0, 1, "line", 100, 145, 20), toward(0, 1, "second", 114, 100, 30),
          toward(0, 1, "first", 100, 100, 40)},
         {"first line", "second"}},
        {"turned clockwise: read downward, lines right to left",
         {toward(0, -1, "second", 186, 700, 30), toward(0, -1, "line", 200, 655, 20),
          toward(0, -1, "first", 200, 700, 40)},
         {"first line", "second"}},
        {"upside down: read leftward, lines bottom to top",
         {toward(-1, 0, "second", 300, 114, 30), toward(-1, 0, "line", 255, 100, 20),
          toward(-1, 0, "first", 300, 100, 40)},
         {"first line", "second"}},
        {"one glyph per run, turned", glyphs("Vertical", 117, 681, 0, 1), {"Vertical"}},
        {"at 45 degrees", glyphs("diagonal", 100, 100, c, c), {"diagonal"}},
        // Vertical writing: columns top to bottom, right to left.
        {"vertical writing",
         {toward(0, -1, "\xE4\xBA\x8C\xE5\x88\x97", 480, 700, 24),
          toward(0, -1, "\xE7\xB8\xA6\xE6\x9B\xB8", 500, 700, 24),
          toward(0, -1, "\xE3\x81\x8D", 500, 676, 12)},
         {"\xE7\xB8\xA6\xE6\x9B\xB8\xE3\x81\x8D", "\xE4\xBA\x8C\xE5\x88\x97"}},
        // The side notes of contrib-issue_495_pdfobjref.pdf run 0.14 degrees
        // off vertical; text within a degree of an axis belongs to it.
        {"slight skew joins the axis",
         {toward(std::cos(0.01), std::sin(0.01), "skewed", 100, 700, 30),
          run("upright", 140, 700, 40)},
         {"skewed upright"}},
        {"non-unit and degenerate directions",
         {toward(0, 5, "up", 100, 100, 20), toward(0, 0.5, "ward", 100, 120, 20),
          toward(0, 0, "flat", 200, 300), toward(kNaN, 1, "nan", 230, 300)},
         {"flat nan", "upward"}},
    });
}

// Where the lines of other directions go: after the page's main direction,
// a direction at a time, the directions by the top of their first line.
TEST(Layout, OrdersDirectionsAfterTheMainOne) {
    check_cases({
        {"column headers turned upright come after the body",
         {run("Name of the city", 72, 700, 90), toward(0, 1, "Population", 150, 660, 60),
          run("Springfield", 72, 640, 60), toward(0, 1, "Area", 170, 660, 30),
          run("Shelbyville", 72, 620, 60)},
         {"Name of the city", "Springfield", "Shelbyville", "Population", "Area"}},
        {"the direction with the most text is the main one",
         {run("p. 1", 300, 40, 20), toward(0, -1, "a long column of text", 500, 700, 120),
          toward(0, -1, "and another one", 480, 700, 90)},
         {"a long column of text", "and another one", "p. 1"}},
        {"the others by the top of their first line",
         {run("main text here", 72, 400, 80), toward(0, -1, "low", 500, 300, 20),
          toward(-1, 0, "high", 300, 600, 20), toward(0, 1, "middle", 20, 380, 30)},
         {"main text here", "high", "middle", "low"}},
        {"a tie goes to upright text",
         {toward(0, 1, "abc", 100, 100, 20), run("xyz", 200, 700, 20)},
         {"xyz", "abc"}},
    });
}

// /Rotate turns the page before lines are formed; positions stay in user
// space.
TEST(Layout, PageRotation) {
    const std::vector<TextRun> upright = {run("B", 72, 680), run("A", 72, 700),
                                          run("tail", 120, 700, 20)};
    for (const std::int64_t rotate : {0, 90, 180, 270, -90, -270, 450, 720}) {
        SCOPED_TRACE(rotate);
        // Text set upright in user space reads the same however the page
        // is shown: as columns on a page turned 90 degrees.
        const PageText page = layout_page(upright, kLetter, rotate);
        EXPECT_EQ(line_texts(page), (std::vector<std::string>{"A tail", "B"}));
        EXPECT_EQ(page.rotation, ((rotate % 360) + 360) % 360);
        ASSERT_EQ(page.lines.size(), 2u);
        EXPECT_EQ(page.lines[0].x, 72);
        EXPECT_EQ(page.lines[0].y, 700);
    }
    for (const std::int64_t rotate : {45, 1, -30, 359}) {
        SCOPED_TRACE(rotate);
        EXPECT_EQ(layout_page(upright, kLetter, rotate).rotation, 0);
    }
    // A landscape table drawn turned counterclockwise, on a page that /Rotate
    // turns back upright: the lines read top to bottom on the displayed page,
    // which is left to right in user space.
    const std::vector<TextRun> turned = {toward(0, 1, "row 2", 114, 100, 30),
                                         toward(0, 1, "row 1", 100, 100, 30),
                                         toward(0, 1, "cell", 100, 140, 30)};
    const PageText shown = layout_page(turned, kLetter, 90);
    EXPECT_EQ(line_texts(shown), (std::vector<std::string>{"row 1 cell", "row 2"}));
    EXPECT_EQ(shown.lines[0].direction.x, 1);
    EXPECT_EQ(shown.lines[0].direction.y, 0);
    // Unrotated, the same runs are columns read upward, left column first.
    EXPECT_EQ(line_texts(layout_page(turned, kLetter, 0)),
              (std::vector<std::string>{"row 1 cell", "row 2"}));
}

// What blocks will be formed from: the extent on the displayed page, the
// largest size, the direction.
TEST(Layout, LineGeometry) {
    {
        const PageText page = layout_page(
            {run("ab", 100, 700, 30, 10), run("2", 131, 704, 4, 7), run("cd", 140, 700, 10, 10)},
            kLetter);
        ASSERT_EQ(page.lines.size(), 1u);
        const Line& l = page.lines[0];
        EXPECT_EQ(l.text, "ab2 cd");
        EXPECT_EQ(l.font_size, 10);
        EXPECT_DOUBLE_EQ(l.box.x0, 100);
        EXPECT_DOUBLE_EQ(l.box.x1, 150);
        EXPECT_DOUBLE_EQ(l.box.y0, 697.5);
        EXPECT_DOUBLE_EQ(l.box.y1, 704 + 0.75 * 7);
        EXPECT_EQ(l.direction.x, 1);
        EXPECT_EQ(l.direction.y, 0);
    }
    {
        // On a page shown turned clockwise, (x, y) is displayed at (y, -x):
        // the run reads downward, its band spans displayed x.
        const PageText page = layout_page({run("ab", 100, 700, 50, 10)}, kLetter, 90);
        ASSERT_EQ(page.lines.size(), 1u);
        const Line& l = page.lines[0];
        EXPECT_EQ(l.x, 100);
        EXPECT_EQ(l.y, 700);
        EXPECT_DOUBLE_EQ(l.box.x0, 697.5);
        EXPECT_DOUBLE_EQ(l.box.x1, 707.5);
        EXPECT_DOUBLE_EQ(l.box.y0, -150);
        EXPECT_DOUBLE_EQ(l.box.y1, -100);
        EXPECT_EQ(l.direction.x, 0);
        EXPECT_EQ(l.direction.y, -1);
    }
}

TEST(Layout, LinePositionIsItsFirstRunAlongTheLine) {
    const PageText page = layout_page({run("b", 80, 700), run("a", 50, 699)}, kLetter);
    ASSERT_EQ(page.lines.size(), 1u);
    EXPECT_EQ(page.lines[0].text, "a b");
    EXPECT_EQ(page.lines[0].x, 50);
    EXPECT_EQ(page.lines[0].y, 699);
}

TEST(Layout, RunsWithoutText) {
    // The gap before a run is measured from the last run with text, so an
    // unmapped glyph between two words reads as the space it shows.
    const PageText page = layout_page(
        {run("habibi", 62, 768, 38), run("", 100, 768, 19), run("word", 119, 768, 20)}, kLetter);
    EXPECT_EQ(line_texts(page), std::vector<std::string>{"habibi word"});
    // Runs with no text still count as text runs.
    const PageText blank = layout_page({run("", 0, 700, 0)}, kLetter);
    EXPECT_FALSE(blank.needs_ocr);
    ASSERT_EQ(blank.lines.size(), 1u);
    EXPECT_EQ(blank.lines[0].text, "");
}

TEST(Layout, PageSizeAndOcrFlag) {
    const PageText empty = layout_page({}, kLetter);
    EXPECT_TRUE(empty.needs_ocr);
    EXPECT_TRUE(empty.lines.empty());
    EXPECT_EQ(empty.width, 612);
    EXPECT_EQ(empty.height, 792);
    EXPECT_EQ(empty.text(), "");

    const PageText flipped = layout_page({}, Rect{612, 792, 0, 0});
    EXPECT_EQ(flipped.width, 612);
    EXPECT_EQ(flipped.height, 792);

    const PageText shifted = layout_page({}, Rect{-10, 20, 90, -30}, 90);
    EXPECT_EQ(shifted.width, 100);
    EXPECT_EQ(shifted.height, 50);
    EXPECT_EQ(shifted.rotation, 90);
}

TEST(Layout, PageTextJoinsLines) {
    const PageText page =
        layout_page({run("B", 0, 500), run("C", 0, 300), run("A", 0, 700)}, kLetter);
    EXPECT_EQ(page.text(), "A\nB\nC");
}

TEST(Layout, NanCoordinates) {
    // A run with a NaN baseline cannot be measured against a line: it is a
    // line of its own.
    {
        const PageText page = layout_page({run("b", 10, kNaN, 10), run("a", 0, 700, 10)}, kLetter);
        EXPECT_EQ(page.lines.size(), 2u);
        EXPECT_EQ(page.text().size(), 3u);
    }
    // All-NaN positions leave the input order.
    {
        const PageText page = layout_page(
            {run("1", kNaN, kNaN, 0), run("2", kNaN, kNaN, 0), run("3", kNaN, kNaN, 0)}, kLetter);
        EXPECT_EQ(page.text(), "1\n2\n3");
    }
    // A NaN position along the line leaves the runs of the line in sweep
    // order.
    {
        const PageText page =
            layout_page({run("b", kNaN, 700), run("a", 0, 700), run("c", 20, 700)}, kLetter);
        EXPECT_EQ(page.lines.size(), 1u);
    }
}

// Hostile matrices can put NaN and infinities anywhere in a run, its
// direction included, on a page of any rotation. Whatever order the
// inconsistent comparisons give, every run must come out exactly once
// (checked by the multiset of their one-letter texts) and the sorts must
// stay in bounds (checked by the sanitizer build).
TEST(Layout, NonFiniteRunsAreNeitherLostNorDuplicated) {
    std::mt19937 rng(12345);
    const double pool[] = {kNaN, kInf, -kInf, 0, 1, 700, 700.5, -3, 1e308, -1e308};
    const double dirs[] = {1, 0, -1, 0.6, kNaN, kInf, -kInf, 1e-300};
    const std::int64_t rotations[] = {0, 90, 180, 270};
    for (int round = 0; round < 300; ++round) {
        SCOPED_TRACE(round);
        const std::size_t n = rng() % 70;
        std::vector<TextRun> runs;
        std::string letters;
        for (std::size_t i = 0; i < n; ++i) {
            const char ch = static_cast<char>('A' + (i % 26));
            letters.push_back(ch);
            TextRun r = run(std::string(1, ch), pool[rng() % 10], pool[rng() % 10],
                            pool[rng() % 10], pool[rng() % 10]);
            if (round % 2 == 1) {
                r.dir_x = dirs[rng() % std::size(dirs)];
                r.dir_y = dirs[rng() % std::size(dirs)];
            }
            runs.push_back(r);
        }
        const PageText page = layout_page(runs, Rect{kNaN, kInf, 0, 0}, rotations[round % 4]);
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

namespace {

void expect_same_lines(const std::vector<Line>& got, const std::vector<Line>& want) {
    ASSERT_EQ(got.size(), want.size());
    for (std::size_t i = 0; i < got.size(); ++i) {
        SCOPED_TRACE(i);
        const Line& a = got[i];
        const Line& b = want[i];
        EXPECT_EQ(a.text, b.text);
        EXPECT_EQ(a.x, b.x);
        EXPECT_EQ(a.y, b.y);
        EXPECT_EQ(a.font_size, b.font_size);
        EXPECT_EQ(a.direction.x, b.direction.x);
        EXPECT_EQ(a.direction.y, b.direction.y);
        EXPECT_EQ(a.box.x0, b.box.x0);
        EXPECT_EQ(a.box.y0, b.box.y0);
        EXPECT_EQ(a.box.x1, b.box.x1);
        EXPECT_EQ(a.box.y1, b.box.y1);
    }
}

}  // namespace

// A subset of a page's runs laid out in place (a table's cells) against the
// same runs copied out and laid out as a page: the same lines, whatever the
// directions (several groups, non-axis frames taken from the subset's own
// first run), the scripts and the rotation; and laid out again in one
// scratch kept over all the rounds, as a table's cells are, so that what an
// earlier subset left in it (more directions, joined scripts, more runs)
// changes nothing. Pages laid out in a scratch kept over the rounds, as a
// document's are, give the same lines and pieces as each in its own.
TEST(Layout, LinesOfChosenRunsMatchTheirPage) {
    std::mt19937 rng(2024);
    LayoutScratch scratch;
    LayoutScratch page_scratch;
    const double dirs[][2] = {{1, 0}, {1, 0}, {1, 0}, {0, 1}, {0, -1}, {0.6, 0.8}, {-1, 0}};
    const std::int64_t rotations[] = {0, 90, 180, 270};
    for (int round = 0; round < 300; ++round) {
        SCOPED_TRACE(round);
        const std::size_t n = 1 + rng() % 60;
        std::vector<TextRun> runs;
        for (std::size_t i = 0; i < n; ++i) {
            const auto& dir = dirs[round % 3 == 0 ? rng() % std::size(dirs) : 0];
            runs.push_back(toward(dir[0], dir[1], std::string(1, static_cast<char>('a' + i % 26)),
                                  static_cast<double>(rng() % 40) * 3,
                                  static_cast<double>(rng() % 12) * 4, 2 + rng() % 5,
                                  rng() % 4 == 0 ? 7 : 10));
        }
        std::vector<std::size_t> chosen;
        std::vector<TextRun> copied;
        for (std::size_t i = 0; i < n; ++i) {
            if (rng() % 3 == 0) continue;
            chosen.push_back(i);
            copied.push_back(runs[i]);
        }
        const std::int64_t rotation = rotations[round % 4];
        std::vector<LinePiece> want_pieces;
        const PageText want = layout_page(copied, kLetter, rotation, &want_pieces);
        for (const bool reused : {false, true}) {
            SCOPED_TRACE(reused);
            expect_same_lines(layout_lines(runs, chosen, rotation, reused ? &scratch : nullptr),
                              want.lines);
        }
        std::vector<LinePiece> pieces;
        const PageText again = layout_page(copied, kLetter, rotation, &pieces, &page_scratch);
        expect_same_lines(again.lines, want.lines);
        ASSERT_EQ(pieces.size(), want_pieces.size());
        for (std::size_t i = 0; i < pieces.size(); ++i) {
            EXPECT_EQ(pieces[i].line, want_pieces[i].line);
            EXPECT_EQ(pieces[i].text_begin, want_pieces[i].text_begin);
            EXPECT_EQ(pieces[i].join_begin, want_pieces[i].join_begin);
            EXPECT_EQ(pieces[i].x, want_pieces[i].x);
            EXPECT_EQ(pieces[i].box.x0, want_pieces[i].box.x0);
            EXPECT_EQ(pieces[i].box.y1, want_pieces[i].box.y1);
            EXPECT_EQ(pieces[i].font_size, want_pieces[i].font_size);
        }
    }
}

// Upright runs on distinct baselines far enough apart to be lines of their
// own: the page order against std::stable_sort with the key written out
// here. Many ties (small integer coordinates) exercise stability.
TEST(Layout, LineOrderMatchesStableSort) {
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
        for (const char ch : layout_page(runs, kLetter).text()) {
            if (ch != '\n') got.push_back(ch);
        }
        EXPECT_EQ(got, want);
    }
}

// The sort used for comparable keys against the hand-written merge sort:
// the same order for keys in order, in reverse, nearly in order and
// shuffled, with ties, signed zeros and infinities; and with a NaN anywhere
// both take the merge sort.
TEST(Layout, SweepSortAgreesWithMergeSort) {
    std::mt19937 rng(4321);
    const double odd[] = {0.0, -0.0, kInf, -kInf, 1e308, -1e-308};
    const auto before = [](const SweepKey& a, const SweepKey& b) {
        if (a.group != b.group) return a.group < b.group;
        return a.across > b.across || (a.across == b.across && a.along < b.along);
    };
    const auto items = [](const std::vector<SweepKey>& keys) {
        std::vector<std::size_t> out;
        for (const SweepKey& k : keys) out.push_back(k.item);
        return out;
    };
    for (int round = 0; round < 2000; ++round) {
        SCOPED_TRACE(round);
        const std::size_t n = rng() % 300;
        std::vector<SweepKey> keys;
        for (std::size_t i = 0; i < n; ++i) {
            SweepKey k{static_cast<int>(rng() % 3), static_cast<double>(rng() % 9),
                       static_cast<double>(rng() % 7)};
            if (rng() % 20 == 0) k.along = odd[rng() % std::size(odd)];
            if (rng() % 20 == 0) k.across = odd[rng() % std::size(odd)];
            keys.push_back(k);
        }
        switch (round % 4) {
            case 0: std::stable_sort(keys.begin(), keys.end(), before); break;
            case 1:
                std::stable_sort(keys.begin(), keys.end(), before);
                std::reverse(keys.begin(), keys.end());
                break;
            case 2:
                std::stable_sort(keys.begin(), keys.end(), before);
                for (int k = 0; k < 3 && n > 1; ++k) std::swap(keys[rng() % n], keys[rng() % n]);
                break;
            default: break;
        }
        if (round % 10 == 9 && n > 0) keys[rng() % n].across = kNaN;
        for (std::size_t i = 0; i < n; ++i) keys[i].item = i;
        std::vector<SweepKey> sorted = keys;
        sweep_sort(sorted);
        std::vector<SweepKey> merged = keys;
        sweep_sort_merge(merged);
        ASSERT_EQ(items(sorted), items(merged));
        // Without NaN, both are the stable sort.
        if (round % 10 != 9) {
            std::stable_sort(keys.begin(), keys.end(), before);
            ASSERT_EQ(items(sorted), items(keys));
        }
    }
}

// Real producers' files (core/tests/fixtures/layout/make.py), checked
// exactly against the text that script draws.
namespace {

const std::string kFixtures = std::string(VELLOX_SOURCE_DIR) + "/core/tests/fixtures/layout/";

struct FixturePage {
    std::vector<std::string> lines;
    int rotation = 0;
};

std::vector<FixturePage> fixture_pages(const std::string& name) {
    const std::string data = vellox_test::read_file(kFixtures + name);
    auto doc = Document::parse_with_password(as_bytes(data), {});
    EXPECT_TRUE(doc) << name;
    if (!doc) return {};
    auto extracted = doc->extract();
    EXPECT_TRUE(extracted) << name;
    if (!extracted) return {};
    std::vector<FixturePage> out;
    for (const PageText& page : extracted->pages) out.push_back({line_texts(page), page.rotation});
    return out;
}

}  // namespace

TEST(LayoutFixtures, PagesTurnedByQpdf) {
    // qpdf --rotate of an upright reportlab page: every page reads the same,
    // the last one's /Rotate -90 reduced to 270.
    const std::vector<FixturePage> pages = fixture_pages("rotated_pages.pdf");
    ASSERT_EQ(pages.size(), 5u);
    const int rotations[] = {0, 90, 180, 270, 270};
    for (std::size_t i = 0; i < pages.size(); ++i) {
        SCOPED_TRACE(i);
        EXPECT_EQ(pages[i].rotation, rotations[i]);
        EXPECT_EQ(pages[i].lines, (std::vector<std::string>{"First line of the page", "Second line",
                                                            "Third and last line"}));
    }
}

TEST(LayoutFixtures, ReportlabScriptsHeadingsAndCells) {
    const std::vector<FixturePage> pages = fixture_pages("scripts.pdf");
    ASSERT_EQ(pages.size(), 1u);
    EXPECT_EQ(pages[0].lines,
              (std::vector<std::string>{"Energy: E = mc2 exactly", "Water is H2O and salt NaCl",
                                        "Footnote mark12 after a word", "Big Text", "Small Text",
                                        "3.9 2.33 1.16 0.25", "next row"}));
}

TEST(LayoutFixtures, TextTurnedByMatrices) {
    const std::vector<FixturePage> pages = fixture_pages("turned_text.pdf");
    ASSERT_EQ(pages.size(), 3u);
    EXPECT_EQ(pages[0].lines,
              (std::vector<std::string>{
                  "upright body text", "second upright line", "at thirty degrees", "reads downward",
                  "next downward", "reads upward", "next upward", "upside down", "next upside"}));
    // A landscape page drawn turned by cm and shown upright by /Rotate 90.
    EXPECT_EQ(pages[1].rotation, 90);
    EXPECT_EQ(pages[1].lines, (std::vector<std::string>{"Landscape title", "first row of the table",
                                                        "second row"}));
    EXPECT_EQ(pages[2].lines, (std::vector<std::string>{"scaled twofold", "second scaled line"}));
}

TEST(LayoutFixtures, LibreOfficeColumnHeadersTurnedUpright) {
    const std::vector<FixturePage> pages = fixture_pages("column_headers.pdf");
    ASSERT_EQ(pages.size(), 1u);
    EXPECT_EQ(pages[0].lines,
              (std::vector<std::string>{"Towns", "Town", "Springfield 30720 52 1796",
                                        "Shelbyville 21400 38 1802", "Page 1", "Population",
                                        "Area km2", "Founded"}));
}

TEST(LayoutFixtures, VerticalWritingColumnsRightToLeft) {
    // Vertical CID fonts advance down the page: their runs have the
    // direction (0, -1).
    const std::vector<FixturePage> pages = fixture_pages("vertical.pdf");
    ASSERT_EQ(pages.size(), 1u);
    EXPECT_EQ(
        pages[0].lines,
        (std::vector<std::string>{
            "\xE7\xB8\xA6\xE6\x9B\xB8\xE3\x81\x8D\xE3\x81\xAE\xE4\xB8\x80\xE8\xA1\x8C\xE7\x9B\xAE",
            "\xE4\xBA\x8C\xE8\xA1\x8C\xE7\x9B\xAE\xE3\x81\xA7\xE3\x81\x99"}));
}
