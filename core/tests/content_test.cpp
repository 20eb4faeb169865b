#include <gtest/gtest.h>

#include <span>
#include <random>
#include <string>

#include "bounds.h"
#include "content.h"
#include "filter/sanitizer.h"
#include "support/damage.h"
#include "support/read_file.h"

using namespace vellox_core;
using vellox_test::read_file;

namespace {

char kind_letter(const Object& o) {
    switch (o.type()) {
        case ObjectType::Null: return 'Z';
        case ObjectType::Bool: return 'B';
        case ObjectType::Integer: return 'I';
        case ObjectType::Real: return 'R';
        case ObjectType::String: return 'S';
        case ObjectType::Name: return 'N';
        case ObjectType::Array: return 'A';
        case ObjectType::Dictionary: return 'D';
        case ObjectType::Stream: return 'X';
        case ObjectType::Reference: return 'F';
    }
    return '?';
}

// One line per operation: the operator, a space, one letter per operand.
std::string summary(std::span<const Op> ops) {
    std::string out;
    for (const Op& op : ops) {
        out.append(op.bytes.data(), op.len);
        out.push_back(' ');
        for (const Object& o : op.operands) out.push_back(kind_letter(o));
        out.push_back('\n');
    }
    return out;
}

Content parse(std::string_view text) { return parse_content(as_bytes(text)); }

}  // namespace

TEST(Content, OperatorsAndOperands) {
    struct Case {
        std::string_view content;
        std::string_view ops;
    };
    const Case cases[] = {
        {"", ""},
        {" \r\n\t\f% only a comment", ""},
        {"BT /F1 12 Tf (Hi) Tj ET", "BT \nTf NI\nTj S\nET \n"},
        {"% comment line\n0 0 m", "m II\n"},
        {"0 0 m%comment\rl", "m II\nl \n"},
        {"1 0 0 1 .5 -2 cm", "cm IIIIRI\n"},
        {"[(a) -120 (b)] TJ", "TJ A\n"},
        {"(a)Tj<00>Tj/Name/Other BMC", "Tj S\nTj S\nBMC NN\n"},
        {"/P <</MCID 0>> BDC EMC", "BDC ND\nEMC \n"},
        {"/Im1 Do 5 0 R Do", "Do N\nDo F\n"},
        {"true false null", "true \nfals \nnull \n"},
        {"abcdef abcd abcde", "abcd \nabcd \nabcd \n"},
        {"q 1 2", "q \n"},  // operands with no operator behind them
        {"1 2 ] 3 Td", "Td I\n"},
        {"1 } 2 { 3 ) 4 > 5 Td", "Td I\n"},
        {"1 2 >> 3 4 m", "m II\n"},
        {"q 1 0 0 1 0 0 cm (unterminated Tj Q", "q \ncm IIIIII\n"},
        {"BT 1 2 Td <4x> Tj ET", "BT \nTd II\n"},
        {"q 0 0m Q", "q \n"},  // "0m" is one token and not a number
        {"q +x Q", "q \n"},
        {"q /A [1 2 Q", "q \n"},
        {"Q 1 2 3 <</A 1 /B>> gs", "Q \n"},
        {"q BI /W 1 /H 1 ID xyz EI Q", "q \nQ \n"},
        {"q BI /W 1 ID \x01\xff)]Q Tj EI Q", "q \nQ \n"},
        {"1 2 BI ID x EI m", "m \n"},  // operands before BI are dropped
        {"BI ID abEIcd EI Q", "cd \nEI \nQ \n"},  // plain search: the first EI ends it
        {"q BIEI Q", "q \nBIEI \nQ \n"},
        {"q 1 0 0 1 0 0 cm BI /W 1 ID xyz", "q \ncm IIIIII\n"},
        {"q BI /W 1 ID xyzE", "q \n"},
        {"q BI", "q \n"},
        {"BI EI", ""},
        {"EI ID", "EI \nID \n"},
    };
    for (const auto& c : cases) {
        SCOPED_TRACE(std::string(c.content));
        EXPECT_EQ(summary(parse(c.content)), c.ops);
    }
}

TEST(Content, OperandValuesAndOperatorText) {
    const auto ops = parse("BT /F1 12 Tf (Hi) Tj 1 0 R Do ET");
    ASSERT_EQ(ops.size(), 5u);
    EXPECT_EQ(ops[0].op(), "BT");
    EXPECT_EQ(ops[1].op(), "Tf");
    ASSERT_EQ(ops[1].operands.size(), 2u);
    EXPECT_EQ(ops[1].operands[0], Object(Name{"F1"}));
    EXPECT_EQ(ops[1].operands[1], Object(12));
    ASSERT_EQ(ops[2].operands.size(), 1u);
    EXPECT_EQ(ops[2].operands[0], Object(String{{'H', 'i'}}));
    EXPECT_EQ(ops[3].op(), "Do");
    ASSERT_EQ(ops[3].operands.size(), 1u);
    EXPECT_EQ(ops[3].operands[0], Object(Reference{1, 0}));
    EXPECT_EQ(ops[4].op(), "ET");

    const auto cut = parse("abcdefgh");
    ASSERT_EQ(cut.size(), 1u);
    EXPECT_EQ(cut[0].len, 4);
    EXPECT_EQ(cut[0].op(), "abcd");
}

TEST(Content, OperatorCodes) {
    const std::pair<std::string_view, Operator> known[] = {
        {"q", Operator::Save}, {"Q", Operator::Restore}, {"cm", Operator::Concat},
        {"BT", Operator::BeginText}, {"Tf", Operator::SetFont}, {"Tc", Operator::CharSpacing},
        {"Tw", Operator::WordSpacing}, {"Tz", Operator::HorizontalScale},
        {"TL", Operator::Leading}, {"Ts", Operator::Rise}, {"Td", Operator::MoveText},
        {"TD", Operator::MoveTextSetLeading}, {"Tm", Operator::TextMatrix},
        {"T*", Operator::NextLine}, {"Tj", Operator::Show}, {"'", Operator::NextLineShow},
        {"\"", Operator::SpacingNextLineShow}, {"TJ", Operator::ShowArray},
        {"m", Operator::MoveTo}, {"l", Operator::LineTo}, {"re", Operator::Rectangle},
        {"S", Operator::Stroke}, {"s", Operator::CloseStroke}, {"f", Operator::Fill},
        {"F", Operator::FillOld}, {"f*", Operator::FillEvenOdd}, {"B", Operator::FillStroke},
        {"B*", Operator::FillStrokeEvenOdd}, {"b", Operator::CloseFillStroke},
        {"b*", Operator::CloseFillStrokeEvenOdd}, {"n", Operator::EndPath},
    };
    std::string text;
    for (const auto& [keyword, code] : known) {
        EXPECT_EQ(operator_of(keyword), code) << keyword;
        text += std::string(keyword) + " ";
    }
    // Near misses, other operators and keywords cut to four bytes.
    for (std::string_view other : {"", "ET", "Do", "W", "W*", "h", "c", "T", "Tx", "tj", "Tj*",
                                   "qq", "cmx", "*f", "BT ", "TJTJ"}) {
        EXPECT_EQ(operator_of(other), Operator::Other) << other;
    }
    // The parser names each operation from its keyword as stored.
    text += "Tjxyz cmyk";
    const Content page = parse(text);
    ASSERT_EQ(page.size(), std::size(known) + 2);
    for (std::size_t i = 0; i < std::size(known); ++i) EXPECT_EQ(page[i].code, known[i].second) << i;
    EXPECT_EQ(page[std::size(known)].code, Operator::Other);
    EXPECT_EQ(page[std::size(known) + 1].code, Operator::Other);
}

TEST(Content, NonUtf8KeywordMatchesNothing) {
    struct Case {
        std::string_view content;
        std::size_t len;
        std::string_view op;
    };
    const Case cases[] = {
        {"\xff\xfe", 2, ""},
        {"\xc3\xa9t", 3, "\xc3\xa9t"},   // valid UTF-8 is kept
        {"abc\xc3\xa9", 4, ""},          // the cut splits a character
    };
    for (const auto& c : cases) {
        SCOPED_TRACE(std::string(c.content));
        const auto ops = parse(c.content);
        ASSERT_EQ(ops.size(), 1u);
        EXPECT_EQ(ops[0].len, c.len);
        EXPECT_EQ(ops[0].op(), c.op);
    }
}

// Page contents of corpus files compared with the operations pypdf finds,
// written by fixtures/content/make_oracle.py (inline images left out).
TEST(Content, MatchesPypdfOnRealPages) {
    for (const char* stem : {"inline-image", "habibi", "pdflatex-4-pages"}) {
        SCOPED_TRACE(stem);
        const std::string dir = VELLOX_SOURCE_DIR "/core/tests/fixtures/content/";
        const std::string content = read_file(dir + stem + ".content");
        const std::string expected = read_file(dir + stem + ".ops");
        ASSERT_FALSE(expected.empty());
        EXPECT_EQ(summary(parse_content(as_bytes(content))), expected);
    }
}

// Mutated content must parse to completion without memory errors (checked
// in the sanitizer build); every operation has a keyword of 1 to 4 bytes.
TEST(Content, SurvivesMutatedInput) {
    const std::string base =
        read_file(VELLOX_SOURCE_DIR "/core/tests/fixtures/content/inline-image.content");
    std::mt19937 rng(777);
    const std::string alphabet = "<>[](){}/%\\ \n0123456789.+-eBIEDTjm";
    for (int round = 0; round < 2000; ++round) {
        const std::string text = vellox_test::damaged(base, rng, alphabet, 6);
        for (const Op& op : parse(text)) {
            ASSERT_GE(op.len, 1) << "round " << round;
            ASSERT_LE(op.len, 4) << "round " << round;
        }
    }
}

TEST(Content, OperandsSurviveAMove) {
    Content first = parse("q 1 0 0 1 5 5 cm (dropped) ] 0 0 m 10 0 l S Q 7 8");
    // The operations point into the blocks; moving the page must keep them
    // pointing at live operands (the sanitizer build checks the reads).
    const Content page = std::move(first);
    ASSERT_EQ(page.size(), 6u);
    const std::size_t counts[] = {0, 6, 2, 2, 0, 0};
    for (std::size_t i = 0; i < page.size(); ++i) {
        SCOPED_TRACE(i);
        EXPECT_EQ(page[i].operands.size(), counts[i]);
    }
    EXPECT_EQ(page[1].operands[4], Object(5));
    EXPECT_EQ(page[3].operands[0], Object(10));
    // Operands dropped at the delimiter and those after the last operator
    // belong to no operation and are not kept.
    ASSERT_EQ(page.blocks.size(), 1u);
    EXPECT_EQ(page.blocks[0].size(), 10u);
}

// Blocks are never grown: operands waiting for their operator when a block
// fills move to the next block together, and every operation still sees
// exactly its own operands, whatever the block size.
TEST(Content, OperandsAcrossBlockBoundaries) {
    std::string text;
    std::vector<std::size_t> expected;
    std::mt19937 rng(31);
    for (int i = 0; i < 3000; ++i) {
        // Runs of up to 700 operands, some longer than a block, each
        // numbered so that a misplaced operand shows.
        const std::size_t n = rng() % 5 == 0 ? rng() % 700 : rng() % 8;
        for (std::size_t k = 0; k < n; ++k) text += std::to_string(i * 1000 + static_cast<int>(k)) + " ";
        if (rng() % 7 == 0) {
            text += "] ";  // drops what was gathered
        } else {
            text += "op ";
            expected.push_back(n);
        }
    }
    const Content page = parse(text);
    ASSERT_EQ(page.size(), expected.size());
    EXPECT_GT(page.blocks.size(), 10u);
    for (std::size_t i = 0; i < page.size(); ++i) {
        ASSERT_EQ(page[i].operands.size(), expected[i]) << i;
        for (std::size_t k = 0; k < expected[i]; ++k) {
            const std::int64_t* v = page[i].operands[k].as_int();
            ASSERT_NE(v, nullptr);
            ASSERT_EQ(*v % 1000, static_cast<std::int64_t>(k));
            if (k > 0) {
                ASSERT_EQ(*v / 1000, *page[i].operands[0].as_int() / 1000);
            }
        }
    }
}

TEST(Content, ObjectBudgetEndsThePage) {
    // Each operation and each operand object takes one unit of the page's
    // budget; the parse stops where it runs out, as at a bad operand.
    constexpr std::size_t kBudget = limits::kMaxContentObjects;
    struct Case {
        std::string unit;       // repeated to fill the content
        std::size_t per_unit;   // objects per repetition
        std::size_t operators;  // operations per repetition
    };
    if (vellox_test::kSanitized) GTEST_SKIP() << "millions of objects; runs in the normal build";
    const Case cases[] = {
        {"1 2 l ", 3, 1},
        {"[1 (a) [2]] TJ ", 6, 1},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.unit);
        const std::size_t fits = kBudget / c.per_unit;
        std::string text;
        text.reserve((fits + 10) * c.unit.size());
        for (std::size_t i = 0; i < fits + 10; ++i) text += c.unit;
        const auto ops = parse(text);
        EXPECT_EQ(ops.size(), fits * c.operators);
    }
    // One operand array larger than the budget yields nothing after it.
    std::string flood = "q [";
    flood.reserve(2 * kBudget + 16);
    for (std::size_t i = 0; i < kBudget; ++i) flood += "/ ";
    flood += "] TJ Q";
    const auto ops = parse(flood);
    ASSERT_EQ(ops.size(), 1u);
    EXPECT_EQ(ops[0].op(), "q");
}
