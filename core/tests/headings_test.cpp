#include "headings.h"

#include <gtest/gtest.h>

#include <cmath>
#include <limits>
#include <random>
#include <string>
#include <vector>

#include "layout.h"
#include "tables.h"

using namespace vellox_core;

namespace {

struct Set {
    std::string text;
    double size = 10;
    double y = 0;  // baseline; 0 puts the line 1.2 sizes below the one before
};

// A page of lines set at their sizes, top to bottom, a block each (as
// layout_page makes them today).
PageText page_of(std::size_t number, std::vector<Set> lines) {
    PageText page;
    page.number = number;
    page.width = 612;
    page.height = 792;
    double y = 760;
    for (const Set& set : lines) {
        if (set.y != 0) y = set.y;
        Line line;
        line.text = set.text;
        line.x = 72;
        line.y = y;
        line.font_size = set.size;
        line.box = {72, y - kBelowBaseline * set.size,
                    72 + 5.0 * static_cast<double>(set.text.size()), y + kAboveBaseline * set.size};
        page.blocks.push_back({page.lines.size(), page.lines.size() + 1});
        page.lines.push_back(line);
        y -= 1.2 * set.size;
    }
    return page;
}

// Body text enough to make 10 the body size.
std::vector<Set> body(std::size_t lines) {
    return std::vector<Set>(lines, Set{"Body text of the document, set at ten units.", 10});
}

std::vector<Set> operator+(std::vector<Set> a, const std::vector<Set>& b) {
    a.insert(a.end(), b.begin(), b.end());
    return a;
}

// "level text" for each heading block, in order.
std::vector<std::string> headings_of(const std::vector<PageText>& pages) {
    std::vector<std::string> out;
    for (const PageText& page : pages) {
        for (const Block& block : page.blocks) {
            if (block.heading == 0) continue;
            std::string text = std::to_string(block.heading);
            for (std::size_t i = block.begin; i < block.end; ++i) text += " " + page.lines[i].text;
            out.push_back(text);
        }
    }
    return out;
}

std::vector<std::string> mark(std::vector<PageText> pages) {
    mark_headings(pages);
    return headings_of(pages);
}

}  // namespace

TEST(BodyFontSize, IsTheSizeOfTheMostCharacters) {
    const double nan = std::nan("");
    const double inf = std::numeric_limits<double>::infinity();
    struct Case {
        const char* name;
        std::vector<Set> lines;
        double expected;
    } cases[] = {
        {"no lines", {}, 0},
        {"characters, not lines", {{"a", 12}, {"b", 12}, {"long line", 9}}, 9},
        {"spaces do not count", {{"a  b", 12}, {"     abc", 9}}, 9},
        {"no-break spaces neither", {{"a\u00a0\u00a0\u00a0\u00a0b", 12}, {"abc", 9}}, 9},
        {"code points, not bytes", {{"\u00e9\u00e9\u00e9\u00e9", 12}, {"abcde", 9}}, 9},
        {"each byte of a broken sequence", {{"\xe2\x82", 12}, {"a", 9}}, 12},
        {"ties go to the smaller size", {{"ab", 12}, {"cd", 9.96}}, 10},
        {"to a tenth", {{"abc", 11.955}, {"de", 9}}, 12},
        {"unusable sizes ignored",
         {{"abcdef", nan},
          {"abcdef", inf},
          {"abcdef", 0},
          {"abcdef", -3},
          {"abcdef", 1e9},
          {"a", 7}},
         7},
    };
    for (const auto& c : cases) {
        SCOPED_TRACE(c.name);
        EXPECT_DOUBLE_EQ(body_font_size({page_of(1, c.lines)}), c.expected);
    }
}

// Long lines of ASCII, blanks and other characters mixed: a line of `c`
// characters at one size against a line of as many letters at a larger
// size ties (the smaller size wins), and one letter more wins. Pieces are
// whole characters, or a byte that starts none (0xFF), so the count of a
// line is the sum of its pieces'.
TEST(BodyFontSize, CountsCharactersOfLongMixedLines) {
    const struct {
        const char* text;
        std::size_t chars;
    } pieces[] = {{"a", 1},    {"Z", 1},      {"7", 1},          {" ", 0},
                  {"\t", 0},   {"\u00a0", 0}, {"\u00e9", 1},     {"\u20ac", 1},
                  {"\xff", 1}, {"\n", 1},     {"\U0001F600", 1}, {"abcdefgh", 8}};
    std::mt19937 rng(99);
    for (int round = 0; round < 400; ++round) {
        SCOPED_TRACE(round);
        std::string text;
        std::size_t chars = 0;
        const std::size_t count = rng() % 40;
        for (std::size_t k = 0; k < count; ++k) {
            // Mostly ASCII, as lines are, so that whole words of it occur.
            const auto& piece = pieces[rng() % 3 == 0 ? rng() % std::size(pieces) : rng() % 5];
            text += piece.text;
            chars += piece.chars;
        }
        if (chars == 0) continue;
        SCOPED_TRACE(text);
        EXPECT_DOUBLE_EQ(body_font_size({page_of(1, {{text, 10}, {std::string(chars, 'x'), 12}})}),
                         10);
        EXPECT_DOUBLE_EQ(
            body_font_size({page_of(1, {{text, 10}, {std::string(chars + 1, 'x'), 12}})}), 12);
    }
}

TEST(BodyFontSize, TablesDoNotCount) {
    PageText page = page_of(1, {{"Big table cell text", 14}, {"Body", 10}});
    page.blocks[0].table = true;
    EXPECT_DOUBLE_EQ(body_font_size({page}), 10);
    page.blocks[0].table = false;
    Table table;
    table.box = {0, 750, 600, 800};  // covers the first line's origin
    page.tables.push_back(table);
    EXPECT_DOUBLE_EQ(body_font_size({page}), 10);
}

TEST(MarkHeadings, LevelsFollowTheSizeRank) {
    struct Case {
        const char* name;
        std::vector<Set> lines;
        std::vector<std::string> expected;
    } cases[] = {
        {"four sizes, three levels",
         std::vector<Set>{{"Title", 18}} + body(3) + std::vector<Set>{{"Section", 14}} + body(3) +
             std::vector<Set>{{"Subsection", 12}} + body(3) +
             std::vector<Set>{{"Word Heading", 11}} + body(3),
         {"1 Title", "2 Section", "3 Subsection", "3 Word Heading"}},
        {"one heading size is level 1", std::vector<Set>{{"Section", 12}} + body(3), {"1 Section"}},
        {"sizes within 4% are one level",
         body(3) +
             std::vector<Set>{
                 {"One", 14.4}, {"Para", 10}, {"Two", 14}, {"Para", 10}, {"Three", 12}},
         {"1 One", "1 Two", "2 Three"}},
        {"not clearly larger than the body",
         body(3) + std::vector<Set>{{"Slightly", 10.5}, {"Same", 10}, {"Smaller", 8}},
         {}},
        {"the ratio reached after rounding",
         body(3) + std::vector<Set>{{"Heading", 10.8}},
         {"1 Heading"}},
    };
    for (const auto& c : cases) {
        SCOPED_TRACE(c.name);
        EXPECT_EQ(mark({page_of(1, c.lines)}), c.expected);
    }
}

TEST(MarkHeadings, LinesOfOneHeadingBecomeOneBlock) {
    std::vector<PageText> pages = {
        page_of(1, body(4) + std::vector<Set>{{"A Long Heading", 14}, {"Over Two Lines", 14}} +
                       body(2) + std::vector<Set>{{"First", 14}, {"Second", 14, 500}} + body(2))};
    mark_headings(pages);
    EXPECT_EQ(headings_of(pages),
              (std::vector<std::string>{"1 A Long Heading Over Two Lines", "1 First", "1 Second"}));
    // Every line is still in exactly one block, in order.
    std::size_t next = 0;
    for (const Block& block : pages[0].blocks) {
        EXPECT_EQ(block.begin, next);
        next = block.end;
    }
    EXPECT_EQ(next, pages[0].lines.size());
}

TEST(MarkHeadings, WhatIsSetLargeButIsNoHeading) {
    PageText table_page =
        page_of(1, body(3) + std::vector<Set>{{"Cell Heading", 14}, {"Row Heading", 14, 400}});
    table_page.blocks[3].table = true;
    Table table;
    table.box = {0, 390, 600, 410};  // the second large line is in it
    table_page.tables.push_back(table);

    PageText turned = page_of(1, body(3) + std::vector<Set>{{"Axis Label", 14}});
    turned.lines.back().direction = {0, 1};

    struct Case {
        const char* name;
        std::vector<PageText> pages;
    } cases[] = {
        {"four lines: a paragraph set large",
         {page_of(
             1,
             body(3) + std::vector<Set>{{"Lead", 14}, {"Para", 14}, {"Graph", 14}, {"Ends", 14}})}},
        {"too many characters",
         {page_of(1, body(3) + std::vector<Set>{{std::string(201, 'x'), 14}})}},
        {"page number", {page_of(1, body(3) + std::vector<Set>{{"12", 14}})}},
        {"figure label", {page_of(1, body(3) + std::vector<Set>{{"2.5 %", 14}})}},
        {"drop capital", {page_of(1, body(3) + std::vector<Set>{{"T", 24}})}},
        {"operator", {page_of(1, body(3) + std::vector<Set>{{"\xE2\x88\x91\xE2\x88\xAB", 14}})}},
        {"end of a sentence", {page_of(1, body(3) + std::vector<Set>{{"them.", 14}})}},
        {"list item", {page_of(1, body(3) + std::vector<Set>{{"\xE2\x80\xA2 Dust-proof", 14}})}},
        {"list item after a space", {page_of(1, body(3) + std::vector<Set>{{" - Precise", 14}})}},
        {"contents line", {page_of(1, body(3) + std::vector<Set>{{"1 Overview . . . . 3", 14}})}},
        {"contents ellipsis",
         {page_of(1, body(3) + std::vector<Set>{{"Overview \xE2\x80\xA6\xE2\x80\xA6 3", 14}})}},
        {"in a table", {table_page}},
        {"another direction", {turned}},
        {"running header",
         {page_of(1, std::vector<Set>{{"Annual Report", 14}} + body(3)),
          page_of(2, std::vector<Set>{{"Annual Report", 14}} + body(3))}},
        {"running footer with its page number",
         {page_of(1, body(3) + std::vector<Set>{{"Page 1 of 12", 14, 40}}),
          page_of(2, body(5) + std::vector<Set>{{"Page 2 of 12", 14, 40.5}})}},
    };
    for (const auto& c : cases) {
        SCOPED_TRACE(c.name);
        EXPECT_EQ(mark(c.pages), std::vector<std::string>{});
    }
}

TEST(MarkHeadings, CentredLinesMayBeFurtherApart) {
    // Two lines at 14, 0.6 of the size apart: one heading when centred on
    // each other (a title page), two when the second is at the margin.
    auto page = [](double second_x0) {
        PageText p = page_of(
            1, body(3) + std::vector<Set>{{"Geometry and", 14, 700}, {"Topology", 14, 677.6}});
        const double shift = second_x0 - p.lines[4].box.x0;
        p.lines[3].box.x0 += 100;
        p.lines[3].box.x1 += 100;
        p.lines[4].box.x0 += shift;
        p.lines[4].box.x1 += shift;
        return p;
    };
    // "Geometry and" spans 60 units, "Topology" 40: centred, the second
    // starts 10 units further right.
    EXPECT_EQ(mark({page(72 + 100 + 10)}), std::vector<std::string>{"1 Geometry and Topology"});
    EXPECT_EQ(mark({page(72)}), (std::vector<std::string>{"1 Geometry and", "1 Topology"}));
}

TEST(MarkHeadings, RepeatedTextElsewhereIsAHeading) {
    // The same words at another place of another page, or on the one page
    // extracted (or extracted twice), are headings.
    const std::vector<Set> top = std::vector<Set>{{"Results", 14}} + body(3);
    const std::vector<Set> lower = body(10) + std::vector<Set>{{"Results", 14}};
    EXPECT_EQ(mark({page_of(1, top), page_of(2, lower)}),
              (std::vector<std::string>{"1 Results", "1 Results"}));
    EXPECT_EQ(mark({page_of(3, top), page_of(3, top)}),
              (std::vector<std::string>{"1 Results", "1 Results"}));
}

TEST(MarkHeadings, PagesWithoutBlocksGetOneALine) {
    PageText page = page_of(1, body(2) + std::vector<Set>{{"Heading", 14}});
    page.blocks.clear();
    std::vector<PageText> pages = {page};
    mark_headings(pages);
    ASSERT_EQ(pages[0].blocks.size(), 3u);
    EXPECT_EQ(pages[0].blocks[2].heading, 1);
}

TEST(MarkHeadings, HostileSizesAndBoxes) {
    const double nan = std::nan("");
    const double inf = std::numeric_limits<double>::infinity();
    PageText page = page_of(
        1,
        body(3) + std::vector<Set>{
                      {"Nan", nan}, {"Inf", inf}, {"Huge", 1e300}, {"Heading", 14}, {"Next", 14}});
    page.lines[3].box = {nan, nan, nan, nan};
    page.lines[7].box = {-inf, -inf, inf, inf};
    page.blocks.push_back({7, 3});   // out of order: ignored
    page.blocks.push_back({5, 99});  // past the lines: ignored
    std::vector<PageText> pages = {page, page_of(2, {{"Heading", 14, nan}})};
    pages[1].lines[0].direction = {nan, nan};
    mark_headings(pages);
    // An infinite box is next to nothing: each line is a heading of its own.
    EXPECT_EQ(headings_of(pages), (std::vector<std::string>{"1 Heading", "1 Next"}));
}
