#include <gtest/gtest.h>

#include <cstdint>
#include <string>
#include <string_view>

#include "lex.h"

using namespace vellox_core;

TEST(Lexer, ByteClasses) {
    for (int c : {0x00, 0x09, 0x0A, 0x0C, 0x0D, 0x20}) EXPECT_TRUE(is_whitespace(c)) << c;
    EXPECT_FALSE(is_whitespace(0x0B));  // vertical tab is not white space in PDF
    for (char c : std::string_view("()<>[]{}/%")) EXPECT_TRUE(is_delimiter(c)) << c;
    for (int c : {int{'#'}, int{'.'}, int{'+'}, int{'-'}, 0x80, 0xFF})
        EXPECT_TRUE(is_regular(c)) << c;
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
        {"xref\n0 1", true, 4}, {"xref", true, 4}, {"xref<<", true, 4},
        {"xrefs", false, 0},    {"xre", false, 0}, {"Xref ", false, 0},
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

TEST(Lexer, ReadsUnsignedTokens) {
    using Status = UintToken::Status;
    struct Case {
        std::string_view text;
        std::uint64_t max;
        Status status;
        std::uint64_t value;
        std::size_t pos;  // where the cursor stops
    };
    constexpr std::uint64_t k32 = 4294967295u;
    constexpr std::uint64_t k64 = ~std::uint64_t{0};
    const Case cases[] = {
        {"  % comment\n 0000000017 x", k32, Status::Ok, 17, 23},
        {"+5", k32, Status::Ok, 5, 2},
        {"4294967295", k32, Status::Ok, 4294967295u, 10},
        {"4294967296", k32, Status::Bad, 0, 10},
        {"4294967296", k64, Status::Ok, 4294967296u, 10},
        {"18446744073709551615", k64, Status::Ok, k64, 20},
        {"18446744073709551616", k64, Status::Bad, 0, 20},
        {"-1", k32, Status::Bad, 0, 2},
        {"+", k32, Status::Bad, 0, 1},
        {"12a", k32, Status::Bad, 0, 3},
        {"", k32, Status::Missing, 0, 0},
        {"  /Name", k32, Status::Missing, 0, 2},
        {"(7)", k32, Status::Missing, 0, 0},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(std::string(c.text));
        Lexer lx(as_bytes(c.text));
        const UintToken t = lx.read_uint(c.max);
        EXPECT_EQ(t.status, c.status);
        EXPECT_EQ(t.value, c.value);
        EXPECT_EQ(lx.pos, c.pos);
    }
}
