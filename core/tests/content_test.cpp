#include <gtest/gtest.h>

#include <cstdint>
#include <map>
#include <optional>
#include <random>
#include <set>
#include <string>
#include <vector>

#include "bounds.h"
#include "content.h"
#include "filter/sanitizer.h"
#include "support/content_reference.h"
#include "support/damage.h"
#include "support/read_file.h"
#include "support/same_operand.h"
#include "support/stored_content.h"

using namespace vellox_core;
using vellox_test::parse_content_reference;
using vellox_test::read_file;

namespace {

// Operand kinds as letters: the reference reader's objects by type (numbers
// are I, integer, or R, real), and the library's operands by the kind the
// passes read: one number kind, '#', and '?' for every kind they ignore.
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

char kind_letter(const Operand& o) {
    switch (o.kind) {
        case Operand::Kind::Number: return '#';
        case Operand::Kind::Name: return 'N';
        case Operand::Kind::String: return 'S';
        case Operand::Kind::Array: return 'A';
        case Operand::Kind::Other: return '?';
    }
    return '!';
}

// An object summary as the library's operands must read: numbers are just
// numbers, and every kind the passes do not read is Other.
std::string as_operand_letters(std::string_view summary) {
    std::string out(summary);
    bool operands = false;  // past the keyword and its space
    for (char& c : out) {
        if (c == '\n') {
            operands = false;
        } else if (!operands) {
            operands = c == ' ';
        } else if (c == 'I' || c == 'R') {
            c = '#';
        } else if (c == 'Z' || c == 'B' || c == 'D' || c == 'X' || c == 'F') {
            c = '?';
        }
    }
    return out;
}

// One line per operation: the operator, a space, one letter per operand;
// inline images left out on request, as pypdf's listing leaves them.
template <class Ops>
std::string summary(const Ops& ops, bool without_inline_images = false) {
    std::string out;
    for (const auto& op : ops) {
        if (without_inline_images && op.code == Operator::InlineImage) continue;
        out.append(op.bytes.data(), op.len);
        out.push_back(' ');
        for (const auto& o : op.operands) out.push_back(kind_letter(o));
        out.push_back('\n');
    }
    return out;
}

vellox_test::StoredContent parse(std::string_view text) {
    return vellox_test::read_content(as_bytes(text));
}

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
        // Inline images: one operation, the dictionary and the data as
        // strings (InlineImageData below checks where the data ends).
        {"q BI /W 1 /H 1 ID xyz EI Q", "q \nBI SS\nQ \n"},
        {"q BI /W 1 ID \x01\xff)]Q Tj EI Q", "q \nBI SS\nQ \n"},
        {"1 2 BI ID x EI m", "BI SS\nm \n"},   // operands before BI are dropped
        {"BI ID abEIcd EI Q", "BI SS\nQ \n"},  // EI inside the data is not the end
        {"q BIEI Q", "q \nBIEI \nQ \n"},
        {"q 1 0 0 1 0 0 cm BI /W 1 ID xyz", "q \ncm IIIIII\n"},  // no EI: the content ends
        {"q BI /W 1 ID xyzE", "q \n"},
        {"q BI", "q \n"},
        {"q BI /W ( ID x EI Q", "q \n"},  // a dictionary that does not parse ends it
        {"q BI /W 1 /H", "q \n"},
        {"BI EI", ""},
        {"EI ID", "EI \nID \n"},
    };
    // The reference reader's objects, and the library's operands.
    for (const auto& c : cases) {
        SCOPED_TRACE(std::string(c.content));
        EXPECT_EQ(summary(parse_content_reference(as_bytes(c.content))), c.ops);
        EXPECT_EQ(summary(parse(c.content)), as_operand_letters(c.ops));
    }
}

// Where an inline image's data ends: a length the dictionary gives (or
// that its samples make, with no filter), an ASCII marker of its first
// filter, else the first EI between white space. The data of
// contrib-issue-1008-inline-ascii85.pdf holds "EI" after a line break.
TEST(Content, InlineImageData) {
    struct Case {
        const char* name;
        std::string_view content;
        std::string_view dict;
        std::string_view data;
        std::string_view after;  // the operators behind the image
    };
    const Case cases[] = {
        {"plain search", "BI /F /Fl ID xy\nEI Q", " /F /Fl ", "xy", "Q \n"},
        {"EI must follow white space", "BI /F /Fl ID aEI b\rEI\tQ", " /F /Fl ", "aEI b", "Q \n"},
        {"EI must precede white space or a delimiter", "BI /F /Fl ID a EIx b EI/x Q", " /F /Fl ",
         "a EIx b", "Q \n"},
        {"EI at the end of the content", "BI /F /Fl ID a EI", " /F /Fl ", "a", ""},
        {"no data", "BI ID EI Q", " ", "", "Q \n"},
        {"only one white-space byte after ID belongs to it", "BI ID  \nx EI Q", " ", " \nx",
         "Q \n"},
        {"declared length", "BI /L 6 /F /Fl ID ab\nEI EI Q", " /L 6 /F /Fl ", "ab\nEI ", "Q \n"},
        {"declared length under its full name", "BI /Length 4 ID a EI EI Q", " /Length 4 ", "a EI",
         "Q \n"},
        {"declared length without white space before EI", "BI /L 2 ID abEI Q", " /L 2 ", "ab",
         "Q \n"},
        {"declared length that overshoots: the search", "BI /L 99 ID ab EI Q", " /L 99 ", "ab",
         "Q \n"},
        {"declared length not followed by EI: the search", "BI /L 1 ID ab EI Q", " /L 1 ", "ab",
         "Q \n"},
        {"samples of 3 RGB pixels", "BI /W 3 /H 1 /CS /RGB /BPC 8 ID 123 EI456EI Q",
         " /W 3 /H 1 /CS /RGB /BPC 8 ", "123 EI456", "Q \n"},
        {"a 9x2 mask: two bytes a row", "BI /W 9 /H 2 /IM true ID \n EI EI Q",
         " /W 9 /H 2 /IM true ", "\n EI", "Q \n"},
        {"indexed samples", "BI /W 2 /H 1 /CS [/I /RGB 1 <000000FFFFFF>] /BPC 8 ID \nEEI Q",
         " /W 2 /H 1 /CS [/I /RGB 1 <000000FFFFFF>] /BPC 8 ", "\nE", "Q \n"},
        {"a named colour space gives no length", "BI /W 2 /H 1 /CS /Cs1 /BPC 8 ID a EI EI Q",
         " /W 2 /H 1 /CS /Cs1 /BPC 8 ", "a", "EI \nQ \n"},
        {"a filter gives no length", "BI /W 2 /H 1 /CS /G /BPC 8 /F /Fl ID a EI EI Q",
         " /W 2 /H 1 /CS /G /BPC 8 /F /Fl ", "a", "EI \nQ \n"},
        {"ASCII85 up to ~>", "BI /F [/A85 /Fl] ID 9jq\nEI o~>\nEI Q", " /F [/A85 /Fl] ",
         "9jq\nEI o~>", "Q \n"},
        {"ASCIIHex up to >", "BI /F /AHx ID 41 EI 42>EI Q", " /F /AHx ", "41 EI 42>", "Q \n"},
        {"ASCIIHex marker without EI: the search goes on behind it",
         "BI /Filter /ASCIIHexDecode ID 41 EI 4> x EI Q", " /Filter /ASCIIHexDecode ", "41 EI 4> x",
         "Q \n"},
        {"a later filter's marker counts for nothing", "BI /F [/Fl /A85] ID a EI ~> EI Q",
         " /F [/Fl /A85] ", "a", "~ \nEI \nQ \n"},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.name);
        const vellox_test::StoredContent page = parse(c.content);
        ASSERT_GE(page.size(), 1u);
        EXPECT_EQ(page[0].code, Operator::InlineImage);
        ASSERT_EQ(page[0].operands.size(), 2u);
        EXPECT_EQ(as_text(*string_of(page[0].operands[0])), c.dict);
        EXPECT_EQ(as_text(*string_of(page[0].operands[1])), c.data);
        std::string rest;
        for (std::size_t i = 1; i < page.size(); ++i) {
            rest += std::string(page[i].op()) + " \n";
        }
        EXPECT_EQ(rest, c.after);
        // The reference reader, written apart, agrees.
        EXPECT_TRUE(vellox_test::same_ops(parse_content_reference(as_bytes(c.content)),
                                          as_bytes(c.content)));
    }
}

// An inline image's dictionary of 200,000 keys, the last of them /L: read in
// linear time, and the length found among them ends the data.
TEST(Content, InlineImageWithAHugeDictionary) {
    std::string content = "BI";
    for (int i = 0; i < 200000; ++i) content += " /k" + std::to_string(i) + " 1";
    content += " /L 2 ID ab EI Q";
    const vellox_test::StoredContent page = parse(content);
    ASSERT_EQ(page.size(), 2u);
    EXPECT_EQ(page[0].code, Operator::InlineImage);
    EXPECT_EQ(as_text(*string_of(page[0].operands[1])), "ab");
    EXPECT_EQ(page[1].op(), "Q");
}

TEST(Content, OperandValuesAndOperatorText) {
    const auto ops = parse("BT /F1 12 Tf (Hi) Tj 1 0 R Do ET");
    ASSERT_EQ(ops.size(), 5u);
    EXPECT_EQ(ops[0].op(), "BT");
    EXPECT_EQ(ops[1].op(), "Tf");
    ASSERT_EQ(ops[1].operands.size(), 2u);
    EXPECT_EQ(name_of(ops[1].operands[0]), "F1");
    EXPECT_EQ(number_of(ops[1].operands[1]), 12.0);
    ASSERT_EQ(ops[2].operands.size(), 1u);
    EXPECT_EQ(as_text(string_of(ops[2].operands[0]).value_or(ByteView{})), "Hi");
    EXPECT_EQ(ops[3].op(), "Do");
    ASSERT_EQ(ops[3].operands.size(), 1u);
    EXPECT_EQ(ops[3].operands[0].kind, Operand::Kind::Other);  // a reference
    EXPECT_EQ(ops[4].op(), "ET");

    // Texts that stand in the content are views into it; texts with escapes
    // are decoded into the reader's own storage.
    const std::string_view text = "(plain) Tj (esc\\051) Tj /A#42 Do [(x) 2] TJ";
    const auto in_content = [&](std::string_view s) {
        return s.data() >= text.data() && s.data() < text.data() + text.size();
    };
    std::size_t budget = limits::kMaxContentObjects;
    ContentReader reader(as_bytes(text), budget);
    const Op* op = reader.next();
    ASSERT_NE(op, nullptr);
    const std::string_view plain = as_text(*string_of(op->operands[0]));
    EXPECT_EQ(plain, "plain");
    EXPECT_EQ(plain.data(), text.data() + 1);
    ASSERT_NE(op = reader.next(), nullptr);
    const std::string_view escaped = as_text(*string_of(op->operands[0]));
    EXPECT_EQ(escaped, "esc)");
    EXPECT_FALSE(in_content(escaped));
    ASSERT_NE(op = reader.next(), nullptr);
    EXPECT_EQ(name_of(op->operands[0]), "AB");
    EXPECT_FALSE(in_content(*name_of(op->operands[0])));
    ASSERT_NE(op = reader.next(), nullptr);
    const auto items = array_of(op->operands[0]);
    ASSERT_TRUE(items.has_value());
    ASSERT_EQ(items->size(), 2u);
    EXPECT_EQ(as_text(*string_of((*items)[0])), "x");
    EXPECT_TRUE(in_content(as_text(*string_of((*items)[0]))));
    EXPECT_EQ(number_of((*items)[1]), 2.0);
    EXPECT_EQ(reader.next(), nullptr);

    const auto cut = parse("abcdefgh");
    ASSERT_EQ(cut.size(), 1u);
    EXPECT_EQ(cut[0].len, 4);
    EXPECT_EQ(cut[0].op(), "abcd");
}

TEST(Content, OperatorCodes) {
    const std::pair<std::string_view, Operator> known[] = {
        {"q", Operator::Save},
        {"Q", Operator::Restore},
        {"cm", Operator::Concat},
        {"BT", Operator::BeginText},
        {"Tf", Operator::SetFont},
        {"Tc", Operator::CharSpacing},
        {"Tw", Operator::WordSpacing},
        {"Tz", Operator::HorizontalScale},
        {"TL", Operator::Leading},
        {"Ts", Operator::Rise},
        {"Td", Operator::MoveText},
        {"TD", Operator::MoveTextSetLeading},
        {"Tm", Operator::TextMatrix},
        {"T*", Operator::NextLine},
        {"Tj", Operator::Show},
        {"'", Operator::NextLineShow},
        {"\"", Operator::SpacingNextLineShow},
        {"TJ", Operator::ShowArray},
        {"m", Operator::MoveTo},
        {"l", Operator::LineTo},
        {"re", Operator::Rectangle},
        {"S", Operator::Stroke},
        {"s", Operator::CloseStroke},
        {"f", Operator::Fill},
        {"F", Operator::FillOld},
        {"f*", Operator::FillEvenOdd},
        {"B", Operator::FillStroke},
        {"B*", Operator::FillStrokeEvenOdd},
        {"b", Operator::CloseFillStroke},
        {"b*", Operator::CloseFillStrokeEvenOdd},
        {"n", Operator::EndPath},
        {"h", Operator::ClosePath},
        {"c", Operator::CurveTo},
        {"v", Operator::CurveTo},
        {"y", Operator::CurveTo},
        {"Do", Operator::PaintXObject},
    };
    std::string text;
    for (const auto& [keyword, code] : known) {
        EXPECT_EQ(operator_of(keyword), code) << keyword;
        text += std::string(keyword) + " ";
    }
    // Near misses, other operators and keywords cut to four bytes.
    for (std::string_view other : {"", "ET", "W", "W*", "T", "Tx", "tj", "Tj*", "qq", "cmx", "*f",
                                   "BT ", "TJTJ", "DO", "hh", "ID", "EI"}) {
        EXPECT_EQ(operator_of(other), Operator::Other) << other;
    }
    // Every keyword of one or two bytes: only the operators above (and BI,
    // which the text below cannot hold) have a code.
    std::map<std::string, Operator> listed(std::begin(known), std::end(known));
    listed.emplace("BI", Operator::InlineImage);
    std::size_t coded = 0;
    for (int a = 0; a < 256; ++a) {
        for (int b = -1; b < 256; ++b) {
            std::string keyword(1, static_cast<char>(a));
            if (b >= 0) keyword += static_cast<char>(b);
            const auto it = listed.find(keyword);
            const Operator expected = it == listed.end() ? Operator::Other : it->second;
            if (operator_of(keyword) != expected) ADD_FAILURE() << "keyword " << a << " " << b;
            coded += expected != Operator::Other;
        }
    }
    EXPECT_EQ(coded, listed.size());
    // The parser names each operation from its keyword as stored.
    text += "Tjxyz cmyk";
    const vellox_test::StoredContent page = parse(text);
    ASSERT_EQ(page.size(), std::size(known) + 2);
    for (std::size_t i = 0; i < std::size(known); ++i)
        EXPECT_EQ(page[i].code, known[i].second) << i;
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
        {"\xc3\xa9t", 3, "\xc3\xa9t"},  // valid UTF-8 is kept
        {"abc\xc3\xa9", 4, ""},         // the cut splits a character
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
// written by fixtures/content/make_oracle.py (inline images left out): the
// reference reader's object types, and the library's operand kinds.
TEST(Content, MatchesPypdfOnRealPages) {
    for (const char* stem : {"inline-image", "habibi", "pdflatex-4-pages"}) {
        SCOPED_TRACE(stem);
        const std::string dir = VELLOX_SOURCE_DIR "/core/tests/fixtures/content/";
        const std::string content = read_file(dir + stem + ".content");
        const std::string expected = read_file(dir + stem + ".ops");
        ASSERT_FALSE(expected.empty());
        EXPECT_EQ(summary(parse_content_reference(as_bytes(content)), true), expected);
        EXPECT_EQ(summary(parse(content), true), as_operand_letters(expected));
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

// Operands dropped at a delimiter, or after the last operator, belong to no
// operation. Operations are read a batch at a time, and each batch's
// operands take the place of the last one's: reading a page allocates for
// its busiest batch, not for all of its operations.
TEST(Content, ReaderReusesItsBuffersForEachBatch) {
    {
        const std::string text = "q 1 0 0 1 5 5 cm (dropped) ] 0 0 m 10 0 l S Q 7 8";
        std::size_t budget = limits::kMaxContentObjects;
        ContentReader reader(as_bytes(text), budget);
        std::vector<std::size_t> counts;
        std::vector<double> firsts;
        while (const Op* op = reader.next()) {
            counts.push_back(op->operands.size());
            if (!op->operands.empty()) firsts.push_back(number_of(op->operands[0]).value_or(-1));
        }
        EXPECT_EQ(reader.next(), nullptr);  // and stays at the end
        EXPECT_EQ(counts, (std::vector<std::size_t>{0, 6, 2, 2, 0, 0}));
        EXPECT_EQ(firsts, (std::vector<double>{1, 0, 10}));
    }
    std::string text;
    constexpr int kOps = 1000;
    for (int i = 0; i < kOps; ++i) text += std::to_string(i) + " 2 l ";
    std::size_t budget = limits::kMaxContentObjects;
    ContentReader reader(as_bytes(text), budget);
    std::set<const Operand*> places;
    int read = 0;
    while (const Op* op = reader.next()) {
        ASSERT_EQ(op->operands.size(), 2u);
        EXPECT_EQ(number_of(op->operands[0]), read);
        places.insert(op->operands.data());
        ++read;
    }
    EXPECT_EQ(read, kOps);
    EXPECT_EQ(places.size(), ContentReader::kBatchOps);
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
        for (std::size_t k = 0; k < n; ++k)
            text += std::to_string(i * 1000 + static_cast<int>(k)) + " ";
        if (rng() % 7 == 0) {
            text += "] ";  // drops what was gathered
        } else {
            text += "op ";
            expected.push_back(n);
        }
    }
    const vellox_test::StoredContent page = parse(text);
    ASSERT_EQ(page.size(), expected.size());
    for (std::size_t i = 0; i < page.size(); ++i) {
        ASSERT_EQ(page[i].operands.size(), expected[i]) << i;
        for (std::size_t k = 0; k < expected[i]; ++k) {
            const std::optional<double> v = number_of(page[i].operands[k]);
            ASSERT_TRUE(v.has_value());
            const auto n = static_cast<std::int64_t>(*v);
            ASSERT_EQ(n % 1000, static_cast<std::int64_t>(k));
            if (k > 0) {
                ASSERT_EQ(n / 1000,
                          static_cast<std::int64_t>(*number_of(page[i].operands[0])) / 1000);
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
