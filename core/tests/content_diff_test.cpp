// The content reader against the reference reader, which builds every
// operand as an object with the general object parser: the same operations,
// with operands that answer number_of, name_of, string_of and array_of
// alike. The text and table passes read operands only through those four,
// so the same answers are the same text runs and tables. The inputs are the
// page contents of the sample corpus, damaged copies of them, and random
// streams of tokens chosen where the two readers part ways: references and
// their look-alikes, names with escapes, strings with escapes or without an
// end, nested and unclosed arrays, hex strings and dictionaries, comments
// inside arrays, and the object budget running out.
#include <gtest/gtest.h>

#include <filesystem>
#include <random>
#include <string>
#include <vector>

#include "bounds.h"
#include "content.h"
#include "doc.h"
#include "filter/sanitizer.h"
#include "pagetree.h"
#include "support/content_reference.h"
#include "support/corpus.h"
#include "support/damage.h"
#include "support/read_file.h"
#include "support/same_operand.h"
#include "support/stored_content.h"

using namespace vellox_core;
using vellox_test::read_file;
using vellox_test::ReferenceOp;
using vellox_test::same_operand;

namespace {

// Expects both readers to agree on `text`; returns the operation count.
std::size_t expect_same(std::string_view text) {
    const std::vector<ReferenceOp> reference = vellox_test::parse_content_reference(as_bytes(text));
    const vellox_test::StoredContent content = vellox_test::read_content(as_bytes(text));
    EXPECT_EQ(reference.size(), content.size());
    if (reference.size() != content.size()) return 0;
    for (std::size_t i = 0; i < reference.size(); ++i) {
        const ReferenceOp& a = reference[i];
        const Op& b = content[i];
        EXPECT_EQ(a.keyword(), std::string_view(b.bytes.data(), b.len));
        EXPECT_EQ(a.code, b.code);
        EXPECT_EQ(a.operands.size(), b.operands.size()) << "operation " << i;
        if (a.operands.size() != b.operands.size()) continue;
        for (std::size_t k = 0; k < a.operands.size(); ++k) {
            EXPECT_TRUE(same_operand(a.operands[k], b.operands[k]))
                << "operation " << i << " operand " << k;
        }
    }
    // The helper the fuzz harness uses agrees.
    EXPECT_TRUE(vellox_test::same_ops(reference, as_bytes(text)));
    return reference.size();
}

}  // namespace

// Real pages, then damaged copies of them.
TEST(ContentDiff, CorpusPagesAndDamagedCopies) {
    VELLOX_SKIP_WITHOUT_CORPUS();
    const std::filesystem::path dir(VELLOX_CORPUS_DIR);
    std::vector<std::string> contents;
    std::size_t ops = 0;
    for (const auto& entry : std::filesystem::directory_iterator(dir)) {
        if (entry.path().extension() != ".pdf") continue;
        const std::string data = read_file(entry.path());
        auto doc = Document::parse_with_password(as_bytes(data), {});
        if (!doc) continue;
        auto pages = doc->pages();
        if (!pages) continue;
        for (const Page& page : *pages) {
            auto content = page_content(doc->resolver, page);
            if (!content) continue;
            contents.emplace_back(content->begin(), content->end());
            SCOPED_TRACE(entry.path().filename().string());
            ops += expect_same(contents.back());
        }
    }
    EXPECT_GT(ops, 100000u);  // the corpus holds far more; a sanity bound

    // Damage aimed at the syntax: delimiters, escapes, digits, the R of a
    // reference, comment starts. Long pages are cut to keep the test quick.
    const std::string alphabet = "()[]<>{}/\\%#R \n0123456789.+-eE";
    std::mt19937 rng(2718);
    for (int round = 0; round < 3000; ++round) {
        const std::string& base = contents[rng() % contents.size()];
        if (base.empty()) continue;
        const std::string text = vellox_test::damaged(base.substr(0, 4096), rng, alphabet, 8);
        SCOPED_TRACE(round);
        expect_same(text);
    }
}

TEST(ContentDiff, RandomTokens) {
    // clang-format off
    const char* tokens[] = {
        // numbers, references and their look-alikes
        "0", "1", "-2", "+3", ".5", "-.25", "1.", "00012", "4294967295", "4294967296",
        "-1", "1e5", "1.5e-3", "inf", "-nan", "1.2.3", "--4", "+", "-", ".",
        "123456789012345678901234567890", "0.12345678901234567890123", "1 0 R", "7 +0 R",
        "5 -1 R", "2 65536 R", "3 0R", "9 0 Rx", "R", "1 0 %c\nR", "1 %c\n0 R", "1 0\nR",
        "1 00 R", "1 0.5 R", "1 0 R0", "1 +R", "1 0a R", "1 0 0 1 72 720 cm", "6 0 <41>",
        // names
        "/F1", "/", "/A#20B", "/A#2", "/A#zz", "/\xc3\xa9", "/\xff", "/Tj",
        // strings
        "(a)", "()", "(a\\)b)", "(n (e) st)", "(\\101\\0)", "(esc\\\n)", "(open", "(x\r\ny)",
        "<414>", "<4>", "<zz>", "<>", "<</A 1>>", "<</A [1 2]>>", "<<",
        // arrays
        "[", "]", "[]", "[1 (a) -2]", "[[1]]", "[(a) /N 1 0 R]", "[true]", "[null]", "[x]",
        "[1 %c\n2]", "[<41>]", "[(a\\051)]", "[/A#41]", "[1e3 (b)]",
        // operators and stray bytes
        "Tj", "TJ", "Tf", "Tm", "cm", "re", "S", "n", "BT", "ET", "q", "Q", "true", "null",
        "BI /W 1 ID xx EI", "{", "}", ")", ">", "%c\n", "\n", "\t", "\x00",
        // inline images: dictionaries that give the data's end, and look-alikes
        "BI", "ID", "EI", "EIx", "/L 2", "/Length 1", "/F /AHx", "/F [/A85 /Fl]",
        "/Filter /ASCII85Decode", "~>", "/W 2 /H 1 /CS /G /BPC 8", "/IM true", "/CS [/I /RGB 1 <00>]",
        "/L -1", "/W 99999999999 /H 99999999999 /CS /CMYK /BPC 16",
    };
    // clang-format on
    std::mt19937 rng(161803);
    for (int round = 0; round < 20000; ++round) {
        std::string text;
        const int count = 1 + static_cast<int>(rng() % 30);
        for (int i = 0; i < count; ++i) {
            text += tokens[rng() % std::size(tokens)];
            // Mostly separated, sometimes glued to the next token.
            if (rng() % 5 != 0) text += ' ';
        }
        SCOPED_TRACE(text);
        expect_same(text);
    }
}

// The page's object budget runs out at the same place in both readers:
// inside an array's items, inside a run of scalar operands, and at an
// operator. A unit of eight objects after k one-object operations leaves
// (2^22 - k) mod 8 objects for the last, partial unit.
TEST(ContentDiff, ObjectBudget) {
    if (vellox_test::kSanitized) GTEST_SKIP() << "millions of objects; runs in the normal build";
    static_assert(limits::kMaxContentObjects % 8 == 0);
    struct Case {
        std::size_t prefix_ops;
        std::string unit;  // eight objects
    };
    const Case cases[] = {
        {5, "[1 (a) /B 4 5 6] TJ "},  // three left: the array and two items
        {6, "[1 (a) /B 4 5 6] TJ "},  // two left
        {1, "[1 (a) /B 4 5 6] TJ "},  // seven left: the array is whole, TJ is not
        {5, "1 (a) /B 4 5 6 7 l "},   // three left: within the operands
        {0, "(x) Tj 1 2 3 4 5 l "},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.unit + " after " + std::to_string(c.prefix_ops));
        std::string text;
        for (std::size_t i = 0; i < c.prefix_ops; ++i) text += "q ";
        const std::size_t units = limits::kMaxContentObjects / 8 + 2;
        text.reserve(text.size() + units * c.unit.size());
        for (std::size_t i = 0; i < units; ++i) text += c.unit;
        EXPECT_GT(expect_same(text), 0u);
    }
}
