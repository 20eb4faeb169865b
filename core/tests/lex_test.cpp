#include <gtest/gtest.h>

#include "lex.h"

using namespace vellox_core;

TEST(Lexer, ByteClasses) {
    for (int c : {0x00, 0x09, 0x0A, 0x0C, 0x0D, 0x20}) EXPECT_TRUE(is_whitespace(c)) << c;
    EXPECT_FALSE(is_whitespace(0x0B));  // vertical tab is not white space in PDF
    for (char c : std::string_view("()<>[]{}/%")) EXPECT_TRUE(is_delimiter(c)) << c;
    for (int c : {int{'#'}, int{'.'}, int{'+'}, int{'-'}, 0x80, 0xFF}) EXPECT_TRUE(is_regular(c)) << c;
}

TEST(Lexer, SkipsWhitespaceAndCommentsUpToLineEnd) {
    const std::string_view text = " \t% note\r\n%second\rx %tail";
    Lexer lx(as_bytes(text));
    lx.skip_whitespace();
    EXPECT_EQ(lx.pos, text.find('x'));
    ++lx.pos;
    lx.skip_whitespace();  // a comment running to the end of the input
    EXPECT_TRUE(lx.at_end());
}

TEST(Lexer, ReadKeywordTakesMaximalRegularRun) {
    Lexer lx(as_bytes("12abc/def"));
    auto kw = lx.read_keyword();
    ASSERT_TRUE(kw);
    EXPECT_EQ(as_text(*kw), "12abc");
    EXPECT_EQ(lx.pos, 5u);
    EXPECT_FALSE(lx.read_keyword());  // at a delimiter: nothing, pos unchanged
    EXPECT_EQ(lx.pos, 5u);
    Lexer ws(as_bytes(" x"));
    EXPECT_FALSE(ws.read_keyword());
    Lexer empty(as_bytes(""));
    EXPECT_FALSE(empty.read_keyword());
}

TEST(Lexer, EatKeywordNeedsABoundaryAfterIt) {
    struct Case {
        std::string_view input;
        bool eaten;
        std::size_t pos;
    };
    const Case cases[] = {
        {"xref\n0 1", true, 4}, {"xref", true, 4},   {"xref<<", true, 4},
        {"xrefs", false, 0},    {"xre", false, 0},   {"Xref ", false, 0},
    };
    for (const auto& c : cases) {
        SCOPED_TRACE(std::string(c.input));
        Lexer lx(as_bytes(c.input));
        EXPECT_EQ(lx.eat_keyword("xref"), c.eaten);
        EXPECT_EQ(lx.pos, c.pos);
    }
}

TEST(Lexer, ConstructorClampsPosition) {
    Lexer lx(as_bytes("abc"), 99);
    EXPECT_EQ(lx.pos, 3u);
    EXPECT_TRUE(lx.at_end());
}
